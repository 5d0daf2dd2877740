// What the client's thread and the delivery worker share.
//
// Plain data, kept beside the plug-in object rather than inside it: the
// client may end the plug-in object while a worker stuck in a network call
// still runs, and that worker must go on touching only objects that are
// still alive. This one lives in static storage for the module's life.
#pragma once

#include "capture/event_queue.h"
#include "diag/log_file.h"
#include "platform/atomic_flag.h"
#include "platform/win32.h"
#include "shell/endpoint.h"
#include "shell/settings.h"

struct BridgeCore {
    BridgeSettings settings;
    EndpointAddress endpointAddress;
    AtomicFlag stopRequested;  // written by the client's thread, polled by the worker
    EventQueue queue;
    BridgeLog log;
    HMODULE workerModule;      // the worker's own reference to this module
    AtomicFlag workerRunning;  // set before the worker starts, cleared as its last act
    bool leftToWorker;         // the last shutdown left the locks and wake event to a stuck worker

    void Log(const char *message) { log.Write(message); }
    void LogEvent(const char *verb, const StandEvent &event, uint32_t status) {
        log.WriteEvent(verb, event, status);
    }
};
