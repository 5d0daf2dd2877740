// The settings a controller edits, at their edges: one copy each, all
// loaded side by side (plan.cpp), judged by their log's first line and what
// they send.
#include "host/selftest/selftest.h"

namespace host {

namespace {

// Where each flight of the Airports row goes; its last code must arrive whole.
const Flight kToEddk = {"DLH4TK", "eddk", "EDDF_GND", true, true};
const Flight kToTenLetters = {"DLH4TK", "abcdefghij", "EDDF_GND", true, true};
const Flight kToEddl = {"DLH4TK", "EDDL", "EDDF_GND", true, true};
const Flight kToUpperEddk = {"DLH4TK", "EDDK", "EDDF_GND", true, true};

// The row: the log's first line, when the row names one, and then `seen`.
void SettingsRow(SelfTest &t, PluginCopy &copy, const CopyRow &row, SeenText &expected,
                 SeenText &seen, bool ok) {
    ReadCopyLog(t, copy);
    SeenText shown;
    if (row.firstLine) shown << CopyLine(copy, 0) << (seen.out.length ? "; " : "");
    shown << seen.text;
    ok = ok && (!row.firstLine || SameText(CopyLine(copy, 0), row.firstLine));
    if (!expected.out.length) expected << (row.expected ? row.expected : row.firstLine);
    Row(t, copy, row.check, expected.text, shown.text, ok);
}

}  // namespace

extern constexpr Told kAirportsTold[] = {
    // Sent: the part of the body that shows where to.
    Sent(kToEddk, "DOK/S/K1", nullptr, "\"destination\":\"EDDK\",\"stand\":\"K1\""),
    Sent(kToTenLetters, "DOK/S/K2", nullptr, "\"destination\":\"ABCDEFG\",\"stand\":\"K2\""),
    Dropped(kUsualFlight, "DOK/S/K3"),  // listed by default, not by this list
    Sent(kToEddl, "DOK/S/K4", nullptr, "\"destination\":\"EDDL\",\"stand\":\"K4\""),
    Sent(kToUpperEddk, "DOK/S/END", nullptr, "\"destination\":\"EDDK\",\"stand\":\"END\""),
    {},
};
static_assert(sizeof kAirportsTold / sizeof kAirportsTold[0] - 1 <= kCopyCalls, "room for each");

char PathLetter(uint32_t place) {
    return place < 9 ? "/longest/"[place] : static_cast<char>('a' + place % 26);
}

void JudgeFirstLine(SelfTest &t, PluginCopy &copy, const CopyRow &row) {
    SeenText expected, seen;
    SettingsRow(t, copy, row, expected, seen, true);
}

void JudgeSent(SelfTest &t, PluginCopy &copy, const CopyRow &row) {
    uint32_t arrived = RouteArrived(t.receiver, *copy.route);
    SeenText expected, seen;
    expected << row.firstLine << "; requests at " << copy.route->path << ": 1";
    seen << "requests at " << copy.route->path << ": " << arrived;
    SettingsRow(t, copy, row, expected, seen, arrived == 1);
}

// Disabled: the only line, and no call back into the client for an event.
void JudgeSilent(SelfTest &t, PluginCopy &copy, const CopyRow &row) {
    ReadCopyLog(t, copy);
    uint32_t arrived = RouteArrived(t.receiver, *copy.route);
    SeenText expected, seen;
    expected << row.firstLine << "; log lines: 1, client calls: 0";
    seen << "log lines: " << copy.lineCount << ", client calls: " << copy.clientCalls[0];
    SettingsRow(t, copy, row, expected, seen,
                copy.lineCount == 1 && copy.clientCalls[0] == 0 && arrived == 0);
}

void JudgeBearer(SelfTest &t, PluginCopy &copy, const CopyRow &row) {
    const ReceivedRequest *request = RequestOf(t, copy, 0);
    SeenText bearer, expected, seen;
    bearer << "Bearer ";
    AppendToken(bearer.out, t, copy.tokenLength);
    bool same = request && SameText(request->authorization, bearer.text);
    if (row.firstLine) {
        expected << row.firstLine << "; " << bearer.text;
        seen << (request ? request->authorization : "nothing sent");
    } else {
        expected << "\"Bearer \" and the " << copy.tokenLength << " characters: "
                 << bearer.out.length << " characters";
        if (request)
            seen << text::Length(request->authorization) << " characters, "
                 << (same ? "the same" : "not the same");
        else
            seen << "nothing arrived";
    }
    SettingsRow(t, copy, row, expected, seen, same);
}

void JudgeAirports(SelfTest &t, PluginCopy &copy, const CopyRow &row) {
    uint32_t arrived = RouteArrived(t.receiver, *copy.route);
    SeenText expected, seen;
    uint32_t want = 0;
    for (const Told *told = kAirportsTold; told->flight; ++told) {
        if (told->dropped) continue;
        const ReceivedRequest *request = RequestOf(t, copy, want++);
        if (!request || !BodyHas(*request, told->sentAs)) {
            seen << "request " << want << ": " << BodyOf(request);
            return SettingsRow(t, copy, row, expected, seen, false);
        }
    }
    if (arrived != want)
        seen << arrived << " requests, " << want << " expected";
    else
        seen << "EDDK, ABCDEFG and EDDL sent, EDDF not";
    SettingsRow(t, copy, row, expected, seen, arrived == want);
}

void JudgePath(SelfTest &t, PluginCopy &copy, const CopyRow &row) {
    const ReceivedRequest *request = RequestOf(t, copy, 0);
    uint32_t length = request ? text::Length(request->path) : 0;
    bool same = length == kLongestPath;
    for (uint32_t i = 0; same && i < kLongestPath; ++i) same = request->path[i] == PathLetter(i);
    SeenText expected, seen;
    if (request)
        seen << length << " characters, " << (same ? "the first ones" : "not the first ones");
    else
        seen << "nothing arrived";
    SettingsRow(t, copy, row, expected, seen, same);
}

}  // namespace host
