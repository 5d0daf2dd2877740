#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "shell/endpoint.h"
#include "shell/settings.h"
#include "tests/unit/bridge_fixture.h"

namespace {

using Messages = std::vector<std::string>;
const char kDisabled[] = "Bridge disabled: Endpoint/Token missing or invalid";
const char kNoWakeEvent[] = "Bridge disabled: could not create the wake event";
const char kNoWorker[] = "Bridge disabled: could not start the worker thread";
const char kLoaded[] = "Bridge loaded; event worker started";
const char kUnloaded[] = "Bridge unloaded";

TEST(SiblingPath, ReplacesTheExtensionOfTheFinalComponentOnly) {
    struct Case {
        std::string module;
        std::string ini, log;
    } cases[] = {
        {"C:\\Radar\\Plugins\\ZeltanDokBridge.dll", "C:\\Radar\\Plugins\\ZeltanDokBridge.ini",
         "C:\\Radar\\Plugins\\ZeltanDokBridge.log"},
        {"C:\\a.b\\Plug.dll", "C:\\a.b\\Plug.ini", "C:\\a.b\\Plug.log"},
        {"C:\\my.tools\\bridge.beta.dll", "C:\\my.tools\\bridge.beta.ini",
         "C:\\my.tools\\bridge.beta.log"},
        {"x.beta.dll", "x.beta.ini", "x.beta.log"},
        // No extension: the whole name keeps, the suffix follows it.
        {"C:\\a.b\\Plug", "C:\\a.b\\Plug.ini", "C:\\a.b\\Plug.log"},
        {"Plug", "Plug.ini", "Plug.log"},
        // Only '\' separates components.
        {"C:\\x/y.z/Plug", "C:\\x/y.ini", "C:\\x/y.log"},
    };
    for (const Case &c : cases) {
        standin::Reset();
        standin::SetModulePath(c.module);
        char field[kPathCapacity];
        MakeSiblingPath(field, ".ini");
        EXPECT_EQ(std::string(field), c.ini);
        MakeSiblingPath(field, ".log");
        EXPECT_EQ(std::string(field), c.log);
    }
}

TEST(SiblingPath, CutsTheSuffixNearTheLimit) {
    // A 259-character path whose final '.' stands at `dot`.
    struct Case {
        size_t dot;
        const char *ending;
    } cases[] = {{255, ".ini"}, {256, ".in"}, {257, ".i"}, {258, "."}};
    for (const Case &c : cases) {
        standin::Reset();
        std::string module = "C:\\" + std::string(c.dot - 3, 'p') + "." + std::string(258 - c.dot, 'd');
        ASSERT_EQ(module.size(), 259u);
        standin::SetModulePath(module);
        char field[kPathCapacity];
        MakeSiblingPath(field, ".ini");
        EXPECT_EQ(std::string(field), module.substr(0, c.dot) + c.ending);
    }
}

TEST(SiblingPath, ANameThatCannotBeHadWholeGivesNothing) {
    for (size_t length : {260u, 261u, 400u}) {
        standin::Reset();
        standin::SetModulePath("C:\\" + std::string(length - 7, 'p') + ".dll");
        char field[kPathCapacity];
        memset(field, 'x', sizeof field);
        MakeSiblingPath(field, ".log");
        EXPECT_STREQ(field, "") << length;
    }
    standin::Reset();  // no module name at all
    char field[kPathCapacity] = "stale";
    MakeSiblingPath(field, ".log");
    EXPECT_STREQ(field, "");
}

using Lifecycle = BridgeTest;

TEST_F(Lifecycle, WithoutSettingsTheObjectIsHandedOverDisabled) {
    CBridgePlugIn *bridge = Init();
    ASSERT_NE(bridge, nullptr);
    EXPECT_FALSE(bridge->enabled);
    HostState *state = ZdbHostState();
    EXPECT_EQ(state->compatibilityCode, 16);
    EXPECT_STREQ(state->name, "ZELTAN DOK Bridge");
    EXPECT_STREQ(state->version, ZDB_VERSION);
    EXPECT_STREQ(state->author, "ZELTAN DOK Bridge developers");
    EXPECT_STREQ(state->copyright, "Copyright (c) 2026 ZELTAN");
    EuroScopePlugInExit();
    EXPECT_EQ(Log(), (Messages{kDisabled, kUnloaded}));
    EXPECT_EQ(state->destroyed, 1u);
    EXPECT_EQ(standin::OpenKernelHandles(), 0);
}

// After the first ending the storage holds an InertPlugIn, whose destructor
// does nothing: an exit that still went through a stale live-object pointer
// would change no outcome here, but the ASan+UBSan build (unit_asan) stops
// at it as a member call on an object that is no longer a CBridgePlugIn.
TEST_F(Lifecycle, ExitBeforeInitAndASecondExitDoNothing) {
    EuroScopePlugInExit();
    Init();
    EuroScopePlugInExit();
    EuroScopePlugInExit();
    EXPECT_EQ(Log(), (Messages{kDisabled, kUnloaded}));
    EXPECT_EQ(ZdbHostState()->destroyed, 1u);
}

TEST_F(Lifecycle, TheClientsVirtualDestructorShutsDownOnceAndFreesNothing) {
    CBridgePlugIn *bridge = Init();
    EuroScopePlugIn::CPlugIn *base = bridge;
    delete base;  // the client asks for the memory back: static storage must survive
    EuroScopePlugInExit();
    EXPECT_EQ(Log(), (Messages{kDisabled, kUnloaded}));
    EXPECT_EQ(ZdbHostState()->destroyed, 1u);
}

TEST_F(Lifecycle, AnEmptyLogPathWritesNothingAnywhere) {
    standin::SetModulePath("C:\\" + std::string(300, 'p') + ".dll");
    Init();
    EuroScopePlugInExit();
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(Lifecycle, TokenOfThirtyTwoCharactersEnablesDelivery) {
    // What the platform refuses while the worker is being started.
    enum class Refused { Nothing, ModulePin, WakeEvent, Thread };
    struct Case {
        std::string endpoint, token;
        std::string outcome;  // the load's line; only kLoaded enables
        Refused refused = Refused::Nothing;
    } cases[] = {
        {"https://example.com/x", kGoodToken, kLoaded},
        // Good settings: the line names what Windows refused instead.
        {"https://example.com/x", kGoodToken, kNoWorker, Refused::ModulePin},
        {"https://example.com/x", kGoodToken, kNoWakeEvent, Refused::WakeEvent},
        {"https://example.com/x", kGoodToken, kNoWorker, Refused::Thread},
        {"http://127.0.0.1:8080/x", kGoodToken, kLoaded},
        {"https://example.com/x", std::string(kGoodToken).substr(1), kDisabled},
        {"", kGoodToken, kDisabled},
        {"HTTPS://example.com/x", kGoodToken, kDisabled},
        {"http://example.com:80/x", kGoodToken, kDisabled},
        {"https://example.com:00000443/x", kGoodToken, kDisabled},
    };
    CBridgePlugIn *first = nullptr;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.endpoint + " " + c.token + " refused " +
                     std::to_string(static_cast<int>(c.refused)));
        WriteSettings(c.endpoint, c.token);
        std::filesystem::remove(dir.File("Plug.log"));
        standin::FailModuleHandleEx(c.refused == Refused::ModulePin);
        standin::FailCreateEvent(c.refused == Refused::WakeEvent);
        standin::FailCreateThread(c.refused == Refused::Thread);
        const bool enabled = c.outcome == kLoaded;
        CBridgePlugIn *bridge = Init();
        EXPECT_EQ(bridge->enabled, enabled);
        // No row leaves a worker marked running: each load takes the first place again.
        if (!first) first = bridge;
        EXPECT_EQ(bridge, first);
        HostFlightPlan plan = {"ABC123", "EDDF", "DOK/S/A12"};
        Notify(bridge, &plan);  // a disabled bridge captures nothing
        EuroScopePlugInExit();
        Messages log = Log();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.front(), c.outcome);
        EXPECT_EQ(std::count(log.begin(), log.end(), "Captured assign ABC123 EDDF A12"),
                  enabled ? 1 : 0);
        EXPECT_EQ(log.back(), kUnloaded);
        EXPECT_EQ(standin::OpenKernelHandles(), 0);
        EXPECT_EQ(standin::ModuleReferences(), 0);
    }
}

TEST_F(Lifecycle, LoadingAgainStartsFromTheSettingsOfThatLoad) {
    WriteSettings("https://example.com/x", kGoodToken);
    EXPECT_TRUE(Init()->enabled);
    EuroScopePlugInExit();
    WriteSettings("https://example.com/x", "short");
    EXPECT_FALSE(Init()->enabled);
    EuroScopePlugInExit();
    EXPECT_EQ(Log(), (Messages{kLoaded, kUnloaded, kDisabled, kUnloaded}));
}

}  // namespace
