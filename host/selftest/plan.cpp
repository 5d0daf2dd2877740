// The plan: every copy of the plug-in after copy 0's load, one row each, in
// the order of the rows they print. A new check is a row here, and a judge
// where its kind of judgement is new.
#include "host/selftest/selftest.h"

namespace host {

namespace {

// Told of one event, or of stands one after another.
constexpr Told kSentTold[] = {Sent(kUsualFlight, "DOK/S/E1"), {}};
constexpr Told kSilentTold[] = {Dropped(kUsualFlight, "DOK/S/A31"), {}};
constexpr Told kBurstTold[] = {Stands("DOK/S/B", 255), {}};
constexpr Told kStatusesTold[] = {Stands("DOK/S/S", 3), {}};
constexpr Told kRetriesTold[] = {Stands("DOK/S/R", 2), {}};
constexpr Told kTlsTold[] = {Stands("DOK/S/T", 1), {}};
// Not quoted: Wine's GetPrivateProfileString cuts the last character of a
// quoted value that fills the buffer.
constexpr char kLongAirports[] = "eddk ;\tabcdefg,, lowi,lows,loww,lszh,lfsb,lkpr,epwa,lhbp,, eddl";
static_assert(sizeof kLongAirports - 1 == 63, "the longest Airports value the plug-in keeps");

// A copy of its own, driven step by step where the row stands.
constexpr CopyRow Script(CopyJudge *judge, const char *stem, const char *endpoint) {
    return {"", judge, 0, stem, endpoint, nullptr, {}, kSelfTestTokenLength,
            nullptr, 0, nullptr, nullptr};
}
// Copy 0, driven step by step where the row stands.
constexpr CopyRow Step(CopyJudge *judge) { return Script(judge, nullptr, nullptr); }
// A copy started beside the others, judged once its group is in.
constexpr CopyRow Copy(const char *check, CopyJudge *judge, const char *stem,
                       const char *endpoint) {
    return Script(judge, stem, endpoint).Set(&CopyRow::check, check).Group(1);
}
// A copy that is only loaded and unloaded: judged by its log's first line.
constexpr CopyRow LoadsOnly(const char *check, const char *stem, const char *endpoint,
                            const char *firstLine) {
    return Copy(check, JudgeFirstLine, stem, endpoint).FirstLine(firstLine);
}
// A further row of the copy above, judged when the copy's group is in.
constexpr CopyRow Again(const char *check, CopyJudge *judge) {
    return Script(judge, "", nullptr).Set(&CopyRow::check, check);
}

}  // namespace

// Copy 0, before the plan: its fifth request, the retried event's first
// attempt, is answered 503.
extern constexpr CopyRow kOwnCopy =
    Script(nullptr, "ZeltanDokBridge", "http://@/selftest").Answers({0, 0, 0, 0, 503});

namespace {

constexpr CopyRow kPlan[] = {
    Step(CheckDelivery),
    Step(CheckUnload),
    Script(CheckQueue, "ZdbQueue", "http://@/queue"),
    Copy("", JudgeBurst, "ZdbBurst", "http://@/burst").Tells(kBurstTold),
    Copy("", JudgeTexts, "ZdbTexts", "http://@/texts").Tells(kTextsTold),
    Copy("token of 31 characters: disabled", JudgeSilent, "ZdbToken31", "http://@/token31")
        .Tells(kSilentTold).Token(31).FirstLine(kDisabledLine),
    Copy("token of 32 characters: enabled", JudgeBearer, "ZdbToken32", "http://@/token32")
        .Tells(kAirportsTold).Token(32).Airports(kLongAirports).FirstLine(kLoadedLine),
    Again("airports: 63 characters read, trimmed, upper-cased, cut to 7", JudgeAirports)
        .Shows("\"eddk ;<TAB>abcdefg,, lowi,...,, eddl\": EDDK, ABCDEFG and EDDL sent, EDDF not"),
    // Airports in lower case: the plug-in must upper-case them to match EDDF.
    Copy("endpoint: authority of 255 characters", JudgeSent, "ZdbAuthority255",
         "http://@/authority255")
        .Tells(kSentTold).Airports("eddf").Authority(255).FirstLine(kLoadedLine),
    LoadsOnly("endpoint: authority of 256 characters", "ZdbAuthority256",
              "http://@/authority256", kDisabledLine)
        .Authority(256),
    Copy("endpoint: longest path", JudgePath, "ZdbLongest", "http://@/longest/*")
        .Tells(kSentTold).Token(255).Shows("the path's first 1535 characters"),
    Again("token: longest", JudgeBearer),
    Copy("module path of 259 characters", JudgeSent, nullptr, "http://@/longname")
        .Tells(kSentTold).FirstLine(kLoadedLine),
    // Loaded and unloaded without an event: nothing is ever sent to these.
    LoadsOnly("endpoint: port 65535", "ZdbPort65535", "http://127.0.0.1:65535/unused", kLoadedLine),
    LoadsOnly("endpoint: port 65536", "ZdbPort65536", "http://127.0.0.1:65536/unused",
              kDisabledLine),
    LoadsOnly("endpoint: port 0", "ZdbPort0", "http://127.0.0.1:0/unused", kDisabledLine),
    // Both ends of the digits, 0 and 9: a plug-in that took either for a
    // letter would refuse the port of 7 characters, which the receiver's
    // port, drawn by the system, holds only by chance.
    LoadsOnly("endpoint: port in 7 characters", "ZdbPort7", "http://127.0.0.1:0019999/unused",
              kLoadedLine),
    LoadsOnly("endpoint: port in 8 characters", "ZdbPort8", "http://127.0.0.1:00019999/unused",
              kDisabledLine),
    // Short of 65535, so that only the letter can refuse it.
    LoadsOnly("endpoint: a letter in the port", "ZdbPortLetter", "http://127.0.0.1:80a/unused",
              kDisabledLine),
    LoadsOnly("endpoint: a colon and no port", "ZdbPortNone", "http://127.0.0.1:/unused",
              kDisabledLine),
    // A host of one character is a host: loaded, though it is never used.
    LoadsOnly("endpoint: a host of one character", "ZdbHostOne", "https://a/x", kLoadedLine),
    Script(CheckRepeatedLoads, "ZdbReload", "https://@/reload"),
    // 199, 299; 300, 200; 307, 201: each event's first answer fails, its second delivers.
    Copy("", JudgeStatuses, "ZdbStatuses", "http://@/statuses")
        .Tells(kStatusesTold).Answers({199, 299, 300, 200, 307, 201}).Group(2),
    // Four failed attempts abandon R1; R2 is delivered.
    Copy("retries: 4 attempts, abandoned, next event", JudgeWorkerLines, "ZdbRetries",
         "http://@/retries")
        .Tells(kRetriesTold).Answers({503, 503, 503, 503}).Group(2),
    Again("retries: pauses, the same body", JudgePauses),
    Copy("https: failed attempts with no status", JudgeWorkerLines, "ZdbTls", "https://@/tls")
        .Tells(kTlsTold).Group(2),
    Again("https: a TLS handshake, nothing in clear text", JudgeHandshakes),
};

constexpr bool OwnCopy(const CopyRow &row) { return !row.stem && row.group == 0; }
constexpr bool SameCopy(const CopyRow &row) { return row.stem && !row.stem[0]; }
constexpr bool NewCopy(const CopyRow &row) { return !OwnCopy(row) && !SameCopy(row); }

// Copies and routes the plan needs, copy 0's and the route of a copy that
// follows a redirect with them.
constexpr uint32_t Count(bool routes) {
    uint32_t count = routes ? 2 : 1;
    for (const CopyRow &row : kPlan)
        if (NewCopy(row) && (!routes || row.Posts())) ++count;
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

// One more line of the worker, kept while there is room.
void WorkerLine(Foreseen &out, text::BoundedText &lines, const char *line) {
    ++out.lines;
    bool room = lines.length + text::Length(line) + 1 < sizeof out.text;
    if (!room || out.workerLines == sizeof out.worker / sizeof out.worker[0]) return;
    out.worker[out.workerLines++] = out.text + lines.length;
    lines.Append(line);
    lines.Append('\0');
}

void Tell(PluginCopy &copy, const CopyRow &row) {
    uint32_t i = 0;
    for (const Told *told = row.told; told && told->flight; ++told, ++i) {
        if (!told->stands) {
            copy.clientCalls[i] =
                NotifyCopy(copy, *told->flight, told->scratchPad, told->dataType);
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

// A Captured line for each event, then its attempts as the receiver answers
// them, each with a line, up to four, the fourth failed one followed by
// "Event abandoned". Over https the receiver only sees handshakes: every
// attempt fails without a status and none arrives.
void Foresee(const CopyRow &row, Foreseen &out) {
    bool tls = FitsPattern(row.endpoint, "https:");
    out.requests = 0;
    out.lines = 1;
    out.workerLines = 0;
    text::BoundedText lines(out.text);
    for (const Told *told = row.told; told && told->flight; ++told) {
        for (uint32_t n = 1; !told->dropped && n <= (told->stands ? told->stands : 1); ++n) {
            SeenText event;
            event << "assign " << told->flight->callsign << " " << told->flight->destination
                  << " " << told->scratchPad + 6;
            if (told->stands) event << n;
            ++out.lines;
            for (uint32_t attempt = 1; attempt <= 4; ++attempt) {
                uint32_t status = out.requests < kRouteScript ? row.answers[out.requests] : 0;
                if (tls) status = 0;
                else if (!status) status = 201;
                out.requests += tls ? 0 : 1;
                bool delivered = status >= 200 && status <= 299;
                SeenText line;
                line << (delivered ? "Delivered " : "Delivery failed ") << event.text;
                if (status) line << " (HTTP " << status << ")";
                WorkerLine(out, lines, line.text);
                if (delivered) break;
                if (attempt < 4) continue;
                SeenText abandoned;
                abandoned << "Event abandoned " << event.text;
                WorkerLine(out, lines, abandoned.text);
            }
        }
    }
}

void RunPlan(SelfTest &t) {
    t.redirected = AddRoute(t.receiver, "/redirected");
    if (!t.redirected) t.redirected = &t.noRoute;
    const uint32_t rows = sizeof kPlan / sizeof kPlan[0];
    PluginCopy *copies[rows];
    for (uint32_t i = 0; i < rows; ++i) {
        const CopyRow &row = kPlan[i];
        copies[i] = OwnCopy(row) ? t.own : SameCopy(row) ? copies[i - 1] : &MakeCopy(t, row);
        if (!NewCopy(row) || row.group == 0) continue;  // a script loads its copy itself
        LoadCopy(t, *copies[i]);
        Tell(*copies[i], row);
        Foreseen foreseen;
        Foresee(row, foreseen);
        copies[i]->wantRequests = foreseen.requests;
        copies[i]->wantLines = foreseen.lines;
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
