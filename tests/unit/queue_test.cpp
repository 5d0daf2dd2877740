#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "capture/event_queue.h"
#include "diag/log_file.h"
#include "standin/standin.h"
#include "tests/unit/test_support.h"

namespace {

// An event whose every field carries its sequence number, so a torn copy
// (fields from two different events) shows.
StandEvent Numbered(uint32_t n) {
    std::string digits = std::to_string(n);
    return testing_support::MakeEvent("assign", ("C" + digits).c_str(), "EDDF",
                                      ("S" + digits).c_str(), ("K" + digits).c_str());
}

uint32_t NumberOf(const StandEvent &e) {
    uint32_t n = static_cast<uint32_t>(std::stoul(e.callsign + 1));
    EXPECT_EQ(std::string(e.stand), "S" + std::to_string(n)) << "torn event";
    EXPECT_EQ(std::string(e.controller), "K" + std::to_string(n)) << "torn event";
    return n;
}

class Queue : public ::testing::Test {
protected:
    void SetUp() override {
        standin::Reset();
        memset(&queue, 0, sizeof queue);
        memset(&log, 0, sizeof log);
        InitializeCriticalSection(&queue.queueLock);
        InitializeCriticalSection(&log.logLock);
        queue.wakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        snprintf(log.logPath, sizeof log.logPath, "%s", dir.File("q.log").c_str());
    }
    void TearDown() override {
        CloseHandle(queue.wakeEvent);
        DeleteCriticalSection(&queue.queueLock);
        DeleteCriticalSection(&log.logLock);
    }
    size_t CountLines(const std::string &message) {
        size_t n = 0;
        for (const auto &m : testing_support::LogMessages(dir.File("q.log"))) n += m == message;
        return n;
    }

    testing_support::TempDir dir;
    EventQueue queue;
    BridgeLog log;
};

TEST_F(Queue, OverflowByKKeepsTheNewest256InOrder) {
    for (uint32_t k : {0u, 1u, 5u, 255u, 256u}) {
        queue.head = queue.count = 0;
        std::filesystem::remove(dir.File("q.log"));
        for (uint32_t i = 0; i < 256 + k; ++i) queue.Push(Numbered(i), log);
        EXPECT_EQ(queue.count, 256u);
        EXPECT_EQ(queue.head, k % 256);
        EXPECT_EQ(CountLines("Queue full; oldest event dropped"), k);
        for (uint32_t i = k; i < 256 + k; ++i) {
            StandEvent e;
            ASSERT_TRUE(queue.TryPop(e));
            EXPECT_EQ(NumberOf(e), i);
        }
        StandEvent e;
        EXPECT_FALSE(queue.TryPop(e));
    }
}

TEST_F(Queue, OverflowLineComesRightBeforeItsCapturedLine) {
    for (uint32_t i = 0; i < 257; ++i) queue.Push(Numbered(i), log);
    auto messages = testing_support::LogMessages(dir.File("q.log"));
    ASSERT_EQ(messages.size(), 258u);
    EXPECT_EQ(messages[256], "Queue full; oldest event dropped");
    EXPECT_EQ(messages[257], "Captured assign C256 EDDF S256");
}

TEST_F(Queue, HeadWrapsWithoutBreakingOrder) {
    uint32_t next = 0, expected = 0;
    for (int round = 0; round < 5; ++round) {  // head passes 255 -> 0 more than once
        for (int i = 0; i < 200; ++i) queue.Push(Numbered(next++), log);
        StandEvent e;
        while (queue.TryPop(e)) EXPECT_EQ(NumberOf(e), expected++);
    }
    EXPECT_EQ(expected, next);
    StandEvent untouched = Numbered(7);
    EXPECT_FALSE(queue.TryPop(untouched));
    EXPECT_EQ(NumberOf(untouched), 7u);  // an empty pop changes nothing
}

TEST_F(Queue, EveryPushSignalsTheWakeEvent) {
    for (int i = 0; i < 300; ++i) {
        queue.Push(Numbered(i), log);
        EXPECT_EQ(WaitForSingleObject(queue.wakeEvent, 0), WAIT_OBJECT_0) << i;
    }
}

// One thread pushes 100,000 events while another pops: every event popped is
// whole and in push order, the newest is never lost, and each lost event
// left exactly one "Queue full" line.
TEST_F(Queue, ConcurrentPushAndPopLoseOnlyOverwrittenEvents) {
    const uint32_t kEvents = 100000;
    std::atomic<bool> done{false};
    std::vector<uint32_t> popped;
    popped.reserve(kEvents);
    std::thread consumer([&] {
        StandEvent e;
        for (;;) {
            bool finished = done.load();
            while (queue.TryPop(e)) popped.push_back(NumberOf(e));
            if (finished) break;
            std::this_thread::yield();
        }
    });
    for (uint32_t i = 0; i < kEvents; ++i) queue.Push(Numbered(i), log);
    done = true;
    consumer.join();

    ASSERT_FALSE(popped.empty());
    for (size_t i = 1; i < popped.size(); ++i) ASSERT_LT(popped[i - 1], popped[i]);
    EXPECT_EQ(popped.back(), kEvents - 1);
    uint32_t lost = kEvents - static_cast<uint32_t>(popped.size());
    EXPECT_EQ(CountLines("Queue full; oldest event dropped"), lost);
    EXPECT_EQ(CountLines("Captured assign C0 EDDF S0"), 1u);
    EXPECT_EQ(CountLines("Captured assign C99999 EDDF S99999"), 1u);
}

}  // namespace
