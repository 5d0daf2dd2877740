// The plug-in's life as the radar client sees it: load, the two exports,
// the object and its identity, the handler slots, exit, the destructor
// after exit, unload, and the log it leaves.
#include "host/selftest/selftest.h"

#include "host/selftest/guard.h"

namespace host {

namespace {

// Every line the run must leave, in order: the four stand messages
// delivered, nothing of the filtered ones, the retried event, the unload.
const char *const kLogLines[] = {
    kLoadedLine,
    "Captured assign DLH4TK EDDF A12",
    "Delivered assign DLH4TK EDDF A12 (HTTP 201)",
    "Captured cancel DLH4TK EDDF",
    "Delivered cancel DLH4TK EDDF (HTTP 201)",
    "Captured manual_occupy DLH4TK EDDM V156",
    "Delivered manual_occupy DLH4TK EDDM V156 (HTTP 201)",
    "Captured manual_cancel DLH4TK",
    "Delivered manual_cancel DLH4TK (HTTP 201)",
    "Captured assign DLH4TK EDDF B7",
    "Delivery failed assign DLH4TK EDDF B7 (HTTP 503)",
    "Delivered assign DLH4TK EDDF B7 (HTTP 201)",
    kUnloadedLine,
};

const char kInitRow[] = "init: object handed over";
const char kSlotsRow[] = "handler slots keep the stack";
const char kExitRow[] = "exit: base destructor once, nothing freed";
const char kDestructorRow[] = "destructor after exit does nothing";
const char kUnloadRow[] = "FreeLibrary unmaps the module";

// What the client's base class saw after the call, and how long it took.
void EndingsRow(SelfTest &t, PluginCopy &c, const char *check, uint32_t budget, uint32_t took) {
    const HostState &state = *c.runner.state;
    SeenText expected, seen;
    seen << "base destructor " << state.destroyed << ", frees " << state.freed;
    ClientRow(t, c, check, Within(expected, "base destructor 1, frees 0,", budget),
        Took(seen, ",", took), state.destroyed == 1 && state.freed == 0);
}

void CheckIdentity(SelfTest &t, PluginCopy &c, uint32_t initMs) {
    const HostState &state = *c.runner.state;
    SeenText expected, seen, code;
    ClientRow(t, c, kInitRow, Within(expected, "an object", kInitBudget),
        Took(seen, c.runner.object ? "an object" : "none", initMs), c.runner.object != nullptr);
    code << static_cast<uint32_t>(state.compatibilityCode);
    ReadCopyLog(t, c);
    // The code the client checks, the texts it shows in its plug-in dialog,
    // and the log's first line: check, expected, seen.
    const char *const texts[][3] = {
        {"init: compatibility code", "16", code.text},
        {"init: name", "ZELTAN DOK Bridge", state.name},
        {"init: version", ZDB_VERSION, state.version},
        {"init: author", "ZELTAN DOK Bridge developers", state.author},
        {"init: copyright", "Copyright (c) 2026 ZELTAN", state.copyright},
        {"init: log line", kLogLines[0], CopyLine(c, 0)},
    };
    for (const auto &row : texts) ClientRow(t, c, row[0], row[1], row[2], SameText(row[2], row[1]));
}

// Whatever step failed has said so in its row; the copy's further rows say
// that they did not run.
void Abandon(PluginCopy &c, const char *why) {
    if (!c.notRun[0]) text::BoundedText(c.notRun).Append(why);
    c.told = true;
    UnloadCopy(c);
}

}  // namespace

void CheckLoad(SelfTest &t) {
    PluginCopy &c = *t.own;
    Runner &r = c.runner;
    // The plug-in's DllMain runs inside LoadLibrary.
    const char kLoadRow[] = "load: LoadLibrary";
    BeginPlugInCall(kLoadRow, kLoadBudget);
    r.plugin = c.notRun[0] ? nullptr : LoadLibraryA(c.plugin);
    DWORD error = GetLastError();
    uint32_t took = EndPlugInCall();
    c.loaded = r.plugin != nullptr;
    SeenText expected, seen;
    if (c.loaded)
        Took(seen, "loaded", took);
    else if (!Refused(t, c, "LoadLibrary", error))
        seen << "LoadLibrary failed, Windows error " << error;
    // An exception in DllMain comes back as LoadLibrary's error: its code.
    if (!c.loaded && error >= 0x80000000u) {
        seen << " (";
        AppendHex(seen.out, error);
        seen << ")";
    }
    if (!ClientRow(t, c, kLoadRow, Within(expected, "the copy loads", kLoadBudget), seen.text,
             c.loaded))
        Abandon(c, "ZeltanDokBridge.dll did not load");
    if (c.loaded) FindExports(r);
    SeenText found, names;
    found << (r.init ? "init found" : "init MISSING") << ", "
          << (r.exit ? "exit found" : "exit MISSING");
    names << kInitName << " and " << kExitName;
    if (!ClientRow(t, c, "load: exports by decorated name", names.text, found.text,
                   r.init && r.exit))
        Abandon(c, "an export missing");
    CheckIdentity(t, c, InitCopy(c, kInitRow));
    if (c.loaded && !r.object) Abandon(c, "init gave no object");
}

void CheckHandlerSlots(SelfTest &t) {
    PluginCopy &c = *t.own;
    c.runner.planValid = false;
    SlotTally tally;
    BeginPlugInCall(kSlotsRow, kSlotsBudget);
    if (c.live) CallEverySlot(c.runner, tally);
    uint32_t took = EndPlugInCall();
    SeenText expected, seen;
    seen << tally.called << " called, stack moved by " << (tally.moves[0] ? tally.moves : "0");
    ClientRow(t, c, kSlotsRow, Within(expected, "22 called, stack moved by 0,", kSlotsBudget),
        Took(seen, ",", took), tally.called == 22 && !tally.moves[0]);
}

void CheckUnload(SelfTest &t, PluginCopy &c, const CopyRow &) {
    Runner &r = c.runner;
    bool live = c.live;
    EndingsRow(t, c, kExitRow, kExitBudget, ExitCopy(c, kExitRow));
    const char *last = CopyLine(c, ReadCopyLog(t, c) - 1);
    ClientRow(t, c, "exit: log line", kUnloadedLine, last, SameText(last, kUnloadedLine));

    // A client that also ends the object itself, with and without a free.
    BeginPlugInCall(kDestructorRow, kDestructorBudget);
    if (live) {
        r.object->~CPlugIn();
        delete r.object;
    }
    EndingsRow(t, c, kDestructorRow, kDestructorBudget, EndPlugInCall());

    // The lookup by path must find the module while it is loaded, or its
    // failing afterwards would prove nothing.
    bool found = c.loaded && GetModuleHandleA(c.plugin) == r.plugin;
    BeginPlugInCall(kUnloadRow, kUnloadBudget);
    bool freed = c.loaded && FreeLibrary(r.plugin) != 0;
    uint32_t took = EndPlugInCall();
    c.loaded = false;
    // The worker thread has ended by now; a reference it held is gone.
    bool mapped = GetModuleHandleA(c.plugin) != nullptr;
    SeenText expectedUnmapped, unmapped;
    ClientRow(t, c, kUnloadRow, Within(expectedUnmapped, "unmapped", kUnloadBudget),
        !found   ? "not found by its path while loaded"
        : !freed ? "FreeLibrary failed"
        : mapped ? "still mapped"
                 : Took(unmapped, "unmapped", took),
        found && freed && !mapped);
    r.plugin = nullptr;
    r.object = nullptr;
    LinesRow(t, c, "log lines in order", kLogLines, sizeof kLogLines / sizeof kLogLines[0]);
}

}  // namespace host
