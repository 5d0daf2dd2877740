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

struct Receiver {
    SOCKET listener;
    unsigned short port;
    HANDLE thread;
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
};

// Listens on 127.0.0.1 on a free port and starts the thread; false, with
// `why` set, when Winsock or the socket refuse.
bool StartReceiver(Receiver &receiver, const char *&why);
// Ends the thread (bounded) and closes everything StartReceiver opened;
// nothing when it never ran.
void StopReceiver(Receiver &receiver);
// Well-formed requests received so far.
uint32_t RequestsReceived(Receiver &receiver);
// Waits until `count` well-formed requests arrived or `milliseconds` pass.
bool WaitForRequests(Receiver &receiver, uint32_t count, uint32_t milliseconds);

}  // namespace host
