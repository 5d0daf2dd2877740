// The unload as the client drives it, on a copy of its own: exit waits for
// the worker's attempt in flight, and what is still queued behind it is
// dropped, not sent by the next load; an idle worker ends at once; the module
// loads again after exit, three times, each time with a worker of its own
// and the settings as they are then (https first, then plain http to the
// receiver, which must get the requests in clear text); a second exit does
// nothing, and the ended object answers no handler.
#include "host/selftest/selftest.h"

namespace host {

namespace {

// The first attempt is held this long at the receiver.
const uint32_t kHoldMs = 800;

const char *const kReloadLines[] = {
    kLoadedLine,  // with an https endpoint
    kUnloadedLine,
    kLoadedLine,
    "Captured assign DLH4TK EDDF L1",
    "Captured assign DLH4TK EDDF LQ",  // queued at the exit: never delivered
    "Delivered assign DLH4TK EDDF L1 (HTTP 201)",
    kUnloadedLine,
    kLoadedLine,
    "Captured assign DLH4TK EDDF L2",
    "Delivered assign DLH4TK EDDF L2 (HTTP 201)",
    kUnloadedLine,
    kLoadedLine,
    kUnloadedLine,
};

void CheckExitWaits(SelfTest &t, PluginCopy &copy) {
    NotifyCopy(copy, kUsualFlight, "DOK/S/L1");
    bool held = WaitFor(t, copy, 1);
    NotifyCopy(copy, kUsualFlight, "DOK/S/LQ");
    uint32_t took = ExitCopy(copy);
    ReadCopyLog(t, copy);
    SeenText seen;
    if (!held) seen << "the attempt never arrived; ";
    seen << "exit took ";
    AppendSeconds(seen.out, took, 3);
    seen << ", then \"" << CopyLine(copy, 5) << "\", \"" << CopyLine(copy, 6) << "\"";
    Row(t, copy, "exit waits for the attempt in flight",
        "exit took 0.4 s or more, then \"Delivered ... L1 (HTTP 201)\", \"Bridge unloaded\"",
        seen.text,
        held && took >= kHoldMs / 2 && SameText(CopyLine(copy, 5), kReloadLines[5]) &&
            SameText(CopyLine(copy, 6), kReloadLines[6]));
}

void CheckIdleExit(SelfTest &t, PluginCopy &copy) {
    InitCopy(copy);
    NotifyCopy(copy, kUsualFlight, "DOK/S/L2");
    // Right after its "Delivered" line the worker starts to wait for more.
    bool delivered = WaitFor(t, copy, 0, 10);
    uint32_t took = ExitCopy(copy);
    SeenText seen;
    if (!delivered) seen << "never delivered; ";
    seen << "exit took ";
    AppendSeconds(seen.out, took, 3);
    // An idle worker wakes at the exit's signal; without it, it would sleep
    // out its wait of 1 s.
    Row(t, copy, "exit of an idle worker returns at once", "under 0.5 s", seen.text,
        delivered && took < 500);
}

void CheckAfterEnd(SelfTest &t, PluginCopy &copy) {
    const HostState &state = *copy.runner.state;
    uint32_t destroyed = state.destroyed;
    uint32_t lines = ReadCopyLog(t, copy);
    ExitCopy(copy);
    ReadCopyLog(t, copy);
    SeenText seen;
    seen << copy.lineCount - lines << " log lines, " << state.destroyed - destroyed
         << " base destructor runs";
    Row(t, copy, "exit again does nothing", "0 log lines, 0 base destructor runs", seen.text,
        copy.lineCount == lines && state.destroyed == destroyed);

    copy.runner.planValid = true;
    SlotTally tally;
    if (copy.loaded) CallEverySlot(copy.runner, tally);
    SeenText slots;
    slots << tally.called << " called, " << tally.answered << " answered, " << tally.clientCalls
          << " client calls, stack moved by " << (tally.moves[0] ? tally.moves : "0");
    Row(t, copy, "handler slots after exit do nothing",
        "22 called, 0 answered, 0 client calls, stack moved by 0", slots.text,
        tally.called == 22 && tally.answered == 0 && tally.clientCalls == 0 && !tally.moves[0]);
}

}  // namespace

void CheckRepeatedLoads(SelfTest &t, PluginCopy &copy, const CopyRow &row) {
    copy.route->holdMs = kHoldMs;
    if (LoadCopy(t, copy)) ExitCopy(copy);
    if (!copy.notRun[0] &&
        !WriteCopySettings(t, copy, row.Set(&CopyRow::endpoint, "http://@/reload")))
        Refused(t, copy, "rewriting the settings", GetLastError(), true);
    InitCopy(copy);
    CheckExitWaits(t, copy);
    CheckIdleExit(t, copy);
    InitCopy(copy);
    ExitCopy(copy);
    LinesRow(t, copy, "loads in one module, settings read afresh, the queue not kept", kReloadLines,
             sizeof kReloadLines / sizeof kReloadLines[0]);
    CheckAfterEnd(t, copy);
}

}  // namespace host
