// The settings a controller edits, at their edges: one copy each, all
// loaded side by side, judged by their log's first line and what they send.
#include "host/selftest/selftest.h"

namespace host {

namespace {

const uint32_t kPortText = 7;
const uint32_t kLongestPath = 1535;

// What the row judges beyond the log's first line.
enum class Judge {
    FirstLine,  // the log's first line alone
    Sent,       // ... and one request at the copy's route
    Silent,     // ... the only line, and no call back into the client for an event
    Bearer,     // ... and the Authorization header the token gives
    Airports,   // which destinations were sent
    Path,       // the first 1535 characters of the path arrived
};

struct SettingsCase {
    const char *check;
    // The copy's name; null: the longest the folder allows (a module path
    // of 259 characters); empty: the previous row's copy.
    const char *stem;
    // The Endpoint value. '@' is 127.0.0.1:<the receiver's port>, after
    // `spaces` spaces and in 7 digits when there are any; '*' a path
    // longer than the plug-in keeps.
    const char *endpoint;
    uint32_t spaces;
    uint32_t tokenLength;
    const char *airports;  // null: the usual EDDF,EDDM
    const char *route;     // where its requests arrive, or null: none are sent
    const char *firstLine; // null: not judged
    Judge judge;
    const char *expected;  // null: the first line
};

// Not quoted: Wine's GetPrivateProfileString cuts the last character of a
// quoted value that fills the buffer.
const char kAirports[] = "eddk ;\tabcdefg,, lowi,lows,loww,lszh,lfsb,lkpr,epwa,lhbp,, eddl";
static_assert(sizeof kAirports - 1 == 63, "the longest Airports value the plug-in keeps");

const SettingsCase kCases[] = {
    {"token of 31 characters: disabled", "ZdbToken31", "http://@/token31", 0, 31, nullptr,
     "/token31", kDisabledLine, Judge::Silent,
     "Bridge disabled: Endpoint/Token missing or invalid; log lines: 1, client calls: 0"},
    {"token of 32 characters: enabled", "ZdbToken32", "http://@/token32", 0, 32, kAirports,
     "/token32", kLoadedLine, Judge::Bearer, nullptr},
    {"airports: 63 characters read, trimmed, upper-cased, cut to 7", "", nullptr, 0, 0, nullptr,
     nullptr, nullptr, Judge::Airports,
     "\"eddk ;<TAB>abcdefg,, lowi,...,, eddl\": EDDK, ABCDEFG and EDDL sent, EDDF not"},
    // "127.0.0.1:" is 10 characters and the port text 7.
    {"endpoint: authority of 255 characters", "ZdbAuthority255", "http://@/authority255",
     255 - 10 - kPortText, kSelfTestTokenLength, nullptr, "/authority255", kLoadedLine,
     Judge::Sent, "Bridge loaded; event worker started; requests at /authority255: 1"},
    {"endpoint: authority of 256 characters", "ZdbAuthority256", "http://@/authority256",
     256 - 10 - kPortText, kSelfTestTokenLength, nullptr, nullptr, kDisabledLine,
     Judge::FirstLine, nullptr},
    {"endpoint: longest path", "ZdbLongest", "http://@/longest/*", 0, 255, nullptr, "/longest",
     nullptr, Judge::Path, "the path's first 1535 characters"},
    {"token: longest", "", nullptr, 0, 255, nullptr, nullptr, nullptr, Judge::Bearer, nullptr},
    {"module path of 259 characters", nullptr, "http://@/longname", 0, kSelfTestTokenLength,
     nullptr, "/longname", kLoadedLine, Judge::Sent,
     "Bridge loaded; event worker started; requests at /longname: 1"},
    // Loaded and unloaded without an event: nothing is ever sent to these.
    {"endpoint: port 65535", "ZdbPort65535", "http://127.0.0.1:65535/unused", 0,
     kSelfTestTokenLength, nullptr, nullptr, kLoadedLine, Judge::FirstLine, nullptr},
    {"endpoint: port 65536", "ZdbPort65536", "http://127.0.0.1:65536/unused", 0,
     kSelfTestTokenLength, nullptr, nullptr, kDisabledLine, Judge::FirstLine, nullptr},
    {"endpoint: port 0", "ZdbPort0", "http://127.0.0.1:0/unused", 0, kSelfTestTokenLength,
     nullptr, nullptr, kDisabledLine, Judge::FirstLine, nullptr},
    // Both ends of the digits, 0 and 9: a plug-in that took either for a
    // letter would refuse the port of 7 characters, which the receiver's
    // port, drawn by the system, holds only by chance.
    {"endpoint: port in 7 characters", "ZdbPort7", "http://127.0.0.1:0019999/unused", 0,
     kSelfTestTokenLength, nullptr, nullptr, kLoadedLine, Judge::FirstLine, nullptr},
    {"endpoint: port in 8 characters", "ZdbPort8", "http://127.0.0.1:00019999/unused", 0,
     kSelfTestTokenLength, nullptr, nullptr, kDisabledLine, Judge::FirstLine, nullptr},
    // Short of 65535, so that only the letter can refuse it.
    {"endpoint: a letter in the port", "ZdbPortLetter", "http://127.0.0.1:80a/unused", 0,
     kSelfTestTokenLength, nullptr, nullptr, kDisabledLine, Judge::FirstLine, nullptr},
    // A host of one character is a host: loaded, though it is never used.
    {"endpoint: a host of one character", "ZdbHostOne", "https://a/x", 0, kSelfTestTokenLength,
     nullptr, nullptr, kLoadedLine, Judge::FirstLine, nullptr},
};

// Where each flight of the Airports row goes, and whether the list lets it
// through; its last code must arrive whole.
struct Destination {
    const char *destination;
    const char *scratchPad;
    const char *sentAs;  // the body's destination, or null: not sent
};
const Destination kDestinations[] = {
    {"eddk", "DOK/S/K1", "\"destination\":\"EDDK\",\"stand\":\"K1\""},
    {"abcdefghij", "DOK/S/K2", "\"destination\":\"ABCDEFG\",\"stand\":\"K2\""},
    {"EDDF", "DOK/S/K3", nullptr},  // listed by default, not by this list
    {"EDDL", "DOK/S/K4", "\"destination\":\"EDDL\",\"stand\":\"K4\""},
    {"EDDK", "DOK/S/END", "\"destination\":\"EDDK\",\"stand\":\"END\""},
};
const uint32_t kDestinationsSent = 4;  // those with a body

// The longest copy's endpoint path, longer than kept: "/longest/", then
// each character the letter of its place.
char PathLetter(uint32_t place) {
    return place < 9 ? "/longest/"[place] : static_cast<char>('a' + place % 26);
}

void AppendEndpoint(text::BoundedText &out, const SelfTest &t, const SettingsCase &c) {
    for (const char *p = c.endpoint; *p; ++p) {
        if (*p == '*') {
            for (uint32_t place = 9; place < kLongestPath + 64; ++place)
                out.Append(PathLetter(place));
        } else if (*p == '@' && c.spaces) {
            out.Append("127.0.0.1:");
            for (uint32_t i = 0; i < c.spaces; ++i) out.Append(' ');
            out.AppendDecimal(t.receiver.port, kPortText);
        } else {
            out.Append(*p);
        }
    }
}

PluginCopy &MakeCaseCopy(SelfTest &t, const SettingsCase &c) {
    char stem[kSelfTestPath];
    text::BoundedText name(stem);
    name.Append(c.stem ? c.stem : "ZdbLongName");
    // <folder>\<stem>.dll: 259 characters.
    while (!c.stem && text::Length(t.files.folder) + 1 + name.length + 4 < kSelfTestPath - 1)
        name.Append('N');
    static char endpoint[2048];
    text::BoundedText out(endpoint);
    AppendEndpoint(out, t, c);
    PluginCopy &copy = MakeCopy(t, stem, endpoint, c.route, c.tokenLength, c.airports, &c);
    LoadCopy(t, copy);
    return copy;
}

// The events each copy with a route is told of; how many requests must
// arrive.
uint32_t Notify(const SettingsCase &c, PluginCopy &copy) {
    if (!c.route) return 0;
    if (c.judge == Judge::Silent) {
        copy.clientCalls[0] = NotifyCopy(copy, kUsualFlight, "DOK/S/A31");
        return 0;
    }
    if (!c.airports) {
        NotifyCopy(copy, kUsualFlight, "DOK/S/E1");
        return 1;
    }
    for (const Destination &d : kDestinations) {
        Flight flight = kUsualFlight;
        flight.destination = d.destination;
        NotifyCopy(copy, flight, d.scratchPad);
    }
    return kDestinationsSent;
}

bool JudgeAirports(SelfTest &t, const PluginCopy &copy, uint32_t arrived, SeenText &seen) {
    uint32_t want = 0;
    for (const Destination &d : kDestinations) {
        if (!d.sentAs) continue;
        const ReceivedRequest *request = RequestOf(t, copy, want);
        if (!request || !BodyHas(*request, d.sentAs))
            return seen << "request " << want + 1 << ": " << BodyOf(request), false;
        ++want;
    }
    if (arrived != want) return seen << arrived << " requests, " << want << " expected", false;
    return seen << "EDDK, ABCDEFG and EDDL sent, EDDF not", true;
}

bool JudgePath(const ReceivedRequest *request, SeenText &seen) {
    uint32_t length = request ? text::Length(request->path) : 0;
    bool same = length == kLongestPath;
    for (uint32_t i = 0; same && i < kLongestPath; ++i) same = request->path[i] == PathLetter(i);
    if (!request) return seen << "nothing arrived", false;
    seen << length << " characters, " << (same ? "the first ones" : "not the first ones");
    return same;
}

bool JudgeBearer(const SelfTest &t, const SettingsCase &c, const ReceivedRequest *request,
                 SeenText &expected, SeenText &seen) {
    SeenText bearer;
    bearer << "Bearer ";
    AppendToken(bearer.out, t, c.tokenLength);
    bool same = request && SameText(request->authorization, bearer.text);
    if (c.firstLine) {
        expected << c.firstLine << "; " << bearer.text;
        seen << (request ? request->authorization : "nothing sent");
        return same;
    }
    expected << "\"Bearer \" and the " << c.tokenLength << " characters: " << bearer.out.length
             << " characters";
    if (!request) return seen << "nothing arrived", false;
    seen << text::Length(request->authorization) << " characters, "
         << (same ? "the same" : "not the same");
    return same;
}

void CheckCase(SelfTest &t, const SettingsCase &c, PluginCopy &copy) {
    ReadCopyLog(t, copy);
    uint32_t arrived = RouteArrived(t.receiver, *copy.route);
    const ReceivedRequest *first = RequestOf(t, copy, 0);
    SeenText expected, seen;
    bool ok = !c.firstLine || SameText(CopyLine(copy, 0), c.firstLine);
    if (c.firstLine) seen << CopyLine(copy, 0);
    switch (c.judge) {
    case Judge::FirstLine: break;
    case Judge::Sent:
        seen << "; requests at " << c.route << ": " << arrived;
        ok = ok && arrived == 1;
        break;
    case Judge::Silent:
        seen << "; log lines: " << copy.lineCount << ", client calls: " << copy.clientCalls[0];
        ok = ok && copy.lineCount == 1 && copy.clientCalls[0] == 0 && arrived == 0;
        break;
    case Judge::Bearer:
        if (c.firstLine) seen << "; ";
        ok = JudgeBearer(t, c, first, expected, seen) && ok;
        break;
    case Judge::Airports: ok = JudgeAirports(t, copy, arrived, seen) && ok; break;
    case Judge::Path: ok = JudgePath(first, seen) && ok; break;
    }
    if (!expected.out.length) expected << (c.expected ? c.expected : c.firstLine);
    Row(t, copy, c.check, expected.text, seen.text, ok);
}

}  // namespace

void StartSettings(SelfTest &t) {
    for (const SettingsCase &c : kCases) {
        if (c.stem && !c.stem[0]) continue;  // the previous row's copy
        PluginCopy &copy = MakeCaseCopy(t, c);
        copy.wantRequests = Notify(c, copy);
    }
}

void CheckSettings(SelfTest &t) {
    const SettingsCase *own = kCases;
    for (const SettingsCase &c : kCases) {
        if (!c.stem || c.stem[0]) own = &c;
        CheckCase(t, c, CopyTagged(t, own));
    }
    for (const SettingsCase &c : kCases) UnloadCopy(CopyTagged(t, &c));
}

}  // namespace host
