// What the platform itself charges for one captured event on the client's
// thread: the log line's open, move to the end, append and close, and the
// SetEvent that wakes the worker; nothing of the plug-in. Timed call by call
// with the same counter as the test client's burst step, printed in its
// format, so wine_bench.py reads both alike.
//
//   ZeltanDokCaptureBaseline.exe <log file> <count> <line length> <pause ms>
#include "host/console.h"
#include "host/host_win32.h"

namespace {

const uint32_t kCountCapacity = 200000;
const uint32_t kLineCapacity = 512;
uint32_t g_ticks[kCountCapacity];
char g_line[kLineCapacity];

uint32_t CounterNow() {
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return count.u.LowPart;
}

// The next argument of a command line, in place; double quotes group words.
char *NextArgument(char *&p) {
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p) return nullptr;
    char *start = p;
    char *out = p;
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
    return start;
}

bool ParseCount(const char *s, uint32_t low, uint32_t high, uint32_t &value) {
    if (!s || !*s) return false;
    value = 0;
    for (; *s; ++s) {
        if (*s < '0' || *s > '9' || value > high / 10) return false;
        value = value * 10 + static_cast<uint32_t>(*s - '0');
    }
    return value >= low && value <= high;
}

// Shell sort: no library, and fast enough for the counts we time.
void SortTicks(uint32_t count) {
    for (uint32_t gap = count / 2; gap > 0; gap /= 2)
        for (uint32_t i = gap; i < count; ++i)
            for (uint32_t j = i; j >= gap && g_ticks[j - gap] > g_ticks[j]; j -= gap) {
                uint32_t t = g_ticks[j];
                g_ticks[j] = g_ticks[j - gap];
                g_ticks[j - gap] = t;
            }
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
    char *p = GetCommandLineA();
    NextArgument(p);  // the program
    char *path = NextArgument(p);
    uint32_t count = 0;
    uint32_t length = 0;
    uint32_t pauseMs = 0;
    uint32_t waiter = 0;
    host::ConsoleLine out;
    if (!path || !ParseCount(NextArgument(p), 1, kCountCapacity, count) ||
        !ParseCount(NextArgument(p), 2, kLineCapacity, length) ||
        !ParseCount(NextArgument(p), 0, 60000, pauseMs) ||
        !ParseCount(NextArgument(p), 0, 1, waiter)) {
        out << "usage: ZeltanDokCaptureBaseline.exe <log file> <count 1..200000> "
               "<line length 2..512> <pause ms 0..60000> <waiter 0|1>";
        out.Print();
        return 2;
    }
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

    uint32_t started = CounterNow();
    for (uint32_t i = 0; i < count; ++i) {
        if (pauseMs && i) Sleep(pauseMs);
        uint32_t before = CounterNow();
        AppendAndWake(path, length, wake);
        g_ticks[i] = CounterNow() - before;
    }
    uint32_t total = CounterNow() - started;
    CloseHandle(wake);

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    SortTicks(count);
    out << "burst: count " << count << " frequency " << frequency.u.LowPart << " total " << total
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
