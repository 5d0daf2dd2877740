#include "host/selftest/guard.h"

#include "host/host_win32_extra.h"
#include "platform/atomic_flag.h"
#include "platform/memory_copy.h"
#include "text/text.h"

namespace host {

namespace {

const uint32_t kPollMilliseconds = 20;

struct Guard {
    CRITICAL_SECTION lock;
    // Guarded by `lock`:
    bool inCall;
    char step[128];
    uint32_t begunMs;
    uint32_t budgetMs;
    DWORD callerThread;

    // The first unhandled exception, written by the thread that raised it
    // before it sets `crashed`.
    AtomicFlag claimed;
    AtomicFlag crashed;
    DWORD crashCode;
    uintptr_t crashAddress;
    DWORD crashThread;

    DWORD watchdogThread;
    const void *clientBase;
    CheckTable *table;
    const char *keptFolder;
    uint32_t runStartMs;
};
Guard g_guard;

HANDLE g_input;
DWORD g_savedMode;
AtomicFlag g_quickEditOff;  // set while QuickEdit is off because of this program

BOOL WINAPI OnConsoleEnd(DWORD) {
    RestoreQuickEdit();
    return FALSE;  // the usual handling goes on: the process ends
}

uint32_t Read32(const BYTE *at) {
    uint32_t value;
    memcpy(&value, at, sizeof value);
    return value;
}

// The name an image gives itself in its export directory, read in place:
// asking the loader would need the loader's lock, which the crashed thread
// may hold. Null for an image without one.
const char *ImageName(const BYTE *base) {
    if (base[0] != 'M' || base[1] != 'Z') return nullptr;
    uint32_t pe = Read32(base + 0x3C);
    if (pe > 1024 || Read32(base + pe) != 0x00004550) return nullptr;  // "PE\0\0"
    const BYTE *optional = base + pe + 24;
    uint32_t imageSize = Read32(optional + 56);
    if (Read32(optional) % 65536 != 0x10B || Read32(optional + 92) < 1) return nullptr;
    uint32_t exports = Read32(optional + 96);
    if (exports == 0 || exports > imageSize - 40) return nullptr;
    uint32_t name = Read32(base + exports + 12);
    return name != 0 && name < imageSize ? reinterpret_cast<const char *>(base + name) : nullptr;
}

// "<module>+0x<offset>", or the bare address outside any module.
void AppendLocation(text::BoundedText &out, uintptr_t address) {
    MEMORY_BASIC_INFORMATION info = {};
    if (VirtualQuery(reinterpret_cast<const void *>(address), &info, sizeof info) != sizeof info ||
        info.Type != MEM_IMAGE) {
        AppendHex(out, address);
        out.Append(" (in no module)");
        return;
    }
    const BYTE *base = static_cast<const BYTE *>(info.AllocationBase);
    const char *name = base == g_guard.clientBase ? "ZeltanDokTestClient.exe" : ImageName(base);
    if (name) {
        for (uint32_t i = 0; name[i] && i < 64; ++i) out.Append(name[i]);
    } else {
        out.Append("the module at ");
        AppendHex(out, reinterpret_cast<uintptr_t>(base));
    }
    out.Append('+');
    AppendHex(out, address - reinterpret_cast<uintptr_t>(base));
}

// Prints the failed row and the verdict, then ends the process. The caller
// holds g_guard.lock, so no call can end or begin meanwhile.
[[noreturn]] void EndRun(const char *check, const char *expected, const char *seen) {
    CheckTable &table = *g_guard.table;
    EnterCriticalSection(&table.lock);
    Row(table, check, expected, seen, false);
    PrintVerdict(table, GetTickCount() - g_guard.runStartMs,
                 g_guard.keptFolder[0] ? g_guard.keptFolder : nullptr);
    RestoreQuickEdit();
    TerminateProcess(GetCurrentProcess(), 1);
    for (;;) Sleep(INFINITE);
}

// A step past its budget; else the whole run past its own, the last resort
// for what no step's budget covers: many slow steps in a row, or a wait of
// the self-test's own that never ends.
[[noreturn]] void ReportOverrun(bool step) {
    SeenText expected, seen;
    seen << "still running after ";
    AppendSeconds(seen.out, GetTickCount() - (step ? g_guard.begunMs : g_guard.runStartMs));
    if (step) EndRun(g_guard.step, Within(expected, "returns", g_guard.budgetMs), seen.text);
    seen << (g_guard.inCall ? ", in " : ", between calls into the plug-in");
    if (g_guard.inCall) seen << g_guard.step;
    EndRun("whole run", Within(expected, "ends", kRunBudget), seen.text);
}

[[noreturn]] void ReportCrash() {
    SeenText expected, seen;
    seen << "exception ";
    AppendHex(seen.out, g_guard.crashCode);
    seen << " at ";
    AppendLocation(seen.out, g_guard.crashAddress);
    if (!g_guard.inCall)
        EndRun("between calls into the plug-in", "no unhandled exception", seen.text);
    seen << (g_guard.crashThread == g_guard.callerThread ? ", in this call"
                                                         : ", on another thread");
    EndRun(g_guard.step, Within(expected, "returns", g_guard.budgetMs), seen.text);
}

DWORD WINAPI Watch(void *) {
    for (;;) {
        Sleep(kPollMilliseconds);
        EnterCriticalSection(&g_guard.lock);
        if (g_guard.crashed.IsSet()) ReportCrash();
        if (g_guard.inCall && GetTickCount() - g_guard.begunMs > g_guard.budgetMs)
            ReportOverrun(true);
        if (GetTickCount() - g_guard.runStartMs > kRunBudget) ReportOverrun(false);
        LeaveCriticalSection(&g_guard.lock);
    }
}

// Runs on the thread that raised the exception, which may have no stack to
// spare or hold the loader's lock: it records what happened and waits for
// the watchdog to end the process.
LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS *exception) {
    DWORD self = GetCurrentThreadId();
    if (self == g_guard.watchdogThread) {
        RestoreQuickEdit();
        TerminateProcess(GetCurrentProcess(), 1);
    }
    if (g_guard.claimed.Claim()) {
        g_guard.crashCode = exception->ExceptionRecord->ExceptionCode;
        g_guard.crashAddress =
            reinterpret_cast<uintptr_t>(exception->ExceptionRecord->ExceptionAddress);
        g_guard.crashThread = self;
        g_guard.crashed.Set(true);
    }
    for (;;) Sleep(INFINITE);
}

}  // namespace

bool StartGuard(CheckTable &table, const char *keptFolder, uint32_t runStartMs) {
    // No "program has stopped working" box, no "insert a disk" box, no
    // missing-DLL box from LoadLibrary: each would wait for a click.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    InitializeCriticalSection(&g_guard.lock);
    g_guard.table = &table;
    g_guard.keptFolder = keptFolder;
    g_guard.runStartMs = runStartMs;
    g_guard.clientBase = GetModuleHandleA(nullptr);
    // A listing calls nothing in the plug-in and ends at once: its watchdog
    // would be ended by the process's exit while it may still be starting,
    // which Wine has been seen to crash on.
    if (table.listing) return true;
    SetUnhandledExceptionFilter(OnUnhandledException);
    HANDLE thread = CreateThread(nullptr, 0, Watch, nullptr, 0, &g_guard.watchdogThread);
    if (!thread) return false;
    CloseHandle(thread);
    return true;
}

void BeginPlugInCall(const char *step, uint32_t budgetMilliseconds) {
    EnterCriticalSection(&g_guard.lock);
    text::BoundedText name(g_guard.step);
    name.Append(step);
    g_guard.budgetMs = budgetMilliseconds;
    g_guard.callerThread = GetCurrentThreadId();
    g_guard.begunMs = GetTickCount();
    g_guard.inCall = true;
    LeaveCriticalSection(&g_guard.lock);
}

uint32_t EndPlugInCall() {
    EnterCriticalSection(&g_guard.lock);
    g_guard.inCall = false;
    uint32_t took = GetTickCount() - g_guard.begunMs;
    LeaveCriticalSection(&g_guard.lock);
    return took;
}

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
    if (g_quickEditOff.Clear()) SetConsoleMode(g_input, g_savedMode | ENABLE_EXTENDED_FLAGS);
}

}  // namespace host
