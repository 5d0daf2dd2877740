#include "shell/bridge_plugin.h"

#include "delivery/delivery_worker.h"
#include "shell/live_object.h"
#include "text/text.h"

namespace {

const char kLoadedMessage[] = "Bridge loaded; event worker started";
const char kDisabledMessage[] = "Bridge disabled: Endpoint/Token missing or invalid";
const char kUnloadedMessage[] = "Bridge unloaded";

}  // namespace

CBridgePlugIn::CBridgePlugIn()
    : CPlugIn(EuroScopePlugIn::COMPATIBILITY_CODE, "ZELTAN DOK Bridge", "0.1.0",
              "ZELTAN DOK Bridge developers", "Copyright (c) 2026 ZELTAN") {}

CBridgePlugIn::~CBridgePlugIn() {
    Shutdown();
    ForgetLiveObject(this);
}

void CBridgePlugIn::Initialise(AtomicFlag *workerRunning_) {
    stopRequested.Set(false);
    enabled = false;
    queue.head = 0;
    queue.count = 0;
    queue.wakeEvent = nullptr;
    workerThread = nullptr;
    workerModule = nullptr;
    workerRunning = workerRunning_;
    stopWaitMs = kWorkerStopWaitMs;

    InitializeCriticalSection(&queue.lock);
    InitializeCriticalSection(&log.lock);
    shutdownPending = true;

    MakeSiblingPath(settingsPath, ".ini");
    MakeSiblingPath(log.path, ".log");
    LoadBridgeSettings(settingsPath, settings);

    if (ParseEndpointAddress(settings.endpoint, endpointAddress) &&
        text::Length(settings.token) >= kMinimumTokenLength) {
        enabled = StartWorker();
    }
    Log(enabled ? kLoadedMessage : kDisabledMessage);
}

bool CBridgePlugIn::StartWorker() {
    if (!workerRunning) return false;  // no free place for a worker
    queue.wakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!queue.wakeEvent) return false;

    // The worker holds its own reference to this module, so that a client
    // that frees the module while the worker is still inside a network call
    // cannot unmap the code it runs. Taken here, before the thread exists;
    // the worker gives it back as its last act.
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<const char *>(&RunDeliveryWorker), &workerModule))
        return false;
    workerRunning->Set(true);
    workerThread = CreateThread(nullptr, 0, RunDeliveryWorker, this, 0, nullptr);
    if (!workerThread) {
        workerRunning->Set(false);
        FreeLibrary(workerModule);
        workerModule = nullptr;
        return false;
    }
    return true;
}

void CBridgePlugIn::Shutdown() {
    if (!shutdownPending) return;  // never initialised, or already shut down
    shutdownPending = false;

    stopRequested.Set(true);
    if (queue.wakeEvent) SetEvent(queue.wakeEvent);
    bool workerEnded = true;
    if (workerThread) workerEnded = WaitForSingleObject(workerThread, stopWaitMs) == WAIT_OBJECT_0;
    Log(kUnloadedMessage);

    if (workerThread) {
        CloseHandle(workerThread);
        workerThread = nullptr;
    }
    // A worker still running past the wait keeps using the wake event and
    // both locks until it sees the stop flag; they are left to it, and this
    // storage is not reused until the worker says it is gone.
    if (!workerEnded) return;
    if (queue.wakeEvent) {
        CloseHandle(queue.wakeEvent);
        queue.wakeEvent = nullptr;
    }
    DeleteCriticalSection(&log.lock);
    DeleteCriticalSection(&queue.lock);
}
