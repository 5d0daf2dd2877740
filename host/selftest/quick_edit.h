#pragma once

namespace host {

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
