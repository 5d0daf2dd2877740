#include "shell/bridge_plugin.h"

#include "delivery/delivery_worker.h"
#include "platform/placement_new.h"
#include "shell/inert_plugin.h"
#include "shell/live_object.h"
#include "text/text.h"

namespace {

const char kLoadedMessage[] = "Bridge loaded; event worker started";
const char kSettingsRefusedMessage[] = "Bridge disabled: Endpoint/Token missing or invalid";
// Settings that are fine, but Windows would not give what the worker needs,
// or two earlier loads still have workers inside an attempt: the line must
// not send the controller to mend the settings.
const char kEarlierWorkersMessage[] = "Bridge disabled: two earlier loads still sending";
const char kNoWakeEventMessage[] = "Bridge disabled: could not create the wake event";
const char kNoWorkerMessage[] = "Bridge disabled: could not start the worker thread";
const char kUnloadedMessage[] = "Bridge unloaded";

}  // namespace

CBridgePlugIn::CBridgePlugIn(BridgeCore &core_)
    : CPlugIn(EuroScopePlugIn::COMPATIBILITY_CODE, "ZELTAN DOK Bridge", ZDB_VERSION,
              "ZELTAN DOK Bridge developers", "Copyright (c) 2026 ZELTAN"),
      core(core_) {
    clientView = static_cast<EuroScopePlugIn::CPlugIn *>(this);
}

SealAfterBaseDestructor::~SealAfterBaseDestructor() {
    if (clientView) new (clientView) InertPlugIn;
}

CBridgePlugIn::~CBridgePlugIn() {
    Shutdown();
    ForgetLiveObject(this);
}

void CBridgePlugIn::Initialise(bool mayStartWorker) {
    ReleaseWhatTheLastWorkerHeld();
    core.stopRequested.Set(false);
    enabled = false;
    core.queue.head = 0;
    core.queue.count = 0;
    core.queue.wakeEvent = nullptr;
    workerThread = nullptr;
    core.workerModule = nullptr;
    stopWaitMs = kWorkerStopWaitMs;

    InitializeCriticalSection(&core.queue.queueLock);
    InitializeCriticalSection(&core.log.logLock);
    shutdownPending = true;

    MakeSiblingPath(settingsPath, ".ini");
    MakeSiblingPath(core.log.logPath, ".log");
    LoadBridgeSettings(settingsPath, core.settings);

    const char *outcome = StartDelivery(mayStartWorker);
    enabled = outcome == kLoadedMessage;
    Log(outcome);
}

// The load's one outcome line; only the first names a running worker.
const char *CBridgePlugIn::StartDelivery(bool mayStartWorker) {
    if (!ParseEndpointAddress(core.settings.endpoint, core.endpointAddress) ||
        text::Length(core.settings.token) < kMinimumTokenLength)
        return kSettingsRefusedMessage;
    if (!mayStartWorker) return kEarlierWorkersMessage;
    core.queue.wakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!core.queue.wakeEvent) return kNoWakeEventMessage;
    return StartWorker() ? kLoadedMessage : kNoWorkerMessage;
}

bool CBridgePlugIn::StartWorker() {
    // The worker holds its own reference to this module, so that a client
    // that frees the module while the worker is still inside a network call
    // cannot unmap the code it runs. Taken here, before the thread exists;
    // the worker gives it back as its last act.
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<const char *>(&RunDeliveryWorker),
                            &core.workerModule))
        return false;
    core.workerRunning.Set(true);
    workerThread = CreateThread(nullptr, 0, RunDeliveryWorker, &core, 0, nullptr);
    if (!workerThread) {
        core.workerRunning.Set(false);
        FreeLibrary(core.workerModule);
        core.workerModule = nullptr;
        return false;
    }
    return true;
}

void CBridgePlugIn::Shutdown() {
    if (!shutdownPending) return;  // never initialised, or already shut down
    shutdownPending = false;

    core.stopRequested.Set(true);
    if (core.queue.wakeEvent) SetEvent(core.queue.wakeEvent);
    bool workerEnded = true;
    if (workerThread) workerEnded = WaitForSingleObject(workerThread, stopWaitMs) == WAIT_OBJECT_0;
    Log(kUnloadedMessage);

    if (workerThread) {
        CloseHandle(workerThread);
        workerThread = nullptr;
    }
    // A worker still running past the wait keeps using the wake event and
    // both locks until it sees the stop flag; they are left to it, and the
    // shared state is not reused until the worker says it is gone.
    core.leftToWorker = !workerEnded;
    if (workerEnded) ReleaseLocksAndWakeEvent();
}

void CBridgePlugIn::ReleaseLocksAndWakeEvent() {
    if (core.queue.wakeEvent) {
        CloseHandle(core.queue.wakeEvent);
        core.queue.wakeEvent = nullptr;
    }
    DeleteCriticalSection(&core.log.logLock);
    DeleteCriticalSection(&core.queue.queueLock);
}

// This place is only chosen once its worker has cleared its flag, and the
// worker touches nothing of it after that: what it was left is free now.
void CBridgePlugIn::ReleaseWhatTheLastWorkerHeld() {
    if (!core.leftToWorker) return;
    core.leftToWorker = false;
    ReleaseLocksAndWakeEvent();
}
