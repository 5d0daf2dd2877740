// Capture runs on the radar client's thread and must never allocate. This
// program counts every heap allocation made by the test's own thread
// (malloc and everything built on it, operator new included), leaving out
// the stand-in's heap use for kernel objects, which Windows would not make in
// the process. Built without sanitizers, which bring allocators of their own.
#include <gtest/gtest.h>

#include <atomic>

#include "tests/unit/bridge_fixture.h"

extern "C" void *__libc_malloc(size_t size);
extern "C" void *__libc_calloc(size_t count, size_t size);
extern "C" void *__libc_realloc(void *block, size_t size);

namespace {
thread_local bool t_counting = false;
std::atomic<int> g_allocations{0};

void Count() {
    if (t_counting && !standin::InsideKernelAllocation()) ++g_allocations;
}
}  // namespace

extern "C" void *malloc(size_t size) {
    Count();
    return __libc_malloc(size);
}
extern "C" void *calloc(size_t count, size_t size) {
    Count();
    return __libc_calloc(count, size);
}
extern "C" void *realloc(void *block, size_t size) {
    Count();
    return __libc_realloc(block, size);
}

namespace {

// Allocations made by this thread while `work` runs.
template <class Work>
int AllocationsDuring(Work work) {
    g_allocations = 0;
    t_counting = true;
    work();
    t_counting = false;
    return g_allocations.load();
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

}  // namespace
