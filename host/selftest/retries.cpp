// The checks that take seconds, run side by side on copies of their own:
// the range of statuses that count as delivered; four failed attempts with
// their pauses and the abandoned event; an https endpoint, which must open
// with a TLS handshake and never send the request in clear text. The lines
// each must log are worked out from its row (Foresee).
#include "host/selftest/selftest.h"

namespace host {

void JudgeWorkerLines(SelfTest &t, PluginCopy &copy, const CopyRow &row) {
    Foreseen foreseen;
    Foresee(row, foreseen);
    LinesRow(t, copy, row.check, foreseen.worker, foreseen.workerLines, true);
}

void JudgePauses(SelfTest &t, PluginCopy &copy, const CopyRow &row) {
    const Route &route = *copy.route;
    uint32_t arrived = RouteArrived(t.receiver, route);
    SeenText seen;
    bool ok = arrived >= 4;
    bool same = ok;
    const uint32_t low[] = {900, 1900, 3900};
    for (uint32_t i = 1; i < 4 && ok; ++i) {
        uint32_t pause = route.records[i].arrivedMs - route.records[i - 1].arrivedMs;
        seen << (i > 1 ? ", " : "");
        AppendSeconds(seen.out, pause, 3);
        if (pause < low[i - 1] || pause > low[i - 1] + 1100) ok = false;
        same = same && SameText(route.records[i].body, route.records[0].body);
    }
    if (arrived < 4) seen << "fewer than 4 attempts arrived";
    if (!same && arrived >= 4) seen << "; the bodies differ";
    Row(t, copy, row.check, "1, 2, 4 s (each 0.1 s less to 1 s more); one body", seen.text,
        ok && same);
}

// Each answer's line, in the worker's lines. WinHTTP may take a 1xx for an
// interim answer and wait for the final one, which never comes: a failure
// without a status is as right, and then the plug-in's own judgement of the
// status was not tried.
void JudgeStatuses(SelfTest &t, PluginCopy &copy, const CopyRow &row) {
    // A row for each of the row's answers, in turn.
    static const char *const kChecks[] = {
        "status 199: failed",    "status 299: delivered",
        "status 300: failed",    "status 200: delivered",
        "status 307: failed, not followed", "status 201 after the 307",
    };
    Foreseen foreseen;
    Foresee(row, foreseen);
    const char *worker[kRouteScript] = {};
    uint32_t found = 0;
    for (uint32_t i = 0; i < copy.lineCount && found < kRouteScript; ++i)
        if (copy.lines[i][0] == 'D') worker[found++] = copy.lines[i];
    static_assert(sizeof kChecks / sizeof kChecks[0] <= kRouteScript, "a line each");
    for (uint32_t i = 0; i < sizeof kChecks / sizeof kChecks[0]; ++i) {
        uint32_t status = row.answers[i];
        const char *line = worker[i] ? worker[i] : "(no line)";
        SeenText expected, interim, seen;
        expected << foreseen.worker[i];
        if (status < 200) {
            for (const char *p = foreseen.worker[i]; *p && *p != '('; ++p) interim.out.Append(*p);
            interim.text[--interim.out.length] = '\0';  // the space before "(HTTP"
            expected << ", or \"" << interim.text << "\" where WinHTTP takes it as interim";
        }
        bool other = status < 200 && SameText(line, interim.text);
        bool ok = SameText(line, foreseen.worker[i]) || other;
        seen << line;
        if (other) seen << "; WinHTTP took the " << status << " as interim";
        if (other) seen << ": the plug-in's range not judged";
        if (status == 307) {
            uint32_t followed = RouteArrived(t.receiver, *t.redirected);
            seen << "; " << followed << " requests at its Location";
            ok = ok && followed == 0;
        }
        Row(t, copy, kChecks[i], expected.text, seen.text, ok);
    }
}

void JudgeHandshakes(SelfTest &t, PluginCopy &copy, const CopyRow &row) {
    ReceiverTally tally = Tally(t.receiver);
    uint32_t plain = RouteArrived(t.receiver, *copy.route);
    SeenText seen;
    seen << tally.tlsHandshakes << " handshakes, " << tally.tlsClearText << " with clear text, "
         << plain << " requests in clear text";
    Row(t, copy, row.check, "4 or more handshakes, 0 with clear text, 0 requests in clear text",
        seen.text, tally.tlsHandshakes >= 4 && tally.tlsClearText == 0 && plain == 0);
}

}  // namespace host
