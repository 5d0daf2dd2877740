// Texts at their edges, as a controller or the client may hand them over:
// whitespace around every field, control bytes, the longest callsign and
// stand, a missing controller, and the client's gaps (null texts, a blank
// callsign, no flight plan), none of which may send anything.
#include "host/selftest/selftest.h"

namespace host {

namespace {

// Whitespace at both ends of each field; in the stand each control byte
// JSON escapes, some it drops, a quote, a backslash, DEL, a space, which
// the log keeps, and UTF-8.
const char kEdgePad[] =
    "DOK/S/\t\n a\x08" "b\tc\nd\x0c" "e\rf\x01g\x0bh\x0ei\x1fj\"k\\l/m\x7fn o\xc3\xa9 \t\r";
const Flight kEdgeFlight = {" dlh4tk\t", " eddf ", "\t\x01 ", true, true};
const char kEdgeBody[] =
    "{\"action\":\"assign\",\"callsign\":\"DLH4TK\",\"observedAt\":\"####-##-##T##:##:##.###Z\","
    "\"controller\":null,\"destination\":\"EDDF\","
    "\"stand\":\"A\\bB\\tC\\nD\\fE\\rFGHIJ\\\"K\\\\L/M\x7fN O\xc3\xa9\"}";
const char kEdgeLine[] = "Captured assign DLH4TK EDDF A?B?C?D?E?F?G?H?I?J\"K\\L/M?N O\xc3\xa9";

// A callsign of 45 characters keeps 39; a stand of 38 letters, a space and
// 11 letters keeps the 38 letters and the space: trimmed first, cut after.
const char kLongPad[] = "DOK/S/abcdefghijklmnopqrstuvwxyzabcdefghijkl zzzzzzzzzzz";
const Flight kLongFlight = {"abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHI", "EDDM", nullptr,
                            true, true};
const char kLongBody[] =
    "{\"action\":\"assign\",\"callsign\":\"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789ABC\","
    "\"observedAt\":\"####-##-##T##:##:##.###Z\",\"controller\":null,\"destination\":\"EDDM\","
    "\"stand\":\"ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKL \"}";

const Flight kNoController = {"DLH4TK", "EDDF", "EDDF_GND", false, true};
const char kNoControllerBody[] =
    "{\"action\":\"manual_cancel\",\"callsign\":\"DLH4TK\","
    "\"observedAt\":\"####-##-##T##:##:##.###Z\",\"controller\":null}";

struct Sent {
    const char *check;
    const char *scratchPad;
    const Flight *flight;
    const char *body;
};
const Sent kSent[] = {
    {"texts: trimmed, control bytes dropped or escaped", kEdgePad, &kEdgeFlight, kEdgeBody},
    {"texts: longest callsign and stand", kLongPad, &kLongFlight, kLongBody},
    {"texts: no valid controller gives null", "DOK/M/", &kNoController, kNoControllerBody},
};
const uint32_t kSentCount = sizeof kSent / sizeof kSent[0];

// What the client may hand over that must send nothing. Each names itself
// in the callsign or the stand, so that a leak shows which one it was.
struct Gap {
    const char *check;
    const char *scratchPad;
    Flight flight;
    const char *name;  // in the body as a quoted value, had it been sent
    bool noClientCall;
};
const Gap kGaps[] = {
    {"client gap: null scratch pad", nullptr, {"G1", "EDDF", "EDDF_GND", true, true},
     "G1", false},
    {"client gap: null callsign", "DOK/S/G2", {nullptr, "EDDF", "EDDF_GND", true, true},
     "G2", false},
    {"client gap: blank callsign", "DOK/S/G3", {" \t ", "EDDF", "EDDF_GND", true, true},
     "G3", false},
    {"client gap: null destination", "DOK/S/G4", {"DLH4TK", nullptr, "EDDF_GND", true, true},
     "G4", false},
    {"client gap: a stand of control bytes", "DOK/S/\x01\x02", {"G5", "EDDF", "EDDF_GND", true, true},
     "G5", false},
    {"client gap: no valid flight plan", "DOK/S/G6", {"DLH4TK", "EDDF", "EDDF_GND", true, false},
     "G6", true},
};
const uint32_t kGapCount = sizeof kGaps / sizeof kGaps[0];
const char kTextsStem[] = "ZdbTexts";

void CheckSent(SelfTest &t, PluginCopy &copy) {
    for (uint32_t i = 0; i < kSentCount; ++i) {
        const ReceivedRequest *request = RequestOf(t, copy, i);
        Row(t, copy, kSent[i].check, kSent[i].body, BodyOf(request),
            request && BodyMatches(*request, kSent[i].body));
    }
    ReadCopyLog(t, copy);
    uint32_t line = FindCopyLine(copy, kEdgeLine);
    Row(t, copy, "texts: control bytes as ? in the log, a space kept", kEdgeLine,
        CopyLine(copy, line < copy.lineCount ? line : 1), line < copy.lineCount);
}

void CheckGaps(SelfTest &t, PluginCopy &copy) {
    const Route &route = *copy.route;
    uint32_t arrived = RouteArrived(t.receiver, route);
    // The last event follows the gaps through the same queue: once it has
    // arrived, anything of theirs would have arrived before it.
    bool lastArrived = arrived > kSentCount && SameText(route.marks[arrived - 1], "END");
    for (uint32_t g = 0; g < kGapCount; ++g)
        NothingSentRow(t, copy, kGaps[g].check, kGaps[g].name, lastArrived, copy.clientCalls[g],
                       kGaps[g].noClientCall);
    SeenText count;
    count << arrived << " requests";
    Row(t, copy, "texts: requests in all", "4 requests, the last END", count.text,
        arrived == kSentCount + 1 && lastArrived);
}

}  // namespace

void StartTexts(SelfTest &t) {
    PluginCopy &copy = MakeCopy(t, kTextsStem, "http://@/texts", "/texts");
    LoadCopy(t, copy);
    for (const Sent &sent : kSent) NotifyCopy(copy, *sent.flight, sent.scratchPad);
    for (uint32_t g = 0; g < kGapCount; ++g)
        copy.clientCalls[g] = NotifyCopy(copy, kGaps[g].flight, kGaps[g].scratchPad);
    NotifyCopy(copy, kUsualFlight, "DOK/S/END");
    copy.wantRequests = kSentCount + 1;
}

void CheckTexts(SelfTest &t) {
    PluginCopy &copy = CopyTagged(t, kTextsStem);
    CheckSent(t, copy);
    CheckGaps(t, copy);
    UnloadCopy(copy);
}

}  // namespace host
