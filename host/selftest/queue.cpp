// The queue as a controller meets it when the endpoint stalls: the first
// event held in its attempt, 256 more wait, the next one drops the oldest
// waiting event with one "Queue full" line; once the endpoint answers, the
// rest arrive oldest first, across the end of the ring. And a burst of
// edits while the worker delivers: the client's thread and the worker then
// write the log at once, and every line of both must be there.
#include "host/selftest/selftest.h"

namespace host {

namespace {

// Q0 is held in its attempt; Q1 to Q257 are queued behind it.
const uint32_t kQueued = 257;

void CheckOverflowLine(SelfTest &t, PluginCopy &copy, bool held) {
    ReadCopyLog(t, copy);
    const char kFull[] = "Queue full; oldest event dropped";
    uint32_t full = FindCopyLine(copy, kFull);
    uint32_t times = 0;
    for (uint32_t i = 0; i < copy.lineCount; ++i) times += SameText(copy.lines[i], kFull) ? 1 : 0;
    SeenText seen;
    if (!held) seen << "Q0 never arrived to be held; ";
    seen << "logged " << times << (times == 1 ? " time" : " times");
    if (full < copy.lineCount)
        seen << ", the first between \"" << CopyLine(copy, full - 1) << "\" and \""
             << CopyLine(copy, full + 1) << "\"";
    bool ok = held && times == 1 && full > 0 &&
              SameText(CopyLine(copy, full - 1), "Captured assign DLH4TK EDDF Q256") &&
              SameText(CopyLine(copy, full + 1), "Captured assign DLH4TK EDDF Q257");
    Row(t, copy, "queue: 256 wait, the 257th drops the oldest",
        "logged 1 time, between \"Captured ... Q256\" and \"Captured ... Q257\"", seen.text, ok);
}

// Q0, then Q2 to Q257: Q1 was the oldest waiting event when the queue
// overflowed.
void CheckOrder(SelfTest &t, PluginCopy &copy) {
    const Route &route = *copy.route;
    uint32_t arrived = RouteArrived(t.receiver, route);
    SeenText seen;
    bool ok = arrived == kQueued;
    for (uint32_t i = 0; i < arrived && i < kRouteMarks && ok; ++i) {
        SeenText stand;
        stand << "Q" << (i == 0 ? 0 : i + 1);
        if (SameText(route.marks[i], stand.text)) continue;
        seen << "request " << i + 1 << " carried \"" << route.marks[i] << "\" where \""
             << stand.text << "\" belongs";
        ok = false;
    }
    if (ok) seen << "Q0, Q2 ... Q257 in order";
    else if (seen.out.length == 0) seen << arrived << " requests";
    Row(t, copy, "queue: oldest first after the drop", "257 requests: Q0, then Q2 ... Q257",
        seen.text, ok);
}

}  // namespace

void JudgeBurst(SelfTest &t, PluginCopy &copy, const CopyRow &) {
    uint32_t captured = 0, delivered = 0;
    for (uint32_t i = 0; i < copy.lineCount; ++i) {
        captured += FitsPattern(copy.lines[i], "Captured ") ? 1 : 0;
        delivered += FitsPattern(copy.lines[i], "Delivered ") ? 1 : 0;
    }
    uint32_t arrived = RouteArrived(t.receiver, *copy.route);
    uint32_t events = copy.wantRequests;
    SeenText expected, seen;
    expected << events << " requests, " << events << " Captured, " << events << " Delivered, "
             << copy.wantLines << " lines";
    seen << arrived << " requests, " << captured << " Captured, " << delivered << " Delivered, "
         << copy.lineCount << " lines";
    Row(t, copy, "burst: every log line of both threads", expected.text, seen.text,
        arrived == events && captured == events && delivered == events &&
            copy.lineCount == copy.wantLines);
}

void CheckQueue(SelfTest &t, PluginCopy &copy, const CopyRow &) {
    // Held until every event is queued behind it, however long that takes.
    copy.route->holdMs = 0xFFFFFFFFu;
    LoadCopy(t, copy);
    bool held = false;
    for (uint32_t n = 0; n <= kQueued; ++n) {
        SeenText pad;
        pad << "DOK/S/Q" << n;
        NotifyCopy(copy, kUsualFlight, pad.text);
        if (n == 0) held = WaitFor(t, copy, 1);  // Q0 in its attempt before the rest queue
    }
    CheckOverflowLine(t, copy, held);
    ReleaseRoute(*copy.route);
    WaitFor(t, copy, kQueued);
    CheckOrder(t, copy);
}

}  // namespace host
