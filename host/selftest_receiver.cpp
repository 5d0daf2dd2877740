#include "host/selftest_receiver.h"

#include "host/timing.h"
#include "text/text.h"

namespace host {

namespace {

const uint32_t kHeadCapacity = 8192;
const uint32_t kPollMilliseconds = 100;
const DWORD kSocketTimeoutMilliseconds = 500;
// The longest one request may take from accept to its last byte.
const uint32_t kRequestMilliseconds = 3000;

// The receiver thread's own buffers: one connection at a time.
char g_head[kHeadCapacity];
ReceivedRequest g_current;

uint32_t MillisecondsSince(uint32_t ticks) {
    uint32_t perMillisecond = CounterFrequency() / 1000;
    return (CounterNow() - ticks) / (perMillisecond ? perMillisecond : 1);
}

bool SameTextIgnoringCase(const char *a, uint32_t length, const char *b) {
    for (uint32_t i = 0; i < length; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y == '\0' || x != y) return false;
    }
    return b[length] == '\0';
}

// Copies `length` bytes into `field` whole, or fails: a cut value would
// compare as some other value.
bool CopyWhole(char *field, uint32_t capacity, const char *source, uint32_t length) {
    if (length >= capacity) return false;
    for (uint32_t i = 0; i < length; ++i) field[i] = source[i];
    field[length] = '\0';
    return true;
}

// One header line, "Name: value"; keeps the ones the checks look at.
const char *TakeHeader(const char *line, uint32_t length, uint32_t &contentLength,
                       bool &haveLength) {
    uint32_t colon = 0;
    while (colon < length && line[colon] != ':') ++colon;
    if (colon == 0 || colon == length) return "a header line without a name and colon";
    uint32_t start = colon + 1;
    while (start < length && (line[start] == ' ' || line[start] == '\t')) ++start;
    uint32_t end = length;
    while (end > start && (line[end - 1] == ' ' || line[end - 1] == '\t')) --end;
    const char *value = line + start;
    uint32_t valueLength = end - start;

    struct Kept {
        const char *name;
        char *field;
        uint32_t capacity;
    } kept[] = {
        {"content-type", g_current.contentType, sizeof g_current.contentType},
        {"authorization", g_current.authorization, sizeof g_current.authorization},
        {"user-agent", g_current.userAgent, sizeof g_current.userAgent},
    };
    for (const Kept &k : kept) {
        if (!SameTextIgnoringCase(line, colon, k.name)) continue;
        if (k.field[0]) return "a header sent twice";
        return CopyWhole(k.field, k.capacity, value, valueLength) ? nullptr
                                                                  : "a header value too long";
    }
    if (SameTextIgnoringCase(line, colon, "transfer-encoding"))
        return "a Transfer-Encoding header (the body must come by Content-Length)";
    if (!SameTextIgnoringCase(line, colon, "content-length")) return nullptr;
    if (haveLength) return "Content-Length sent twice";
    if (valueLength == 0 || valueLength > 9) return "Content-Length not a number";
    contentLength = 0;
    for (uint32_t i = 0; i < valueLength; ++i) {
        if (value[i] < '0' || value[i] > '9') return "Content-Length not a number";
        contentLength = contentLength * 10 + static_cast<uint32_t>(value[i] - '0');
    }
    haveLength = true;
    return nullptr;
}

// "METHOD /path HTTP/1.x"
const char *TakeRequestLine(const char *line, uint32_t length) {
    uint32_t space = 0;
    while (space < length && line[space] != ' ') ++space;
    uint32_t pathStart = space + 1;
    uint32_t pathEnd = pathStart;
    while (pathEnd < length && line[pathEnd] != ' ') ++pathEnd;
    if (space == 0 || pathEnd >= length || pathEnd == pathStart) return "a malformed request line";
    const char *version = line + pathEnd + 1;
    if (length - pathEnd - 1 != 8 || version[0] != 'H' || version[4] != '/' || version[5] != '1')
        return "a request line without HTTP/1.x";
    if (!CopyWhole(g_current.method, sizeof g_current.method, line, space) ||
        !CopyWhole(g_current.path, sizeof g_current.path, line + pathStart, pathEnd - pathStart))
        return "a request line too long";
    return nullptr;
}

// Reads until the blank line after the headers; returns the head's length
// (with the blank line) in `headLength` and how much was read in `have`.
const char *ReadHead(SOCKET connection, uint32_t accepted, uint32_t &headLength, uint32_t &have) {
    have = 0;
    for (;;) {
        for (uint32_t i = 3; i < have; ++i)
            if (g_head[i - 3] == '\r' && g_head[i - 2] == '\n' && g_head[i - 1] == '\r' &&
                g_head[i] == '\n') {
                headLength = i + 1;
                return nullptr;
            }
        if (have == kHeadCapacity) return "a request head over 8192 bytes";
        if (MillisecondsSince(accepted) > kRequestMilliseconds) return "a request not finished in 3 s";
        int got = recv(connection, g_head + have, static_cast<int>(kHeadCapacity - have), 0);
        if (got == 0) return "a connection closed before the request head ended";
        if (got > 0) have += static_cast<uint32_t>(got);
    }
}

const char *ParseHead(uint32_t headLength, uint32_t &contentLength) {
    bool haveLength = false;
    uint32_t lineStart = 0;
    bool first = true;
    while (lineStart + 2 < headLength) {
        uint32_t end = lineStart;
        while (!(g_head[end] == '\r' && g_head[end + 1] == '\n')) ++end;
        const char *problem = first
            ? TakeRequestLine(g_head + lineStart, end - lineStart)
            : TakeHeader(g_head + lineStart, end - lineStart, contentLength, haveLength);
        if (problem) return problem;
        first = false;
        lineStart = end + 2;
    }
    if (!haveLength) return "no Content-Length";
    if (contentLength > kReceiverBody) return "a body over 2048 bytes";
    return nullptr;
}

const char *ReadRequest(SOCKET connection) {
    uint32_t accepted = CounterNow();
    uint32_t headLength = 0, have = 0, contentLength = 0;
    const char *problem = ReadHead(connection, accepted, headLength, have);
    if (!problem) problem = ParseHead(headLength, contentLength);
    if (problem) return problem;
    uint32_t already = have - headLength;
    if (already > contentLength) return "bytes beyond Content-Length";
    for (uint32_t i = 0; i < already; ++i) g_current.body[i] = g_head[headLength + i];
    while (already < contentLength) {
        if (MillisecondsSince(accepted) > kRequestMilliseconds) return "a request not finished in 3 s";
        int got = recv(connection, g_current.body + already,
                       static_cast<int>(contentLength - already), 0);
        if (got == 0) return "a connection closed before the body ended";
        if (got > 0) already += static_cast<uint32_t>(got);
    }
    g_current.body[contentLength] = '\0';
    g_current.bodyLength = contentLength;
    return nullptr;
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
    DWORD timeout = kSocketTimeoutMilliseconds;
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&timeout),
               sizeof timeout);
    setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char *>(&timeout),
               sizeof timeout);
    g_current = ReceivedRequest();
    g_current.problem = ReadRequest(connection);
    g_current.arrivedTicks = CounterNow();
    uint32_t status = 400;
    EnterCriticalSection(&receiver.lock);
    if (receiver.count < kReceiverRequests) {
        if (!g_current.problem)
            status = receiver.statuses[receiver.count] ? receiver.statuses[receiver.count] : 201;
        receiver.requests[receiver.count++] = g_current;
    } else {
        ++receiver.extra;
    }
    LeaveCriticalSection(&receiver.lock);
    Answer(connection, status);
}

DWORD WINAPI ReceiverThread(void *parameter) {
    Receiver &receiver = *static_cast<Receiver *>(parameter);
    while (!receiver.stopping.IsSet()) {
        FD_SET readable = {};
        readable.fd_count = 1;
        readable.fd_array[0] = receiver.listener;
        TIMEVAL wait = {0, static_cast<LONG>(kPollMilliseconds * 1000)};
        if (select(0, &readable, nullptr, nullptr, &wait) != 1) continue;
        SOCKET connection = accept(receiver.listener, nullptr, nullptr);
        if (connection == INVALID_SOCKET) continue;
        Serve(receiver, connection);
        closesocket(connection);
    }
    return 0;
}

}  // namespace

bool StartReceiver(Receiver &receiver, const char *&why) {
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
    if (receiver.listener == INVALID_SOCKET ||
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
    uint32_t start = CounterNow();
    while (RequestsReceived(receiver) < count) {
        if (MillisecondsSince(start) >= milliseconds) return false;
        Sleep(10);
    }
    return true;
}

}  // namespace host
