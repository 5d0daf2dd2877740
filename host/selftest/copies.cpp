// The copies of the plug-in: made, loaded, called, unloaded, their logs
// read and waited for; and this computer's refusals told apart from the
// plug-in's faults.
#include "host/selftest/selftest.h"

#include "host/selftest/guard.h"

namespace host {

const char kLoadedLine[] = "Bridge loaded; event worker started";
const char kDisabledLine[] = "Bridge disabled: Endpoint/Token missing or invalid";
const char kUnloadedLine[] = "Bridge unloaded";
const Flight kUsualFlight = {"DLH4TK", "EDDF", "EDDF_GND", true, true};

namespace {

const uint32_t kMaxCopies = 24;

PluginCopy g_copies[kMaxCopies];
uint32_t g_copyCount;
Route g_noRoute;  // the route of a copy that never posts

// The errors Windows documents for a file that security software or a
// policy keeps from being copied or loaded.
struct Refusal {
    uint32_t error;
    const char *meaning;
};
const Refusal kRefusals[] = {
    {5, "access denied"},
    {32, "the file is in use by another program"},
    {225, "security software found a threat in the file"},
    {226, "security software removed the file"},
    {577, "the file's signature could not be verified"},
    {786, "blocked by a software restriction policy"},
    {1260, "blocked by a group policy"},
    {4551, "blocked by an application control policy"},
    {4556, "blocked by Smart App Control: reputation malicious"},
    {4557, "blocked by Smart App Control: potentially unwanted"},
    {4558, "blocked by Smart App Control: dangerous file type"},
    {4559, "blocked by Smart App Control: no reputation while offline"},
    {4581, "blocked by Smart App Control: no reputation could be found"},
};

void NotRun(PluginCopy &copy, const char *why, uint32_t error = 0) {
    text::BoundedText out(copy.notRun);
    out.Append(why);
    if (error) {
        out.Append(", Windows error ");
        out.AppendDecimal(error);
    }
}

bool NamedAfter(char (&field)[kSelfTestPath], const SelfTest &t, const char *stem,
                const char *suffix) {
    char name[kSelfTestPath];
    text::BoundedText out(name);
    out.Append(stem);
    out.Append(suffix);
    return out.length == text::Length(stem) + text::Length(suffix) &&
           Join(field, t.files.folder, name);
}

const char *FileName(const PluginCopy &copy) {
    const char *name = copy.plugin;
    for (const char *p = copy.plugin; *p; ++p)
        if (*p == '\\') name = p + 1;
    return name;
}

// "<file name of the copy>: <call>", the step the watchdog names.
const char *Step(SeenText &step, const PluginCopy &copy, const char *call) {
    step << FileName(copy) << ": " << call;
    return step.text;
}

// The message of a log line of `length` bytes (without its CR LF) after a
// well-formed timestamp and its space, or null.
const char *MessageOf(const SelfTest &t, const char *line, uint32_t length) {
    int32_t stamp;
    return length >= 25 && line[24] == ' ' && ClockOf(t, line, stamp) ? line + 25 : nullptr;
}

}  // namespace

bool Refused(SelfTest &t, PluginCopy &copy, const char *call, uint32_t error, bool always) {
    const Refusal *refusal = nullptr;
    for (const Refusal &r : kRefusals)
        if (r.error == error) refusal = &r;
    // A file gone between the copy and the load was taken by a scanner.
    bool gone = GetFileAttributesA(copy.plugin) == INVALID_FILE_ATTRIBUTES;
    if (!refusal && !gone && !always) return false;
    text::BoundedText out(copy.notRun);
    out.Append(FileName(copy));
    out.Append(": ");
    out.Append(call);
    out.Append(" refused by this computer, Windows error ");
    out.AppendDecimal(error);
    if (refusal || gone) {
        out.Append(" (");
        out.Append(refusal ? refusal->meaning : "the file was removed");
        out.Append(")");
    }
    copy.refused = true;
    if (!t.refusal[0]) text::BoundedText(t.refusal).Append(copy.notRun);
    return true;
}

const char *const kRefusalAdvice =
    "let ZeltanDokTestClient.exe copy and load DLLs in the temp folder in the security software, "
    "or ask whoever manages this computer, then run the self-test again";

void AppendToken(text::BoundedText &out, const SelfTest &t, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) out.Append(t.files.token[i % kSelfTestTokenLength]);
}

void AppendSettings(text::BoundedText &out, const SelfTest &t, const char *scheme,
                    const char *path, uint32_t tokenLength) {
    out.Append("Endpoint=");
    out.Append(scheme);
    out.Append("://127.0.0.1:");
    out.AppendDecimal(t.receiver.port);
    out.Append(path);
    out.Append("\r\nToken=");
    AppendToken(out, t, tokenLength);
    out.Append("\r\n");
}

bool WriteCopySettings(PluginCopy &copy, const char *lines) {
    static char settings[4096];
    text::BoundedText ini(settings);
    ini.Append("[Bridge]\r\n");
    ini.Append(lines);
    return ini.length + 1 < sizeof settings && WriteWholeFile(copy.settings, settings, ini.length);
}

PluginCopy &MakeCopy(SelfTest &t, const char *stem, const char *lines, const char *routePath) {
    static PluginCopy spare;  // when there is no room: its rows say so
    PluginCopy &copy = g_copyCount < kMaxCopies ? g_copies[g_copyCount] : spare;
    copy.route = &g_noRoute;
    copy.runner.state = ZdbHostState();
    copy.runner.pluginPath = copy.plugin;
    if (&copy == &spare) return NotRun(copy, "no room for another copy"), copy;
    if (!NamedAfter(copy.plugin, t, stem, ".dll") || !NamedAfter(copy.settings, t, stem, ".ini") ||
        !NamedAfter(copy.log, t, stem, ".log"))
        return NotRun(copy, "the path is too long"), copy;
    ++g_copyCount;  // from here on its files are removed at the end
    if (t.refusal[0] || (t.own && t.own->notRun[0])) {
        NotRun(copy, t.refusal[0] ? "not tried after this computer's refusal"
                                  : "not tried: ZeltanDokBridge.dll did not load");
        copy.told = true;
        return copy;
    }
    const char *source = &copy == g_copies ? t.source : g_copies[0].plugin;
    // Either is this computer's doing, whatever the error.
    if (!CopyPlugIn(source, copy.plugin))
        return Refused(t, copy, "CopyFile", GetLastError(), true), copy;
    if (!WriteCopySettings(copy, lines))
        return Refused(t, copy, "writing the settings", GetLastError(), true), copy;
    if (routePath && !(copy.route = AddRoute(t.receiver, routePath))) {
        copy.route = &g_noRoute;
        NotRun(copy, "no route left at the receiver");
    }
    return copy;
}

PluginCopy &MakeUsualCopy(SelfTest &t, const char *stem, const char *routePath) {
    static char lines[512];
    text::BoundedText out(lines);
    AppendSettings(out, t, "http", routePath);
    out.Append("Airports=EDDF,EDDM\r\n");
    return MakeCopy(t, stem, lines, routePath);
}

bool LoadCopy(SelfTest &t, PluginCopy &copy) {
    if (copy.notRun[0]) return false;
    Runner &r = copy.runner;
    SeenText step;
    BeginPlugInCall(Step(step, copy, "LoadLibrary"), kLoadBudget);
    r.plugin = LoadLibraryA(copy.plugin);
    uint32_t error = GetLastError();
    EndPlugInCall();
    if (!r.plugin) {
        if (!Refused(t, copy, "LoadLibrary", error)) NotRun(copy, "LoadLibrary failed", error);
        return false;
    }
    copy.loaded = true;
    if (!FindExports(r)) return NotRun(copy, "an export missing"), false;
    InitCopy(copy);
    if (!r.object) return NotRun(copy, "init gave no object"), false;
    return true;
}

void InitCopy(PluginCopy &copy) {
    if (!copy.loaded) return;
    copy.runner.object = nullptr;
    SeenText step;
    BeginPlugInCall(Step(step, copy, "init"), kInitBudget);
    copy.runner.init(&copy.runner.object);
    EndPlugInCall();
    copy.live = true;
}

uint32_t NotifyCopy(PluginCopy &copy, const Flight &flight, const char *scratchPad,
                    int dataType) {
    if (!copy.live) return 0;
    HostState &state = *copy.runner.state;
    state.plan.callsign = flight.callsign;
    state.plan.destination = flight.destination;
    state.controllerValid = flight.controllerValid;
    state.controllerCallsign = flight.controller;
    copy.runner.planValid = flight.planValid;
    SeenText step;
    Step(step, copy, "scratch-pad handler (");
    step << scratchPad << ")";
    BeginPlugInCall(step.text, kHandlerBudget);
    uint32_t calls = NotifyPlugIn(copy.runner, dataType, scratchPad);
    uint32_t took = EndPlugInCall();
    ++copy.notifications;
    if (took > copy.longestNotifyMs) copy.longestNotifyMs = took;
    return calls;
}

void ExitCopy(PluginCopy &copy) {
    if (!copy.loaded) return;
    SeenText step;
    BeginPlugInCall(Step(step, copy, "exit"), kExitBudget);
    copy.runner.exit();
    EndPlugInCall();
    copy.live = false;
}

void UnloadCopy(PluginCopy &copy) {
    if (copy.live) ExitCopy(copy);
    if (!copy.loaded) return;
    copy.loaded = false;
    SeenText step;
    BeginPlugInCall(Step(step, copy, "FreeLibrary"), kUnloadBudget);
    FreeLibrary(copy.runner.plugin);
    EndPlugInCall();
}

void UnloadCopies() {
    for (uint32_t i = 0; i < g_copyCount; ++i) UnloadCopy(g_copies[i]);
}

uint32_t ReadCopyLog(const SelfTest &t, PluginCopy &copy) {
    static const char kMalformed[] = "(malformed line)";
    ReadWholeFile(copy.log, copy.logText, sizeof copy.logText, copy.logLength);
    copy.lineCount = 0;
    uint32_t start = 0;
    for (uint32_t i = 1; i < copy.logLength && copy.lineCount < kCopyLines; ++i) {
        if (copy.logText[i - 1] != '\r' || copy.logText[i] != '\n') continue;
        char *line = copy.logText + start;
        copy.logText[i - 1] = '\0';
        const char *message = MessageOf(t, line, i - 1 - start);
        copy.lines[copy.lineCount++] = message ? message : kMalformed;
        start = i + 1;
    }
    return copy.lineCount;
}

bool WaitFor(SelfTest &t, PluginCopy &copy, uint32_t requests, uint32_t lines) {
    if (copy.notRun[0] || copy.stalled) return false;
    uint32_t arrivedBefore = 0, loggedBefore = 0;
    uint32_t lastMove = GetTickCount();
    for (;;) {
        uint32_t arrived = RouteArrived(t.receiver, *copy.route);
        uint32_t logged = lines ? ReadCopyLog(t, copy) : 0;
        if (arrived >= requests && logged >= lines) return true;
        // Only what is still missing counts as moving: a worker that fails
        // attempt after attempt keeps logging, but nothing arrives.
        if (arrived != arrivedBefore || (arrived >= requests && logged != loggedBefore))
            lastMove = GetTickCount();
        arrivedBefore = arrived;
        loggedBefore = logged;
        if (GetTickCount() - lastMove >= kQuietBudget) return !(copy.stalled = true);
        Sleep(10);
    }
}

uint32_t FindCopyLine(const PluginCopy &copy, const char *message, uint32_t from) {
    for (uint32_t i = from; i < copy.lineCount; ++i)
        if (SameText(copy.lines[i], message)) return i;
    return copy.lineCount;
}

uint32_t CountCopyLines(const PluginCopy &copy, const char *message) {
    uint32_t count = 0;
    for (uint32_t i = 0; i < copy.lineCount; ++i)
        if (SameText(copy.lines[i], message)) ++count;
    return count;
}

const char *CopyLine(const PluginCopy &copy, uint32_t index) {
    return index < copy.lineCount ? copy.lines[index] : "(no such line)";
}

bool StartsWith(const char *s, const char *prefix) {
    while (*prefix)
        if (*s++ != *prefix++) return false;
    return true;
}

bool Row(SelfTest &t, PluginCopy &copy, const char *check, const char *expected,
         const char *seen, bool ok) {
    if (!copy.notRun[0]) return Row(t.table, check, expected, seen, ok);
    // The plug-in's own failure to load fails the copy's first row; every
    // other row, and all of a refused copy's, say why they did not run.
    if (copy.refused || copy.told) {
        NotRunRow(t.table, check, expected, copy.notRun);
        return false;
    }
    copy.told = true;
    SeenText why;
    why << "not run: " << copy.notRun;
    return Row(t.table, check, expected, why.text, false);
}

}  // namespace host
