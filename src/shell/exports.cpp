// The module's entry point and the two functions the client looks up by
// their decorated names.
#include "platform/placement_new.h"
#include "platform/win32.h"
#include "sdk/EuroScopePlugIn.h"
#include "shell/bridge_plugin.h"
#include "shell/live_object.h"

#if defined(_WIN32)
#define ZDB_EXPORT __declspec(dllexport)
#else
#define ZDB_EXPORT
#endif

namespace {

// The plug-in object lives in zero-filled static storage and is never
// allocated or freed. There are two places for it: a worker that outlived
// the shutdown's wait keeps its module reference, so the client may load the
// module again while that worker still runs; the new object then takes the
// other place and never shares locks, queue or flag with the old worker.
// A third place holds an object that never starts a worker, for the unlikely
// load that finds both others still in use.
const int kWorkerPlaces = 2;

struct ObjectPlace {
    alignas(CBridgePlugIn) unsigned char storage[sizeof(CBridgePlugIn)];
    BridgeCore core;
};

HMODULE g_module;
ObjectPlace g_places[kWorkerPlaces + 1];
CBridgePlugIn *g_liveObject;

ObjectPlace &FreePlace() {
    for (int i = 0; i < kWorkerPlaces; ++i)
        if (!g_places[i].core.workerRunning.IsSet()) return g_places[i];
    return g_places[kWorkerPlaces];
}

}  // namespace

HMODULE BridgeModuleHandle() { return g_module; }

void ForgetLiveObject(CBridgePlugIn *object) {
    if (g_liveObject == object) g_liveObject = nullptr;
}

extern "C" BOOL WINAPI DllMain(HMODULE module, DWORD reason, void *) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = module;
        DisableThreadLibraryCalls(module);
    }
    return TRUE;
}

ZDB_EXPORT void EuroScopePlugInInit(EuroScopePlugIn::CPlugIn **ppPlugInInstance) {
    ObjectPlace &place = FreePlace();
    CBridgePlugIn *object = new (place.storage) CBridgePlugIn(place.core);
    object->Initialise(&place != &g_places[kWorkerPlaces]);
    g_liveObject = object;
    *ppPlugInInstance = object;
}

ZDB_EXPORT void EuroScopePlugInExit(void) {
    if (!g_liveObject) return;
    CBridgePlugIn *object = g_liveObject;
    object->~CBridgePlugIn();  // forgets the live object itself
}
