// Our own declarations of the radar client's plug-in interface.
//
// The client resolves every name we import by its MSVC decoration, and calls
// our object through CPlugIn's virtual table, so the class layouts, the slot
// order and every parameter type below are fixed by the client, not by us.
// The base class is left unmarked with empty inline handlers; only the
// out-of-line members we really call are imported. That keeps our import
// table to the few names the plug-in needs.
//
// ZDB_SDK_CALL marks the imported members when the plug-in itself is built
// for Windows. When host/ builds its own EuroScopePlugInDll.dll from this
// header (ZDB_SDK_EXPORTS), no class is marked for export: the link takes
// the exported names from EuroScopePlugInDll.def. Visual Studio's compiler
// gives a dllexport class with a virtual destructor a vector deleting
// destructor, which calls the C runtime's array-destructor loop; a class
// exported through the .def gets only the scalar one, which needs nothing
// the DLL lacks.
#pragma once

#if defined(_WIN32) && !defined(ZDB_SDK_EXPORTS)
#define ZDB_SDK_CALL __declspec(dllimport)
#else
#define ZDB_SDK_CALL
#endif

// These two decorate as the Windows SDK's tagPOINT and tagRECT.
struct tagPOINT {
    long x;
    long y;
};
struct tagRECT {
    long left;
    long top;
    long right;
    long bottom;
};
typedef tagPOINT POINT;
typedef tagRECT RECT;
typedef unsigned long COLORREF;  // must stay unsigned long: it is part of a decorated name

namespace EuroScopePlugIn {

// The client's default handlers do nothing. The test client's own interface
// DLL counts each call to its copies, so that a test can tell them from the
// plug-in's handlers.
#if defined(_WIN32) && defined(ZDB_SDK_EXPORTS)
void ZdbDefaultHandlerCalled();
#define ZDB_SDK_DEFAULT ZdbDefaultHandlerCalled();
#else
#define ZDB_SDK_DEFAULT
#endif

const int COMPATIBILITY_CODE = 16;
const int CTR_DATA_TYPE_SCRATCH_PAD_STRING = 5;

class CFlightPlanData {
public:
    CFlightPlanData() : m_FpDataHandle(nullptr) {}
    ZDB_SDK_CALL const char *GetDestination(void) const;

private:
    [[maybe_unused]] void *m_FpDataHandle;
};

class CFlightPlanControllerAssignedData {
public:
    CFlightPlanControllerAssignedData() : m_CADataHandle(nullptr) {}
    ZDB_SDK_CALL const char *GetScratchPadString(void) const;

private:
    [[maybe_unused]] void *m_CADataHandle;
};

class CFlightPlan {
public:
    CFlightPlan() : m_FpHandle(nullptr) {}
    bool IsValid(void) const { return m_FpHandle != nullptr; }
    ZDB_SDK_CALL const char *GetCallsign(void) const;
    ZDB_SDK_CALL CFlightPlanData GetFlightPlanData(void) const;
    ZDB_SDK_CALL CFlightPlanControllerAssignedData GetControllerAssignedData(void) const;

private:
    [[maybe_unused]] void *m_FpHandle;
};

class CRadarTarget {
public:
    CRadarTarget() : m_RtHandle(nullptr) {}

private:
    [[maybe_unused]] void *m_RtHandle;
};

class CFlightPlanList {
public:
    CFlightPlanList() : m_FpListHandle(nullptr) {}

private:
    [[maybe_unused]] void *m_FpListHandle;
};

class CController {
public:
    CController() : m_ControllerHandle(nullptr), m_Myself(false) {}
    bool IsValid(void) const { return m_ControllerHandle != nullptr || m_Myself; }
    ZDB_SDK_CALL const char *GetCallsign(void) const;

private:
    [[maybe_unused]] void *m_ControllerHandle;
    [[maybe_unused]] bool m_Myself;
};

class CGrountToAirChannel {
public:
    CGrountToAirChannel() : m_Index(-1) {}

private:
    [[maybe_unused]] int m_Index;
};

class CRadarScreen;

class CPlugIn {
public:
    ZDB_SDK_CALL CPlugIn(int compatibilityCode, const char *name, const char *version,
                         const char *author, const char *copyright);
    ZDB_SDK_CALL virtual ~CPlugIn(void);
    ZDB_SDK_CALL CController ControllerMyself(void) const;

    // The slot order below is the client's; never reorder, insert or remove.
    virtual void OnControllerPositionUpdate(CController) { ZDB_SDK_DEFAULT }       // 1
    virtual void OnControllerDisconnect(CController) { ZDB_SDK_DEFAULT }           // 2
    virtual void OnRadarTargetPositionUpdate(CRadarTarget) { ZDB_SDK_DEFAULT }     // 3
    virtual void OnFlightPlanDisconnect(CFlightPlan) { ZDB_SDK_DEFAULT }           // 4
    virtual void OnFlightPlanFlightPlanDataUpdate(CFlightPlan) { ZDB_SDK_DEFAULT } // 5
    virtual void OnPlaneInformationUpdate(const char *, const char *, const char *) {  // 6
        ZDB_SDK_DEFAULT
    }
    virtual void OnFlightPlanControllerAssignedDataUpdate(CFlightPlan, int) {  // 7
        ZDB_SDK_DEFAULT
    }
    virtual void OnFlightPlanFlightStripPushed(CFlightPlan, const char *, const char *) {  // 8
        ZDB_SDK_DEFAULT
    }
    virtual CRadarScreen *OnRadarScreenCreated(const char *, bool, bool, bool, bool) {  // 9
        ZDB_SDK_DEFAULT
        return nullptr;
    }
    virtual bool OnCompileCommand(const char *) { ZDB_SDK_DEFAULT return false; }  // 10
    virtual void OnCompileFrequencyChat(const char *, double, const char *) {      // 11
        ZDB_SDK_DEFAULT
    }
    virtual void OnCompilePrivateChat(const char *, const char *, const char *) {  // 12
        ZDB_SDK_DEFAULT
    }
    virtual void OnGetTagItem(CFlightPlan, CRadarTarget, int, int, char[16], int *, COLORREF *,
                              double *) {  // 13
        ZDB_SDK_DEFAULT
    }
    virtual void OnRefreshFpListContent(CFlightPlanList) { ZDB_SDK_DEFAULT }        // 14
    virtual void OnNewMetarReceived(const char *, const char *) { ZDB_SDK_DEFAULT } // 15
    virtual void OnFunctionCall(int, const char *, POINT, RECT) { ZDB_SDK_DEFAULT } // 16
    virtual void OnAirportRunwayActivityChanged(void) { ZDB_SDK_DEFAULT }           // 17
    virtual void OnTimer(int) { ZDB_SDK_DEFAULT }                                   // 18
    virtual void OnVoiceTransmitStarted(bool) { ZDB_SDK_DEFAULT }                   // 19
    virtual void OnVoiceTransmitEnded(bool) { ZDB_SDK_DEFAULT }                     // 20
    virtual void OnVoiceReceiveStarted(CGrountToAirChannel) { ZDB_SDK_DEFAULT }     // 21
    virtual void OnVoiceReceiveEnded(CGrountToAirChannel) { ZDB_SDK_DEFAULT }       // 22

private:
    [[maybe_unused]] void *m_pPlugInData;
};

}  // namespace EuroScopePlugIn

#if defined(_WIN32) && (defined(__i386__) || defined(_M_IX86))
static_assert(sizeof(EuroScopePlugIn::CPlugIn) == 8, "client's CPlugIn layout");
static_assert(sizeof(EuroScopePlugIn::CController) == 8, "client's CController layout");
static_assert(sizeof(EuroScopePlugIn::CFlightPlan) == 4, "client's CFlightPlan layout");
static_assert(sizeof(POINT) + sizeof(RECT) == 24, "OnFunctionCall takes 32 bytes of arguments");
#endif
