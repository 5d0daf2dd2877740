// The test client: loads a plug-in exactly as the radar client does
// (LoadLibrary, the two exports by their decorated names, handlers through
// the virtual table, exit, FreeLibrary) and replays a scenario file.
//
//   ZeltanDokTestClient.exe <plug-in.dll> <scenario.txt>
//   ZeltanDokTestClient.exe check <settings.ini>
//   ZeltanDokTestClient.exe selftest <plug-in.dll> | --list   (the rows a run prints)
#include "host/check.h"
#include "host/command_line.h"
#include "host/console.h"
#include "host/runner.h"
#include "host/selftest/selftest.h"

namespace host {
namespace {

const uint32_t kScenarioCapacity = 8u << 20;
char g_scenario[kScenarioCapacity + 1];

struct StepKind {
    const char *name;
    uint32_t words;  // the step's name included
    StepFunction run;
};

const StepKind kSteps[] = {
    {"init", 1, StepInit},
    {"exit", 1, StepExit},
    {"destroy", 1, StepDestroy},
    {"delete", 1, StepDelete},
    {"unload", 1, StepUnload},
    {"timer", 2, StepTimer},
    {"function", 3, StepFunctionCall},
    {"every-slot", 1, StepEverySlot},
    {"controller", 2, StepController},
    {"no-controller", 1, StepNoController},
    {"flightplan", 3, StepFlightPlan},
    {"no-flightplan", 1, StepNoFlightPlan},
    {"scratch", 2, StepScratch},
    {"data", 3, StepData},
    {"scratch-fill", 4, StepScratchFill},
    {"sleep", 2, StepSleep},
    {"burst", 3, StepBurst},
    {"paced-burst", 4, StepPacedBurst},
    {"timed-exit", 1, StepTimedExit},
    {"is-loaded", 1, StepIsLoaded},
    {"client-object", 1, StepClientObject},
};

bool RunLine(Runner &r, const ScenarioLine &line) {
    if (line.tooManyWords) return Fail(line, "too many words");
    for (const StepKind &kind : kSteps) {
        if (!SameText(kind.name, line.words[0])) continue;
        if (line.count != kind.words) return Fail(line, "wrong number of words for this step");
        return kind.run(r, line);
    }
    return Fail(line, "unknown step");
}

int Run() {
    char *arguments[4];
    uint32_t count = SplitCommandLine(GetCommandLineA(), arguments, 4);
    if (count == 3 && SameText(arguments[1], "check")) return CheckSettingsFile(arguments[2]);
    if (count == 3 && SameText(arguments[1], "selftest")) return RunSelfTest(arguments[2]);
    if (count != 3) {
        ConsoleLine out;
        out << "usage: ZeltanDokTestClient.exe <plug-in.dll> <scenario.txt>";
        out.Print();
        out << "       ZeltanDokTestClient.exe check <settings.ini>";
        out.Print();
        out << "       ZeltanDokTestClient.exe selftest <plug-in.dll> | --list";
        out.Print();
        return 2;
    }
    uint32_t length = 0;
    if (!ReadWholeFile(arguments[2], g_scenario, sizeof g_scenario, length)) {
        ConsoleLine out;
        out << "cannot read scenario " << arguments[2];
        out.Print();
        return 2;
    }
    Runner runner = {};
    runner.pluginPath = arguments[1];
    runner.state = ZdbHostState();
    ScenarioReader reader(g_scenario, length);
    ScenarioLine line;
    uint32_t failures = 0;
    while (reader.Next(line))
        if (!RunLine(runner, line)) ++failures;
    ConsoleLine out;
    out << "scenario done: " << failures << " failed steps";
    out.Print();
    return failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace host

extern "C" int mainCRTStartup(void) {
    ExitProcess(static_cast<UINT>(host::Run()));
    return 0;
}
