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
const char kEdgeLine[] = "Captured assign DLH4TK EDDF A?B?C?D?E?F?G?H?I?J\"K\\L/M?N O\xc3\xa9";

const Flight kLongFlight = {"abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHI", "EDDM", nullptr,
                            true, true};
const Flight kNoController = {"DLH4TK", "EDDF", "EDDF_GND", false, true};
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
    Sent(kEdgeFlight, kEdgePad, "texts: trimmed, control bytes dropped or escaped",
         "{\"action\":\"assign\",\"callsign\":\"DLH4TK\","
         "\"observedAt\":\"####-##-##T##:##:##.###Z\",\"controller\":null,\"destination\":\"EDDF\","
         "\"stand\":\"A\\bB\\tC\\nD\\fE\\rFGHIJ\\\"K\\\\L/M\x7fN O\xc3\xa9\"}"),
    // A callsign of 45 characters keeps 39; a stand of 38 letters, a space and 11 letters
    // keeps the 38 letters and the space: trimmed first, cut after.
    Sent(kLongFlight, "DOK/S/abcdefghijklmnopqrstuvwxyzabcdefghijkl zzzzzzzzzzz",
         "texts: longest callsign and stand",
         "{\"action\":\"assign\",\"callsign\":\"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789ABC\","
         "\"observedAt\":\"####-##-##T##:##:##.###Z\",\"controller\":null,\"destination\":\"EDDM\","
         "\"stand\":\"ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKL \"}"),
    Sent(kNoController, "DOK/M/", "texts: no valid controller gives null",
         "{\"action\":\"manual_cancel\",\"callsign\":\"DLH4TK\","
         "\"observedAt\":\"####-##-##T##:##:##.###Z\",\"controller\":null}"),
    Dropped(kG1, nullptr, "client gap: null scratch pad", "G1"),
    Dropped(kNullCallsign, "DOK/S/G2", "client gap: null callsign", "G2"),
    Dropped(kBlankCallsign, "DOK/S/G3", "client gap: blank callsign", "G3"),
    Dropped(kNullDestination, "DOK/S/G4", "client gap: null destination", "G4"),
    Dropped(kG5, "DOK/S/\x01\x02", "client gap: a stand of control bytes", "G5"),
    Dropped(kNoPlan, "DOK/S/G6", "client gap: no valid flight plan", "G6", true),
    Sent(kUsualFlight, "DOK/S/END"),
    {},
};
static_assert(sizeof kTextsTold / sizeof kTextsTold[0] - 1 <= kCopyCalls, "room for each");

void JudgeTexts(SelfTest &t, PluginCopy &copy, const CopyRow &) {
    SentRows(t, copy, kTextsTold);
    ReadCopyLog(t, copy);
    uint32_t line = FindCopyLine(copy, kEdgeLine);
    Row(t, copy, "texts: control bytes as ? in the log, a space kept", kEdgeLine,
        CopyLine(copy, line < copy.lineCount ? line : 1), line < copy.lineCount);
    const Route &route = *copy.route;
    uint32_t arrived = RouteArrived(t.receiver, route);
    // The last event follows the gaps through the same queue: once it has
    // arrived, anything of theirs would have arrived before it.
    bool lastArrived = arrived >= copy.wantRequests && SameText(route.marks[arrived - 1], "END");
    DroppedRows(t, copy, kTextsTold, lastArrived);
    SeenText count;
    count << arrived << " requests";
    Row(t, copy, "texts: requests in all", "4 requests, the last END", count.text,
        arrived == copy.wantRequests && lastArrived);
}

}  // namespace host
