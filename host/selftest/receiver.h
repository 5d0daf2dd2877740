// The self-test's endpoint: a small HTTP/1.1 server on 127.0.0.1, on
// threads of its own, that hands each request to the route of its path
// (routes.cpp), which records it and answers from its script. Every buffer
// is fixed and every wait has a bound, so a request that is malformed,
// oversized or never finished is counted and named rather than holding the
// self-test.
#pragma once

#include <stdint.h>

#include "host/host_win32_extra.h"
#include "host/selftest/request.h"
#include "platform/atomic_flag.h"

namespace host {

// Connections served at once: a request held open by one route must not
// keep the others waiting.
const uint32_t kReceiverServers = 4;
const uint32_t kRoutes = 16;
const uint32_t kRouteScript = 8;
const uint32_t kRouteRecords = 6;
const uint32_t kRouteMarks = 272;

// The requests of one plug-in copy: those whose path is `path`, or begins
// with it and a '/'. Answered as an endpoint would: 401 for another
// Authorization than `authorization` (when set), 415 for another
// Content-Type than JSON; else from a script of their own.
struct Route {
    char path[32];
    char authorization[kAuthorizationCapacity];
    uint32_t statuses[kRouteScript];  // the answer to each request in turn; 0 or beyond: 201
    uint32_t holdMs;                  // the first request's wait for its answer, unless released
    AtomicFlag released;
    // Guarded by the receiver's lock:
    uint32_t arrived;   // requests read whole, whether answered yet or held
    uint32_t refused;   // of those, answered 401 or 415: no script asks for either
    ReceivedRequest records[kRouteRecords];  // the first requests, whole
    char marks[kRouteMarks][8];              // each request's "stand", cut to 7 bytes
};

// What the receiver saw besides the routes' requests.
struct ReceiverTally {
    uint32_t refused;          // requests not read whole, or for no route: answered 400
    const char *firstProblem;  // why the first of those was refused
    uint32_t others;           // connections that sent nothing: not the plug-in's
    uint32_t tlsHandshakes;    // connections that began with a TLS handshake record
    uint32_t tlsClearText;     // of those, ones that carried HTTP text in clear
};

struct Receiver {
    SOCKET listener;
    unsigned short port;
    HANDLE servers[kReceiverServers];
    bool winsock;  // WSAStartup succeeded: there is something to stop
    CRITICAL_SECTION lock;
    AtomicFlag stopping;
    // Guarded by `lock`:
    ReceiverTally tally;
    Route routes[kRoutes];
    uint32_t routeCount;
};

// Listens on a free port of 127.0.0.1 with its threads; false, with `why` set, if refused.
bool StartReceiver(Receiver &receiver, const char *&why);
// Ends the threads, within a bound, and closes what StartReceiver opened, if it ran.
void StopReceiver(Receiver &receiver);
ReceiverTally Tally(Receiver &receiver);

// A route for `path`, set up before anything posts to it; null when all
// are taken or the path is too long.
Route *AddRoute(Receiver &receiver, const char *path);
// Answers a held first request now.
void ReleaseRoute(Route &route);
// Its requests read whole; with `refused`, also how many were answered 401 or 415.
uint32_t RouteArrived(Receiver &receiver, const Route &route, uint32_t *refused = nullptr);
// Requests of any route, refused ones and TLS handshakes: 0 while nothing sent a byte.
uint32_t Heard(Receiver &receiver);
// Records a request read whole, holds it if it is its route's first and the
// route holds, and gives the status its route's script answers: 0 when no
// route takes its path.
uint32_t RouteStatus(Receiver &receiver, const ReceivedRequest &request);

}  // namespace host
