// The checks that take seconds, run side by side on copies of their own:
// four failed attempts with their pauses and the abandoned event; the range
// of statuses that count as delivered; an https endpoint, which must open
// with a TLS handshake and never send the request in clear text.
#include "host/selftest/selftest.h"

namespace host {

namespace {

const char *const kRetryLines[] = {
    "Delivery failed assign DLH4TK EDDF R1 (HTTP 503)",
    "Delivery failed assign DLH4TK EDDF R1 (HTTP 503)",
    "Delivery failed assign DLH4TK EDDF R1 (HTTP 503)",
    "Delivery failed assign DLH4TK EDDF R1 (HTTP 503)",
    "Event abandoned assign DLH4TK EDDF R1",
    "Delivered assign DLH4TK EDDF R2 (HTTP 201)",
};
const uint32_t kRetryLineCount = sizeof kRetryLines / sizeof kRetryLines[0];

// The line each of the row's answers must leave, in turn.
struct StatusCase {
    const char *check;
    const char *line;
    const char *orLine;  // also right, or null
    const char *orSeen;  // what that one means
};
const StatusCase kStatusCases[] = {
    // WinHTTP may take a 1xx for an interim answer and wait for the final
    // one, which never comes: a failure without a status is as right, and
    // then the plug-in's own judgement of 199 was not tried.
    {"status 199: failed", "Delivery failed assign DLH4TK EDDF S1 (HTTP 199)",
     "Delivery failed assign DLH4TK EDDF S1",
     "WinHTTP took the 199 as interim: the plug-in's range not judged"},
    {"status 299: delivered", "Delivered assign DLH4TK EDDF S1 (HTTP 299)", nullptr, nullptr},
    {"status 300: failed", "Delivery failed assign DLH4TK EDDF S2 (HTTP 300)", nullptr, nullptr},
    {"status 200: delivered", "Delivered assign DLH4TK EDDF S2 (HTTP 200)", nullptr, nullptr},
    {"status 307: failed, not followed", "Delivery failed assign DLH4TK EDDF S3 (HTTP 307)",
     nullptr, nullptr},
    {"status 201 after the 307", "Delivered assign DLH4TK EDDF S3 (HTTP 201)", nullptr,
     nullptr},
};
const uint32_t kStatusCaseCount = sizeof kStatusCases / sizeof kStatusCases[0];

const char *const kTlsLines[] = {
    "Delivery failed assign DLH4TK EDDF T1",
    "Delivery failed assign DLH4TK EDDF T1",
    "Delivery failed assign DLH4TK EDDF T1",
    "Delivery failed assign DLH4TK EDDF T1",
    "Event abandoned assign DLH4TK EDDF T1",
};
const uint32_t kTlsLineCount = sizeof kTlsLines / sizeof kTlsLines[0];

}  // namespace

void JudgeRetries(SelfTest &t, PluginCopy &copy, const CopyRow &) {
    LinesRow(t, copy, "retries: 4 attempts, abandoned, next event", kRetryLines, kRetryLineCount,
             true);
    const Route &route = *copy.route;
    SeenText seen;
    bool ok = RouteArrived(t.receiver, route) >= 4;
    bool same = ok;
    const uint32_t low[] = {900, 1900, 3900};
    for (uint32_t i = 1; i < 4 && ok; ++i) {
        uint32_t pause = route.records[i].arrivedMs - route.records[i - 1].arrivedMs;
        seen << (i > 1 ? ", " : "");
        AppendSeconds(seen.out, pause, 3);
        if (pause < low[i - 1] || pause > low[i - 1] + 1100) ok = false;
        same = same && SameText(route.records[i].body, route.records[0].body);
    }
    if (RouteArrived(t.receiver, route) < 4) seen << "fewer than 4 attempts arrived";
    if (!same && RouteArrived(t.receiver, route) >= 4) seen << "; the bodies differ";
    Row(t, copy, "retries: pauses, the same body", "1, 2, 4 s (each 0.1 s less to 1 s more); one body",
        seen.text, ok && same);
}

void JudgeStatuses(SelfTest &t, PluginCopy &copy, const CopyRow &row) {
    // The worker's lines, in order: one per answer.
    const char *worker[kStatusCaseCount] = {};
    uint32_t found = 0;
    for (uint32_t i = 0; i < copy.lineCount && found < kStatusCaseCount; ++i) {
        const char *line = copy.lines[i];
        if (line[0] == 'D') worker[found++] = line;
    }
    for (uint32_t i = 0; i < kStatusCaseCount; ++i) {
        const StatusCase &c = kStatusCases[i];
        const char *line = worker[i] ? worker[i] : "(no line)";
        bool other = c.orLine && SameText(line, c.orLine);
        bool ok = SameText(line, c.line) || other;
        SeenText expected, seen;
        expected << c.line;
        if (c.orLine) expected << ", or \"" << c.orLine << "\" where WinHTTP takes it as interim";
        seen << line;
        if (other) seen << "; " << c.orSeen;
        if (row.answers[i] == 307) {
            uint32_t followed = RouteArrived(t.receiver, *t.redirected);
            seen << "; " << followed << " requests at its Location";
            ok = ok && followed == 0;
        }
        Row(t, copy, c.check, expected.text, seen.text, ok);
    }
}

void JudgeTls(SelfTest &t, PluginCopy &copy, const CopyRow &) {
    LinesRow(t, copy, "https: failed attempts with no status", kTlsLines, kTlsLineCount, true);
    ReceiverTally tally = Tally(t.receiver);
    uint32_t plain = RouteArrived(t.receiver, *copy.route);
    SeenText seen;
    seen << tally.tlsHandshakes << " handshakes, " << tally.tlsClearText << " with clear text, "
         << plain << " requests in clear text";
    Row(t, copy, "https: a TLS handshake, nothing in clear text",
        "4 or more handshakes, 0 with clear text, 0 requests in clear text", seen.text,
        tally.tlsHandshakes >= 4 && tally.tlsClearText == 0 && plain == 0);
}

}  // namespace host
