// The test client: loads a plug-in exactly as the radar client does
// (LoadLibrary, the two exports by their decorated names, handlers through
// the virtual table, exit, FreeLibrary) and replays a scenario file.
//
//   ZeltanDokTestClient.exe <plug-in.dll> <scenario.txt>
//   ZeltanDokTestClient.exe check <settings.ini>
#include "host/check.h"
#include "host/console.h"
#include "host/handles.h"
#include "host/host_state.h"
#include "host/host_win32.h"
#include "host/scenario.h"
#include "platform/placement_new.h"

using EuroScopePlugIn::CPlugIn;
using host::ConsoleLine;

namespace {

const char kInitName[] = "?EuroScopePlugInInit@@YAXPAPAVCPlugIn@EuroScopePlugIn@@@Z";
const char kExitName[] = "?EuroScopePlugInExit@@YAXXZ";

typedef void (*InitFunction)(CPlugIn **);
typedef void (*ExitFunction)(void);

const uint32_t kScenarioCapacity = 8u << 20;
const uint32_t kFillCapacity = 1u << 20;

char g_scenario[kScenarioCapacity + 1];
char g_fill[kFillCapacity + 1];

struct Runner {
    const char *pluginPath;
    HMODULE plugin;
    InitFunction init;
    ExitFunction exit;
    CPlugIn *object;
    HostState *state;
    bool planValid;
};

typedef bool (*StepFunction)(Runner &, const host::ScenarioLine &);

struct StepKind {
    const char *name;
    uint32_t words;  // the step's name included
    StepFunction run;
};

bool SameText(const char *a, const char *b) {
    if (!a || !b) return a == b;
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

// Decimal digits only; false for anything else.
bool ParseNumber(const char *s, uint32_t &value) {
    if (!s || !*s) return false;
    value = 0;
    for (; *s; ++s) {
        if (*s < '0' || *s > '9') return false;
        value = value * 10 + static_cast<uint32_t>(*s - '0');
    }
    return true;
}

bool Fail(const host::ScenarioLine &line, const char *why) {
    ConsoleLine out;
    out << "line " << line.number << ": error: " << why;
    out.Print();
    return false;
}

bool NeedObject(Runner &r, const host::ScenarioLine &line) {
    return r.object ? true : Fail(line, "no plug-in object (run init first)");
}

bool StepInit(Runner &r, const host::ScenarioLine &line) {
    if (!r.plugin) {
        r.plugin = LoadLibraryA(r.pluginPath);
        if (!r.plugin) return Fail(line, "LoadLibrary failed");
        r.init = reinterpret_cast<InitFunction>(GetProcAddress(r.plugin, kInitName));
        r.exit = reinterpret_cast<ExitFunction>(GetProcAddress(r.plugin, kExitName));
        if (!r.init || !r.exit) return Fail(line, "the plug-in lacks an export");
    }
    r.object = nullptr;
    r.init(&r.object);
    ConsoleLine out;
    out << "init: plug-in '" << r.state->name << "' version " << r.state->version
        << " compatibility " << static_cast<uint32_t>(r.state->compatibilityCode)
        << (r.object ? "" : " NO OBJECT");
    out.Print();
    return r.object != nullptr;
}

bool StepExit(Runner &r, const host::ScenarioLine &line) {
    if (!r.exit) return Fail(line, "plug-in not loaded");
    r.exit();
    ConsoleLine out;
    out << "exit: base destructor runs " << r.state->destroyed;
    out.Print();
    return true;
}

// The client ending the object through its virtual destructor, asking for
// the memory to be freed, as a careless client might after exit.
bool StepDestroy(Runner &r, const host::ScenarioLine &line) {
    if (!NeedObject(r, line)) return false;
    delete r.object;
    ConsoleLine out;
    out << "destroy: base destructor runs " << r.state->destroyed;
    out.Print();
    return true;
}

bool StepUnload(Runner &r, const host::ScenarioLine &line) {
    if (!r.plugin) return Fail(line, "plug-in not loaded");
    BOOL freed = FreeLibrary(r.plugin);
    r.plugin = nullptr;
    r.init = nullptr;
    r.exit = nullptr;
    r.object = nullptr;
    ConsoleLine out;
    out << "unload: " << (freed ? "freed" : "FreeLibrary failed");
    out.Print();
    return freed != 0;
}

// Whether the plug-in's DLL is still mapped in the process, whoever holds it.
bool StepIsLoaded(Runner &r, const host::ScenarioLine &) {
    ConsoleLine out;
    out << "is-loaded: " << (GetModuleHandleA(r.pluginPath) ? "yes" : "no");
    out.Print();
    return true;
}

bool StepTimer(Runner &r, const host::ScenarioLine &line) {
    uint32_t counter;
    if (!NeedObject(r, line)) return false;
    if (!ParseNumber(line.words[1], counter)) return Fail(line, "timer needs a number");
    r.object->OnTimer(static_cast<int>(counter));
    ConsoleLine out;
    out << "timer: " << counter;
    out.Print();
    return true;
}

bool StepFunctionCall(Runner &r, const host::ScenarioLine &line) {
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

bool StepController(Runner &r, const host::ScenarioLine &line) {
    r.state->controllerValid = true;
    r.state->controllerCallsign = line.words[1];
    return true;
}

bool StepNoController(Runner &r, const host::ScenarioLine &) {
    r.state->controllerValid = false;
    r.state->controllerCallsign = nullptr;
    return true;
}

bool StepFlightPlan(Runner &r, const host::ScenarioLine &line) {
    r.planValid = true;
    r.state->plan.callsign = line.words[1];
    r.state->plan.destination = line.words[2];
    return true;
}

bool StepNoFlightPlan(Runner &r, const host::ScenarioLine &) {
    r.planValid = false;
    return true;
}

// Sets the scratch pad and notifies the plug-in, printing how many calls
// the plug-in made back into the client for it.
bool Notify(Runner &r, const host::ScenarioLine &line, int dataType, const char *scratchPad) {
    if (!NeedObject(r, line)) return false;
    r.state->plan.scratchPad = scratchPad;
    uint32_t callsBefore = r.state->clientCalls;
    r.object->OnFlightPlanControllerAssignedDataUpdate(
        host::MakeFlightPlan(r.planValid ? &r.state->plan : nullptr), dataType);
    ConsoleLine out;
    out << "notify: type " << static_cast<uint32_t>(dataType) << " client calls "
        << (r.state->clientCalls - callsBefore) << " scratch ";
    out.Escaped(scratchPad);
    out.Print();
    return true;
}

bool StepScratch(Runner &r, const host::ScenarioLine &line) {
    return Notify(r, line, EuroScopePlugIn::CTR_DATA_TYPE_SCRATCH_PAD_STRING, line.words[1]);
}

bool StepData(Runner &r, const host::ScenarioLine &line) {
    uint32_t code;
    if (!ParseNumber(line.words[1], code)) return Fail(line, "data needs a type number");
    return Notify(r, line, static_cast<int>(code), line.words[2]);
}

// A long scratch pad: <prefix>, then <count> copies of the first byte of <byte>.
bool StepScratchFill(Runner &r, const host::ScenarioLine &line) {
    uint32_t count;
    const char *prefix = line.words[1] ? line.words[1] : "";
    if (!line.words[2] || !ParseNumber(line.words[3], count)) return Fail(line, "bad fill");
    text::BoundedText fill(g_fill);
    fill.Append(prefix);
    for (uint32_t i = 0; i < count; ++i) fill.Append(line.words[2][0]);
    if (!NeedObject(r, line)) return false;
    r.state->plan.scratchPad = g_fill;
    uint32_t callsBefore = r.state->clientCalls;
    r.object->OnFlightPlanControllerAssignedDataUpdate(
        host::MakeFlightPlan(r.planValid ? &r.state->plan : nullptr),
        EuroScopePlugIn::CTR_DATA_TYPE_SCRATCH_PAD_STRING);
    ConsoleLine out;
    out << "notify: fill of " << fill.length << " bytes, client calls "
        << (r.state->clientCalls - callsBefore);
    out.Print();
    return true;
}

// Ticks of the performance counter; only differences are used, and they fit
// 32 bits for anything shorter than minutes.
uint32_t Now() {
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return count.u.LowPart;
}

uint32_t CounterFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.u.LowPart;
}

const uint32_t kBurstCapacity = 200000;
uint32_t g_burstTicks[kBurstCapacity];
char g_burstPad[256];

// Shell sort: no library, and fast enough for the burst sizes we time.
void SortTicks(uint32_t *ticks, uint32_t count) {
    for (uint32_t gap = count / 2; gap > 0; gap /= 2)
        for (uint32_t i = gap; i < count; ++i)
            for (uint32_t j = i; j >= gap && ticks[j - gap] > ticks[j]; j -= gap) {
                uint32_t t = ticks[j];
                ticks[j] = ticks[j - gap];
                ticks[j - gap] = t;
            }
}

// <count> notifications as fast as the client can, scratch pads <prefix>0,
// <prefix>1, ...; prints the time each handler call took, in counter ticks.
bool StepBurst(Runner &r, const host::ScenarioLine &line) {
    uint32_t count;
    if (!ParseNumber(line.words[1], count) || count == 0 || count > kBurstCapacity)
        return Fail(line, "burst needs a count of 1 to 200000");
    if (!NeedObject(r, line)) return false;
    EuroScopePlugIn::CFlightPlan plan = host::MakeFlightPlan(r.planValid ? &r.state->plan : nullptr);
    r.state->plan.scratchPad = g_burstPad;
    uint32_t started = Now();
    for (uint32_t i = 0; i < count; ++i) {
        text::BoundedText pad(g_burstPad);
        pad.Append(line.words[2]);
        pad.AppendDecimal(i);
        uint32_t before = Now();
        r.object->OnFlightPlanControllerAssignedDataUpdate(
            plan, EuroScopePlugIn::CTR_DATA_TYPE_SCRATCH_PAD_STRING);
        g_burstTicks[i] = Now() - before;
    }
    uint32_t total = Now() - started;
    SortTicks(g_burstTicks, count);
    ConsoleLine out;
    out << "burst: count " << count << " frequency " << CounterFrequency() << " total " << total
        << " p50 " << g_burstTicks[count / 2] << " p99 " << g_burstTicks[count - 1 - count / 100]
        << " max " << g_burstTicks[count - 1];
    out.Print();
    return true;
}

// exit, timed: how long the client's thread waits for the plug-in to unload.
bool StepTimedExit(Runner &r, const host::ScenarioLine &line) {
    if (!r.exit) return Fail(line, "plug-in not loaded");
    uint32_t before = Now();
    r.exit();
    uint32_t took = Now() - before;
    ConsoleLine out;
    out << "timed-exit: ticks " << took << " frequency " << CounterFrequency();
    out.Print();
    return true;
}

bool StepSleep(Runner &, const host::ScenarioLine &line) {
    uint32_t ms;
    if (!ParseNumber(line.words[1], ms)) return Fail(line, "sleep needs milliseconds");
    Sleep(ms);
    return true;
}

const StepKind kSteps[] = {
    {"init", 1, StepInit},
    {"exit", 1, StepExit},
    {"destroy", 1, StepDestroy},
    {"unload", 1, StepUnload},
    {"timer", 2, StepTimer},
    {"function", 3, StepFunctionCall},
    {"controller", 2, StepController},
    {"no-controller", 1, StepNoController},
    {"flightplan", 3, StepFlightPlan},
    {"no-flightplan", 1, StepNoFlightPlan},
    {"scratch", 2, StepScratch},
    {"data", 3, StepData},
    {"scratch-fill", 4, StepScratchFill},
    {"sleep", 2, StepSleep},
    {"burst", 3, StepBurst},
    {"timed-exit", 1, StepTimedExit},
    {"is-loaded", 1, StepIsLoaded},
};

bool RunLine(Runner &r, const host::ScenarioLine &line) {
    if (line.tooManyWords) return Fail(line, "too many words");
    for (const StepKind &kind : kSteps) {
        if (!SameText(kind.name, line.words[0])) continue;
        if (line.count != kind.words) return Fail(line, "wrong number of words for this step");
        return kind.run(r, line);
    }
    return Fail(line, "unknown step");
}

// Reads the whole file into g_scenario; false when it cannot or is too big.
bool ReadScenario(const char *path, uint32_t &length) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    length = 0;
    bool ok = true;
    for (;;) {
        DWORD got = 0;
        if (length == kScenarioCapacity) {
            ok = false;  // more than we hold
            break;
        }
        if (!ReadFile(file, g_scenario + length, kScenarioCapacity - length, &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0) break;
        length += got;
    }
    CloseHandle(file);
    return ok;
}

// Splits the command line into at most `capacity` arguments, in place;
// double quotes group words and are removed.
uint32_t SplitCommandLine(char *p, char **arguments, uint32_t capacity) {
    uint32_t count = 0;
    while (*p) {
        while (*p == ' ' || *p == '\t') ++p;
        if (!*p) break;
        char *out = p;
        if (count < capacity) arguments[count] = out;
        ++count;
        bool quoted = false;
        while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
            if (*p == '"')
                quoted = !quoted;
            else
                *out++ = *p;
            ++p;
        }
        if (*p) ++p;
        *out = '\0';
    }
    return count;
}

int Run() {
    char *arguments[4];
    uint32_t count = SplitCommandLine(GetCommandLineA(), arguments, 4);
    if (count == 3 && SameText(arguments[1], "check")) return host::CheckSettings(arguments[2]);
    if (count != 3) {
        ConsoleLine out;
        out << "usage: ZeltanDokTestClient.exe <plug-in.dll> <scenario.txt>";
        out.Print();
        out << "       ZeltanDokTestClient.exe check <settings.ini>";
        out.Print();
        return 2;
    }
    uint32_t length = 0;
    if (!ReadScenario(arguments[2], length)) {
        ConsoleLine out;
        out << "cannot read scenario " << arguments[2];
        out.Print();
        return 2;
    }
    Runner runner = {};
    runner.pluginPath = arguments[1];
    runner.state = ZdbHostState();
    host::ScenarioReader reader(g_scenario, length);
    host::ScenarioLine line;
    uint32_t failures = 0;
    while (reader.Next(line))
        if (!RunLine(runner, line)) ++failures;
    ConsoleLine out;
    out << "scenario done: " << failures << " failed steps";
    out.Print();
    return failures == 0 ? 0 : 1;
}

}  // namespace

extern "C" int mainCRTStartup(void) {
    ExitProcess(static_cast<UINT>(Run()));
    return 0;
}
