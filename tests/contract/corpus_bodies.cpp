// Prints the bodies the product would post for the inputs of the body
// fuzzer named on the command line, one line per input and stand message:
//
//     <file name> <message> <body>   the event was queued; the body as sent
//     <file name> <message> -        the capture refused it
//
// The fuzzer turns its input straight into a StandEvent, which may hold
// texts the capture never lets through (an unknown action, lower case).
// Here the event's texts go through the real capture handler instead: the
// callsign, controller and destination as the client's answers, the stand
// in each of the four stand messages. A body never holds a raw control
// byte, so a line break cannot occur inside one.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "delivery/json_writer.h"
#include "fuzz/fuzz_event.h"
#include "host/handles.h"
#include "host/host_state.h"
#include "shell/bridge_plugin.h"
#include "standin/standin.h"
#include "text/text.h"

extern "C" BOOL WINAPI DllMain(HMODULE module, DWORD reason, void *reserved);
void EuroScopePlugInInit(EuroScopePlugIn::CPlugIn **ppPlugInInstance);
void EuroScopePlugInExit(void);

namespace {

const char *const kMessages[] = {"DOK/S/<stand>", "DOK/S/", "DOK/M/<destination>/<stand>",
                                  "DOK/M/"};

std::string ScratchPad(const StandEvent &input, unsigned message) {
    switch (message) {
    case 0: return std::string("DOK/S/") + input.stand;
    case 1: return "DOK/S/";
    case 2: return std::string("DOK/M/") + input.destination + "/" + input.stand;
    default: return "DOK/M/";
    }
}

// The body of the event the handler queues for `input`, or "-".
std::string CapturedBody(CBridgePlugIn &bridge, const StandEvent &input, unsigned message) {
    std::string scratchPad = ScratchPad(input, message);
    HostState *host = ZdbHostState();
    host->controllerValid = true;
    host->controllerCallsign = input.controller;
    HostFlightPlan plan = {input.callsign, input.destination, scratchPad.c_str()};
    // The settings' airport list as LoadBridgeSettings leaves it, naming the
    // input's own destination, so the list refuses only what no list passes.
    text::TrimmedUpperCopy(bridge.core.settings.airports, input.destination);
    bridge.OnFlightPlanControllerAssignedDataUpdate(host::MakeFlightPlan(&plan),
                                                    EuroScopePlugIn::CTR_DATA_TYPE_SCRATCH_PAD_STRING);
    StandEvent event;
    if (!bridge.core.queue.TryPop(event)) return "-";
    JsonWriter writer;
    BuildEventBody(event, writer);
    if (!writer.ok) return "(body does not fit)";
    char body[kBodyCapacity];
    PrepareSendBuffer(writer, body);
    return body;
}

}  // namespace

int main(int argc, char **argv) {
    // No module path: no settings file is read and no log file written.
    standin::Reset();
    DllMain(reinterpret_cast<HMODULE>(0x10000), DLL_PROCESS_ATTACH, nullptr);
    EuroScopePlugIn::CPlugIn *object = nullptr;
    EuroScopePlugInInit(&object);
    CBridgePlugIn &bridge = *static_cast<CBridgePlugIn *>(object);
    // Loaded without settings it stays disabled; capture alone is wanted
    // here, with no worker to take the events.
    bridge.enabled = true;

    int status = 0;
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
        if (!file.good() && !file.eof()) {
            fprintf(stderr, "cannot read %s\n", argv[i]);
            status = 1;
            continue;
        }
        StandEvent input = EventFromBytes(data.data(), data.size());
        const char *name = strrchr(argv[i], '/') ? strrchr(argv[i], '/') + 1 : argv[i];
        for (unsigned message = 0; message < 4; ++message)
            printf("%s %s %s\n", name, kMessages[message],
                   CapturedBody(bridge, input, message).c_str());
    }
    EuroScopePlugInExit();
    return status;
}
