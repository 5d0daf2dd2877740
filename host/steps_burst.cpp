// Timed bursts of notifications.
#include "host/console.h"
#include "host/handles.h"
#include "host/runner.h"
#include "host/timing.h"

namespace host {

namespace {

const uint32_t kBurstCapacity = 200000;
uint32_t g_burstTicks[kBurstCapacity];
char g_burstPad[256];

// <count> notifications, scratch pads <prefix>0, <prefix>1, ..., <pauseMs>
// apart; prints the time each handler call took, in counter ticks, and the
// total (pauses included).
bool TimedBurst(Runner &r, const ScenarioLine &line, uint32_t pauseMs) {
    uint32_t count;
    if (!ParseNumber(line.words[1], count) || count == 0 || count > kBurstCapacity)
        return Fail(line, "burst needs a count of 1 to 200000");
    if (!NeedObject(r, line)) return false;
    EuroScopePlugIn::CFlightPlan plan = MakeFlightPlan(r.planValid ? &r.state->plan : nullptr);
    r.state->plan.scratchPad = g_burstPad;
    uint32_t started = CounterNow();
    for (uint32_t i = 0; i < count; ++i) {
        if (pauseMs && i) Sleep(pauseMs);
        text::BoundedText pad(g_burstPad);
        pad.Append(line.words[2]);
        pad.AppendDecimal(i);
        uint32_t before = CounterNow();
        r.object->OnFlightPlanControllerAssignedDataUpdate(
            plan, EuroScopePlugIn::CTR_DATA_TYPE_SCRATCH_PAD_STRING);
        g_burstTicks[i] = CounterNow() - before;
    }
    uint32_t total = CounterNow() - started;
    PrintBurst(g_burstTicks, count, total);
    return true;
}

}  // namespace

// As fast as the client can.
bool StepBurst(Runner &r, const ScenarioLine &line) { return TimedBurst(r, line, 0); }

// With a pause before each call but the first, as a controller's edits come.
bool StepPacedBurst(Runner &r, const ScenarioLine &line) {
    uint32_t pauseMs;
    if (!ParseNumber(line.words[3], pauseMs) || pauseMs > 60000)
        return Fail(line, "paced-burst needs a pause of 0 to 60000 ms");
    return TimedBurst(r, line, pauseMs);
}

}  // namespace host
