// Steps of what the client tells the plug-in: the controller, the flight
// plan, scratch-pad changes and other handlers through the virtual table.
#include "host/console.h"
#include "host/handler_slot.h"
#include "host/handles.h"
#include "host/runner.h"

namespace host {

uint32_t NotifyPlugIn(Runner &r, int dataType, const char *scratchPad) {
    r.state->plan.scratchPad = scratchPad;
    uint32_t callsBefore = r.state->clientCalls;
    r.object->OnFlightPlanControllerAssignedDataUpdate(
        MakeFlightPlan(r.planValid ? &r.state->plan : nullptr), dataType);
    return r.state->clientCalls - callsBefore;
}

namespace {

const uint32_t kFillCapacity = 1u << 20;
char g_fill[kFillCapacity + 1];

bool Notify(Runner &r, const ScenarioLine &line, int dataType, const char *scratchPad) {
    if (!NeedObject(r, line)) return false;
    uint32_t calls = NotifyPlugIn(r, dataType, scratchPad);
    ConsoleLine out;
    out << "notify: type " << static_cast<uint32_t>(dataType) << " client calls " << calls
        << " scratch ";
    out.Escaped(scratchPad);
    out.Print();
    return true;
}

}  // namespace

bool StepTimer(Runner &r, const ScenarioLine &line) {
    uint32_t counter;
    if (!NeedObject(r, line)) return false;
    if (!ParseNumber(line.words[1], counter)) return Fail(line, "timer needs a number");
    r.object->OnTimer(static_cast<int>(counter));
    ConsoleLine out;
    out << "timer: " << counter;
    out.Print();
    return true;
}

bool StepFunctionCall(Runner &r, const ScenarioLine &line) {
    uint32_t id;
    if (!NeedObject(r, line)) return false;
    if (!ParseNumber(line.words[1], id)) return Fail(line, "function needs a number");
    POINT point = {1, 2};
    RECT area = {3, 4, 5, 6};
    r.object->OnFunctionCall(static_cast<int>(id), line.words[2], point, area);
    ConsoleLine out;
    out << "function: " << id;
    out.Print();
    return true;
}

bool StepEverySlot(Runner &r, const ScenarioLine &line) {
    if (!NeedObject(r, line)) return false;
    SlotTally tally;
    CallEverySlot(r, tally);
    ConsoleLine out;
    out << "every-slot: " << tally.called << " called, stack moved by "
        << (tally.moves[0] ? tally.moves : "0") << ", answered " << tally.answered
        << ", client calls " << tally.clientCalls << ", client defaults "
        << tally.clientDefaults;
    out.Print();
    return true;
}

bool StepController(Runner &r, const ScenarioLine &line) {
    r.state->controllerValid = true;
    r.state->controllerCallsign = line.words[1];
    return true;
}

bool StepNoController(Runner &r, const ScenarioLine &) {
    r.state->controllerValid = false;
    r.state->controllerCallsign = nullptr;
    return true;
}

bool StepFlightPlan(Runner &r, const ScenarioLine &line) {
    r.planValid = true;
    r.state->plan.callsign = line.words[1];
    r.state->plan.destination = line.words[2];
    return true;
}

bool StepNoFlightPlan(Runner &r, const ScenarioLine &) {
    r.planValid = false;
    return true;
}

bool StepScratch(Runner &r, const ScenarioLine &line) {
    return Notify(r, line, EuroScopePlugIn::CTR_DATA_TYPE_SCRATCH_PAD_STRING, line.words[1]);
}

bool StepData(Runner &r, const ScenarioLine &line) {
    uint32_t code;
    if (!ParseNumber(line.words[1], code)) return Fail(line, "data needs a type number");
    return Notify(r, line, static_cast<int>(code), line.words[2]);
}

// A long scratch pad: <prefix>, then <count> copies of the first byte of <byte>.
bool StepScratchFill(Runner &r, const ScenarioLine &line) {
    uint32_t count;
    const char *prefix = line.words[1] ? line.words[1] : "";
    if (!line.words[2] || !ParseNumber(line.words[3], count)) return Fail(line, "bad fill");
    text::BoundedText fill(g_fill);
    fill.Append(prefix);
    for (uint32_t i = 0; i < count; ++i) fill.Append(line.words[2][0]);
    if (!NeedObject(r, line)) return false;
    uint32_t calls = NotifyPlugIn(r, EuroScopePlugIn::CTR_DATA_TYPE_SCRATCH_PAD_STRING, g_fill);
    ConsoleLine out;
    out << "notify: fill of " << fill.length << " bytes, client calls " << calls;
    out.Print();
    return true;
}

bool StepSleep(Runner &, const ScenarioLine &line) {
    uint32_t ms;
    if (!ParseNumber(line.words[1], ms)) return Fail(line, "sleep needs milliseconds");
    Sleep(ms);
    return true;
}

}  // namespace host
