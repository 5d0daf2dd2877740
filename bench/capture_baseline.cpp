// What the platform itself charges for one captured event on the client's
// thread: the log line's open, move to the end, append and close, and the
// SetEvent that wakes the worker; nothing of the plug-in. Timed call by call
// with the same counter as the test client's burst step, printed in its
// format, so wine_bench.py reads both alike.
//
//   ZeltanDokCaptureBaseline.exe <log file> <count> <line length> <pause ms>
#include "host/command_line.h"
#include "host/console.h"
#include "host/host_win32.h"
#include "host/timing.h"

namespace {

const uint32_t kCountCapacity = 200000;
const uint32_t kLineCapacity = 512;
uint32_t g_ticks[kCountCapacity];
char g_line[kLineCapacity];

bool ParseCount(const char *s, uint32_t low, uint32_t high, uint32_t &value) {
    if (!s || !*s) return false;
    value = 0;
    for (; *s; ++s) {
        if (*s < '0' || *s > '9' || value > high / 10) return false;
        value = value * 10 + static_cast<uint32_t>(*s - '0');
    }
    return value >= low && value <= high;
}

// Waits on the event as the plug-in's idle worker does, and does nothing
// else when woken.
DWORD WINAPI WaitForever(void *event) {
    for (;;) WaitForSingleObject(static_cast<HANDLE>(event), 1000);
}

// One event's platform work, as the plug-in's log and queue do it.
void AppendAndWake(const char *path, uint32_t length, HANDLE wake) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        SetFilePointer(file, 0, nullptr, FILE_END);
        DWORD written = 0;
        WriteFile(file, g_line, length, &written, nullptr);
        CloseHandle(file);
    }
    SetEvent(wake);
}

int Run() {
    char *arguments[6];
    uint32_t given = host::SplitCommandLine(GetCommandLineA(), arguments, 6);
    uint32_t count = 0;
    uint32_t length = 0;
    uint32_t pauseMs = 0;
    uint32_t waiter = 0;
    host::ConsoleLine out;
    if (given != 6 || !ParseCount(arguments[2], 1, kCountCapacity, count) ||
        !ParseCount(arguments[3], 2, kLineCapacity, length) ||
        !ParseCount(arguments[4], 0, 60000, pauseMs) ||
        !ParseCount(arguments[5], 0, 1, waiter)) {
        out << "usage: ZeltanDokCaptureBaseline.exe <log file> <count 1..200000> "
               "<line length 2..512> <pause ms 0..60000> <waiter 0|1>";
        out.Print();
        return 2;
    }
    const char *path = arguments[1];
    for (uint32_t i = 0; i + 2 < length; ++i) g_line[i] = 'x';
    g_line[length - 2] = '\r';
    g_line[length - 1] = '\n';
    HANDLE wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!wake) {
        out << "CreateEventA failed";
        out.Print();
        return 1;
    }
    if (waiter && !CreateThread(nullptr, 0, WaitForever, wake, 0, nullptr)) {
        out << "CreateThread failed";
        out.Print();
        return 1;
    }

    uint32_t started = host::CounterNow();
    for (uint32_t i = 0; i < count; ++i) {
        if (pauseMs && i) Sleep(pauseMs);
        uint32_t before = host::CounterNow();
        AppendAndWake(path, length, wake);
        g_ticks[i] = host::CounterNow() - before;
    }
    uint32_t total = host::CounterNow() - started;
    CloseHandle(wake);

    host::SortTicks(g_ticks, count);
    out << "burst: count " << count << " frequency " << host::CounterFrequency() << " total " << total
        << " p50 " << g_ticks[count / 2] << " p99 " << g_ticks[count - 1 - count / 100] << " max "
        << g_ticks[count - 1];
    out.Print();
    return 0;
}

}  // namespace

extern "C" int mainCRTStartup(void) {
    ExitProcess(static_cast<UINT>(Run()));
    return 0;
}
