// The whole plug-in at once: the client's thread capturing while the worker
// delivers through the WinHTTP double, and the unload at a random moment.
// Run under ThreadSanitizer by the test command; ZDB_STRESS_RUNS sets the
// number of runs (200 by default) for a longer run.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "tests/unit/bridge_fixture.h"

namespace {

int Runs() {
    const char *text = std::getenv("ZDB_STRESS_RUNS");
    return text ? std::max(1, std::atoi(text)) : 200;
}

using standin::HttpScript;
using standin::HttpStep;

// One attempt's fate: mostly answered, sometimes refused or failing at a
// random step, sometimes a little slow.
HttpScript RandomScript(std::mt19937 &random) {
    static const DWORD kStatuses[] = {200, 201, 204, 299, 301, 400, 429, 500, 503};
    HttpScript s;
    s.status = kStatuses[random() % 9];
    if (random() % 5 == 0) {
        s.fail = true;
        s.failAt = static_cast<HttpStep>(random() % 7);
    }
    if (random() % 3 == 0) {
        int micros = static_cast<int>(random() % 300);
        s.stallAt = static_cast<HttpStep>(random() % 7);
        s.stall = [micros] { std::this_thread::sleep_for(std::chrono::microseconds(micros)); };
    }
    return s;
}

class SystemStress : public BridgeTest {};

TEST_F(SystemStress, CaptureDeliverAndUnloadAtRandomMoments) {
    std::mt19937 random(20261207);
    const int runs = Runs();
    for (int run = 0; run < runs; ++run) {
        Restart();
        for (int i = 0; i < 64; ++i) standin::QueueHttpScript(RandomScript(random));
        WriteSettings("https://stands.example.org/in", kGoodToken);

        CBridgePlugIn *bridge = Init();
        ASSERT_TRUE(bridge->enabled);
        static const char *kPads[] = {"DOK/S/A1", "DOK/S/", "DOK/M/", "DOK/M/EDDF/B2",
                                      "DOK/M//C3", "nothing", "DOK/S/A1/B2"};
        HostFlightPlan plan = {"abc123", "EDDF", nullptr};
        int notifications = static_cast<int>(random() % 400);
        for (int i = 0; i < notifications; ++i) {
            plan.scratchPad = kPads[random() % 7];
            Notify(bridge, &plan);
            if (random() % 50 == 0) std::this_thread::yield();
        }
        // The unload lands anywhere from "at once" to "mid-delivery".
        if (random() % 2) std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        EuroScopePlugInExit();

        auto log = Log();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log.front(), "Bridge loaded; event worker started") << run;
        EXPECT_EQ(log.back(), "Bridge unloaded") << run;
        size_t captured = 0, outcomes = 0;
        for (const auto &line : log) {
            captured += line.rfind("Captured ", 0) == 0;
            outcomes += line.rfind("Delivered ", 0) == 0 || line.rfind("Event abandoned ", 0) == 0;
        }
        EXPECT_LE(outcomes, captured) << run;
        if (getenv("ZDB_STRESS_VERBOSE")) printf("run %d: %d notified, %zu captured, %zu outcomes, %zu lines\n", run, notifications, captured, outcomes, log.size());
        EXPECT_EQ(standin::OpenKernelHandles(), 0) << run;
        EXPECT_EQ(standin::OpenHttpHandles(), 0) << run;
        EXPECT_EQ(standin::ModuleReferences(), 0) << run;
        EXPECT_EQ(standin::LiveCriticalSections(), 0) << run;
        if (HasFailure()) break;
    }
}

}  // namespace
