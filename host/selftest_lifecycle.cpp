// The plug-in's life as the radar client sees it: load, the two exports,
// the object and its identity, the handler slots, exit, the destructor
// after exit, unload, and the log it leaves.
#include "host/selftest.h"

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

const char *Endings(SeenText &seen, const HostState &state) {
    seen << "base destructor " << state.destroyed << ", frees " << state.freed;
    return seen.text;
}

bool Same(const char *a, const char *b) { return a && b && SameText(a, b); }

bool CheckIdentity(SelfTest &t) {
    const HostState &state = *t.runner.state;
    Row(t.table, "init: object handed over", "an object", t.runner.object ? "an object" : "none",
        t.runner.object != nullptr);
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

}  // namespace

bool CheckLoad(SelfTest &t) {
    Runner &r = t.runner;
    r.pluginPath = t.files.plugin;
    r.state = ZdbHostState();
    r.plugin = LoadLibraryA(t.files.plugin);
    SeenText error;
    if (!r.plugin) error << "LoadLibrary failed, Windows error " << GetLastError();
    if (!Row(t.table, "load: LoadLibrary", "the copy loads", r.plugin ? "loaded" : error.text,
             r.plugin != nullptr))
        return false;
    FindExports(r);
    SeenText found;
    found << (r.init ? "init found" : "init MISSING") << ", " << (r.exit ? "exit found" : "exit MISSING");
    SeenText names;
    names << kInitName << " and " << kExitName;
    if (!Row(t.table, "load: exports by decorated name", names.text, found.text, r.init && r.exit)) {
        FreeLibrary(r.plugin);
        return false;
    }
    r.init(&r.object);
    if (CheckIdentity(t)) return true;
    r.exit();
    FreeLibrary(r.plugin);
    return false;
}

void CheckHandlerSlots(SelfTest &t) {
    t.runner.planValid = false;
    SlotTally tally;
    CallEverySlot(t.runner, tally);
    SeenText seen;
    seen << tally.called << " called, stack moved by " << (tally.moves[0] ? tally.moves : "0");
    Row(t.table, "handler slots keep the stack", "22 called, stack moved by 0", seen.text,
        tally.called == 22 && !tally.moves[0]);
}

void CheckUnload(SelfTest &t) {
    Runner &r = t.runner;
    r.exit();
    SeenText afterExit;
    Row(t.table, "exit: base destructor once, nothing freed", "base destructor 1, frees 0",
        Endings(afterExit, *r.state), r.state->destroyed == 1 && r.state->freed == 0);
    uint32_t lines = ReadLog(t);
    char last[256];
    bool logged = lines > 0 && LogMessage(t, lines - 1, last);
    Row(t.table, "exit: log line", "Bridge unloaded", logged ? last : "no well-formed line",
        logged && Same(last, "Bridge unloaded"));

    // A client that also ends the object itself, with and without a free.
    r.object->~CPlugIn();
    delete r.object;
    SeenText afterDestructor;
    Row(t.table, "destructor after exit does nothing", "base destructor 1, frees 0",
        Endings(afterDestructor, *r.state), r.state->destroyed == 1 && r.state->freed == 0);

    // The lookup by path must find the module while it is loaded, or its
    // failing afterwards would prove nothing.
    bool found = GetModuleHandleA(t.files.plugin) == r.plugin;
    bool freed = FreeLibrary(r.plugin) != 0;
    // The worker thread has ended by now; a reference it held is gone.
    bool mapped = GetModuleHandleA(t.files.plugin) != nullptr;
    Row(t.table, "FreeLibrary unmaps the module", "unmapped",
        !found   ? "not found by its path while loaded"
        : !freed ? "FreeLibrary failed"
        : mapped ? "still mapped"
                 : "unmapped",
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
