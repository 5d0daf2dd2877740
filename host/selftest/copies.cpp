#include "host/selftest/copies.h"

#include "host/selftest/guard.h"

namespace host {

namespace {

// Every wait of the copies' checks ends by then, whatever arrived.
const uint32_t kRunBudgetMilliseconds = 13500;
const uint32_t kMaxCopies = 24;

PluginCopy g_copies[kMaxCopies];
uint32_t g_copyCount;

bool Failed(SelfTest &t, const char *stem, const char *what) {
    SeenText check;
    check << "copy " << stem;
    SeenText seen;
    seen << what << " (Windows error " << GetLastError() << ")";
    return Row(t.table, check.text, "copied, with settings of its own", seen.text, false);
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

// "<file name of the copy>: <call>", the step the watchdog names.
const char *Step(SeenText &step, const PluginCopy &copy, const char *call) {
    const char *name = copy.plugin;
    for (const char *p = copy.plugin; *p; ++p)
        if (*p == '\\') name = p + 1;
    step << name << ": " << call;
    return step.text;
}

}  // namespace

bool StartsWith(const char *s, const char *prefix) {
    while (*prefix)
        if (*s++ != *prefix++) return false;
    return true;
}

const Flight kUsualFlight = {"DLH4TK", "EDDF", "EDDF_GND", true, true};

uint32_t CopyWait(const SelfTest &t, uint32_t wanted) {
    uint32_t spent = GetTickCount() - t.loadedMs;
    uint32_t left = spent < kRunBudgetMilliseconds ? kRunBudgetMilliseconds - spent : 0;
    return wanted < left ? wanted : left;
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
    static char settings[kCopySettings];
    text::BoundedText ini(settings);
    ini.Append("[Bridge]\r\n");
    ini.Append(lines);
    DeleteFileA(copy.settings);
    return ini.length + 1 < sizeof settings && WriteWholeFile(copy.settings, settings, ini.length);
}

PluginCopy *MakeCopy(SelfTest &t, const char *stem, const char *lines, const char *routePath) {
    if (g_copyCount == kMaxCopies) return Failed(t, stem, "no room for another copy"), nullptr;
    PluginCopy &copy = g_copies[g_copyCount];
    if (!NamedAfter(copy.plugin, t, stem, ".dll") || !NamedAfter(copy.settings, t, stem, ".ini") ||
        !NamedAfter(copy.log, t, stem, ".log"))
        return Failed(t, stem, "the path is too long"), nullptr;
    ++g_copyCount;  // from here on its files are removed at the end
    if (!CopyFileA(t.files.plugin, copy.plugin, TRUE))
        return Failed(t, stem, "cannot copy the plug-in"), nullptr;
    if (!WriteCopySettings(copy, lines))
        return Failed(t, stem, "cannot write the settings"), nullptr;
    if (routePath && !(copy.route = AddRoute(t.receiver, routePath)))
        return Failed(t, stem, "no route left at the receiver"), nullptr;
    copy.runner.pluginPath = copy.plugin;
    copy.runner.state = ZdbHostState();
    return &copy;
}

PluginCopy *MakeUsualCopy(SelfTest &t, const char *stem, const char *routePath) {
    static char lines[512];
    text::BoundedText out(lines);
    AppendSettings(out, t, "http", routePath);
    out.Append("Airports=EDDF,EDDM\r\n");
    return MakeCopy(t, stem, lines, routePath);
}

bool LoadCopy(SelfTest &t, PluginCopy &copy, const char *check) {
    Runner &r = copy.runner;
    SeenText step;
    BeginPlugInCall(Step(step, copy, "LoadLibrary"), kLoadBudget);
    r.plugin = LoadLibraryA(copy.plugin);
    EndPlugInCall();
    SeenText seen;
    if (!r.plugin) {
        seen << "LoadLibrary failed, Windows error " << GetLastError();
        return Row(t.table, check, "the copy loads and gives an object", seen.text, false);
    }
    copy.loaded = true;
    if (!FindExports(r))
        return Row(t.table, check, "the copy loads and gives an object", "an export missing", false);
    InitCopy(copy);
    if (!r.object)
        return Row(t.table, check, "the copy loads and gives an object", "no object", false);
    return true;
}

void InitCopy(PluginCopy &copy) {
    copy.runner.object = nullptr;
    SeenText step;
    BeginPlugInCall(Step(step, copy, "init"), kInitBudget);
    copy.runner.init(&copy.runner.object);
    EndPlugInCall();
    copy.live = true;
}

uint32_t NotifyCopy(PluginCopy &copy, const Flight &flight, const char *scratchPad,
                    int dataType) {
    HostState &state = *copy.runner.state;
    state.plan.callsign = flight.callsign;
    state.plan.destination = flight.destination;
    state.controllerValid = flight.controllerValid;
    state.controllerCallsign = flight.controller;
    copy.runner.planValid = flight.planValid;
    SeenText step;
    BeginPlugInCall(Step(step, copy, "scratch-pad handler"), kHandlerBudget);
    uint32_t calls = NotifyPlugIn(copy.runner, dataType, scratchPad);
    EndPlugInCall();
    return calls;
}

void ExitCopy(PluginCopy &copy) {
    SeenText step;
    BeginPlugInCall(Step(step, copy, "exit"), kExitBudget);
    copy.runner.exit();
    EndPlugInCall();
    copy.live = false;
}

bool FreeCopy(PluginCopy &copy) {
    copy.loaded = false;
    SeenText step;
    BeginPlugInCall(Step(step, copy, "FreeLibrary"), kUnloadBudget);
    bool freed = FreeLibrary(copy.runner.plugin) != 0;
    EndPlugInCall();
    return freed;
}

void UnloadCopy(PluginCopy &copy) {
    if (copy.live) ExitCopy(copy);
    if (copy.loaded) FreeCopy(copy);
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

bool WaitForCopyLog(const SelfTest &t, PluginCopy &copy, uint32_t lines, uint32_t milliseconds) {
    uint32_t deadline = RunMilliseconds(t) + CopyWait(t, milliseconds);
    while (ReadCopyLog(t, copy) < lines) {
        if (RunMilliseconds(t) >= deadline) return false;
        Sleep(10);
    }
    return true;
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

bool WorkerLinesRow(SelfTest &t, PluginCopy &copy, const char *check,
                    const char *const *expected, uint32_t count) {
    ReadCopyLog(t, copy);
    SeenText wanted;
    for (uint32_t i = 0; i < count; ++i) wanted << (i ? "; " : "") << expected[i];
    SeenText seen;
    uint32_t matched = 0;
    bool ok = true;
    for (uint32_t i = 0; i < copy.lineCount && ok; ++i) {
        const char *line = copy.lines[i];
        if (StartsWith(line, "Captured ") || StartsWith(line, "Bridge ")) continue;
        if (matched < count && SameText(line, expected[matched])) {
            ++matched;
            continue;
        }
        seen << "worker line " << matched + 1 << " is \"" << line << "\"";
        ok = false;
    }
    if (ok && matched < count)
        seen << matched << " of " << count << " lines; missing: \"" << expected[matched] << "\"";
    else if (ok)
        seen << "as expected";
    return Row(t.table, check, wanted.text, seen.text, ok && matched == count);
}

void CheckCopies(SelfTest &t) {
    CheckQueue(t);
    CheckBurst(t);
    CheckTexts(t);
    CheckSettingsCopies(t);
    CheckEndpoints(t);
    CheckRepeatedLoads(t);
    FinishLongChecks(t);
}

bool LogLinesRow(SelfTest &t, PluginCopy &copy, const char *check, const char *const *expected,
                 uint32_t count) {
    ReadCopyLog(t, copy);
    SeenText wanted;
    wanted << count << " lines, from \"" << expected[0] << "\" to \"" << expected[count - 1] << "\"";
    SeenText seen;
    seen << copy.lineCount << " lines";
    bool ok = true;
    for (uint32_t i = 0; ok && i < count && i < copy.lineCount; ++i) {
        if (SameText(copy.lines[i], expected[i])) continue;
        seen << "; line " << i + 1 << " is \"" << copy.lines[i] << "\" where \"" << expected[i]
             << "\" belongs";
        ok = false;
    }
    if (ok && copy.lineCount < count)
        seen << "; missing from line " << copy.lineCount + 1 << ": \"" << expected[copy.lineCount]
             << "\"";
    else if (ok && copy.lineCount > count)
        seen << "; more than expected: \"" << copy.lines[count] << "\"";
    else if (ok)
        seen << " as expected";
    return Row(t.table, check, wanted.text, seen.text, ok && copy.lineCount == count);
}

void AppendToken(text::BoundedText &out, const SelfTest &t, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) out.Append(t.files.token[i % kSelfTestTokenLength]);
}

}  // namespace host
