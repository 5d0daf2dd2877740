// A plug-in loaded the way the client loads it, on top of the stand-in.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/handles.h"
#include "host/host_state.h"
#include "sdk/EuroScopePlugIn.h"
#include "shell/bridge_plugin.h"
#include "standin/standin.h"
#include "tests/unit/test_support.h"

extern "C" BOOL WINAPI DllMain(HMODULE module, DWORD reason, void *reserved);
void EuroScopePlugInInit(EuroScopePlugIn::CPlugIn **ppPlugInInstance);
void EuroScopePlugInExit(void);

const char kGoodToken[] = "0123456789abcdef0123456789abcdef";  // 32 characters

class BridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        standin::Reset();
        standin::SetRealSleep(false);
        modulePath = dir.File("Plug.dll");
        standin::SetModulePath(modulePath);
        DllMain(reinterpret_cast<HMODULE>(0x10000), DLL_PROCESS_ATTACH, nullptr);
        HostState *state = ZdbHostState();
        *state = HostState{};
        state->controllerValid = true;
        state->controllerCallsign = "eddf_gnd";
    }

    void TearDown() override {
        EuroScopePlugInExit();
        ExpectLocksTidy();
    }

    // Every lock a load initialises, its unload deletes, each once (a worker
    // stuck past the unload's wait keeps its locks until the next load
    // reuses its place, and the test that makes one ends with that reuse).
    void ExpectLocksTidy() {
        EXPECT_EQ(standin::LiveCriticalSections(), 0) << "locks left live after the unload";
        EXPECT_EQ(standin::CriticalSectionMisuses(), std::vector<std::string>{});
    }

    // A clean stand-in and log between the rounds of one test, each round
    // unloaded first.
    void Restart() {
        ExpectLocksTidy();
        standin::Reset();
        standin::SetRealSleep(false);
        standin::SetModulePath(modulePath);
        std::filesystem::remove(dir.File("Plug.log"));
    }

    void WriteSettings(const std::string &endpoint, const std::string &token,
                       const std::string &airports = "EDDF,EDDM") {
        testing_support::WriteWholeFile(dir.File("Plug.ini"),
                                        "[Bridge]\r\nEndpoint=" + endpoint + "\r\nToken=" + token +
                                            "\r\nAirports=" + airports + "\r\n");
    }

    CBridgePlugIn *Init() {
        EuroScopePlugIn::CPlugIn *object = nullptr;
        EuroScopePlugInInit(&object);
        return static_cast<CBridgePlugIn *>(object);
    }

    std::vector<std::string> Log() { return testing_support::LogMessages(dir.File("Plug.log")); }

    // Notifies the plug-in that the scratch pad of `plan` changed.
    void Notify(CBridgePlugIn *bridge, HostFlightPlan *plan, int dataType = 5) {
        bridge->OnFlightPlanControllerAssignedDataUpdate(host::MakeFlightPlan(plan), dataType);
    }

    testing_support::TempDir dir;
    std::string modulePath;
};
