#include "host/handler_slot.h"

#include "host/handles.h"
#include "host/runner.h"
#include "text/text.h"

namespace host {

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

// 1 when EAX carries an answer: a bool comes back in AL alone, and a void
// handler answers nothing, whatever it left in EAX. A count, not a
// condition, so that no branch folds away for void handlers.
template <class R>
uint32_t AnswerIn(uint32_t eax) {
    return (sizeof(R) == 1 ? eax & 0xFFu : eax) != 0 ? 1u : 0u;
}
template <>
uint32_t AnswerIn<void>(uint32_t) {
    return 0;
}

// What calls through the virtual table showed, and how far each call that
// moved the stack moved it.
class SlotReport {
public:
    explicit SlotReport(SlotTally &tally) : tally_(&tally), moves_(tally.moves) {}

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
        ++tally_->called;
        tally_->answered += AnswerIn<R>(result);
        if (moved != 0) Moved(moved);
    }

private:
    void Moved(int32_t bytes) {
        moves_.Append(moves_.length ? ", " : "");
        moves_.Append(bytes < 0 ? '-' : '+');
        uint32_t size = static_cast<uint32_t>(bytes);
        moves_.AppendDecimal(bytes < 0 ? 0u - size : size);
        moves_.Append(" in slot ");
        moves_.AppendDecimal(tally_->called);
    }

    SlotTally *tally_;
    text::BoundedText moves_;
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
    SlotReport report(tally);
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

}  // namespace host
