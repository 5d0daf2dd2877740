// Capture runs on the radar client's thread and must never allocate.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/alloc/alloc_hook.h"
#include "tests/unit/bridge_fixture.h"

namespace {

// Allocations made by this thread while `work` runs.
template <class Work>
int AllocationsDuring(Work work) {
    alloc_hook::Start(alloc_hook::Scope::ThisThread);
    work();
    return alloc_hook::Stop();
}

class CaptureAllocations : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        bridge = Init();
        bridge->enabled = true;  // capture without a worker, as the unit tests do
    }
    CBridgePlugIn *bridge = nullptr;
};

TEST_F(CaptureAllocations, TheCounterSeesAllocations) {
    EXPECT_EQ(AllocationsDuring([] {
                  void *volatile block = ::operator new(16);
                  ::operator delete(block);
              }),
              1);
    EXPECT_EQ(AllocationsDuring([] { std::string s(100, 'x'); }), 1);

    // With every thread counted, another thread's allocation shows too.
    std::atomic<bool> go{false}, done{false};
    std::thread other([&] {
        while (!go) std::this_thread::yield();
        void *volatile block = ::operator new(16);
        ::operator delete(block);
        done = true;
    });
    alloc_hook::Start(alloc_hook::Scope::AllThreads);
    go = true;
    while (!done) std::this_thread::yield();
    EXPECT_EQ(alloc_hook::Stop(), 1);
    other.join();
}

TEST_F(CaptureAllocations, CaptureNeverAllocates) {
    HostFlightPlan plan = {"abc123", "eddf", "DOK/S/A12"};
    // A queued event: capture, queue, "Captured" log line.
    EXPECT_EQ(AllocationsDuring([&] { Notify(bridge, &plan); }), 0);
    // An overflowing queue adds the "Queue full" line.
    for (int i = 0; i < 300; ++i) Notify(bridge, &plan);
    EXPECT_EQ(AllocationsDuring([&] { Notify(bridge, &plan); }), 0);
    // Ignored: another data type, an invalid flight plan, disabled.
    EXPECT_EQ(AllocationsDuring([&] { Notify(bridge, &plan, 4); }), 0);
    EXPECT_EQ(AllocationsDuring([&] { Notify(bridge, nullptr); }), 0);
    plan.scratchPad = "not a stand message";
    EXPECT_EQ(AllocationsDuring([&] { Notify(bridge, &plan); }), 0);
    bridge->enabled = false;
    plan.scratchPad = "DOK/S/A12";
    EXPECT_EQ(AllocationsDuring([&] { Notify(bridge, &plan); }), 0);
}

// Delivery, on the worker's thread, allocates nothing either: the whole
// road from scratch pad to "Delivered", counted on every thread.
TEST_F(BridgeTest, CaptureAndDeliveryNeverAllocate) {
    WriteSettings("https://stands.example.org/in", kGoodToken);
    CBridgePlugIn *bridge = Init();
    ASSERT_TRUE(bridge->enabled);
    HostFlightPlan plan = {"abc123", "eddf", "DOK/S/A12"};
    alloc_hook::Start(alloc_hook::Scope::AllThreads);
    for (int i = 0; i < 20; ++i) Notify(bridge, &plan);
    {
        alloc_hook::NotCounted watching;
        for (int i = 0; i < 500 && standin::HttpRequests().size() < 20; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    int allocations = alloc_hook::Stop();
    EXPECT_EQ(standin::HttpRequests().size(), 20u);
    EXPECT_EQ(allocations, 0);
}

}  // namespace
