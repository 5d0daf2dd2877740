// The client's handle classes keep their handle private, first in the
// object; the test client reads and writes it as raw bytes, as the real
// client's own code effectively does.
#pragma once

#include "host/host_state.h"
#include "platform/memory_copy.h"
#include "sdk/EuroScopePlugIn.h"

namespace host {

template <class T>
void *HandleOf(const T *object) {
    void *handle;
    memcpy(&handle, static_cast<const void *>(object), sizeof handle);
    return handle;
}

template <class T>
T WithHandle(void *handle) {
    static_assert(sizeof(T) >= sizeof(void *), "handle classes start with their handle");
    T object;
    memcpy(static_cast<void *>(&object), &handle, sizeof handle);
    return object;
}

// A flight plan whose handle is `plan`, or an invalid one for null.
inline EuroScopePlugIn::CFlightPlan MakeFlightPlan(HostFlightPlan *plan) {
    return WithHandle<EuroScopePlugIn::CFlightPlan>(plan);
}

}  // namespace host
