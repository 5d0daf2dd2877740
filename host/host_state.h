// What the test client's stand-in of the radar client knows: the current
// flight plan, the controller running it, and a count of every call the
// plug-in makes into it. The scenario runner sets it; the client's
// interface (sdk_impl.cpp) answers the plug-in from it.
#pragma once

#include <stdint.h>

#if defined(_WIN32) && defined(ZDB_SDK_EXPORTS)
#define ZDB_HOST_API __declspec(dllexport)
#elif defined(_WIN32)
#define ZDB_HOST_API __declspec(dllimport)
#else
#define ZDB_HOST_API
#endif

struct HostFlightPlan {
    const char *callsign;     // each may be null: the client then answers null
    const char *destination;
    const char *scratchPad;
};

struct HostState {
    uint32_t clientCalls;  // calls the plug-in made into the client's interface
    uint32_t defaultHandlerCalls;  // calls into the client's own handlers, slots 1 to 22
    uint32_t constructed;  // base constructor runs
    uint32_t destroyed;    // base destructor runs
    uint32_t freed;        // frees the client's heap was asked for (operator delete)
    int compatibilityCode;
    const char *name;
    const char *version;
    const char *author;
    const char *copyright;

    bool controllerValid;
    const char *controllerCallsign;  // may be null
    HostFlightPlan plan;
};

extern "C" ZDB_HOST_API HostState *ZdbHostState(void);
