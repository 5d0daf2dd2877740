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

struct Shape {
    const char *check;
    const char *scratchPad;
    const char *body;
};

const Shape kShapes[] = {
    {"body assign", "DOK/S/a12",
     "{\"action\":\"assign\",\"callsign\":\"DLH4TK\",\"observedAt\":\"####-##-##T##:##:##.###Z\","
     "\"controller\":\"EDDF_GND\",\"destination\":\"EDDF\",\"stand\":\"A12\"}"},
    {"body cancel", "DOK/S/",
     "{\"action\":\"cancel\",\"callsign\":\"DLH4TK\",\"observedAt\":\"####-##-##T##:##:##.###Z\","
     "\"controller\":\"EDDF_GND\",\"destination\":\"EDDF\"}"},
    {"body manual_occupy", "DOK/M/EDDM/V156",
     "{\"action\":\"manual_occupy\",\"callsign\":\"DLH4TK\","
     "\"observedAt\":\"####-##-##T##:##:##.###Z\",\"controller\":\"EDDF_GND\","
     "\"destination\":\"EDDM\",\"stand\":\"V156\"}"},
    // Blanks after the prefix are skipped: a fault there would loop on the
    // client's thread, and the watchdog names this scratch pad.
    {"body manual_cancel", "DOK/M/  ",
     "{\"action\":\"manual_cancel\",\"callsign\":\"DLH4TK\","
     "\"observedAt\":\"####-##-##T##:##:##.###Z\",\"controller\":\"EDDF_GND\"}"},
};
const uint32_t kShapeCount = sizeof kShapes / sizeof kShapes[0];
static_assert(kShapeCount + 1 <= kCopyCalls, "room for the clock around each, and the retry's");

const char kRetryBody[] =
    "{\"action\":\"assign\",\"callsign\":\"DLH4TK\",\"observedAt\":\"####-##-##T##:##:##.###Z\","
    "\"controller\":\"EDDF_GND\",\"destination\":\"EDDF\",\"stand\":\"B7\"}";

// Messages the plug-in must drop. Each names a stand of its own, so that a
// leak shows which one it was.
struct Dropped {
    const char *check;
    const char *destination;
    int dataType;
    const char *scratchPad;
    const char *stand;
    bool noClientCall;  // the handler must return before asking the client
};

const Dropped kDropped[] = {
    {"filter: destination not listed", "LOWW", 5, "DOK/S/F1", "F1", false},
    {"filter: another data type", "EDDF", 4, "DOK/S/F2", "F2", true},
    {"filter: lower-case prefix", "EDDF", 5, "dok/s/F3", "F3", false},
    {"filter: unknown prefix", "EDDF", 5, "DOK/X/F4", "F4", false},
};
const uint32_t kDroppedCount = sizeof kDropped / sizeof kDropped[0];
static_assert(kDroppedCount <= kCopyCalls, "room for the client calls of each");

const uint32_t kRetryRequest = kShapeCount;  // its first attempt, answered 503
const uint32_t kRequestsExpected = kShapeCount + 2;

// The plug-in told of a new scratch pad for DLH4TK, controlled by EDDF_GND;
// returns how many calls it made back into the client.
uint32_t Notify(SelfTest &t, const char *destination, int dataType, const char *scratchPad) {
    Flight flight = kUsualFlight;
    flight.destination = destination;
    return NotifyCopy(*t.own, flight, scratchPad, dataType);
}

void CheckHandlerTimes(SelfTest &t) {
    PluginCopy &c = *t.own;
    SeenText expected, seen;
    expected << kShapeCount + 1 + kDroppedCount << " calls, each";
    seen << c.notifications << " calls, the longest ";
    AppendSeconds(seen.out, c.longestNotifyMs);
    ClientRow(t, c, "scratch-pad handler calls", Within(expected, "", kHandlerBudget), seen.text,
        c.notifications == kShapeCount + 1 + kDroppedCount);
}

// Notification `n`, with the clock just before and just after it.
void NotifyTimed(SelfTest &t, const char *scratchPad, uint32_t n) {
    t.own->clock[n][0] = ClockNow(t);
    Notify(t, "EDDF", 5, scratchPad);
    t.own->clock[n][1] = ClockNow(t);
}

// observedAt of every captured event: the right form, and a time between
// the clock just before and just after its notification (1 s of slack for
// a clock that steps meanwhile).
void CheckObservedAt(SelfTest &t) {
    SeenText seen;
    uint32_t good = 0;
    for (uint32_t i = 0; i <= kShapeCount; ++i) {
        const ReceivedRequest *request = RequestOf(t, *t.own, i);
        const char *value =
            request ? FindAfter(request->body, request->bodyLength, "\"observedAt\":\"")
                    : nullptr;
        int32_t stamp = 0;
        bool ok = value && ClockOf(t, value, stamp) && stamp >= t.own->clock[i][0] - 1000 &&
                  stamp <= t.own->clock[i][1] + 1000;
        if (ok)
            ++good;
        else if (seen.out.length == 0)
            seen << "event " << i + 1 << ": "
                 << (value ? "malformed or outside its window" : "no observedAt");
    }
    if (good == kShapeCount + 1) seen << good << " of " << good << " in their windows";
    Row(t, *t.own, "observedAt form and clock", "YYYY-MM-DDTHH:MM:SS.mmmZ, UTC, at the capture",
        seen.text, good == kShapeCount + 1);
}

// Captured and Delivered: the next message's lines come after them.
void SendShape(SelfTest &t, uint32_t i) {
    NotifyTimed(t, kShapes[i].scratchPad, i);
    WaitFor(t, *t.own, i + 1, 1 + 2 * (i + 1));
}

void CheckShapes(SelfTest &t) {
    for (uint32_t i = 1; i < kShapeCount; ++i) SendShape(t, i);
    for (uint32_t i = 0; i < kShapeCount; ++i) {
        const ReceivedRequest *request = RequestOf(t, *t.own, i);
        Row(t, *t.own, kShapes[i].check, kShapes[i].body, BodyOf(request),
            request && BodyMatches(*request, kShapes[i].body));
    }
}

void SendDroppedAndRetry(SelfTest &t) {
    for (uint32_t i = 0; i < kDroppedCount; ++i)
        t.own->clientCalls[i] =
            Notify(t, kDropped[i].destination, kDropped[i].dataType, kDropped[i].scratchPad);
    // The retry's event follows them through the same queue: once it has
    // arrived, anything of theirs would have arrived before it.
    NotifyTimed(t, "DOK/S/B7", kShapeCount);
    WaitFor(t, *t.own, kRequestsExpected, 1 + 2 * kShapeCount + 3);
}

void CheckDropped(SelfTest &t) {
    const ReceivedRequest *next = RequestOf(t, *t.own, kRetryRequest);
    bool queuePassed = next && BodyMatches(*next, kRetryBody);
    for (uint32_t i = 0; i < kDroppedCount; ++i)
        NothingSentRow(t, *t.own, kDropped[i].check, kDropped[i].stand, queuePassed,
                       t.own->clientCalls[i], kDropped[i].noClientCall);
}

void CheckRetry(SelfTest &t) {
    const ReceivedRequest *first = RequestOf(t, *t.own, kRetryRequest);
    const ReceivedRequest *second = RequestOf(t, *t.own, kRetryRequest + 1);
    bool firstRight = first && BodyMatches(*first, kRetryBody);
    bool same = firstRight && second && second->bodyLength == first->bodyLength &&
                SameText(first->body, second->body);
    const char *body = !first || !second ? "fewer than two attempts"
                       : firstRight      ? second->body
                                         : first->body;
    Row(t, *t.own, "retry: the same body twice", kRetryBody, body, same);

    uint32_t pause = 0;
    if (first && second) pause = second->arrivedMs - first->arrivedMs;
    SeenText seen;
    AppendSeconds(seen.out, pause, 3);
    Row(t, *t.own, "retry: pause after the 503", "about 1 s (0.9 to 3 s)",
        first && second ? seen.text : "fewer than two attempts", pause >= 900 && pause <= 3000);
}

// Each header of every request, as a row of its own.
void CheckRequests(SelfTest &t) {
    PluginCopy &c = *t.own;
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
        {"User-Agent header", "ZELTAN-DOK-Bridge/" ZDB_USER_AGENT_VERSION, offsetof(ReceivedRequest, userAgent)},
    };
    for (const Field &field : fields) {
        SeenText seen;
        bool ok = received > 0;
        for (uint32_t i = 0; i < received && i < kRouteRecords && ok; ++i) {
            const char *value = reinterpret_cast<const char *>(RequestOf(t, c, i)) + field.offset;
            if (!SameText(value, field.expected)) {
                seen << "\"" << value << "\" in request " << i + 1;
                ok = false;
            }
        }
        if (ok) seen << "the same in all " << received << " requests";
        if (received == 0) seen << "no requests";
        Row(t, c, field.check, field.expected, seen.text, ok);
    }
}

}  // namespace

void SendFirstShape(SelfTest &t) {
    t.own->route->statuses[kRetryRequest] = 503;
    SendShape(t, 0);
}

void CheckDelivery(SelfTest &t, PluginCopy &, const CopyRow &) {
    CheckShapes(t);
    SendDroppedAndRetry(t);
    CheckObservedAt(t);
    CheckDropped(t);
    CheckRetry(t);
    CheckHandlerTimes(t);
    CheckRequests(t);
}

}  // namespace host
