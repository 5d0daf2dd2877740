#include "host/selftest/receiver.h"

#include "text/text.h"

namespace host {

namespace {

const uint32_t kPollMilliseconds = 100;
const DWORD kSocketTimeoutMilliseconds = 500;
// The longest one request may take from accept to its last byte.
const uint32_t kRequestMilliseconds = 3000;

// Each server thread's own buffers: one connection at a time per server.
struct Server {
    Receiver *receiver;
    char data[kRequestCapacity];
    ReceivedRequest current;
    uint32_t have;   // bytes read from the connection
    bool tls;        // the connection began with a TLS handshake record
    bool clearText;  // ... and yet carried HTTP text
};
Server g_servers[kReceiverServers];

uint32_t MillisecondsSince(uint32_t start) { return GetTickCount() - start; }

// 1 once `socket` has something to read, 0 when nothing came within a
// poll, or SOCKET_ERROR.
int Readable(SOCKET socket) {
    FD_SET readable = {};
    readable.fd_count = 1;
    readable.fd_array[0] = socket;
    TIMEVAL wait = {0, static_cast<LONG>(kPollMilliseconds * 1000)};
    return select(0, &readable, nullptr, nullptr, &wait);
}

// A connection whose first byte is 22 is a TLS handshake, not HTTP: its
// first record is read whole (5 bytes of header and the length they give),
// and nothing is answered, so the client's handshake fails there.
bool JudgedAsTls(Server &server, uint32_t have) {
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(server.data);
    if (have == 0 || bytes[0] != 0x16) return false;
    if (have < 5) return true;
    uint32_t record = 5 + (static_cast<uint32_t>(bytes[3]) << 8 | bytes[4]);
    if (have < record && have < kRequestCapacity) return true;
    server.tls = bytes[1] == 0x03;
    server.clearText = FindAfter(server.data, have, "HTTP/1.") || FindAfter(server.data, have, "POST ");
    return true;
}

// Reads until the bytes make a whole request or a refused one, a TLS
// handshake record, the peer stops, or the request's time is up; the
// server's fields say which.
void ReadRequest(Server &server, SOCKET connection) {
    uint32_t accepted = GetTickCount();
    uint32_t &have = server.have;
    have = 0;
    server.tls = server.clearText = false;
    while (JudgeRequest(server.data, have, server.current) == RequestVerdict::Incomplete) {
        if (JudgedAsTls(server, have) && server.tls) return;
        if (have == kRequestCapacity) {
            server.current.problem = "a request larger than the receiver holds";
            return;
        }
        if (MillisecondsSince(accepted) > kRequestMilliseconds) {
            server.current.problem = "a request not finished in 3 s";
            return;
        }
        // Windows leaves a socket whose recv timed out in no known state:
        // recv runs only once there is something to read.
        int ready = Readable(connection);
        if (ready == 0) continue;
        int got = ready == 1 ? recv(connection, server.data + have,
                                    static_cast<int>(kRequestCapacity - have), 0)
                             : SOCKET_ERROR;
        if (got <= 0) {
            server.current.problem = "a connection ended before the request did";
            return;
        }
        have += static_cast<uint32_t>(got);
    }
}

void Serve(Server &server, SOCKET connection) {
    Receiver &receiver = *server.receiver;
    // The listener does not block; its connections do, within their timeouts.
    DWORD blocking = 0;
    ioctlsocket(connection, static_cast<LONG>(FIONBIO), &blocking);
    DWORD timeout = kSocketTimeoutMilliseconds;
    setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char *>(&timeout),
               sizeof timeout);
    ReadRequest(server, connection);
    ReceivedRequest &current = server.current;
    current.arrivedMs = GetTickCount();
    bool request = !server.tls && server.have > 0;
    bool routed = request && !current.problem && ServeRoute(receiver, current, connection);
    EnterCriticalSection(&receiver.lock);
    ReceiverTally &tally = receiver.tally;
    if (server.tls) {
        ++tally.tlsHandshakes;  // no answer: the handshake ends here
        if (server.clearText) ++tally.tlsClearText;
    } else if (server.have == 0) {
        // WinHTTP sends its request as soon as it is connected: a connection
        // that sends nothing is another program's (a port scanner, a probe).
        ++tally.others;
    } else if (!routed && tally.refused++ == 0) {
        tally.firstProblem = current.problem ? current.problem : "a path no copy was given";
    }
    LeaveCriticalSection(&receiver.lock);
    if (request && !routed) Answer(connection, 400);
}

DWORD WINAPI ServerThread(void *parameter) {
    Server &server = *static_cast<Server *>(parameter);
    Receiver &receiver = *server.receiver;
    while (!receiver.stopping.IsSet()) {
        if (Readable(receiver.listener) != 1) continue;
        // Another server may have taken the connection meanwhile, or it was
        // reset: accept then fails at once instead of waiting for the next.
        SOCKET connection = accept(receiver.listener, nullptr, nullptr);
        if (connection == INVALID_SOCKET) continue;
        Serve(server, connection);
        closesocket(connection);
    }
    return 0;
}

const char *Reason(uint32_t status) {
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 415: return "Unsupported Media Type";
    case 503: return "Service Unavailable";
    }
    return "Scripted";
}

}  // namespace

void Answer(SOCKET connection, uint32_t status) {
    char response[160];
    text::BoundedText out(response);
    out.Append("HTTP/1.1 ");
    out.AppendDecimal(status);
    out.Append(' ');
    out.Append(Reason(status));
    // A client that followed a redirect would come back here, and be seen.
    if (status >= 300 && status <= 399) out.Append("\r\nLocation: /redirected");
    out.Append("\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    send(connection, response, static_cast<int>(out.length), 0);
}

bool StartReceiver(Receiver &receiver, const char *&why) {
    InitializeCriticalSection(&receiver.lock);
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
    for (uint32_t i = 0; i < kReceiverServers; ++i) {
        g_servers[i].receiver = &receiver;
        receiver.servers[i] = CreateThread(nullptr, 0, ServerThread, &g_servers[i], 0, nullptr);
        if (!receiver.servers[i]) {
            why = "no receiver thread";
            return false;
        }
    }
    return true;
}

void StopReceiver(Receiver &receiver) {
    if (!receiver.winsock) return;
    receiver.winsock = false;
    receiver.stopping.Set(true);
    // A connection in progress ends within its own bounds: the request's
    // 3 s and one send timeout, together for all servers. A thread still
    // running past them keeps its socket; the process ends soon after
    // anyway. The lock stays: the tally is read after the stop.
    uint32_t start = GetTickCount();
    bool allEnded = true;
    for (uint32_t i = 0; i < kReceiverServers; ++i) {
        HANDLE thread = receiver.servers[i];
        if (!thread) continue;
        uint32_t spent = MillisecondsSince(start);
        uint32_t left = spent < kRequestMilliseconds + 1000 ? kRequestMilliseconds + 1000 - spent : 0;
        if (WaitForSingleObject(thread, left) != WAIT_OBJECT_0) allEnded = false;
        CloseHandle(thread);
    }
    if (!allEnded) return;
    closesocket(receiver.listener);
    WSACleanup();
}

ReceiverTally Tally(Receiver &receiver) {
    EnterCriticalSection(&receiver.lock);
    ReceiverTally tally = receiver.tally;
    LeaveCriticalSection(&receiver.lock);
    return tally;
}

}  // namespace host
