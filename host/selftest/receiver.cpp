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
    uint32_t have;  // bytes read from the connection
};
Server g_servers[kReceiverServers];

// 1 once `socket` has something to read, 0 when nothing came within a
// poll, or SOCKET_ERROR.
int Readable(SOCKET socket) {
    FD_SET readable = {1, {socket}};
    TIMEVAL wait = {0, static_cast<LONG>(kPollMilliseconds * 1000)};
    return select(0, &readable, nullptr, nullptr, &wait);
}

// A connection that begins with a TLS handshake record (type 22, version
// 3.x) is not HTTP: its first record is read whole and left unanswered, so
// that the client's handshake fails there.
bool WholeTlsRecord(const char *data, uint32_t have) {
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(data);
    if (have < 5 || bytes[0] != 0x16 || bytes[1] != 0x03) return false;
    uint32_t record = 5 + (static_cast<uint32_t>(bytes[3]) << 8 | bytes[4]);
    return have >= record || have == kRequestCapacity;
}

// Reads until the bytes make a whole request or a refused one, a TLS
// handshake record, the peer stops, or the request's time is up: true for
// the handshake, else `current.problem` names any fault.
bool ReadRequest(Server &server, SOCKET connection) {
    uint32_t accepted = GetTickCount();
    const char *&problem = server.current.problem;
    server.have = 0;
    while (JudgeRequest(server.data, server.have, server.current) == RequestVerdict::Incomplete) {
        if (WholeTlsRecord(server.data, server.have)) return true;
        if (server.have == kRequestCapacity)
            problem = "a request larger than the receiver holds";
        else if (GetTickCount() - accepted > kRequestMilliseconds)
            problem = "a request not finished in 3 s";
        if (problem) return false;
        // Windows leaves a socket whose recv timed out in no known state:
        // recv runs only once there is something to read.
        int ready = Readable(connection);
        if (ready == 0) continue;
        int got = ready == 1 ? recv(connection, server.data + server.have,
                                    static_cast<int>(kRequestCapacity - server.have), 0)
                             : SOCKET_ERROR;
        if (got <= 0) {
            problem = "a connection ended before the request did";
            return false;
        }
        server.have += static_cast<uint32_t>(got);
    }
    return false;
}

// "HTTP/1.1 <status>" with no body, and the connection closes. Neither
// WinHTTP nor the plug-in reads the reason phrase: one serves every status.
void Answer(SOCKET connection, uint32_t status) {
    char response[160];
    text::BoundedText out(response);
    out.Append("HTTP/1.1 ");
    out.AppendDecimal(status);
    out.Append(" Self-test");
    // A client that followed a redirect would come back here, and be seen.
    if (status >= 300 && status <= 399) out.Append("\r\nLocation: /redirected");
    out.Append("\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    send(connection, response, static_cast<int>(out.length), 0);
}

void Serve(Server &server, SOCKET connection) {
    Receiver &receiver = *server.receiver;
    // The listener does not block; its connections do, within their timeouts.
    DWORD blocking = 0;
    ioctlsocket(connection, static_cast<LONG>(FIONBIO), &blocking);
    DWORD timeout = kSocketTimeoutMilliseconds;
    setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char *>(&timeout),
               sizeof timeout);
    bool tls = ReadRequest(server, connection);
    ReceivedRequest &current = server.current;
    current.arrivedMs = GetTickCount();
    bool request = !tls && server.have > 0;
    uint32_t status = request && !current.problem ? RouteStatus(receiver, current) : 0;
    EnterCriticalSection(&receiver.lock);
    ReceiverTally &tally = receiver.tally;
    if (tls) {
        ++tally.tlsHandshakes;  // no answer: the handshake ends here
        if (FindAfter(server.data, server.have, "HTTP/1.") ||
            FindAfter(server.data, server.have, "POST "))
            ++tally.tlsClearText;
    } else if (server.have == 0) {
        // WinHTTP sends its request as soon as it is connected: a connection
        // that sends nothing is another program's (a port scanner, a probe).
        ++tally.others;
    } else if (status == 0 && tally.refused++ == 0) {
        tally.firstProblem = current.problem ? current.problem : "a path no copy was given";
    }
    LeaveCriticalSection(&receiver.lock);
    if (request) Answer(connection, status ? status : 400);
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

}  // namespace

bool StartReceiver(Receiver &receiver, const char *&why) {
    InitializeCriticalSection(&receiver.lock);
    WSADATA data;
    receiver.winsock = WSAStartup(0x0202, &data) == 0;
    if (!receiver.winsock) {
        why = "Winsock 2.2 not available";
        return false;
    }
    receiver.listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    // Port 0 for any free one; 127.0.0.1 in network byte order.
    SOCKADDR_IN address = {AF_INET, 0, {0x0100007Fu}, {}};
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
    uint32_t deadline = GetTickCount() + kRequestMilliseconds + 1000;
    bool allEnded = true;
    for (HANDLE thread : receiver.servers) {
        if (!thread) continue;
        int32_t left = static_cast<int32_t>(deadline - GetTickCount());
        if (WaitForSingleObject(thread, left > 0 ? left : 0) != WAIT_OBJECT_0) allEnded = false;
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
