// The one plug-in object the client talks to.
#pragma once

#include <stdint.h>

#include "capture/event_queue.h"
#include "diag/log_file.h"
#include "platform/atomic_flag.h"
#include "platform/win32.h"
#include "sdk/EuroScopePlugIn.h"
#include "shell/endpoint.h"
#include "shell/settings.h"

const uint32_t kMinimumTokenLength = 32;
const DWORD kWorkerStopWaitMs = 30000;

class CBridgePlugIn : public EuroScopePlugIn::CPlugIn {
public:
    // Builds the base part only; Initialise() does the rest.
    CBridgePlugIn();
    // The shutdown. Runs at most once per Initialise(), however the client
    // ends the object.
    ~CBridgePlugIn() override;

    // The object lives in static storage: a client that asks the virtual
    // destructor to free it must get a no-op.
    static void operator delete(void *) {}

    // Everything after the base constructor: paths, settings, the decision
    // to deliver, the worker, and the one outcome line. `workerRunning` is
    // the module-level flag of this object's storage, or null
    // when the object may not start a worker; the worker clears it
    // as its last act, so the storage is not reused under a live worker.
    void Initialise(AtomicFlag *workerRunning);

    void OnFlightPlanControllerAssignedDataUpdate(EuroScopePlugIn::CFlightPlan flightPlan,
                                                  int dataType) override;
    void OnFunctionCall(int, const char *, POINT, RECT) override {}

    void Log(const char *message) { log.Write(message); }
    void LogEvent(const char *verb, const StandEvent &event, uint32_t status) {
        log.WriteEvent(verb, event, status);
    }

    char settingsPath[kPathCapacity];
    BridgeSettings settings;
    EndpointAddress endpointAddress;
    AtomicFlag stopRequested;  // written by the client's thread, polled by the worker
    bool enabled;
    EventQueue queue;
    HANDLE workerThread;
    HMODULE workerModule;  // the worker's own reference to this module
    AtomicFlag *workerRunning;
    DWORD stopWaitMs;      // how long the shutdown waits for the worker
    BridgeLog log;

private:
    bool shutdownPending;  // set by Initialise, cleared by the one shutdown it allows
    bool StartWorker();
    void Shutdown();
};

// Fills `field` with this module's file name, its extension replaced by
// `suffix`. Leaves `field` empty when the module's name cannot be had whole.
void MakeSiblingPath(char (&field)[kPathCapacity], const char *suffix);

// This module's handle as recorded by the entry point.
HMODULE BridgeModuleHandle();
