// What stays in the plug-in object's storage once its shutdown has run.
//
// The client's base destructor points the object back at the client's own
// CPlugIn virtual table. A client that then destroyed the object would run
// that base destructor a second time; one that deleted it would hand our
// static storage to its heap. An InertPlugIn built in the same place
// instead answers every slot of that table by doing nothing, its deleting
// destructor included.
//
// Under __thiscall the callee pops its arguments: each slot must take
// exactly the parameters of the client's handler in that slot, or a call
// would leave the client's stack off by the difference. The checks below
// hold the parameters to CPlugIn's, handler by handler; the order is the
// order of CPlugIn's declarations.
#pragma once

#include "sdk/EuroScopePlugIn.h"

class InertPlugIn {
public:
    virtual ~InertPlugIn() {}
    static void operator delete(void *) {}  // static storage: never anything to free
    // The class's own delete hides the global placement form that a
    // placement new of this class must be able to name.
    static void operator delete(void *, void *) {}

    virtual void OnControllerPositionUpdate(EuroScopePlugIn::CController) {}
    virtual void OnControllerDisconnect(EuroScopePlugIn::CController) {}
    virtual void OnRadarTargetPositionUpdate(EuroScopePlugIn::CRadarTarget) {}
    virtual void OnFlightPlanDisconnect(EuroScopePlugIn::CFlightPlan) {}
    virtual void OnFlightPlanFlightPlanDataUpdate(EuroScopePlugIn::CFlightPlan) {}
    virtual void OnPlaneInformationUpdate(const char *, const char *, const char *) {}
    virtual void OnFlightPlanControllerAssignedDataUpdate(EuroScopePlugIn::CFlightPlan, int) {}
    virtual void OnFlightPlanFlightStripPushed(EuroScopePlugIn::CFlightPlan, const char *,
                                               const char *) {}
    virtual EuroScopePlugIn::CRadarScreen *OnRadarScreenCreated(const char *, bool, bool, bool,
                                                                bool) {
        return nullptr;
    }
    virtual bool OnCompileCommand(const char *) { return false; }
    virtual void OnCompileFrequencyChat(const char *, double, const char *) {}
    virtual void OnCompilePrivateChat(const char *, const char *, const char *) {}
    virtual void OnGetTagItem(EuroScopePlugIn::CFlightPlan, EuroScopePlugIn::CRadarTarget, int,
                              int, char[16], int *, COLORREF *, double *) {}
    virtual void OnRefreshFpListContent(EuroScopePlugIn::CFlightPlanList) {}
    virtual void OnNewMetarReceived(const char *, const char *) {}
    virtual void OnFunctionCall(int, const char *, POINT, RECT) {}
    virtual void OnAirportRunwayActivityChanged(void) {}
    virtual void OnTimer(int) {}
    virtual void OnVoiceTransmitStarted(bool) {}
    virtual void OnVoiceTransmitEnded(bool) {}
    virtual void OnVoiceReceiveStarted(EuroScopePlugIn::CGrountToAirChannel) {}
    virtual void OnVoiceReceiveEnded(EuroScopePlugIn::CGrountToAirChannel) {}
};

namespace inert_detail {

// True when two member functions of different classes take the same
// parameters and give the same result.
template <class A, class B>
struct SameParameters {
    static const bool value = false;
};
template <class R, class... P, class A, class B>
struct SameParameters<R (A::*)(P...), R (B::*)(P...)> {
    static const bool value = true;
};

}  // namespace inert_detail

#define ZDB_INERT_SLOT_MATCHES(handler)                                                        \
    static_assert(inert_detail::SameParameters<decltype(&InertPlugIn::handler),               \
                                               decltype(&EuroScopePlugIn::CPlugIn::handler)>:: \
                      value,                                                                   \
                  #handler " must take the client's parameters")
ZDB_INERT_SLOT_MATCHES(OnControllerPositionUpdate);
ZDB_INERT_SLOT_MATCHES(OnControllerDisconnect);
ZDB_INERT_SLOT_MATCHES(OnRadarTargetPositionUpdate);
ZDB_INERT_SLOT_MATCHES(OnFlightPlanDisconnect);
ZDB_INERT_SLOT_MATCHES(OnFlightPlanFlightPlanDataUpdate);
ZDB_INERT_SLOT_MATCHES(OnPlaneInformationUpdate);
ZDB_INERT_SLOT_MATCHES(OnFlightPlanControllerAssignedDataUpdate);
ZDB_INERT_SLOT_MATCHES(OnFlightPlanFlightStripPushed);
ZDB_INERT_SLOT_MATCHES(OnRadarScreenCreated);
ZDB_INERT_SLOT_MATCHES(OnCompileCommand);
ZDB_INERT_SLOT_MATCHES(OnCompileFrequencyChat);
ZDB_INERT_SLOT_MATCHES(OnCompilePrivateChat);
ZDB_INERT_SLOT_MATCHES(OnGetTagItem);
ZDB_INERT_SLOT_MATCHES(OnRefreshFpListContent);
ZDB_INERT_SLOT_MATCHES(OnNewMetarReceived);
ZDB_INERT_SLOT_MATCHES(OnFunctionCall);
ZDB_INERT_SLOT_MATCHES(OnAirportRunwayActivityChanged);
ZDB_INERT_SLOT_MATCHES(OnTimer);
ZDB_INERT_SLOT_MATCHES(OnVoiceTransmitStarted);
ZDB_INERT_SLOT_MATCHES(OnVoiceTransmitEnded);
ZDB_INERT_SLOT_MATCHES(OnVoiceReceiveStarted);
ZDB_INERT_SLOT_MATCHES(OnVoiceReceiveEnded);
#undef ZDB_INERT_SLOT_MATCHES

static_assert(sizeof(InertPlugIn) <= sizeof(EuroScopePlugIn::CPlugIn),
              "fits where the client's view of the object begins");
