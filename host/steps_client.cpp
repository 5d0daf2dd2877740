// Steps of what the client tells the plug-in: the controller, the flight
// plan, scratch-pad changes and other handlers through the virtual table.
#include "host/console.h"
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

namespace {

// Calls `code` under __thiscall with `object` in ECX and `count` argument
// words pushed, the first word last, and returns EAX as the callee left it.
// `moved` gets ESP after the call minus ESP before the pushes: the callee
// pops its own arguments, so it is 0 unless the callee popped more (above
// 0) or fewer (below 0) bytes than were pushed. Both readings of ESP and the
// call are in one asm statement, and ESP is put back before anything else
// runs: nothing in between may address the stack, and a wrong pop can move
// nothing this function reads.
__declspec(noinline) uint32_t CallPoppingCheck(void *object, const void *code,
                                               const uint32_t *words, uint32_t count,
                                               int32_t &moved) {
    uint32_t result, before, after;
    __asm {
        mov esi, words
        mov ecx, count
        mov ebx, object
        mov edx, code
        mov edi, esp
    push_word:
        jecxz pushed
        push dword ptr [esi + ecx * 4 - 4]
        dec ecx
        jmp push_word
    pushed:
        mov ecx, ebx
        call edx
        mov edx, esp
        mov esp, edi
        mov result, eax
        mov before, edi
        mov after, edx
    }
    moved = static_cast<int32_t>(after - before);
    return result;
}

template <class T>
struct Exactly {
    typedef T type;
};

template <class T>
struct IsVoid {
    static const bool value = false;
};
template <>
struct IsVoid<void> {
    static const bool value = true;
};

// What calls through the virtual table showed, and how far each call that
// moved the stack moved it.
struct SlotReport {
    explicit SlotReport(SlotTally &counts) : tally(counts) {}
    SlotTally &tally;
    text::BoundedText movesText{tally.moves};

    // Calls `handler` on `object` as the client's compiler would: each
    // argument as the handler's own parameter type, laid out in order and
    // rounded up to whole 4-byte words, and the handler's member pointer,
    // which for a virtual handler is the compiler's thunk into the object's
    // own table slot.
    template <class R, class... P>
    void Call(EuroScopePlugIn::CPlugIn *object, R (EuroScopePlugIn::CPlugIn::*handler)(P...),
              typename Exactly<P>::type... arguments) {
        static_assert(sizeof handler == sizeof(void *), "a plain code pointer");
        static_assert((0 + ... + ((sizeof(P) + 3) / 4)) <= 8, "room for the arguments");
        const void *code;
        memcpy(&code, &handler, sizeof code);
        uint32_t words[8] = {};
        uint32_t count = 0;
        ((memcpy(&words[count], &arguments, sizeof arguments),
          count += (sizeof arguments + 3) / 4),
         ...);
        int32_t moved;
        uint32_t result = CallPoppingCheck(object, code, words, count, moved);
        ++tally.called;
        if constexpr (!IsVoid<R>::value) {
            if constexpr (sizeof(R) == 1) result &= 0xFF;  // a bool comes back in AL alone
            if (result != 0) ++tally.answered;
        }
        if (moved != 0) Moved(moved);
    }

    void Moved(int32_t bytes) {
        movesText.Append(movesText.length ? ", " : "");
        movesText.Append(bytes < 0 ? '-' : '+');
        uint32_t size = static_cast<uint32_t>(bytes);
        movesText.AppendDecimal(bytes < 0 ? 0u - size : size);
        movesText.Append(" in slot ");
        movesText.AppendDecimal(tally.called);
    }
};

}  // namespace

// Calls handlers 1 to 22 of the virtual table once each, with the client's
// own argument types, and reports every call that left the stack pointer
// elsewhere, by how many bytes, and how many calls the client's own default
// handlers took.
void CallEverySlot(Runner &r, SlotTally &tally) {
    using namespace EuroScopePlugIn;
    CPlugIn *p = r.object;
    CFlightPlan plan = MakeFlightPlan(r.planValid ? &r.state->plan : nullptr);
    char item[16] = {};
    int color = 0;
    COLORREF rgb = 0;
    double size = 0;
    POINT point = {1, 2};
    RECT area = {3, 4, 5, 6};
    uint32_t clientCallsBefore = r.state->clientCalls;
    uint32_t defaultsBefore = r.state->defaultHandlerCalls;
    SlotReport report{tally};
    report.Call(p, &CPlugIn::OnControllerPositionUpdate, CController());
    report.Call(p, &CPlugIn::OnControllerDisconnect, CController());
    report.Call(p, &CPlugIn::OnRadarTargetPositionUpdate, CRadarTarget());
    report.Call(p, &CPlugIn::OnFlightPlanDisconnect, plan);
    report.Call(p, &CPlugIn::OnFlightPlanFlightPlanDataUpdate, plan);
    report.Call(p, &CPlugIn::OnPlaneInformationUpdate, "X1", "LH", "A320");
    report.Call(p, &CPlugIn::OnFlightPlanControllerAssignedDataUpdate, plan, 4);
    report.Call(p, &CPlugIn::OnFlightPlanFlightStripPushed, plan, "A", "B");
    report.Call(p, &CPlugIn::OnRadarScreenCreated, "x", true, false, true, false);
    report.Call(p, &CPlugIn::OnCompileCommand, ".zdb");
    report.Call(p, &CPlugIn::OnCompileFrequencyChat, "A", 121.5, "m");
    report.Call(p, &CPlugIn::OnCompilePrivateChat, "A", "B", "m");
    report.Call(p, &CPlugIn::OnGetTagItem, plan, CRadarTarget(), 1, 2, item, &color, &rgb, &size);
    report.Call(p, &CPlugIn::OnRefreshFpListContent, CFlightPlanList());
    report.Call(p, &CPlugIn::OnNewMetarReceived, "EDDF", "EDDF 071120Z");
    report.Call(p, &CPlugIn::OnFunctionCall, 1, "x", point, area);
    report.Call(p, &CPlugIn::OnAirportRunwayActivityChanged);
    report.Call(p, &CPlugIn::OnTimer, 1);
    report.Call(p, &CPlugIn::OnVoiceTransmitStarted, true);
    report.Call(p, &CPlugIn::OnVoiceTransmitEnded, true);
    report.Call(p, &CPlugIn::OnVoiceReceiveStarted, CGrountToAirChannel());
    report.Call(p, &CPlugIn::OnVoiceReceiveEnded, CGrountToAirChannel());
    tally.clientCalls = r.state->clientCalls - clientCallsBefore;
    tally.clientDefaults = r.state->defaultHandlerCalls - defaultsBefore;
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
