// What reaches the receiver: the four stand-message shapes as exact bodies,
// the request line and headers, nothing of the messages the plug-in must
// drop, and a retry after a 503. The expected bodies are written out here
// by hand; '#' stands for any digit of observedAt, whose value is checked
// against the clock around each notification.
#include "host/selftest/selftest.h"

#include <stddef.h>

#include "host/selftest/guard.h"

namespace host {

namespace {

// Listed but for its first letter: a plug-in that compared codes from the
// second letter on would send it.
const Flight kToXddf = {"DLH4TK", "XDDF", "EDDF_GND", true, true};

// The four stand-message shapes, then messages the plug-in must drop, each
// naming a stand of its own so that a leak shows which one it was, then
// the event answered 503 once.
const Told kTold[] = {
    Sent(kUsualFlight, "DOK/S/a12", "body assign",
         "{\"action\":\"assign\",\"callsign\":\"DLH4TK\","
         "\"observedAt\":\"####-##-##T##:##:##.###Z\",\"controller\":\"EDDF_GND\","
         "\"destination\":\"EDDF\",\"stand\":\"A12\"}"),
    Sent(kUsualFlight, "DOK/S/", "body cancel",
         "{\"action\":\"cancel\",\"callsign\":\"DLH4TK\","
         "\"observedAt\":\"####-##-##T##:##:##.###Z\",\"controller\":\"EDDF_GND\","
         "\"destination\":\"EDDF\"}"),
    Sent(kUsualFlight, "DOK/M/EDDM/V156", "body manual_occupy",
         "{\"action\":\"manual_occupy\",\"callsign\":\"DLH4TK\","
         "\"observedAt\":\"####-##-##T##:##:##.###Z\",\"controller\":\"EDDF_GND\","
         "\"destination\":\"EDDM\",\"stand\":\"V156\"}"),
    // Blanks after the prefix are skipped: a fault there would loop on the
    // client's thread, and the watchdog names this scratch pad.
    Sent(kUsualFlight, "DOK/M/  ", "body manual_cancel",
         "{\"action\":\"manual_cancel\",\"callsign\":\"DLH4TK\","
         "\"observedAt\":\"####-##-##T##:##:##.###Z\",\"controller\":\"EDDF_GND\"}"),
    Dropped(kToXddf, "DOK/S/F1", "filter: destination not listed", "F1"),
    Dropped(kUsualFlight, "DOK/S/F2", "filter: another data type", "F2", true, 4),
    Dropped(kUsualFlight, "dok/s/F3", "filter: lower-case prefix", "F3"),
    Dropped(kUsualFlight, "DOK/X/F4", "filter: unknown prefix", "F4"),
    Sent(kUsualFlight, "DOK/S/B7", nullptr,
         "{\"action\":\"assign\",\"callsign\":\"DLH4TK\","
         "\"observedAt\":\"####-##-##T##:##:##.###Z\",\"controller\":\"EDDF_GND\","
         "\"destination\":\"EDDF\",\"stand\":\"B7\"}"),
    {},
};
const uint32_t kShapeCount = 4;
const uint32_t kRetry = 8;  // its place in kTold
const char *const kRetryBody = kTold[kRetry].sentAs;
static_assert(sizeof kTold / sizeof kTold[0] - 1 <= kCopyCalls, "room for the calls of each");
const uint32_t kNotifications = kRetry + 1;
const uint32_t kRetryRequest = kShapeCount;  // its first attempt, answered 503
const uint32_t kRequestsExpected = kShapeCount + 2;
int32_t g_clocks[kShapeCount + 1][2];  // ClockNow just before and after each timed event

void CheckHandlerTimes(SelfTest &t, PluginCopy &c) {
    SeenText expected, seen;
    expected << kNotifications << " calls, each";
    seen << c.notifications << " calls, the longest ";
    AppendSeconds(seen.out, c.longestNotifyMs);
    ClientRow(t, c, "scratch-pad handler calls", Within(expected, "", kHandlerBudget), seen.text,
        c.notifications == kNotifications);
}

void NotifyTimed(SelfTest &t, uint32_t n, uint32_t clock) {
    g_clocks[clock][0] = ClockNow(t);
    NotifyCopy(*t.own, *kTold[n].flight, kTold[n].scratchPad);
    g_clocks[clock][1] = ClockNow(t);
}

// observedAt of every captured event: the right form, and a time between
// the clock just before and just after its notification (1 s of slack for
// a clock that steps meanwhile).
void CheckObservedAt(SelfTest &t, PluginCopy &c) {
    SeenText seen;
    uint32_t good = 0;
    for (uint32_t i = 0; i <= kShapeCount; ++i) {
        const ReceivedRequest *request = RequestOf(t, c, i);
        const char *value =
            request ? FindAfter(request->body, request->bodyLength, "\"observedAt\":\"") : nullptr;
        int32_t stamp = 0;
        bool ok = value && ClockOf(t, value, stamp) && stamp >= g_clocks[i][0] - 1000 &&
                  stamp <= g_clocks[i][1] + 1000;
        if (ok)
            ++good;
        else if (seen.out.length == 0)
            seen << "event " << i + 1 << ": "
                 << (value ? "malformed or outside its window" : "no observedAt");
    }
    if (good == kShapeCount + 1) seen << good << " of " << good << " in their windows";
    Row(t, c, "observedAt form and clock", "YYYY-MM-DDTHH:MM:SS.mmmZ, UTC, at the capture",
        seen.text, good == kShapeCount + 1);
}

// Captured and Delivered: the next message's lines come after them.
void SendShape(SelfTest &t, uint32_t i) {
    NotifyTimed(t, i, i);
    WaitFor(t, *t.own, i + 1, 1 + 2 * (i + 1));
}

void CheckRetry(SelfTest &t, PluginCopy &c) {
    const ReceivedRequest *first = RequestOf(t, c, kRetryRequest);
    const ReceivedRequest *second = RequestOf(t, c, kRetryRequest + 1);
    bool both = first && second;
    bool firstRight = first && BodyMatches(*first, kRetryBody);
    bool same = firstRight && second && second->bodyLength == first->bodyLength &&
                SameText(first->body, second->body);
    const char *body = !both ? "fewer than two attempts" : firstRight ? second->body : first->body;
    Row(t, c, "retry: the same body twice", kRetryBody, body, same);

    uint32_t pause = both ? second->arrivedMs - first->arrivedMs : 0;
    SeenText seen;
    AppendSeconds(seen.out, pause, 3);
    Row(t, c, "retry: pause after the 503", "about 1 s (0.9 to 3 s)",
        both ? seen.text : "fewer than two attempts", pause >= 900 && pause <= 3000);
}

void CheckRequests(SelfTest &t, PluginCopy &c) {
    uint32_t received = RouteArrived(t.receiver, *c.route);
    SeenText count;
    count << received << " read whole";
    Row(t, c, "requests read whole by Content-Length", "6 read whole", count.text,
        received == kRequestsExpected);

    SeenText bearer;
    bearer << "Bearer " << t.files.token;
    struct Field {
        const char *check;
        const char *expected;
        uint32_t offset;
    } fields[] = {
        {"request method", "POST", offsetof(ReceivedRequest, method)},
        {"request path", "/selftest", offsetof(ReceivedRequest, path)},
        {"Content-Type header", "application/json", offsetof(ReceivedRequest, contentType)},
        {"Authorization header", bearer.text, offsetof(ReceivedRequest, authorization)},
        {"User-Agent header", "ZELTAN-DOK-Bridge/" ZDB_USER_AGENT_VERSION,
         offsetof(ReceivedRequest, userAgent)},
    };
    for (const Field &field : fields) {
        SeenText seen;
        bool ok = received > 0;
        for (uint32_t i = 0; i < received && i < kRouteRecords && ok; ++i) {
            const char *value = reinterpret_cast<const char *>(RequestOf(t, c, i)) + field.offset;
            ok = SameText(value, field.expected);
            if (!ok) seen << "\"" << value << "\" in request " << i + 1;
        }
        if (ok) seen << "the same in all " << received << " requests";
        if (received == 0) seen << "no requests";
        Row(t, c, field.check, field.expected, seen.text, ok);
    }
}

}  // namespace

void SendFirstShape(SelfTest &t) { SendShape(t, 0); }

void CheckDelivery(SelfTest &t, PluginCopy &c, const CopyRow &) {
    for (uint32_t i = 1; i < kShapeCount; ++i) SendShape(t, i);
    SentRows(t, c, kTold);
    for (uint32_t i = kShapeCount; i < kRetry; ++i)
        c.clientCalls[i] = NotifyCopy(c, *kTold[i].flight, kTold[i].scratchPad, kTold[i].dataType);
    // The retry's event follows them through the same queue: once it has
    // arrived, anything of theirs would have arrived before it.
    NotifyTimed(t, kRetry, kShapeCount);
    WaitFor(t, c, kRequestsExpected, 1 + 2 * kShapeCount + 3);
    CheckObservedAt(t, c);
    const ReceivedRequest *next = RequestOf(t, c, kRetryRequest);
    DroppedRows(t, c, kTold, next && BodyMatches(*next, kRetryBody));
    CheckRetry(t, c);
    CheckHandlerTimes(t, c);
    CheckRequests(t, c);
}

}  // namespace host
