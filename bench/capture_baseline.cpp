// What the platform itself charges for one captured event on the client's
// thread: the log line's open, move to the end, append and close, and the
// SetEvent that wakes the worker; nothing of the plug-in. Timed call by call
// with the same counter as the test client's burst step, printed in its
// format, so wine_bench.py reads both alike.
//
//   ZeltanDokCaptureBaseline.exe <log file> <count> <line length> <pause ms> <waiter 0|1> [port]
//
// With a port, the waiting thread is woken into what the worker's attempt
// does: one WinHTTP POST to 127.0.0.1:<port>, then the wait for the answer.
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

struct Waiter {
    HANDLE wake;
    INTERNET_PORT port;  // 0: do nothing when woken
    uint32_t length;     // of the body, the log line's bytes
};
Waiter g_waiter;

// One request as the worker makes it, timeouts included; its answer is
// not looked at. Against a listener that never answers, this thread stays
// in the wait for the headers for the rest of the run.
void PostOnce(INTERNET_PORT port, uint32_t length) {
    HINTERNET session = WinHttpOpen(u"ZeltanDokCaptureBaseline", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) return;
    WinHttpSetTimeouts(session, 5000, 5000, 5000, 10000);
    HINTERNET connection = WinHttpConnect(session, u"127.0.0.1", port, 0);
    HINTERNET request = connection ? WinHttpOpenRequest(connection, u"POST", u"/", nullptr,
                                                        WINHTTP_NO_REFERER,
                                                        WINHTTP_DEFAULT_ACCEPT_TYPES, 0)
                                   : nullptr;
    if (request) {
        DWORD headersTimeout = 10000;
        WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headersTimeout,
                         sizeof headersTimeout);
        if (WinHttpSendRequest(request, nullptr, 0, g_line, length, length, 0))
            WinHttpReceiveResponse(request, nullptr);
        WinHttpCloseHandle(request);
    }
    if (connection) WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
}

// Waits on the event as the plug-in's worker does; when woken, does nothing
// (the idle worker) or makes one request (the worker's attempt).
DWORD WINAPI WaitForever(void *parameter) {
    const Waiter &waiter = *static_cast<const Waiter *>(parameter);
    for (;;)
        if (WaitForSingleObject(waiter.wake, 1000) == WAIT_OBJECT_0 && waiter.port)
            PostOnce(waiter.port, waiter.length);
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
    char *arguments[7];
    uint32_t given = host::SplitCommandLine(GetCommandLineA(), arguments, 7);
    uint32_t count = 0;
    uint32_t length = 0;
    uint32_t pauseMs = 0;
    uint32_t waiter = 0;
    uint32_t port = 0;
    host::ConsoleLine out;
    if ((given != 6 && given != 7) || !ParseCount(arguments[2], 1, kCountCapacity, count) ||
        !ParseCount(arguments[3], 2, kLineCapacity, length) ||
        !ParseCount(arguments[4], 0, 60000, pauseMs) ||
        !ParseCount(arguments[5], 0, 1, waiter) ||
        (given == 7 && (!waiter || !ParseCount(arguments[6], 1, 65535, port)))) {
        out << "usage: ZeltanDokCaptureBaseline.exe <log file> <count 1..200000> "
               "<line length 2..512> <pause ms 0..60000> <waiter 0|1> [port, with waiter 1]";
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
    g_waiter.wake = wake;
    g_waiter.port = static_cast<INTERNET_PORT>(port);
    g_waiter.length = length;
    if (waiter && !CreateThread(nullptr, 0, WaitForever, &g_waiter, 0, nullptr)) {
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

    host::PrintBurst(g_ticks, count, total);
    return 0;
}

}  // namespace

extern "C" int mainCRTStartup(void) {
    ExitProcess(static_cast<UINT>(Run()));
    return 0;
}
