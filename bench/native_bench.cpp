// Native figures of the hot paths, side by side in one run: each case is
// timed call by call and reported as median and 99th percentile.
//
//   native_bench [calls per case]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "capture/event_queue.h"
#include "delivery/json_writer.h"
#include "host/handles.h"
#include "shell/bridge_plugin.h"
#include "standin/standin.h"
#include "tests/alloc/alloc_hook.h"
#include "text/text.h"

extern "C" BOOL WINAPI DllMain(HMODULE module, DWORD reason, void *reserved);
void EuroScopePlugInInit(EuroScopePlugIn::CPlugIn **ppPlugInInstance);
void EuroScopePlugInExit(void);

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
    double median, p99;
};

Figures Time(int calls, const std::function<void()> &call) {
    std::vector<double> ns(calls);
    for (int i = 0; i < calls; ++i) {
        auto start = Clock::now();
        call();
        ns[i] = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    }
    std::sort(ns.begin(), ns.end());
    return {ns[calls / 2], ns[calls - 1 - calls / 100]};
}

void Row(const char *name, Figures f) { printf("%-46s %12.0f %12.0f\n", name, f.median, f.p99); }

StandEvent SampleEvent() {
    StandEvent e = {};
    text::TrimmedCopy(e.action, "assign");
    text::TrimmedCopy(e.callsign, "DLH4TK");
    text::TrimmedCopy(e.destination, "EDDF");
    text::TrimmedCopy(e.stand, "V155");
    text::TrimmedCopy(e.observedAt, "2026-12-07T08:00:00.000Z");
    text::TrimmedCopy(e.controller, "EDDF_GND");
    return e;
}

// A plug-in loaded from `folder`, capturing without a worker so that the
// queue is the only consumer of the client thread's time.
CBridgePlugIn *LoadCapturing(const std::string &folder) {
    standin::Reset();
    standin::SetModulePath(folder + "/ZeltanDokBridge.dll");
    DllMain(reinterpret_cast<HMODULE>(0x10000), DLL_PROCESS_ATTACH, nullptr);
    EuroScopePlugIn::CPlugIn *object = nullptr;
    EuroScopePlugInInit(&object);
    auto *bridge = static_cast<CBridgePlugIn *>(object);
    bridge->enabled = true;
    return bridge;
}

}  // namespace

int main(int argc, char **argv) {
    int calls = argc > 1 ? atoi(argv[1]) : 20000;
    std::string folder = std::filesystem::temp_directory_path().string() + "/zdb-bench-" +
                         std::to_string(getpid());
    std::filesystem::create_directories(folder);
    HostState *state = ZdbHostState();
    state->controllerValid = true;
    state->controllerCallsign = "EDDF_GND";
    HostFlightPlan plan = {"DLH4TK", "EDDF", "DOK/S/V155"};
    StandEvent popped;

    printf("%-46s %12s %12s\n", "case (ns per call)", "median", "p99");
    CBridgePlugIn *bridge = LoadCapturing(folder);
    auto capture = [&] {
        bridge->OnFlightPlanControllerAssignedDataUpdate(host::MakeFlightPlan(&plan), 5);
        bridge->core.queue.TryPop(popped);
    };
    Row("capture + pop, with its \"Captured\" line", Time(calls, capture));
    char savedLog[kPathCapacity];
    memcpy(savedLog, bridge->core.log.logPath, sizeof savedLog);
    bridge->core.log.logPath[0] = '\0';
    Row("capture + pop, without a log line", Time(calls, capture));
    Row("ignored notification (data type 4)", Time(calls, [&] {
            bridge->OnFlightPlanControllerAssignedDataUpdate(host::MakeFlightPlan(&plan), 4);
        }));
    StandEvent event = SampleEvent();
    Row("push + pop (ring only, no log line)", Time(calls, [&] {
            bridge->core.queue.Push(event, bridge->core.log);
            bridge->core.queue.TryPop(popped);
        }));
    Row("BuildEventBody + send buffer", Time(calls, [&] {
            JsonWriter writer;
            BuildEventBody(event, writer);
            char body[kBodyCapacity];
            PrepareSendBuffer(writer, body);
            asm volatile("" : : "r"(body) : "memory");
        }));

    alloc_hook::Start(alloc_hook::Scope::ThisThread);
    memcpy(bridge->core.log.logPath, savedLog, sizeof savedLog);
    for (int i = 0; i < 1000; ++i) capture();
    int captureAllocations = alloc_hook::Stop();
    EuroScopePlugInExit();

    // Delivery through the WinHTTP double: the product's own allocations on
    // every thread while 200 events go from scratch pad to "Delivered".
    standin::Reset();
    standin::SetRealSleep(false);
    standin::SetModulePath(folder + "/ZeltanDokBridge.dll");
    FILE *ini = fopen((folder + "/ZeltanDokBridge.ini").c_str(), "wb");
    fputs("[Bridge]\r\nEndpoint=https://stands.example.org/in\r\n"
          "Token=0123456789abcdef0123456789abcdef\r\n", ini);
    fclose(ini);
    EuroScopePlugIn::CPlugIn *object = nullptr;
    EuroScopePlugInInit(&object);
    bridge = static_cast<CBridgePlugIn *>(object);
    alloc_hook::Start(alloc_hook::Scope::AllThreads);
    for (int i = 0; i < 200; ++i)
        bridge->OnFlightPlanControllerAssignedDataUpdate(host::MakeFlightPlan(&plan), 5);
    {
        alloc_hook::NotCounted watching;
        while (standin::HttpRequests().size() < 200)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    int deliveryAllocations = alloc_hook::Stop();
    EuroScopePlugInExit();

    printf("%-46s %12.3f\n", "heap allocations per captured event", captureAllocations / 1000.0);
    printf("%-46s %12.3f\n", "heap allocations per delivered event", deliveryAllocations / 200.0);
    printf("%-46s %12zu\n", "sizeof(CBridgePlugIn) (native, 64-bit)", sizeof(CBridgePlugIn));
    printf("%-46s %12zu\n", "sizeof(BridgeCore) (native, 64-bit)", sizeof(BridgeCore));
    std::filesystem::remove_all(folder);
    return 0;
}
