// The client's side of the plug-in interface, as the test client provides it:
// every object handle points into HostState, and every call is counted.
#include "host/handles.h"
#include "host/host_state.h"
#include "sdk/EuroScopePlugIn.h"

using namespace EuroScopePlugIn;

namespace {

HostState g_state;

HostFlightPlan *PlanOf(const void *object) {
    return static_cast<HostFlightPlan *>(host::HandleOf(static_cast<void *const *>(object)));
}

}  // namespace

extern "C" HostState *ZdbHostState(void) { return &g_state; }

// EuroScopePlugInDll.def exports the two inline IsValid members too, as the
// client's DLL does. The compiler emits an inline member only where it is
// used; their addresses in an object with external linkage are that use.
struct ExportedInlineMembers {
    bool (CFlightPlan::*flightPlanIsValid)(void) const;
    bool (CController::*controllerIsValid)(void) const;
};
extern const ExportedInlineMembers g_exportedInlineMembers;
const ExportedInlineMembers g_exportedInlineMembers = {&CFlightPlan::IsValid,
                                                       &CController::IsValid};

CPlugIn::CPlugIn(int compatibilityCode, const char *name, const char *version, const char *author,
                 const char *copyright)
    : m_pPlugInData(&g_state) {
    ++g_state.constructed;
    g_state.compatibilityCode = compatibilityCode;
    g_state.name = name;
    g_state.version = version;
    g_state.author = author;
    g_state.copyright = copyright;
}

CPlugIn::~CPlugIn(void) { ++g_state.destroyed; }

CController CPlugIn::ControllerMyself(void) const {
    ++g_state.clientCalls;
    if (!g_state.controllerValid) return CController();
    CController myself = host::WithHandle<CController>(&g_state);
    bool isMyself = true;  // the flag follows the handle: offset 4 on 32 bits
    memcpy(reinterpret_cast<char *>(&myself) + sizeof(void *), &isMyself, 1);
    return myself;
}

const char *CController::GetCallsign(void) const {
    ++g_state.clientCalls;
    return g_state.controllerCallsign;
}

const char *CFlightPlan::GetCallsign(void) const {
    ++g_state.clientCalls;
    return PlanOf(this)->callsign;
}

CFlightPlanData CFlightPlan::GetFlightPlanData(void) const {
    ++g_state.clientCalls;
    return host::WithHandle<CFlightPlanData>(PlanOf(this));
}

CFlightPlanControllerAssignedData CFlightPlan::GetControllerAssignedData(void) const {
    ++g_state.clientCalls;
    return host::WithHandle<CFlightPlanControllerAssignedData>(PlanOf(this));
}

const char *CFlightPlanData::GetDestination(void) const {
    ++g_state.clientCalls;
    return PlanOf(this)->destination;
}

const char *CFlightPlanControllerAssignedData::GetScratchPadString(void) const {
    ++g_state.clientCalls;
    return PlanOf(this)->scratchPad;
}

#if defined(_WIN32)
// Each call to one of the client's own default handlers (slots 1 to 22),
// the table the base destructor leaves the object pointing at: a test can
// then tell a call that reached them from one the plug-in answered.
void EuroScopePlugIn::ZdbDefaultHandlerCalled() { ++g_state.defaultHandlerCalls; }

// The base class's deleting destructor names a global operator delete. The
// test client has no heap and never allocates a plug-in object, so nothing
// is given back; but a real client's heap would be handed the plug-in's
// static storage here, so every call is counted. The array forms are for a
// vector deleting destructor, which Visual Studio's compiler gives a class
// that is marked dllexport or allocated with new[]; CPlugIn is neither here
// (its names are exported through the .def), but a class that becomes one
// would need them, and the link has no C runtime to supply them.
void operator delete(void *) noexcept { ++g_state.freed; }
void operator delete(void *, unsigned int) noexcept { ++g_state.freed; }
void operator delete[](void *) noexcept { ++g_state.freed; }
void operator delete[](void *, unsigned int) noexcept { ++g_state.freed; }
#endif
