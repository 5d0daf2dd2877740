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
    "Bridge loaded; event worker started",
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
    "Bridge unloaded",
};
const uint32_t kLogLineCount = sizeof kLogLines / sizeof kLogLines[0];

// The texts the client shows in its plug-in dialog beside the name.
const char kAuthor[] = "ZELTAN DOK Bridge developers";
const char kCopyright[] = "Copyright (c) 2026 ZELTAN";

// What the client's base class saw, and how long the call took.
const char *Endings(SeenText &seen, const HostState &state, uint32_t milliseconds) {
    seen << "base destructor " << state.destroyed << ", frees " << state.freed;
    return Took(seen, ",", milliseconds);
}

bool Same(const char *a, const char *b) { return a && b && SameText(a, b); }

const char kInitRow[] = "init: object handed over";
const char kSlotsRow[] = "handler slots keep the stack";
const char kExitRow[] = "exit: base destructor once, nothing freed";
const char kDestructorRow[] = "destructor after exit does nothing";
const char kUnloadRow[] = "FreeLibrary unmaps the module";

bool CheckIdentity(SelfTest &t, uint32_t initMs) {
    const HostState &state = *t.runner.state;
    SeenText expected, seen;
    Row(t.table, kInitRow, Within(expected, "an object", kInitBudget),
        Took(seen, t.runner.object ? "an object" : "none", initMs), t.runner.object != nullptr);
    SeenText code;
    code << static_cast<uint32_t>(state.compatibilityCode);
    Row(t.table, "init: compatibility code", "16", code.text, state.compatibilityCode == 16);
    Row(t.table, "init: name", "ZELTAN DOK Bridge", state.name,
        Same(state.name, "ZELTAN DOK Bridge"));
    Row(t.table, "init: version", "0.1.0", state.version, Same(state.version, "0.1.0"));
    Row(t.table, "init: author", kAuthor, state.author, Same(state.author, kAuthor));
    Row(t.table, "init: copyright", kCopyright, state.copyright, Same(state.copyright, kCopyright));
    char first[256];
    ReadLog(t);
    bool logged = LogMessage(t, 0, first);
    Row(t.table, "init: log line", kLogLines[0], logged ? first : "no well-formed line",
        logged && Same(first, kLogLines[0]));
    return t.runner.object != nullptr;
}


// Exit and unload after a failed init; their rows would only repeat it.
void Abandon(Runner &r) {
    if (r.object) {
        BeginPlugInCall(kExitRow, kExitBudget);
        r.exit();
        EndPlugInCall();
    }
    BeginPlugInCall(kUnloadRow, kUnloadBudget);
    FreeLibrary(r.plugin);
    EndPlugInCall();
}

}  // namespace

bool CheckLoad(SelfTest &t) {
    Runner &r = t.runner;
    r.pluginPath = t.files.plugin;
    r.state = ZdbHostState();
    // The plug-in's DllMain runs inside LoadLibrary.
    const char kLoadRow[] = "load: LoadLibrary";
    BeginPlugInCall(kLoadRow, kLoadBudget);
    r.plugin = LoadLibraryA(t.files.plugin);
    DWORD error = GetLastError();
    uint32_t took = EndPlugInCall();
    t.loadedMs = GetTickCount();
    SeenText expected, seen;
    if (r.plugin)
        Took(seen, "loaded", took);
    else
        seen << "LoadLibrary failed, Windows error " << error;
    // An exception in DllMain comes back as LoadLibrary's error: its code.
    if (!r.plugin && error >= 0x80000000u) {
        seen << " (";
        AppendHex(seen.out, error);
        seen << ")";
    }
    if (!Row(t.table, kLoadRow, Within(expected, "the copy loads", kLoadBudget), seen.text,
             r.plugin != nullptr))
        return false;
    FindExports(r);
    SeenText found;
    found << (r.init ? "init found" : "init MISSING") << ", " << (r.exit ? "exit found" : "exit MISSING");
    SeenText names;
    names << kInitName << " and " << kExitName;
    if (!Row(t.table, "load: exports by decorated name", names.text, found.text, r.init && r.exit)) {
        Abandon(r);
        return false;
    }
    BeginPlugInCall(kInitRow, kInitBudget);
    r.init(&r.object);
    uint32_t initMs = EndPlugInCall();
    if (CheckIdentity(t, initMs)) return true;
    Abandon(r);
    return false;
}

void CheckHandlerSlots(SelfTest &t) {
    t.runner.planValid = false;
    SlotTally tally;
    BeginPlugInCall(kSlotsRow, kSlotsBudget);
    CallEverySlot(t.runner, tally);
    uint32_t took = EndPlugInCall();
    SeenText expected, seen;
    seen << tally.called << " called, stack moved by " << (tally.moves[0] ? tally.moves : "0");
    Row(t.table, kSlotsRow, Within(expected, "22 called, stack moved by 0,", kSlotsBudget),
        Took(seen, ",", took), tally.called == 22 && !tally.moves[0]);
}

void CheckUnload(SelfTest &t) {
    Runner &r = t.runner;
    BeginPlugInCall(kExitRow, kExitBudget);
    r.exit();
    uint32_t took = EndPlugInCall();
    SeenText expected, afterExit;
    Row(t.table, kExitRow, Within(expected, "base destructor 1, frees 0,", kExitBudget),
        Endings(afterExit, *r.state, took),
        r.state->destroyed == 1 && r.state->freed == 0);
    uint32_t lines = ReadLog(t);
    char last[256];
    bool logged = lines > 0 && LogMessage(t, lines - 1, last);
    Row(t.table, "exit: log line", "Bridge unloaded", logged ? last : "no well-formed line",
        logged && Same(last, "Bridge unloaded"));

    // A client that also ends the object itself, with and without a free.
    BeginPlugInCall(kDestructorRow, kDestructorBudget);
    r.object->~CPlugIn();
    delete r.object;
    took = EndPlugInCall();
    SeenText expectedAgain, afterDestructor;
    Row(t.table, kDestructorRow,
        Within(expectedAgain, "base destructor 1, frees 0,", kDestructorBudget),
        Endings(afterDestructor, *r.state, took),
        r.state->destroyed == 1 && r.state->freed == 0);

    // The lookup by path must find the module while it is loaded, or its
    // failing afterwards would prove nothing.
    bool found = GetModuleHandleA(t.files.plugin) == r.plugin;
    BeginPlugInCall(kUnloadRow, kUnloadBudget);
    bool freed = FreeLibrary(r.plugin) != 0;
    took = EndPlugInCall();
    // The worker thread has ended by now; a reference it held is gone.
    bool mapped = GetModuleHandleA(t.files.plugin) != nullptr;
    SeenText expectedUnmapped, unmapped;
    Row(t.table, kUnloadRow, Within(expectedUnmapped, "unmapped", kUnloadBudget),
        !found   ? "not found by its path while loaded"
        : !freed ? "FreeLibrary failed"
        : mapped ? "still mapped"
                 : Took(unmapped, "unmapped", took),
        found && freed && !mapped);
    r.plugin = nullptr;
    r.object = nullptr;
}

void CheckLogLines(SelfTest &t) {
    uint32_t lines = ReadLog(t);
    SeenText expected;
    expected << kLogLineCount << " lines, from \"" << kLogLines[0] << "\" to \""
             << kLogLines[kLogLineCount - 1] << "\"";
    SeenText seen;
    seen << lines << " lines";
    bool ok = true;
    for (uint32_t i = 0; ok && i < kLogLineCount && i < lines; ++i) {
        char message[256];
        if (!LogMessage(t, i, message)) {
            seen << "; line " << i + 1 << " malformed";
            ok = false;
        } else if (!Same(message, kLogLines[i])) {
            seen << "; line " << i + 1 << " is \"" << message << "\" where \"" << kLogLines[i]
                 << "\" belongs";
            ok = false;
        }
    }
    if (ok && lines < kLogLineCount)
        seen << "; missing from line " << lines + 1 << ": \"" << kLogLines[lines] << "\"";
    else if (ok && lines > kLogLineCount)
        seen << "; more than expected";
    else if (ok)
        seen << " as expected";
    Row(t.table, "log lines in order", expected.text, seen.text, ok && lines == kLogLineCount);
}

}  // namespace host
