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

const Flight kNullCallsign = {nullptr, "EDDF", "EDDF_GND", true, true};
const Flight kBlankCallsign = {" \t ", "EDDF", "EDDF_GND", true, true};
const Flight kNullDestination = {"DLH4TK", nullptr, "EDDF_GND", true, true};
const Flight kNoPlan = {"DLH4TK", "EDDF", "EDDF_GND", true, false};
const Flight kG1 = {"G1", "EDDF", "EDDF_GND", true, true};
const Flight kG5 = {"G5", "EDDF", "EDDF_GND", true, true};

}  // namespace

// Three that are sent, the client's gaps, which must send nothing, each
// named in its callsign or stand so that a leak shows which one it was, and
// a last event through the same queue.
extern constexpr Told kTextsTold[] = {
    {&kEdgeFlight, kEdgePad, 0, false},
    {&kLongFlight, kLongPad, 0, false},
    {&kNoController, "DOK/M/", 0, false},
    {&kG1, nullptr, 0, true},
    {&kNullCallsign, "DOK/S/G2", 0, true},
    {&kBlankCallsign, "DOK/S/G3", 0, true},
    {&kNullDestination, "DOK/S/G4", 0, true},
    {&kG5, "DOK/S/\x01\x02", 0, true},
    {&kNoPlan, "DOK/S/G6", 0, true},
    {&kUsualFlight, "DOK/S/END", 0, false},
    {},
};
static_assert(sizeof kTextsTold / sizeof kTextsTold[0] - 1 <= kCopyCalls, "room for each");

namespace {

// What the first three must arrive as, in order.
const char *const kSent[][2] = {
    {"texts: trimmed, control bytes dropped or escaped", kEdgeBody},
    {"texts: longest callsign and stand", kLongBody},
    {"texts: no valid controller gives null", kNoControllerBody},
};
const uint32_t kSentCount = sizeof kSent / sizeof kSent[0];

// The gaps, after them: the name a leak would carry as a quoted value, and
// whether the plug-in must not even call back into the client.
struct Gap {
    const char *check;
    const char *name;
    bool noClientCall;
};
const Gap kGaps[] = {
    {"client gap: null scratch pad", "G1", false},
    {"client gap: null callsign", "G2", false},
    {"client gap: blank callsign", "G3", false},
    {"client gap: null destination", "G4", false},
    {"client gap: a stand of control bytes", "G5", false},
    {"client gap: no valid flight plan", "G6", true},
};
const uint32_t kGapCount = sizeof kGaps / sizeof kGaps[0];

void CheckSent(SelfTest &t, PluginCopy &copy) {
    for (uint32_t i = 0; i < kSentCount; ++i) {
        const ReceivedRequest *request = RequestOf(t, copy, i);
        Row(t, copy, kSent[i][0], kSent[i][1], BodyOf(request),
            request && BodyMatches(*request, kSent[i][1]));
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
        NothingSentRow(t, copy, kGaps[g].check, kGaps[g].name, lastArrived,
                       copy.clientCalls[kSentCount + g], kGaps[g].noClientCall);
    SeenText count;
    count << arrived << " requests";
    Row(t, copy, "texts: requests in all", "4 requests, the last END", count.text,
        arrived == kSentCount + 1 && lastArrived);
}

}  // namespace

void JudgeTexts(SelfTest &t, PluginCopy &copy, const CopyRow &) {
    CheckSent(t, copy);
    CheckGaps(t, copy);
}

}  // namespace host
