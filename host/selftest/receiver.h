// The self-test's endpoint: a small HTTP/1.1 server on 127.0.0.1, on a
// thread of its own, that records each request and answers from a script.
// Every buffer is fixed and every wait has a bound, so a request that is
// malformed, oversized or never finished is recorded as a problem rather
// than holding the self-test.
#pragma once

#include <stdint.h>

#include "host/host_win32_extra.h"
#include "host/selftest/request.h"
#include "platform/atomic_flag.h"

namespace host {

const uint32_t kReceiverRequests = 16;
// Connections served at once: a request held open by one route must not
// keep the others waiting.
const uint32_t kReceiverServers = 4;
const uint32_t kRoutes = 16;
const uint32_t kRouteScript = 8;
const uint32_t kRouteRecords = 6;
const uint32_t kRouteMarks = 272;
const uint32_t kMarkCapacity = 8;

// The requests of one plug-in copy: those whose path is `path`, or begins
// with it and a '/'. Answered from a script of their own and recorded apart
// from the rest.
struct Route {
    char path[32];
    uint32_t statuses[kRouteScript];  // the answer to each request in turn; 0 or beyond: 201
    uint32_t holdMs;  // the first request waits this long for its answer, or until released
    AtomicFlag released;
    // Guarded by the receiver's lock:
    uint32_t arrived;   // requests read whole, whether answered yet or held
    uint32_t answered;
    ReceivedRequest records[kRouteRecords];  // the first requests, whole
    char marks[kRouteMarks][kMarkCapacity];  // each request's "stand", cut to 7 bytes
};

struct Receiver {
    SOCKET listener;
    unsigned short port;
    HANDLE thread;  // the first server
    HANDLE moreServers[kReceiverServers - 1];
    bool started;  // StartReceiver ran: there is something to stop
    bool winsock;  // WSAStartup succeeded
    CRITICAL_SECTION lock;
    AtomicFlag stopping;
    // Guarded by `lock`:
    uint32_t count;           // well-formed requests recorded
    uint32_t extra;           // well-formed requests beyond kReceiverRequests
    uint32_t refused;         // requests not read whole, answered 400
    uint32_t others;          // connections that sent nothing: not the plug-in's
    const char *firstProblem; // why the first of those was refused
    // The answer to each well-formed request; 0 means 201. Refused ones
    // take no turn, so a stray connection does not shift the script.
    uint32_t statuses[kReceiverRequests];
    ReceivedRequest requests[kReceiverRequests];
    Route routes[kRoutes];
    uint32_t routeCount;
    uint32_t tlsHandshakes;  // connections that began with a TLS handshake record
    uint32_t tlsClearText;   // of those, ones that carried HTTP text in clear
};

// Listens on 127.0.0.1 on a free port and starts the thread; false, with
// `why` set, when Winsock or the socket refuse.
bool StartReceiver(Receiver &receiver, const char *&why);
// Ends the threads (bounded) and closes everything StartReceiver opened;
// nothing when it never ran.
void StopReceiver(Receiver &receiver);
// Well-formed requests received so far.
uint32_t RequestsReceived(Receiver &receiver);
// Waits until `count` well-formed requests arrived or `milliseconds` pass.
bool WaitForRequests(Receiver &receiver, uint32_t count, uint32_t milliseconds);

// A route for `path`, set up before anything posts to it; null when all
// are taken or the path is too long.
Route *AddRoute(Receiver &receiver, const char *path);
// Answers a held first request now.
void ReleaseRoute(Route &route);
uint32_t RouteArrived(Receiver &receiver, const Route &route);
uint32_t RouteAnswered(Receiver &receiver, const Route &route);
// Waits until `arrived` requests of the route were read whole, within
// `milliseconds`.
bool WaitForRoute(Receiver &receiver, const Route &route, uint32_t arrived,
                  uint32_t milliseconds);
// The TLS handshakes seen so far, and how many of them carried clear text.
void TlsSeen(Receiver &receiver, uint32_t &handshakes, uint32_t &clearText);

}  // namespace host
