// The receiver's routes: one per plug-in copy, each answering from its own
// script and keeping its own records, so that copies running side by side
// never shift each other's answers.
#include "host/selftest/receiver.h"

#include "host/runner.h"

#include "text/text.h"

namespace host {

namespace {

// The route a path belongs to, or null; under the receiver's lock.
Route *RouteOf(Receiver &receiver, const char *path) {
    for (uint32_t r = 0; r < receiver.routeCount; ++r) {
        const char *want = receiver.routes[r].path;
        uint32_t i = 0;
        while (want[i] && path[i] == want[i]) ++i;
        if (!want[i] && (path[i] == '\0' || path[i] == '/')) return &receiver.routes[r];
    }
    return nullptr;
}

}  // namespace

uint32_t RouteStatus(Receiver &receiver, const ReceivedRequest &request) {
    EnterCriticalSection(&receiver.lock);
    Route *found = RouteOf(receiver, request.path);
    if (!found) {
        LeaveCriticalSection(&receiver.lock);
        return 0;
    }
    Route &route = *found;
    uint32_t index = route.arrived++;
    uint32_t status = index < kRouteScript && route.statuses[index] ? route.statuses[index] : 201;
    if (route.authorization[0] && !SameText(request.authorization, route.authorization))
        status = 401;
    else if (!SameText(request.contentType, "application/json"))
        status = 415;
    if (status == 401 || status == 415) ++route.refused;
    if (index < kRouteRecords) route.records[index] = request;
    if (index < kRouteMarks) {
        const char *stand = FindAfter(request.body, text::Length(request.body), "\"stand\":\"");
        text::BoundedText mark(route.marks[index]);
        for (const char *p = stand; p && *p && *p != '"'; ++p) mark.Append(*p);
    }
    LeaveCriticalSection(&receiver.lock);
    uint32_t held = GetTickCount();
    if (index == 0 && route.holdMs)
        while (!route.released.IsSet() && !receiver.stopping.IsSet() &&
               GetTickCount() - held < route.holdMs)
            Sleep(5);
    return status;
}

Route *AddRoute(Receiver &receiver, const char *path) {
    if (text::Length(path) >= sizeof receiver.routes[0].path) return nullptr;
    EnterCriticalSection(&receiver.lock);
    Route *route =
        receiver.routeCount < kRoutes ? &receiver.routes[receiver.routeCount++] : nullptr;
    if (route) text::BoundedText(route->path).Append(path);
    LeaveCriticalSection(&receiver.lock);
    return route;
}

void ReleaseRoute(Route &route) { route.released.Set(true); }

uint32_t RouteArrived(Receiver &receiver, const Route &route, uint32_t *refused) {
    EnterCriticalSection(&receiver.lock);
    uint32_t arrived = route.arrived;
    if (refused) *refused = route.refused;
    LeaveCriticalSection(&receiver.lock);
    return arrived;
}

uint32_t Heard(Receiver &receiver) {
    EnterCriticalSection(&receiver.lock);
    uint32_t heard = receiver.tally.refused + receiver.tally.tlsHandshakes;
    for (uint32_t r = 0; r < receiver.routeCount; ++r) heard += receiver.routes[r].arrived;
    LeaveCriticalSection(&receiver.lock);
    return heard;
}

}  // namespace host
