// The scenario runner's state and the steps it knows, one file per kind of
// step: the plug-in's life (steps_lifecycle.cpp), what the client tells it
// (steps_client.cpp) and timed bursts (steps_burst.cpp).
#pragma once

#include <stdint.h>

#include "host/host_state.h"
#include "host/host_win32.h"
#include "host/scenario.h"
#include "host/timing.h"
#include "sdk/EuroScopePlugIn.h"

namespace host {

typedef void (*InitFunction)(EuroScopePlugIn::CPlugIn **);
typedef void (*ExitFunction)(void);

// The two exports by the decorated names the radar client looks up.
const char kInitName[] = "?EuroScopePlugInInit@@YAXPAPAVCPlugIn@EuroScopePlugIn@@@Z";
const char kExitName[] = "?EuroScopePlugInExit@@YAXXZ";

struct Runner {
    const char *pluginPath;
    HMODULE plugin;
    InitFunction init;
    ExitFunction exit;
    EuroScopePlugIn::CPlugIn *object;
    HostState *state;
    bool planValid;
};

typedef bool (*StepFunction)(Runner &, const ScenarioLine &);

struct SlotTally {
    uint32_t called = 0;
    uint32_t answered = 0;
    uint32_t clientCalls = 0;
    uint32_t clientDefaults = 0;  // calls that reached the client's own default handlers
    char moves[256] = {};         // each call that moved the stack: "+4 in slot 18, ..."
};
// Sets the scratch pad and notifies the plug-in; returns how many calls the
// plug-in made back into the client for it.
uint32_t NotifyPlugIn(Runner &r, int dataType, const char *scratchPad);

// Calls each of the 22 handlers of the live object once.
void CallEverySlot(Runner &r, SlotTally &tally);

bool SameText(const char *a, const char *b);
// The whole file, NUL-terminated, while another program may be writing it;
// false when it cannot be opened or read, or holds capacity - 1 bytes or more.
bool ReadWholeFile(const char *path, char *buffer, uint32_t capacity, uint32_t &length);
// Decimal digits only, at most 4294967295; false for anything else.
bool ParseNumber(const char *s, uint32_t &value);
// Prints the line's error; returns false.
bool Fail(const ScenarioLine &line, const char *why);
bool NeedObject(Runner &r, const ScenarioLine &line);

// Looks both exports up in the loaded r.plugin; false when either is missing.
bool FindExports(Runner &r);

bool StepInit(Runner &r, const ScenarioLine &line);
bool StepExit(Runner &r, const ScenarioLine &line);
bool StepTimedExit(Runner &r, const ScenarioLine &line);
bool StepDestroy(Runner &r, const ScenarioLine &line);
bool StepDelete(Runner &r, const ScenarioLine &line);
bool StepUnload(Runner &r, const ScenarioLine &line);
bool StepIsLoaded(Runner &r, const ScenarioLine &line);
bool StepClientObject(Runner &r, const ScenarioLine &line);

bool StepTimer(Runner &r, const ScenarioLine &line);
bool StepFunctionCall(Runner &r, const ScenarioLine &line);
bool StepEverySlot(Runner &r, const ScenarioLine &line);
bool StepController(Runner &r, const ScenarioLine &line);
bool StepNoController(Runner &r, const ScenarioLine &line);
bool StepFlightPlan(Runner &r, const ScenarioLine &line);
bool StepNoFlightPlan(Runner &r, const ScenarioLine &line);
bool StepScratch(Runner &r, const ScenarioLine &line);
bool StepData(Runner &r, const ScenarioLine &line);
bool StepScratchFill(Runner &r, const ScenarioLine &line);
bool StepSleep(Runner &r, const ScenarioLine &line);

bool StepBurst(Runner &r, const ScenarioLine &line);
bool StepPacedBurst(Runner &r, const ScenarioLine &line);

}  // namespace host
