// The settings a controller edits, each on a copy of its own: the token's
// shortest length (31 characters disable the plug-in, 32 enable it) and the
// Airports list, read whole at its longest, trimmed and upper-cased, its
// codes cut to 7.
#include "host/selftest/selftest.h"

namespace host {

namespace {

PluginCopy *TokenCopy(SelfTest &t, const char *stem, const char *path, uint32_t tokenLength,
                      const char *airports) {
    static char lines[512];
    text::BoundedText out(lines);
    AppendSettings(out, t, "http", path, tokenLength);
    if (airports) {
        out.Append("Airports=");
        out.Append(airports);
        out.Append("\r\n");
    }
    PluginCopy &copy = MakeCopy(t, stem, lines, path);
    LoadCopy(t, copy);
    return &copy;
}


// Where each flight goes, and whether the list lets it through. The list is
// as long as the plug-in reads, and its last code must arrive whole. It is
// not quoted: Wine's GetPrivateProfileString cuts the last character of a
// quoted value that fills the buffer.
struct Destination {
    const char *destination;
    const char *scratchPad;
    const char *sentAs;  // the body's destination, or null: not sent
};
const char kAirports[] = "eddk ;\tabcdefg,, lowi,lows,loww,lszh,lfsb,lkpr,epwa,lhbp,, eddl";
static_assert(sizeof kAirports - 1 == 63, "the longest Airports value the plug-in keeps");
const Destination kDestinations[] = {
    {"eddk", "DOK/S/K1", "\"destination\":\"EDDK\",\"stand\":\"K1\""},
    {"abcdefghij", "DOK/S/K2", "\"destination\":\"ABCDEFG\",\"stand\":\"K2\""},
    {"EDDF", "DOK/S/K3", nullptr},  // listed by default, not by this list
    {"EDDL", "DOK/S/K4", "\"destination\":\"EDDL\",\"stand\":\"K4\""},
    {"EDDK", "DOK/S/END", "\"destination\":\"EDDK\",\"stand\":\"END\""},
};
const uint32_t kDestinationsSent = 4;  // those with a body

void CheckToken31(SelfTest &t, PluginCopy &copy) {
    ReadCopyLog(t, copy);
    uint32_t calls = NotifyCopy(copy, kUsualFlight, "DOK/S/A31");
    ReadCopyLog(t, copy);
    SeenText seen;
    seen << CopyLine(copy, 0) << "; log lines: " << copy.lineCount << ", client calls: " << calls;
    Row(t, copy, "token of 31 characters: disabled",
        "Bridge disabled: Endpoint/Token missing or invalid; log lines: 1, client calls: 0", seen.text,
        SameText(CopyLine(copy, 0), kDisabledLine) && copy.lineCount == 1 && calls == 0);
}

void CheckToken32(SelfTest &t, PluginCopy &copy) {
    ReadCopyLog(t, copy);
    char bearer[64];
    text::BoundedText expected(bearer);
    expected.Append("Bearer ");
    AppendToken(expected, t, 32);
    const Route &route = *copy.route;
    uint32_t arrived = RouteArrived(t.receiver, route);
    SeenText seen;
    seen << CopyLine(copy, 0) << "; " << (arrived ? route.records[0].authorization : "nothing sent");
    SeenText wanted;
    wanted << kLoadedLine << "; " << bearer;
    Row(t, copy, "token of 32 characters: enabled", wanted.text, seen.text,
        SameText(CopyLine(copy, 0), kLoadedLine) && arrived > 0 &&
            SameText(route.records[0].authorization, bearer));
}

void CheckAirports(SelfTest &t, PluginCopy &copy) {
    const Route &route = *copy.route;
    uint32_t arrived = RouteArrived(t.receiver, route);
    SeenText seen;
    uint32_t want = 0;
    bool ok = true;
    for (const Destination &d : kDestinations) {
        if (!d.sentAs) continue;
        bool sent = want < arrived && want < kRouteRecords && BodyHas(route.records[want], d.sentAs);
        if (!sent && ok) {
            seen << "request " << want + 1 << ": "
                 << (want < arrived ? route.records[want].body : "nothing arrived");
            ok = false;
        }
        ++want;
    }
    if (ok && arrived != want) {
        seen << arrived << " requests, " << want << " expected";
        ok = false;
    }
    if (ok) seen << "EDDK, ABCDEFG and EDDL sent, EDDF not";
    Row(t, copy, "airports: 63 characters read, trimmed, upper-cased, cut to 7",
        "\"eddk ;<TAB>abcdefg,, lowi,...,, eddl\": EDDK, ABCDEFG and EDDL sent, EDDF not",
        seen.text, ok);
}

}  // namespace

void CheckSettingsCopies(SelfTest &t) {
    PluginCopy *token31 = TokenCopy(t, "ZdbToken31", "/token31", 31, nullptr);
    PluginCopy *token32 = TokenCopy(t, "ZdbToken32", "/token32", 32, kAirports);
    for (const Destination &d : kDestinations) {
            Flight flight = kUsualFlight;
            flight.destination = d.destination;
            NotifyCopy(*token32, flight, d.scratchPad);
        }
    CheckToken31(t, *token31);
    WaitFor(t, *token32, kDestinationsSent);
    CheckToken32(t, *token32);
    CheckAirports(t, *token32);
    UnloadCopy(*token31);
    UnloadCopy(*token32);
}

}  // namespace host
