// The capture handler against a model of the capture rules that shares no
// code with the product: for any notification (data-type code, enabled flag,
// flight plan and controller present or not, every text present or null, any
// airport list) the handler must make exactly the client calls the model
// counts and queue exactly the event the model builds, byte for byte, or none.
//
// Input: scratch pad, destination, airports, callsign, controller callsign and
// switches, split at the first five zero bytes; a missing part is empty.
// Switches: byte 0 holds the flags below; bytes 1..4, when all present, the
// data-type code (little-endian), else it is 5.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "host/handles.h"
#include "host/host_state.h"
#include "shell/bridge_plugin.h"
#include "standin/standin.h"

extern "C" BOOL WINAPI DllMain(HMODULE module, DWORD reason, void *reserved);
void EuroScopePlugInInit(EuroScopePlugIn::CPlugIn **ppPlugInInstance);

namespace {

enum Flag : uint8_t {
    kDisabled = 1,
    kPlanInvalid = 2,
    kControllerInvalid = 4,
    kNullScratchPad = 8,
    kNullCallsign = 16,
    kNullDestination = 32,
    kNullControllerCallsign = 64,
};

struct Notification {
    int dataType;
    bool enabled, planValid, controllerValid;
    const char *scratchPad, *callsign, *destination, *controller;  // each may be null
    std::string airports;                                          // as stored, at most 63 bytes
};

// ---- The model: the rules, written out plainly ----

struct Outcome {
    uint32_t clientCalls = 0;
    bool queued = false;
    std::string action, callsign, destination, stand, controller;
};

bool IsWhitespace(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

std::string Text(const char *s) { return s ? s : ""; }

// Trimmed first, then cut to `longest` bytes; only a-z upper-cased.
std::string Field(const std::string &source, size_t longest) {
    size_t first = 0, end = source.size();
    while (first < end && IsWhitespace(source[first])) ++first;
    while (end > first && IsWhitespace(source[end - 1])) --end;
    std::string s = source.substr(first, std::min(end - first, longest));
    for (char &c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// What the body keeps of a text: JSON's short escapes cover BS, TAB, LF, FF
// and CR; every other control byte is dropped. A text of which it keeps
// nothing but blanks arrives empty too.
bool ArrivesEmpty(const std::string &s) {
    for (char c : s) {
        unsigned char u = static_cast<unsigned char>(c);
        bool kept = u >= 0x20 || u == 8 || u == 9 || u == 10 || u == 12 || u == 13;
        if (kept && !IsWhitespace(c)) return false;
    }
    return true;
}

bool Listed(const std::string &airports, const std::string &destination) {
    std::string token;
    for (char c : airports + ";") {
        if (!IsWhitespace(c) && c != ',' && c != ';') {
            token += c;
            continue;
        }
        if (!token.empty() && Field(token, 7) == destination) return true;
        token.clear();
    }
    return false;
}

Outcome Predict(const Notification &n) {
    Outcome o;
    if (n.dataType != 5 || !n.enabled || !n.planValid) return o;
    o.clientCalls = 3;  // controller-assigned data, its scratch pad, the callsign
    if (!n.scratchPad || !n.callsign) return o;
    o.clientCalls += n.controllerValid ? 2 : 1;  // the controller, then its callsign

    std::string pad = n.scratchPad;
    std::string rest = pad.size() > 6 ? pad.substr(6) : "";
    if (pad.compare(0, 6, "DOK/S/") == 0) {
        o.clientCalls += 2;  // flight-plan data, its destination
        o.destination = Field(Text(n.destination), 7);
        o.stand = Field(rest, 39);
        o.action = o.stand.empty() ? "cancel" : "assign";
    } else if (pad.compare(0, 6, "DOK/M/") == 0) {
        size_t start = rest.find_first_not_of("\t\n\r ");
        if (start == std::string::npos) {
            o.action = "manual_cancel";
        } else {
            size_t slash = rest.find('/', start);
            if (slash == std::string::npos) return o;
            o.destination = Field(rest.substr(start, slash - start), 7);
            o.stand = Field(rest.substr(slash + 1), 39);
            o.action = "manual_occupy";
        }
    } else {
        return o;
    }
    o.callsign = Field(n.callsign, 39);
    if (n.controllerValid) o.controller = Field(Text(n.controller), 39);
    if (ArrivesEmpty(o.controller)) o.controller.clear();  // null rather than ""

    bool needsStand = o.action == "assign" || o.action == "manual_occupy";
    bool needsDestination = o.action == "assign" || o.action == "cancel";
    // A present text must arrive as something; an absent one is not sent.
    bool arrives = !ArrivesEmpty(o.callsign) &&
                   (o.destination.empty() || !ArrivesEmpty(o.destination)) &&
                   (o.stand.empty() || !ArrivesEmpty(o.stand));
    o.queued = arrives && (o.destination.empty() || Listed(n.airports, o.destination)) &&
               !(needsStand && o.stand.empty()) && !(needsDestination && o.destination.empty());
    return o;
}

// ---- The comparison ----

void Check(bool agrees, const char *what) {
    if (agrees) return;
    fprintf(stderr, "capture handler and model differ: %s\n", what);
    abort();
}

// `want`, terminated, and zero bytes up to the field's end.
template <size_t N>
bool Holds(const char (&field)[N], const std::string &want) {
    if (want.size() >= N || memcmp(field, want.data(), want.size()) != 0) return false;
    for (size_t i = want.size(); i < N; ++i)
        if (field[i] != '\0') return false;
    return true;
}

// 2024-01-02T03:04:05.006Z and zero bytes up to the field's end.
template <size_t N>
bool Stamped(const char (&field)[N]) {
    const char form[] = "dddd-dd-ddTdd:dd:dd.dddZ";
    for (size_t i = 0; i < N; ++i) {
        char want = i < sizeof form - 1 ? form[i] : '\0';
        if (want == 'd' ? (field[i] < '0' || field[i] > '9') : field[i] != want) return false;
    }
    return true;
}

// A plug-in loaded without settings (so no worker and no log file), switched
// on and off by hand per input.
CBridgePlugIn &Bridge() {
    static CBridgePlugIn *bridge = [] {
        standin::Reset();
        DllMain(reinterpret_cast<HMODULE>(0x10000), DLL_PROCESS_ATTACH, nullptr);
        EuroScopePlugIn::CPlugIn *object = nullptr;
        EuroScopePlugInInit(&object);
        return static_cast<CBridgePlugIn *>(object);
    }();
    return *bridge;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string parts[6];  // scratch pad, destination, airports, callsign, controller, switches
    size_t part = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && part < 5) ++part;
        else parts[part].push_back(static_cast<char>(data[i]));
    }
    const std::string &switches = parts[5];
    uint8_t flags = switches.empty() ? 0 : static_cast<uint8_t>(switches[0]);
    Notification n;
    n.dataType = 5;
    if (switches.size() >= 5) memcpy(&n.dataType, switches.data() + 1, 4);
    n.enabled = !(flags & kDisabled);
    n.planValid = !(flags & kPlanInvalid);
    n.controllerValid = !(flags & kControllerInvalid);
    n.scratchPad = flags & kNullScratchPad ? nullptr : parts[0].c_str();
    n.destination = flags & kNullDestination ? nullptr : parts[1].c_str();
    n.callsign = flags & kNullCallsign ? nullptr : parts[3].c_str();
    n.controller = flags & kNullControllerCallsign ? nullptr : parts[4].c_str();
    n.airports = parts[2].substr(0, 63);

    CBridgePlugIn &bridge = Bridge();
    bridge.enabled = n.enabled;
    memset(bridge.core.settings.airports, 0, sizeof bridge.core.settings.airports);
    memcpy(bridge.core.settings.airports, n.airports.data(), n.airports.size());
    HostState *host = ZdbHostState();
    host->controllerValid = n.controllerValid;
    host->controllerCallsign = n.controller;
    HostFlightPlan plan = {n.callsign, n.destination, n.scratchPad};
    host->clientCalls = 0;
    EuroScopePlugIn::CPlugIn &client = bridge;
    client.OnFlightPlanControllerAssignedDataUpdate(
        host::MakeFlightPlan(n.planValid ? &plan : nullptr), n.dataType);

    Outcome o = Predict(n);
    Check(host->clientCalls == o.clientCalls, "client calls");
    StandEvent event, extra;
    Check(bridge.core.queue.TryPop(event) == o.queued, "whether an event is queued");
    Check(!bridge.core.queue.TryPop(extra), "more than one event queued");
    if (!o.queued) return 0;
    Check(Holds(event.action, o.action), "action");
    Check(Holds(event.callsign, o.callsign), "callsign");
    Check(Holds(event.destination, o.destination), "destination");
    Check(Holds(event.stand, o.stand), "stand");
    Check(Holds(event.controller, o.controller), "controller");
    Check(Stamped(event.observedAt), "observedAt");
    return 0;
}
