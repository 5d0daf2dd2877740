// The plan: every copy of the plug-in after copy 0's load, one row each, in
// the order of the rows they print. A new check is a row here, and a judge
// where its kind of judgement is new.
#include "host/selftest/selftest.h"

namespace host {

namespace {

const uint32_t kPortText = 7;  // the receiver's port, in as many digits, after padding
const uint32_t k = kSelfTestTokenLength;  // the usual token's length

// Told of one event, or of stands one after another.
constexpr Told kSentTold[] = {{&kUsualFlight, "DOK/S/E1", 0, false}, {}};
constexpr Told kSilentTold[] = {{&kUsualFlight, "DOK/S/A31", 0, true}, {}};
constexpr Told kBurstTold[] = {{&kUsualFlight, "DOK/S/B", 255, false}, {}};
constexpr Told kStatusesTold[] = {{&kUsualFlight, "DOK/S/S", 3, false}, {}};
constexpr Told kRetriesTold[] = {{&kUsualFlight, "DOK/S/R", 2, false}, {}};
constexpr Told kTlsTold[] = {{&kUsualFlight, "DOK/S/T", 1, false}, {}};

constexpr CopyRow kPlan[] = {
    {"", CheckDelivery, 0, nullptr, nullptr, nullptr, nullptr, {}, 0, nullptr, 0, nullptr, nullptr},
    {"", CheckUnload, 0, nullptr, nullptr, nullptr, nullptr, {}, 0, nullptr, 0, nullptr, nullptr},
    {"", CheckQueue, 0, "ZdbQueue", "http://@/queue", "/queue", nullptr, {}, k, nullptr, 0,
     nullptr, nullptr},
    {"", JudgeBurst, 1, "ZdbBurst", "http://@/burst", "/burst", kBurstTold, {}, k, nullptr, 0,
     nullptr, nullptr},
    {"", JudgeTexts, 1, "ZdbTexts", "http://@/texts", "/texts", kTextsTold, {}, k, nullptr, 0,
     nullptr, nullptr},
    {"token of 31 characters: disabled", JudgeSilent, 1, "ZdbToken31", "http://@/token31",
     "/token31", kSilentTold, {}, 31, nullptr, 0, kDisabledLine, nullptr},
    {"token of 32 characters: enabled", JudgeBearer, 1, "ZdbToken32", "http://@/token32",
     "/token32", kAirportsTold, {}, 32, kLongAirports, 0, kLoadedLine, nullptr},
    {"airports: 63 characters read, trimmed, upper-cased, cut to 7", JudgeAirports, 1, "",
     nullptr, nullptr, nullptr, {}, 32, kLongAirports, 0, nullptr,
     "\"eddk ;<TAB>abcdefg,, lowi,...,, eddl\": EDDK, ABCDEFG and EDDL sent, EDDF not"},
    // Airports in lower case: the plug-in must upper-case them to match EDDF.
    {"endpoint: authority of 255 characters", JudgeSent, 1, "ZdbAuthority255",
     "http://@/authority255", "/authority255", kSentTold, {}, k, "eddf", 255, kLoadedLine, nullptr},
    {"endpoint: authority of 256 characters", JudgeFirstLine, 1, "ZdbAuthority256",
     "http://@/authority256", nullptr, nullptr, {}, k, nullptr, 256, kDisabledLine, nullptr},
    {"endpoint: longest path", JudgePath, 1, "ZdbLongest", "http://@/longest/*", "/longest",
     kSentTold, {}, 255, nullptr, 0, nullptr, "the path's first 1535 characters"},
    {"token: longest", JudgeBearer, 1, "", nullptr, nullptr, nullptr, {}, 255, nullptr, 0,
     nullptr, nullptr},
    {"module path of 259 characters", JudgeSent, 1, nullptr, "http://@/longname", "/longname",
     kSentTold, {}, k, nullptr, 0, kLoadedLine, nullptr},
    // Loaded and unloaded without an event: nothing is ever sent to these.
    {"endpoint: port 65535", JudgeFirstLine, 1, "ZdbPort65535", "http://127.0.0.1:65535/unused",
     nullptr, nullptr, {}, k, nullptr, 0, kLoadedLine, nullptr},
    {"endpoint: port 65536", JudgeFirstLine, 1, "ZdbPort65536", "http://127.0.0.1:65536/unused",
     nullptr, nullptr, {}, k, nullptr, 0, kDisabledLine, nullptr},
    {"endpoint: port 0", JudgeFirstLine, 1, "ZdbPort0", "http://127.0.0.1:0/unused", nullptr,
     nullptr, {}, k, nullptr, 0, kDisabledLine, nullptr},
    // Both ends of the digits, 0 and 9: a plug-in that took either for a
    // letter would refuse the port of 7 characters, which the receiver's
    // port, drawn by the system, holds only by chance.
    {"endpoint: port in 7 characters", JudgeFirstLine, 1, "ZdbPort7",
     "http://127.0.0.1:0019999/unused", nullptr, nullptr, {}, k, nullptr, 0, kLoadedLine, nullptr},
    {"endpoint: port in 8 characters", JudgeFirstLine, 1, "ZdbPort8",
     "http://127.0.0.1:00019999/unused", nullptr, nullptr, {}, k, nullptr, 0, kDisabledLine,
     nullptr},
    // Short of 65535, so that only the letter can refuse it.
    {"endpoint: a letter in the port", JudgeFirstLine, 1, "ZdbPortLetter",
     "http://127.0.0.1:80a/unused", nullptr, nullptr, {}, k, nullptr, 0, kDisabledLine, nullptr},
    // A host of one character is a host: loaded, though it is never used.
    {"endpoint: a host of one character", JudgeFirstLine, 1, "ZdbHostOne", "https://a/x",
     nullptr, nullptr, {}, k, nullptr, 0, kLoadedLine, nullptr},
    {"", CheckRepeatedLoads, 0, "ZdbReload", "https://@/reload", "/reload", nullptr, {}, k,
     nullptr, 0, nullptr, nullptr},
    // 199, 299; 300, 200; 307, 201: each event's first answer fails, its second delivers.
    {"", JudgeStatuses, 2, "ZdbStatuses", "http://@/statuses", "/statuses", kStatusesTold,
     {199, 299, 300, 200, 307, 201}, k, nullptr, 0, nullptr, nullptr},
    // Four failed attempts abandon R1; R2 is delivered.
    {"", JudgeRetries, 2, "ZdbRetries", "http://@/retries", "/retries", kRetriesTold,
     {503, 503, 503, 503}, k, nullptr, 0, nullptr, nullptr},
    {"", JudgeTls, 2, "ZdbTls", "https://@/tls", "/tls", kTlsTold, {}, k, nullptr, 0, nullptr,
     nullptr},
};

constexpr bool OwnCopy(const CopyRow &row) { return !row.stem && row.group == 0; }
constexpr bool SameCopy(const CopyRow &row) { return row.stem && !row.stem[0]; }
constexpr bool NewCopy(const CopyRow &row) { return !OwnCopy(row) && !SameCopy(row); }

// Copies and routes the plan needs, copy 0's and the route of a copy that
// follows a redirect with them.
constexpr uint32_t Count(bool routes) {
    uint32_t count = routes ? 2 : 1;
    for (const CopyRow &row : kPlan)
        if (NewCopy(row) && (!routes || row.route)) ++count;
    return count;
}
static_assert(Count(false) <= kMaxCopies, "a copy for every row of the plan");
static_assert(Count(true) <= kRoutes, "a route for every copy that posts");

constexpr bool GroupsRise() {
    uint32_t group = 0;
    for (const CopyRow &row : kPlan) {
        if (row.group < group && row.group != 0) return false;
        if (row.group > group) group = row.group;
    }
    return true;
}
static_assert(GroupsRise(), "each group waited for once, before its first row");
static_assert(!SameCopy(kPlan[0]), "a row above whose copy the first row judges");

void AppendEndpoint(text::BoundedText &out, const SelfTest &t, const CopyRow &row) {
    for (const char *p = row.endpoint; *p; ++p) {
        if (*p == '*') {
            for (uint32_t place = 9; place < kLongestPath + 64; ++place)
                out.Append(PathLetter(place));
        } else if (*p == '@' && row.authority) {
            // "127.0.0.1:" is 10 characters, then spaces, then the port.
            out.Append("127.0.0.1:");
            for (uint32_t i = 10 + kPortText; i < row.authority; ++i) out.Append(' ');
            out.AppendDecimal(t.receiver.port, kPortText);
        } else {
            out.Append(*p);
        }
    }
}

PluginCopy &MakeRowCopy(SelfTest &t, const CopyRow &row) {
    char stem[kSelfTestPath];
    text::BoundedText name(stem);
    name.Append(row.stem ? row.stem : "ZdbLongName");
    // <folder>\<stem>.dll: 259 characters.
    while (!row.stem && text::Length(t.files.folder) + 1 + name.length + 4 < kSelfTestPath - 1)
        name.Append('N');
    static char endpoint[2048];
    text::BoundedText out(endpoint);
    AppendEndpoint(out, t, row);
    PluginCopy &copy = MakeCopy(t, stem, endpoint, row.route, row.tokenLength, row.airports);
    copy.group = row.group;
    for (uint32_t i = 0; copy.route != &t.noRoute && i < kRouteScript; ++i)
        copy.route->statuses[i] = row.answers[i];
    return copy;
}

// What a sound plug-in does with the row's events: a Captured line each,
// then its attempts as the receiver answers them, each with a line, up to
// four, the fourth failed one followed by "Event abandoned". Over https the
// receiver only sees handshakes: every attempt fails and none arrives.
void Expect(PluginCopy &copy, const CopyRow &row) {
    bool tls = StartsWith(row.endpoint, "https:");
    uint32_t requests = 0, lines = 1;
    for (const Told *told = row.told; told && told->flight; ++told) {
        for (uint32_t n = 0; !told->dropped && n < (told->stands ? told->stands : 1); ++n) {
            ++lines;
            for (uint32_t attempt = 1; attempt <= 4; ++attempt) {
                uint32_t status = 0;  // over https: none
                if (!tls && requests < kRouteScript && row.answers[requests])
                    status = row.answers[requests];
                else if (!tls)
                    status = 201;
                requests += tls ? 0 : 1;
                ++lines;
                if (status >= 200 && status <= 299) break;
                if (attempt == 4) ++lines;
            }
        }
    }
    copy.wantRequests = requests;
    copy.wantLines = lines;
}

void Tell(PluginCopy &copy, const CopyRow &row) {
    uint32_t i = 0;
    for (const Told *told = row.told; told && told->flight; ++told, ++i) {
        if (!told->stands) {
            copy.clientCalls[i] = NotifyCopy(copy, *told->flight, told->scratchPad);
            continue;
        }
        for (uint32_t n = 1; n <= told->stands; ++n) {
            SeenText pad;
            pad << told->scratchPad << n;
            NotifyCopy(copy, *told->flight, pad.text);
        }
    }
}

}  // namespace

void RunPlan(SelfTest &t) {
    t.redirected = AddRoute(t.receiver, "/redirected");
    if (!t.redirected) t.redirected = &t.noRoute;
    const uint32_t rows = sizeof kPlan / sizeof kPlan[0];
    PluginCopy *copies[rows];
    for (uint32_t i = 0; i < rows; ++i) {
        const CopyRow &row = kPlan[i];
        copies[i] = OwnCopy(row) ? t.own : SameCopy(row) ? copies[i - 1] : &MakeRowCopy(t, row);
        if (!NewCopy(row) || row.group == 0) continue;  // a script loads its copy itself
        LoadCopy(t, *copies[i]);
        Tell(*copies[i], row);
        Expect(*copies[i], row);
    }
    uint32_t waited = 0;
    for (uint32_t i = 0; i < rows; ++i) {
        if (kPlan[i].group > waited) WaitForGroup(t, waited = kPlan[i].group);
        kPlan[i].judge(t, *copies[i], kPlan[i]);
        if (!OwnCopy(kPlan[i]) && (i + 1 == rows || !SameCopy(kPlan[i + 1])))
            UnloadCopy(*copies[i]);
    }
}

}  // namespace host
