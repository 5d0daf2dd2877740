#include "host/selftest/quick_edit.h"

#include "host/host_win32_extra.h"
#include "platform/atomic_flag.h"

namespace host {

namespace {

HANDLE g_input;
DWORD g_savedMode;
AtomicFlag g_quickEditOff;  // set while QuickEdit is off because of this program

BOOL WINAPI OnConsoleEnd(DWORD) {
    RestoreQuickEdit();
    return FALSE;  // the usual handling goes on: the process ends
}

}  // namespace

void QuickEditOff() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode) || !(mode & ENABLE_QUICK_EDIT_MODE)) return;
    g_input = input;
    g_savedMode = mode;
    if (!SetConsoleMode(input, (mode & ~ENABLE_QUICK_EDIT_MODE) | ENABLE_EXTENDED_FLAGS)) return;
    g_quickEditOff.Set(true);
    SetConsoleCtrlHandler(OnConsoleEnd, TRUE);
}

void RestoreQuickEdit() {
    // The flag only counts for a mode set together with the extended flags.
    if (g_quickEditOff.Take())
        SetConsoleMode(g_input, g_savedMode | ENABLE_EXTENDED_FLAGS);
}

}  // namespace host
