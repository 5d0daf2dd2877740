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

// A wait for what a copy sends or logs gives up once nothing of it came for
// this long. A slow computer makes the run longer, never its verdict wrong;
// the longest quiet time of a sound plug-in is its 4 s pause between
// attempts.
const uint32_t kQuietBudget = 6000;

// A wait for log lines reads the log this often: each read opens the file,
// which a virus scanner may make slow.
const uint32_t kLogPollMs = 50;

const uint32_t kPortText = 7;  // the receiver's port, in as many digits, after padding

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
    SeenText reason;
    reason << why;
    if (error) reason << ", Windows error " << error;
    text::BoundedText(copy.notRun).Append(reason.text);
}

bool NamedAfter(char (&field)[kSelfTestPath], const SelfTest &t, const char *stem,
                const char *suffix) {
    SeenText name;
    name << stem << suffix;
    return Join(field, t.files.folder, name.text);
}

const char *FileName(const PluginCopy &copy) {
    const char *name = copy.plugin;
    for (const char *p = copy.plugin; *p; ++p)
        if (*p == '\\') name = p + 1;
    return name;
}

// A call into the copy, named for the watchdog `step` or else
// "<file name of the copy>: <call>".
void BeginCall(const PluginCopy &copy, const char *step, const char *call, uint32_t budget) {
    SeenText name;
    name << FileName(copy) << ": " << call;
    BeginPlugInCall(step ? step : name.text, budget);
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
    SeenText why;
    why << FileName(copy) << ": " << call << " refused by this computer, Windows error " << error;
    if (refusal || gone)
        why << " (" << (refusal ? refusal->meaning : "the file was removed") << ")";
    text::BoundedText(copy.notRun).Append(why.text);
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

bool WriteCopySettings(const SelfTest &t, PluginCopy &copy, const CopyRow &row) {
    static char settings[4096];
    text::BoundedText ini(settings);
    ini.Append("[Bridge]\r\nEndpoint=");
    for (const char *p = row.endpoint; *p; ++p) {
        if (*p == '*') {
            for (uint32_t place = 9; place < kLongestPath + 64; ++place)
                ini.Append(PathLetter(place));
        } else if (*p == '@') {
            // "127.0.0.1:" is 10 characters, then spaces up to the row's
            // authority, then the port in as many digits.
            ini.Append("127.0.0.1:");
            for (uint32_t i = 10 + kPortText; i < row.authority; ++i) ini.Append(' ');
            ini.AppendDecimal(t.receiver.port, row.authority ? kPortText : 1);
        } else {
            ini.Append(*p);
        }
    }
    ini.Append("\r\nToken=");
    AppendToken(ini, t, row.tokenLength);
    ini.Append("\r\nAirports=");
    ini.Append(row.airports ? row.airports : "EDDF,EDDM");
    ini.Append("\r\n");
    return ini.length + 1 < sizeof settings && WriteWholeFile(copy.settings, settings, ini.length);
}

PluginCopy &MakeCopy(SelfTest &t, const CopyRow &row) {
    PluginCopy &copy = t.copies[t.copyCount];  // the plan's size is checked when compiled
    copy.route = &t.noRoute;
    copy.runner.state = ZdbHostState();
    copy.runner.pluginPath = copy.plugin;
    copy.group = row.group;
    copy.posts = row.Posts();
    copy.tokenLength = row.tokenLength;
    SeenText stem;
    stem << (row.stem ? row.stem : "ZdbLongName");
    // <folder>\<stem>.dll: 259 characters.
    while (!row.stem && text::Length(t.files.folder) + 1 + stem.out.length + 4 < kSelfTestPath - 1)
        stem << "N";
    if (!NamedAfter(copy.plugin, t, stem.text, ".dll") ||
        !NamedAfter(copy.settings, t, stem.text, ".ini") ||
        !NamedAfter(copy.log, t, stem.text, ".log"))
        return NotRun(copy, "the path is too long"), copy;
    ++t.copyCount;  // from here on its files are removed at the end
    // A copy that would post after the plug-in sent nothing at all would
    // only be waited out at its exit, its worker in a pause between attempts.
    bool unheard = t.silent && copy.posts;
    if (t.table.listing || t.refusal[0] || (t.own && t.own->notRun[0]) || unheard) {
        NotRun(copy, t.table.listing ? "listed"
                     : t.refusal[0]  ? "not tried after this computer's refusal"
                     : unheard       ? "the plug-in sent no request"
                                     : "not tried: ZeltanDokBridge.dll did not load");
        copy.told = true;
        return copy;
    }
    const char *source = &copy == t.copies ? t.source : t.copies[0].plugin;
    // Either is this computer's doing, whatever the error.
    if (!CopyPlugIn(source, copy.plugin))
        return Refused(t, copy, "CopyFile", GetLastError(), true), copy;
    if (!WriteCopySettings(t, copy, row))
        return Refused(t, copy, "writing the settings", GetLastError(), true), copy;
    if (!copy.posts) return copy;
    // Its route: the endpoint's path after '@', up to the '/' before any '*'.
    char path[32];
    text::BoundedText out(path);
    const char *p = row.endpoint;
    while (*p && *p != '@') ++p;
    for (p += *p ? 1 : 0; *p && *p != '*'; ++p) out.Append(*p);
    if (out.length > 1 && path[out.length - 1] == '/') path[--out.length] = '\0';
    Route *route = AddRoute(t.receiver, path);
    if (!route) return NotRun(copy, "no route left at the receiver"), copy;
    copy.route = route;
    text::BoundedText bearer(route->authorization);
    bearer.Append("Bearer ");
    AppendToken(bearer, t, row.tokenLength);
    for (uint32_t i = 0; i < kRouteScript; ++i) route->statuses[i] = row.answers[i];
    return copy;
}

bool LoadCopy(SelfTest &t, PluginCopy &copy) {
    if (copy.notRun[0]) return false;
    Runner &r = copy.runner;
    BeginCall(copy, nullptr, "LoadLibrary", kLoadBudget);
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

uint32_t InitCopy(PluginCopy &copy, const char *step) {
    if (!copy.loaded) return 0;
    copy.runner.object = nullptr;
    BeginCall(copy, step, "init", kInitBudget);
    copy.runner.init(&copy.runner.object);
    uint32_t took = EndPlugInCall();
    copy.live = copy.runner.object != nullptr;
    return took;
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
    SeenText call;
    call << "scratch-pad handler (" << scratchPad << ")";
    BeginCall(copy, nullptr, call.text, kHandlerBudget);
    uint32_t calls = NotifyPlugIn(copy.runner, dataType, scratchPad);
    uint32_t took = EndPlugInCall();
    ++copy.notifications;
    if (took > copy.longestNotifyMs) copy.longestNotifyMs = took;
    return calls;
}

uint32_t ExitCopy(PluginCopy &copy, const char *step) {
    if (!copy.loaded) return 0;
    BeginCall(copy, step, "exit", kExitBudget);
    copy.runner.exit();
    uint32_t took = EndPlugInCall();
    copy.live = false;
    return took;
}

void UnloadCopy(PluginCopy &copy) {
    if (copy.live) ExitCopy(copy);
    if (!copy.loaded) return;
    copy.loaded = false;
    BeginCall(copy, nullptr, "FreeLibrary", kUnloadBudget);
    FreeLibrary(copy.runner.plugin);
    EndPlugInCall();
}

void UnloadCopies(SelfTest &t) {
    for (uint32_t i = 0; i < t.copyCount; ++i) UnloadCopy(t.copies[i]);
}

uint32_t ReadCopyLog(const SelfTest &t, PluginCopy &copy) {
    static const char kMalformed[] = "(malformed line)";
    uint32_t length = 0;
    ReadWholeFile(copy.log, copy.logText, sizeof copy.logText, length);
    copy.lineCount = 0;
    uint32_t start = 0;
    for (uint32_t i = 1; i < length && copy.lineCount < kCopyLines; ++i) {
        if (copy.logText[i - 1] != '\r' || copy.logText[i] != '\n') continue;
        char *line = copy.logText + start;
        copy.logText[i - 1] = '\0';
        const char *message = MessageOf(t, line, i - 1 - start);
        copy.lines[copy.lineCount++] = message ? message : kMalformed;
        start = i + 1;
    }
    return copy.lineCount;
}

namespace {

// Waits for every copy of `copies` to have its wantRequests and wantLines.
bool Await(SelfTest &t, PluginCopy *const *copies, uint32_t count) {
    uint32_t progress[kMaxCopies] = {};
    bool done[kMaxCopies] = {};
    uint32_t lastMove = GetTickCount();
    for (uint32_t round = 0;; ++round) {
        bool readLogs = round % (kLogPollMs / 10) == 0;
        bool all = true;
        for (uint32_t i = 0; i < count; ++i) {
            PluginCopy &copy = *copies[i];
            if (copy.notRun[0] || copy.stalled || done[i]) continue;
            uint32_t refused = 0;
            uint32_t arrived = RouteArrived(t.receiver, *copy.route, &refused);
            // Refused where it should have been taken: judged as it is, its
            // further attempts not waited for.
            if (refused) {
                copy.stalled = true;
                continue;
            }
            // The log only once the requests are in; until then only their
            // arrival counts as moving: a worker that fails attempt after
            // attempt keeps logging, but nothing arrives.
            bool requestsIn = arrived >= copy.wantRequests;
            if (requestsIn && copy.wantLines && readLogs) ReadCopyLog(t, copy);
            uint32_t now = arrived + (requestsIn ? copy.lineCount : 0);
            if (now != progress[i]) lastMove = GetTickCount();
            progress[i] = now;
            done[i] = requestsIn && copy.lineCount >= copy.wantLines;
            all = all && done[i];
        }
        if (all) break;
        if (GetTickCount() - lastMove >= kQuietBudget) {
            for (uint32_t i = 0; i < count; ++i) copies[i]->stalled = !done[i];
            if (Heard(t.receiver) == 0) t.silent = true;
            break;
        }
        Sleep(10);
    }
    bool all = true;
    for (uint32_t i = 0; i < count; ++i) {
        PluginCopy &copy = *copies[i];
        // Its rows judge the log as it is now, whatever came of the wait.
        if (copy.wantLines) ReadCopyLog(t, copy);
        all = all && !copy.notRun[0] && !copy.stalled;
    }
    return all;
}

}  // namespace

bool WaitFor(SelfTest &t, PluginCopy &copy, uint32_t requests, uint32_t lines) {
    if (copy.notRun[0] || copy.stalled) return false;
    copy.wantRequests = requests;
    copy.wantLines = lines;
    PluginCopy *one = &copy;
    return Await(t, &one, 1);
}

bool WaitForGroup(SelfTest &t, uint32_t group) {
    PluginCopy *members[kMaxCopies];
    uint32_t count = 0;
    for (uint32_t i = 0; i < t.copyCount; ++i)
        if (t.copies[i].group == group) members[count++] = &t.copies[i];
    return Await(t, members, count);
}

const ReceivedRequest *RequestOf(SelfTest &t, const PluginCopy &copy, uint32_t index) {
    bool recorded = index < RouteArrived(t.receiver, *copy.route) && index < kRouteRecords;
    return recorded ? &copy.route->records[index] : nullptr;
}

const char *BodyOf(const ReceivedRequest *request) {
    return request ? request->body : "nothing arrived";
}

uint32_t FindCopyLine(const PluginCopy &copy, const char *message) {
    for (uint32_t i = 0; i < copy.lineCount; ++i)
        if (SameText(copy.lines[i], message)) return i;
    return copy.lineCount;
}

const char *CopyLine(const PluginCopy &copy, uint32_t index) {
    return index < copy.lineCount ? copy.lines[index] : "(no such line)";
}

namespace {

bool RowOfCopy(SelfTest &t, PluginCopy &copy, const char *check, const char *expected,
               const char *seen, bool ok, bool needsRequest) {
    if (!copy.notRun[0]) return Row(t.table, check, expected, seen, ok, needsRequest);
    // The plug-in's own failure to load fails the copy's first row; every
    // other row, and all of a refused copy's, say why they did not run.
    if (copy.refused || copy.told) {
        NotRunRow(t.table, check, expected, copy.notRun, needsRequest);
        return false;
    }
    copy.told = true;
    SeenText why;
    why << "not run: " << copy.notRun;
    return Row(t.table, check, expected, why.text, false, needsRequest);
}

}  // namespace

bool Row(SelfTest &t, PluginCopy &copy, const char *check, const char *expected,
         const char *seen, bool ok) {
    return RowOfCopy(t, copy, check, expected, seen, ok, copy.posts);
}

bool ClientRow(SelfTest &t, PluginCopy &copy, const char *check, const char *expected,
               const char *seen, bool ok) {
    return RowOfCopy(t, copy, check, expected, seen, ok, false);
}

}  // namespace host
