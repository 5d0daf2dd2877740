#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/stand_message.h"
#include "tests/unit/bridge_fixture.h"

namespace {

// Capture with no worker: the plug-in is loaded disabled (no settings) and
// then switched on by hand, so queued events stay in the queue to be read.
class Capture : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        bridge = Init();
        bridge->enabled = true;
        plan = {"abc123", "eddf", nullptr};
    }

    std::vector<StandEvent> Drain() {
        std::vector<StandEvent> events;
        StandEvent e;
        while (bridge->core.queue.TryPop(e)) events.push_back(e);
        return events;
    }

    void Set(const char *airports) { snprintf(bridge->core.settings.airports, 64, "%s", airports); }

    CBridgePlugIn *bridge = nullptr;
    HostFlightPlan plan;
};

struct Shape {
    const char *scratchPad;
    const char *planDestination;
    const char *action;  // null: nothing queued
    const char *destination;
    const char *stand;
};

TEST_F(Capture, ScratchPadShapes) {
    const Shape shapes[] = {
        {"DOK/S/ a12 ", "eddf", "assign", "EDDF", "A12"},
        {"DOK/S/", "eddf", "cancel", "EDDF", ""},
        {"DOK/S/   ", "eddf", "cancel", "EDDF", ""},
        {"DOK/S/A1", nullptr, nullptr, nullptr, nullptr},  // no destination
        {"DOK/S/A1", "  ", nullptr, nullptr, nullptr},
        {"DOK/S/A1/B2", "EDDF", "assign", "EDDF", "A1/B2"},
        {"DOK/S/" "abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwx", "EDDF", "assign", "EDDF",
         "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLM"},
        {"DOK/S/" "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa b", "EDDF", "assign", "EDDF",
         "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA "},
        {"DOK/M/", "LFPG", "manual_cancel", "", ""},
        {"DOK/M/ \t ", "LFPG", "manual_cancel", "", ""},
        {"DOK/M/EDDF/A12", "LFPG", "manual_occupy", "EDDF", "A12"},
        {"DOK/M/ eddf /a12", "LFPG", "manual_occupy", "EDDF", "A12"},
        {"DOK/M//A12", "LFPG", "manual_occupy", "", "A12"},
        {"DOK/M/EDDF/A12/X", "LFPG", "manual_occupy", "EDDF", "A12/X"},
        // The body drops control bytes JSON has no short escape for: a stand of
        // only those and blanks would arrive as "" or a blank, one with more
        // keeps them all here (BS is no blank).
        {"DOK/S/\x01\x1f", "EDDF", nullptr, nullptr, nullptr},
        {"DOK/M/EDDF/\x02", "EDDF", nullptr, nullptr, nullptr},
        {"DOK/S/\x01\t\x01", "EDDF", nullptr, nullptr, nullptr},
        {"DOK/M/EDDF/\x01 \x1f", "EDDF", nullptr, nullptr, nullptr},
        {"DOK/S/a\x01", "EDDF", "assign", "EDDF", "A\x01"},
        {"DOK/S/\x01\b\x01", "EDDF", "assign", "EDDF", "\x01\b\x01"},
        {"DOK/M/A12", "EDDF", nullptr, nullptr, nullptr},
        {"DOK/M/EDDF/", "EDDF", nullptr, nullptr, nullptr},
        {"DOK/M/EDDF/  ", "EDDF", nullptr, nullptr, nullptr},
        {"DOK/M/EDDK/A12", "EDDF", nullptr, nullptr, nullptr},
        {"DOK/S/A1", "EDDK", nullptr, nullptr, nullptr},
        {" DOK/S/A1", "EDDF", nullptr, nullptr, nullptr},
        {"dok/s/A1", "EDDF", nullptr, nullptr, nullptr},
        {"DOK/s/A1", "EDDF", nullptr, nullptr, nullptr},
        {"DOK/", "EDDF", nullptr, nullptr, nullptr},
        {"", "EDDF", nullptr, nullptr, nullptr},
        {"DOK/X/A1", "EDDF", nullptr, nullptr, nullptr},
    };
    for (const Shape &s : shapes) {
        plan.scratchPad = s.scratchPad;
        plan.destination = s.planDestination;
        Notify(bridge, &plan);
        std::vector<StandEvent> events = Drain();
        if (!s.action) {
            EXPECT_TRUE(events.empty()) << s.scratchPad;
            continue;
        }
        ASSERT_EQ(events.size(), 1u) << s.scratchPad;
        const StandEvent &e = events[0];
        EXPECT_STREQ(e.action, s.action) << s.scratchPad;
        EXPECT_STREQ(e.callsign, "ABC123");
        EXPECT_STREQ(e.destination, s.destination) << s.scratchPad;
        EXPECT_STREQ(e.stand, s.stand) << s.scratchPad;
        EXPECT_STREQ(e.controller, "EDDF_GND");
        EXPECT_EQ(strlen(e.observedAt), 24u);
    }
}

TEST_F(Capture, AirportList) {
    struct Case {
        const char *airports;
        const char *scratchPad;
        const char *planDestination;
        bool queued;
    } cases[] = {
        {"EDDF; EDDM", "DOK/S/A1", "EDDM", true},
        {"EDDF\tEDDM", "DOK/S/A1", "EDDM", true},
        {",;EDDF,,  ;;EDDM;", "DOK/S/A1", "EDDM", true},
        {"EDDF,EDDM", "DOK/S/A1", "EDD", false},
        {"EDDF,EDDM", "DOK/S/A1", "EDDFX", false},
        {"EDDF,EDDM", "DOK/S/A1", "XDDF", false},  // every letter counts, the first too
        {"ABCDEFGXYZ", "DOK/S/A1", "abcdefgHIJ", true},  // equal in their first 7 bytes
        {", ; \t", "DOK/S/A1", "EDDF", false},
        {", ; \t", "DOK/M/", "EDDF", true},
        {", ; \t", "DOK/M//A1", "EDDF", true},
        {", ; \t", "DOK/M/EDDF/A1", "EDDF", false},
        {"", "DOK/S/A1", "EDDF", false},
        {"", "DOK/M/", "EDDF", true},
        {"\x01,EDDF", "DOK/M/\x01/A1", "EDDF", false},  // listed, yet it would arrive as ""
    };
    for (const Case &c : cases) {
        Set(c.airports);
        plan.scratchPad = c.scratchPad;
        plan.destination = c.planDestination;
        Notify(bridge, &plan);
        EXPECT_EQ(Drain().size(), c.queued ? 1u : 0u) << c.airports << " " << c.scratchPad;
    }
}

TEST_F(Capture, FlightPlanAndControllerGaps) {
    plan.scratchPad = "DOK/M/";
    plan.callsign = "  \t";
    Notify(bridge, &plan);
    plan.callsign = nullptr;
    Notify(bridge, &plan);
    plan.callsign = "\x01\x1b";  // nothing the body would carry
    Notify(bridge, &plan);
    plan.callsign = "\x01 \x01";  // a blank alone
    Notify(bridge, &plan);
    plan.callsign = "abc123";
    plan.scratchPad = nullptr;
    Notify(bridge, &plan);
    EXPECT_TRUE(Drain().empty());

    plan.scratchPad = "DOK/M/";
    ZdbHostState()->controllerValid = false;
    Notify(bridge, &plan);
    ZdbHostState()->controllerValid = true;
    ZdbHostState()->controllerCallsign = nullptr;
    Notify(bridge, &plan);
    ZdbHostState()->controllerCallsign = "\x07";  // would arrive as "": null instead
    Notify(bridge, &plan);
    ZdbHostState()->controllerCallsign = "\x07 \x07";  // would arrive as " "
    Notify(bridge, &plan);
    ZdbHostState()->controllerCallsign = "\x07x";
    Notify(bridge, &plan);
    std::vector<StandEvent> events = Drain();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_STREQ(events[0].controller, "");
    EXPECT_STREQ(events[1].controller, "");
    EXPECT_STREQ(events[2].controller, "");
    EXPECT_STREQ(events[3].controller, "");
    EXPECT_STREQ(events[4].controller, "\x07X");
}

TEST_F(Capture, IgnoredNotificationsNeverCallTheClient) {
    plan.scratchPad = "DOK/S/A1";
    HostState *state = ZdbHostState();
    for (int dataType : {0, 1, 4, 6, -5, 5 + 256}) {
        state->clientCalls = 0;
        Notify(bridge, &plan, dataType);
        EXPECT_EQ(state->clientCalls, 0u) << dataType;
    }
    state->clientCalls = 0;
    Notify(bridge, nullptr);  // invalid flight plan
    bridge->enabled = false;
    Notify(bridge, &plan);
    EXPECT_EQ(state->clientCalls, 0u);
    EXPECT_TRUE(Drain().empty());
}

TEST_F(Capture, TheSameMessageTwiceQueuesTwoEventsAndLogsEach) {
    plan.scratchPad = "DOK/S/A12";
    Notify(bridge, &plan);
    Notify(bridge, &plan);
    EXPECT_EQ(Drain().size(), 2u);
    std::vector<std::string> log = Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1], "Captured assign ABC123 EDDF A12");
    EXPECT_EQ(log[2], "Captured assign ABC123 EDDF A12");
}

TEST_F(Capture, HugeAndHostileScratchPadsStayInBounds) {
    std::string huge = "DOK/S/" + std::string(100000, 'a');
    plan.scratchPad = huge.c_str();
    Notify(bridge, &plan);
    std::string hostile = "DOK/M//";
    for (int b = 1; b < 256; ++b) hostile.push_back(static_cast<char>(b));
    plan.scratchPad = hostile.c_str();
    Notify(bridge, &plan);
    std::vector<StandEvent> events = Drain();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(std::string(events[0].stand), std::string(39, 'A'));
    EXPECT_STREQ(events[1].action, "manual_occupy");
    EXPECT_STREQ(events[1].destination, "");
    EXPECT_EQ(strlen(events[1].stand), 39u);
}

}  // namespace
