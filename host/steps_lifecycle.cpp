// Steps of the plug-in's life: loading, the two exports, the client ending
// the object, unloading.
#include "host/console.h"
#include "host/handles.h"
#include "host/runner.h"
#include "platform/placement_new.h"

namespace host {

bool FindExports(Runner &r) {
    r.init = reinterpret_cast<InitFunction>(GetProcAddress(r.plugin, kInitName));
    r.exit = reinterpret_cast<ExitFunction>(GetProcAddress(r.plugin, kExitName));
    return r.init && r.exit;
}

bool StepInit(Runner &r, const ScenarioLine &line) {
    if (!r.plugin) {
        r.plugin = LoadLibraryA(r.pluginPath);
        if (!r.plugin) return Fail(line, "LoadLibrary failed");
        if (!FindExports(r)) return Fail(line, "the plug-in lacks an export");
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

namespace {

// What the client's side of the object went through so far. A base
// destructor that ran more often than the constructor, or any free of the
// plug-in's static object, would harm a real client: the step fails.
bool ReportEnding(const ScenarioLine &line, const char *step, const HostState &state) {
    ConsoleLine out;
    out << step << ": base destructor runs " << state.destroyed << ", frees " << state.freed;
    out.Print();
    if (state.destroyed > state.constructed) return Fail(line, "base destructor ran twice");
    if (state.freed != 0) return Fail(line, "the client was asked to free the plug-in object");
    return true;
}

}  // namespace

bool StepExit(Runner &r, const ScenarioLine &line) {
    if (!r.exit) return Fail(line, "plug-in not loaded");
    r.exit();
    return ReportEnding(line, "exit", *r.state);
}

// The client ending the object through its virtual destructor without
// freeing it, as a careless client might, before or after exit.
bool StepDestroy(Runner &r, const ScenarioLine &line) {
    if (!NeedObject(r, line)) return false;
    r.object->~CPlugIn();
    return ReportEnding(line, "destroy", *r.state);
}

// The same, asking for the memory to be freed.
bool StepDelete(Runner &r, const ScenarioLine &line) {
    if (!NeedObject(r, line)) return false;
    delete r.object;
    return ReportEnding(line, "delete", *r.state);
}

bool StepUnload(Runner &r, const ScenarioLine &line) {
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
bool StepIsLoaded(Runner &r, const ScenarioLine &) {
    ConsoleLine out;
    out << "is-loaded: " << (GetModuleHandleA(r.pluginPath) ? "yes" : "no");
    out.Print();
    return true;
}

// exit, timed: how long the client's thread waits for the plug-in to unload.
bool StepTimedExit(Runner &r, const ScenarioLine &line) {
    if (!r.exit) return Fail(line, "plug-in not loaded");
    uint32_t before = CounterNow();
    r.exit();
    uint32_t took = CounterNow() - before;
    ConsoleLine out;
    out << "timed-exit: ticks " << took << " frequency " << CounterFrequency();
    out.Print();
    return true;
}

// A base object of the client's own, its table all the client's default
// handlers: every-slot on it shows that a call reaching a default is counted,
// so a count of 0 after a plug-in's exit means something.
bool StepClientObject(Runner &r, const ScenarioLine &) {
    alignas(EuroScopePlugIn::CPlugIn) static unsigned char storage[sizeof(EuroScopePlugIn::CPlugIn)];
    r.object = new (storage) EuroScopePlugIn::CPlugIn(EuroScopePlugIn::COMPATIBILITY_CODE,
                                                      "client", "0", "client", "client");
    return true;
}

}  // namespace host
