// The one plug-in object the client talks to.
#pragma once

#include <stdint.h>

#include "diag/log_file.h"
#include "platform/win32.h"
#include "sdk/EuroScopePlugIn.h"
#include "shell/bridge_core.h"

const uint32_t kMinimumTokenLength = 32;
const DWORD kWorkerStopWaitMs = 30000;

// The last act of ending the plug-in object, however the client ends it:
// once the client's base destructor has returned, the storage becomes an
// InertPlugIn. Declared before CPlugIn among the bases, it is constructed
// before it and destroyed after it; the layout still puts CPlugIn first,
// since the MSVC ABI (like the Itanium one) places the base with a virtual
// table ahead of a base without one.
class SealAfterBaseDestructor {
protected:
    ~SealAfterBaseDestructor();
    void *clientView = nullptr;  // where the client's CPlugIn pointer points
};

class CBridgePlugIn : private SealAfterBaseDestructor, public EuroScopePlugIn::CPlugIn {
public:
    // Builds the base part only; Initialise() does the rest.
    explicit CBridgePlugIn(BridgeCore &core);
    // The shutdown. Runs at most once per Initialise(), however the client
    // ends the object; afterwards the storage answers every call by doing
    // nothing (SealAfterBaseDestructor).
    ~CBridgePlugIn() override;

    // The object lives in static storage: a client that asks the virtual
    // destructor to free it must get a no-op.
    static void operator delete(void *) {}
    // The placement form, which the one above hides from a placement new of
    // this class (exports.cpp builds it in static storage).
    static void operator delete(void *, void *) {}

    // Everything after the base constructor: paths, settings, the decision
    // to deliver, the worker, and the one outcome line. An object given
    // `mayStartWorker` false stays disabled whatever the settings say.
    void Initialise(bool mayStartWorker);

    void OnFlightPlanControllerAssignedDataUpdate(EuroScopePlugIn::CFlightPlan flightPlan,
                                                  int dataType) override;
    void OnFunctionCall(int, const char *, POINT, RECT) override {}

    // The log as the client's thread writes it; the worker writes through
    // the same calls on BridgeCore.
    void Log(const char *message) { core.Log(message); }
    void LogEvent(const char *verb, const StandEvent &event, uint32_t status) {
        core.LogEvent(verb, event, status);
    }

    BridgeCore &core;
    char settingsPath[kPathCapacity];
    bool enabled;  // read by the capture handler; never changes after Initialise
    HANDLE workerThread;
    DWORD stopWaitMs;  // how long the shutdown waits for the worker

private:
    // Set by Initialise, cleared by the one shutdown it allows. The client
    // and the exit function reach the destructor only through the virtual
    // table, which after one run no longer leads here (the base destructor
    // and the seal replace it); this flag keeps a direct call, should one
    // ever be written, from deleting the locks twice.
    bool shutdownPending;
    const char *StartDelivery(bool mayStartWorker);
    bool StartWorker();
    void Shutdown();
    void ReleaseLocksAndWakeEvent();
    void ReleaseWhatTheLastWorkerHeld();
};

// Fills `field` with this module's file name, its extension replaced by
// `suffix`. Leaves `field` empty when the module's name cannot be had whole.
void MakeSiblingPath(char (&field)[kPathCapacity], const char *suffix);

// This module's handle as recorded by the entry point.
HMODULE BridgeModuleHandle();
