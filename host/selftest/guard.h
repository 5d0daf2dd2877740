// Every call into the plug-in runs as a named step with a time budget, so
// that a run always ends with a verdict. A watchdog thread ends the run
// when a step overruns; an exception that nothing handles, on any thread,
// ends it the same way. Either way the watchdog prints the step's row,
// failed, and the verdict, and ends the process with status 1 at once.
// A console's QuickEdit, which would hold the run as well, is off meanwhile.
//
// The stuck or crashed thread prints nothing itself: it may be in the
// middle of a line, hold the loader's lock (LoadLibrary and FreeLibrary run
// DllMain under it) or have no stack left. The process is ended with
// TerminateProcess, not ExitProcess, because ExitProcess would call the
// plug-in's DllMain again under that lock.
#pragma once

#include <stdint.h>

#include "host/selftest/report.h"

namespace host {

// Budgets of the calls into the plug-in, in milliseconds.
const uint32_t kLoadBudget = 20000;     // LoadLibrary: DllMain, and a scanner reading the copy
const uint32_t kInitBudget = 5000;
const uint32_t kHandlerBudget = 1000;   // each notification
const uint32_t kSlotsBudget = 5000;     // the 22 handler slots, called in one go
const uint32_t kExitBudget = 5000;      // the worker is idle by then: it ends within 1 s
const uint32_t kDestructorBudget = 1000;
const uint32_t kUnloadBudget = 5000;    // FreeLibrary: DllMain again
// The whole run, from the start to the verdict: the last bound, for
// whatever slips past the calls' budgets and the waits' quiet time.
const uint32_t kRunBudget = 120000;

// Switches crash dialogs off, installs the exception filter and starts the
// watchdog. `keptFolder` is named in the verdict when the run ends early
// (the plug-in is still loaded from it then); it may still be empty now.
// False when the watchdog thread does not start.
bool StartGuard(CheckTable &table, const char *keptFolder, uint32_t runStartMs);
// `step` (copied) names the row the watchdog prints if the call overruns.
void BeginPlugInCall(const char *step, uint32_t budgetMilliseconds);
// The call's milliseconds.
uint32_t EndPlugInCall();

// A console window in QuickEdit mode stops every program writing to it while
// the user's mouse selection lasts, so a click into the window would hold a
// run with deadlines. QuickEditOff switches it off when standard input is
// such a console; RestoreQuickEdit puts it back, once, from any thread, and
// is also run on Ctrl+C and when the window closes. Without a console
// (output to a pipe or file, Wine started from a terminal) neither changes
// anything.
void QuickEditOff();
void RestoreQuickEdit();

}  // namespace host
