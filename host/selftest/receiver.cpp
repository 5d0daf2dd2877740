#include "host/selftest/receiver.h"

#include "text/text.h"

namespace host {

namespace {

const uint32_t kPollMilliseconds = 100;
const DWORD kSocketTimeoutMilliseconds = 500;
// The longest one request may take from accept to its last byte.
const uint32_t kRequestMilliseconds = 3000;

// The receiver thread's own buffers: one connection at a time.
char g_data[kRequestCapacity];
ReceivedRequest g_current;

uint32_t MillisecondsSince(uint32_t start) { return GetTickCount() - start; }

// Reads until the bytes make a whole request or a refused one, the peer
// stops, or the request's time is up; g_current says which. Returns the
// bytes read.
uint32_t ReadRequest(SOCKET connection) {
    uint32_t accepted = GetTickCount();
    uint32_t have = 0;
    while (JudgeRequest(g_data, have, g_current) == RequestVerdict::Incomplete) {
        if (have == kRequestCapacity) {
            g_current.problem = "a request larger than the receiver holds";
            return have;
        }
        if (MillisecondsSince(accepted) > kRequestMilliseconds) {
            g_current.problem = "a request not finished in 3 s";
            return have;
        }
        int got = recv(connection, g_data + have, static_cast<int>(kRequestCapacity - have), 0);
        if (got > 0) {
            have += static_cast<uint32_t>(got);
        } else if (got == 0 || WSAGetLastError() != WSAETIMEDOUT) {
            g_current.problem = "a connection ended before the request did";
            return have;
        }
    }
    return have;
}

const char *Reason(uint32_t status) {
    switch (status) {
    case 201: return "201 Created";
    case 400: return "400 Bad Request";
    case 503: return "503 Service Unavailable";
    }
    return "500 Internal Server Error";
}

void Answer(SOCKET connection, uint32_t status) {
    char response[128];
    text::BoundedText out(response);
    out.Append("HTTP/1.1 ");
    out.Append(Reason(status));
    out.Append("\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    send(connection, response, static_cast<int>(out.length), 0);
}

void Serve(Receiver &receiver, SOCKET connection) {
    // The listener does not block; its connections do, within their timeouts.
    DWORD blocking = 0;
    ioctlsocket(connection, static_cast<LONG>(FIONBIO), &blocking);
    DWORD timeout = kSocketTimeoutMilliseconds;
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&timeout),
               sizeof timeout);
    setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char *>(&timeout),
               sizeof timeout);
    uint32_t have = ReadRequest(connection);
    g_current.arrivedMs = GetTickCount();
    uint32_t status = 400;
    EnterCriticalSection(&receiver.lock);
    // WinHTTP sends its request as soon as it is connected: a connection
    // that sends nothing is another program's (a port scanner, a probe).
    bool other = have == 0;
    if (other) {
        ++receiver.others;
    } else if (g_current.problem) {
        if (receiver.refused++ == 0) receiver.firstProblem = g_current.problem;
    } else if (receiver.count < kReceiverRequests) {
        status = receiver.statuses[receiver.count] ? receiver.statuses[receiver.count] : 201;
        receiver.requests[receiver.count++] = g_current;
    } else {
        ++receiver.extra;
    }
    LeaveCriticalSection(&receiver.lock);
    if (!other) Answer(connection, status);
}

DWORD WINAPI ReceiverThread(void *parameter) {
    Receiver &receiver = *static_cast<Receiver *>(parameter);
    while (!receiver.stopping.IsSet()) {
        FD_SET readable = {};
        readable.fd_count = 1;
        readable.fd_array[0] = receiver.listener;
        TIMEVAL wait = {0, static_cast<LONG>(kPollMilliseconds * 1000)};
        if (select(0, &readable, nullptr, nullptr, &wait) != 1) continue;
        // A connection reset between select and accept leaves nothing to
        // take: accept then fails at once instead of waiting for the next.
        SOCKET connection = accept(receiver.listener, nullptr, nullptr);
        if (connection == INVALID_SOCKET) continue;
        Serve(receiver, connection);
        closesocket(connection);
    }
    return 0;
}

}  // namespace

bool StartReceiver(Receiver &receiver, const char *&why) {
    receiver.started = true;
    InitializeCriticalSection(&receiver.lock);
    receiver.listener = INVALID_SOCKET;
    WSADATA data;
    receiver.winsock = WSAStartup(0x0202, &data) == 0;
    if (!receiver.winsock) {
        why = "Winsock 2.2 not available";
        return false;
    }
    receiver.listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    SOCKADDR_IN address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = 0x0100007Fu;  // 127.0.0.1, network byte order
    int length = sizeof address;
    DWORD nonBlocking = 1;
    if (receiver.listener == INVALID_SOCKET ||
        ioctlsocket(receiver.listener, static_cast<LONG>(FIONBIO), &nonBlocking) == SOCKET_ERROR ||
        bind(receiver.listener, &address, sizeof address) == SOCKET_ERROR ||
        listen(receiver.listener, 8) == SOCKET_ERROR ||
        getsockname(receiver.listener, &address, &length) == SOCKET_ERROR) {
        why = "no listening socket on 127.0.0.1";
        return false;
    }
    receiver.port = static_cast<unsigned short>((address.sin_port >> 8) | (address.sin_port << 8));
    receiver.thread = CreateThread(nullptr, 0, ReceiverThread, &receiver, 0, nullptr);
    if (!receiver.thread) {
        why = "no receiver thread";
        return false;
    }
    return true;
}

void StopReceiver(Receiver &receiver) {
    if (!receiver.started) return;
    receiver.started = false;
    receiver.stopping.Set(true);
    if (receiver.thread) {
        // A connection in progress ends within its own bounds: the request's
        // 3 s and one send timeout. A thread still running past them keeps
        // its socket and lock; the process ends soon after anyway.
        DWORD waited = WaitForSingleObject(receiver.thread, kRequestMilliseconds + 1000);
        CloseHandle(receiver.thread);
        if (waited != WAIT_OBJECT_0) return;
    }
    if (receiver.listener != INVALID_SOCKET) closesocket(receiver.listener);
    if (receiver.winsock) WSACleanup();
    DeleteCriticalSection(&receiver.lock);
}

uint32_t RequestsReceived(Receiver &receiver) {
    EnterCriticalSection(&receiver.lock);
    uint32_t count = receiver.count + receiver.extra;
    LeaveCriticalSection(&receiver.lock);
    return count;
}

bool WaitForRequests(Receiver &receiver, uint32_t count, uint32_t milliseconds) {
    uint32_t start = GetTickCount();
    while (RequestsReceived(receiver) < count) {
        if (MillisecondsSince(start) >= milliseconds) return false;
        Sleep(10);
    }
    return true;
}

}  // namespace host
