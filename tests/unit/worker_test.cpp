#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "delivery/delivery_worker.h"
#include "tests/unit/bridge_fixture.h"

namespace {

using Messages = std::vector<std::string>;
using standin::HttpScript;
using standin::HttpStep;
using testing_support::MakeEvent;

const char kEndpoint[] = "https://stands.example.org:8443/v1/events";

HttpScript Answer(DWORD status) {
    HttpScript s;
    s.status = status;
    return s;
}

HttpScript FailAt(HttpStep step) {
    HttpScript s;
    s.fail = true;
    s.failAt = step;
    return s;
}

// A stall the test opens when it wants; the worker waits in it.
class Gate {
public:
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        entered_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
    }
    void WaitUntilEntered() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return entered_; });
    }
    void Open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false, open_ = false;
};

// An attempt that waits in `step` until the test opens `gate`, then answers.
HttpScript HeldAt(HttpStep step, Gate &gate, DWORD status) {
    HttpScript s = Answer(status);
    s.stallAt = step;
    s.stall = [&gate] { gate.Wait(); };
    return s;
}

class Worker : public BridgeTest {
protected:
    CBridgePlugIn *Start(const char *endpoint = kEndpoint) {
        WriteSettings(endpoint, kGoodToken);
        bridge = Init();
        EXPECT_TRUE(bridge->enabled);
        return bridge;
    }

    void Push(const StandEvent &event) { bridge->core.queue.Push(event, bridge->core.log); }

    // Polls the raw log (lines may be half written) until `text` shows up
    // `times` times, for at most five seconds.
    bool WaitForLog(const std::string &text, size_t times = 1) {
        for (int i = 0; i < 500; ++i) {
            std::string all = testing_support::ReadWholeFile(dir.File("Plug.log"));
            size_t n = 0;
            for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
                ++n;
            if (n >= times) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // The log after unloading, without the load and unload lines.
    Messages DeliveryLines() {
        EuroScopePlugInExit();
        Messages all = Log();
        EXPECT_GE(all.size(), 2u);
        EXPECT_EQ(all.back(), "Bridge unloaded");
        Messages middle;
        for (const std::string &m : all)
            if (m.rfind("Bridge ", 0) != 0 && m.rfind("Captured ", 0) != 0) middle.push_back(m);
        return middle;
    }

    CBridgePlugIn *bridge = nullptr;
};

TEST_F(Worker, PostsTheEventAsJsonWithTheBearerToken) {
    Start();
    Push(MakeEvent("assign", "ABC123", "EDDF", "V155"));
    ASSERT_TRUE(WaitForLog("Delivered"));
    auto requests = standin::HttpRequests();
    ASSERT_EQ(requests.size(), 1u);
    const auto &r = requests[0];
    EXPECT_EQ(r.userAgent, u"ZELTAN-DOK-Bridge/" ZDB_USER_AGENT_VERSION);
    EXPECT_EQ(r.host, u"stands.example.org");
    EXPECT_EQ(r.port, 8443);
    EXPECT_EQ(r.verb, u"POST");
    EXPECT_EQ(r.path, u"/v1/events");
    EXPECT_EQ(r.openRequestFlags, WINHTTP_FLAG_SECURE);
    EXPECT_TRUE(r.redirectsDisabled);
    EXPECT_EQ(r.receiveResponseTimeout, 10000u);
    EXPECT_EQ((std::vector<int>(r.timeouts, r.timeouts + 4)), (std::vector<int>{5000, 5000, 5000, 10000}));
    EXPECT_EQ(r.headers, u"Content-Type: application/json\r\nAuthorization: Bearer "
                         u"0123456789abcdef0123456789abcdef\r\n");
    EXPECT_EQ(r.headers.size(), 88u);
    EXPECT_EQ(r.body,
              R"({"action":"assign","callsign":"ABC123","observedAt":"2024-01-02T03:04:05.006Z","controller":"EDDF_GND","destination":"EDDF","stand":"V155"})");
    EXPECT_EQ(r.totalLength, r.body.size());
    EXPECT_EQ(DeliveryLines(), (Messages{"Delivered assign ABC123 EDDF V155 (HTTP 200)"}));
    EXPECT_EQ(standin::OpenHttpHandles(), 0);
}

TEST_F(Worker, PlainHttpToLoopbackGoesWithoutTls) {
    Start("http://127.0.0.1:8080/in");
    Push(MakeEvent("manual_cancel", "ABC123", "", ""));
    ASSERT_TRUE(WaitForLog("Delivered"));
    auto requests = standin::HttpRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].openRequestFlags, 0u);
    EXPECT_EQ(requests[0].host, u"127.0.0.1");
    EXPECT_EQ(requests[0].port, 8080);
}

TEST_F(Worker, StatusDecidesSuccessAndFailuresAreRetriedWithGrowingPauses) {
    struct Case {
        DWORD status;
        bool success;
    } cases[] = {{200, true}, {299, true}, {201, true}, {199, false},
                 {300, false}, {401, false}, {500, false}};
    for (const Case &c : cases) {
        Restart();
        standin::SetDefaultHttpScript(Answer(c.status));
        Start();
        Push(MakeEvent("cancel", "ABC123", "EDDF", ""));
        ASSERT_TRUE(WaitForLog(c.success ? "Delivered" : "Event abandoned")) << c.status;
        std::string s = " (HTTP " + std::to_string(c.status) + ")";
        if (c.success) {
            EXPECT_EQ(DeliveryLines(), (Messages{"Delivered cancel ABC123 EDDF" + s})) << c.status;
            EXPECT_TRUE(standin::SleepsRecorded().empty());
        } else {
            Messages failed(4, "Delivery failed cancel ABC123 EDDF" + s);
            failed.push_back("Event abandoned cancel ABC123 EDDF");
            EXPECT_EQ(DeliveryLines(), failed) << c.status;
            EXPECT_EQ(standin::SleepsRecorded(), (std::vector<DWORD>{1000, 2000, 4000}));
            EXPECT_EQ(standin::HttpRequests().size(), 4u);
        }
    }
}

TEST_F(Worker, SuccessAtTheThirdAttempt) {
    standin::QueueHttpScript(Answer(500));
    standin::QueueHttpScript(FailAt(HttpStep::Connect));
    standin::QueueHttpScript(Answer(201));
    Start();
    Push(MakeEvent("assign", "ABC123", "EDDF", "A12"));
    Push(MakeEvent("manual_cancel", "XYZ9", "", ""));
    ASSERT_TRUE(WaitForLog("Delivered", 2));
    EXPECT_EQ(DeliveryLines(), (Messages{"Delivery failed assign ABC123 EDDF A12 (HTTP 500)",
                                         "Delivery failed assign ABC123 EDDF A12",
                                         "Delivered assign ABC123 EDDF A12 (HTTP 201)",
                                         "Delivered manual_cancel XYZ9 (HTTP 200)"}));
    EXPECT_EQ(standin::SleepsRecorded(), (std::vector<DWORD>{1000, 2000}));
}

TEST_F(Worker, EachFailingStepClosesWhatItOpenedInOrder) {
    struct Case {
        HttpStep step;
        std::vector<std::string> closes;
    } cases[] = {
        {HttpStep::Open, {}},
        {HttpStep::Connect, {"WinHttpCloseHandle(session)"}},
        {HttpStep::OpenRequest, {"WinHttpCloseHandle(connection)", "WinHttpCloseHandle(session)"}},
        {HttpStep::Send, {"WinHttpCloseHandle(request)", "WinHttpCloseHandle(connection)", "WinHttpCloseHandle(session)"}},
        {HttpStep::Receive, {"WinHttpCloseHandle(request)", "WinHttpCloseHandle(connection)", "WinHttpCloseHandle(session)"}},
        {HttpStep::QueryStatus, {"WinHttpCloseHandle(request)", "WinHttpCloseHandle(connection)", "WinHttpCloseHandle(session)"}},
    };
    Start();
    for (const Case &c : cases) {
        standin::QueueHttpScript(FailAt(c.step));
        size_t before = standin::HttpCalls().size();
        uint32_t status = 12345;
        EXPECT_FALSE(AttemptDelivery(bridge->core, MakeEvent("assign", "A", "EDDF", "A1"), status));
        EXPECT_EQ(status, 0u);
        std::vector<std::string> calls = standin::HttpCalls();
        std::vector<std::string> closes;
        for (size_t i = before; i < calls.size(); ++i)
            if (calls[i].rfind("WinHttpCloseHandle", 0) == 0) closes.push_back(calls[i]);
        EXPECT_EQ(closes, c.closes) << static_cast<int>(c.step);
        EXPECT_EQ(standin::OpenHttpHandles(), 0);
    }
}

TEST_F(Worker, MissingHostPathOrTokenFailBeforeAnyNetworkCall) {
    Start();
    for (char *field : {bridge->core.endpointAddress.host, bridge->core.endpointAddress.path,
                        bridge->core.settings.token}) {
        char saved = field[0];
        field[0] = '\0';
        size_t before = standin::HttpCalls().size();
        uint32_t status = 7;
        EXPECT_FALSE(AttemptDelivery(bridge->core, MakeEvent("assign", "A", "EDDF", "A1"), status));
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(standin::HttpCalls().size(), before);
        field[0] = saved;
    }
}

TEST(HeaderBlock, IsTheFixedHeadersTheTokenCutAt455UnitsAndOneTerminator) {
    const std::u16string fixed = u"Content-Type: application/json\r\nAuthorization: Bearer ";
    struct Case {
        std::u16string token;
        size_t kept;  // units of the token in the block
    } cases[] = {
        {u"0123456789abcdef0123456789abcdef", 32},
        {std::u16string(255, u't'), 255},
        {std::u16string(455, u't'), 455},
        {std::u16string(600, u't'), 455},  // more than ever fits
    };
    for (const Case &c : cases) {
        WCHAR block[kHeaderBlockCapacity];
        std::fill(std::begin(block), std::end(block), u'#');  // no terminator by luck
        uint32_t length = BuildHeaderBlock(block, c.token.c_str());
        std::u16string expected = fixed + c.token.substr(0, c.kept) + u"\r\n";
        ASSERT_EQ(length, expected.size()) << c.token.size();
        EXPECT_EQ(std::u16string(block, length), expected);
        EXPECT_EQ(block[length], 0);
    }
}

// ---- the stop flag at each point the worker looks at it ----

// The queue whose next take by the worker sets the stop flag, and the thread
// that pushes onto it and so must not set it.
std::atomic<BridgeCore *> stopAtTake{nullptr};
std::atomic<std::thread::id> pushingThread;

void StopAsTheWorkerTakes(CRITICAL_SECTION *lock) {
    BridgeCore *core = stopAtTake.load();
    if (!core || lock != &core->queue.queueLock || std::this_thread::get_id() == pushingThread)
        return;
    if (core->queue.count == 0) return;  // a look at an empty queue, not a take
    core->stopRequested.Set(true);
    stopAtTake = nullptr;
}

TEST_F(Worker, StopAsAnEventIsTakenOrDuringItsAttemptEndsWithoutTakingTheNext) {
    enum class StopAt { Taking, SuccessfulAttempt, Idle };
    struct Case {
        StopAt at;
        Messages lines;
        size_t requests;
    } cases[] = {
        {StopAt::Taking, {}, 0},  // dropped without a line, like the events still queued
        {StopAt::SuccessfulAttempt, {"Delivered assign ONE EDDF A1 (HTTP 201)"}, 1},
        {StopAt::Idle, {"Delivered assign ONE EDDF A1 (HTTP 200)", "Delivered assign TWO EDDF A2 (HTTP 200)"}, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.at));
        Restart();
        if (c.at == StopAt::SuccessfulAttempt) {
            HttpScript stopping = Answer(201);
            stopping.stallAt = HttpStep::Receive;
            stopping.stall = [this] { bridge->core.stopRequested.Set(true); };
            standin::QueueHttpScript(stopping);
        }
        standin::SetEnterLockHook(StopAsTheWorkerTakes);
        Start();
        if (c.at == StopAt::Taking) {
            pushingThread = std::this_thread::get_id();
            stopAtTake = &bridge->core;
        }
        Push(MakeEvent("assign", "ONE", "EDDF", "A1"));
        Push(MakeEvent("assign", "TWO", "EDDF", "A2"));
        if (c.at == StopAt::Taking) {
            for (int i = 0; i < 500 && stopAtTake; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ASSERT_EQ(stopAtTake.exchange(nullptr), nullptr) << "the worker took no event";
        } else {
            ASSERT_TRUE(WaitForLog("Delivered", c.requests));
        }
        if (c.at == StopAt::Idle) {
            // Both delivered, the worker waits on a clear wake event that only the unload sets now.
            bool waiting = false;
            for (int i = 0; i < 500 && !(waiting = standin::BlockedEventWaits() > 0); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ASSERT_TRUE(waiting) << "the worker never waited idle";
        }
        EXPECT_EQ(DeliveryLines(), c.lines);
        EXPECT_EQ(standin::HttpRequests().size(), c.requests);
        if (c.at == StopAt::Idle)
            EXPECT_EQ(standin::LastEventWaitResult(), WAIT_OBJECT_0)
                << "the unload did not wake the idle worker: its wait ran out instead";
    }
}

TEST_F(Worker, StopDuringThePauseAfterAttemptTwoEndsAfterThatPause) {
    standin::SetDefaultHttpScript(Answer(503));
    standin::SetSleepHook([this](DWORD ms) {
        if (ms == 2000) bridge->core.stopRequested.Set(true);
    });
    Start();
    Push(MakeEvent("assign", "ONE", "EDDF", "A1"));
    ASSERT_TRUE(WaitForLog("Delivery failed", 2));
    EXPECT_EQ(DeliveryLines(), (Messages(2, "Delivery failed assign ONE EDDF A1 (HTTP 503)")));
    EXPECT_EQ(standin::SleepsRecorded(), (std::vector<DWORD>{1000, 2000}));
    EXPECT_EQ(standin::HttpRequests().size(), 2u);
}

TEST_F(Worker, StopDuringAFailedAttemptSkipsThePauseAndTheAbandonLine) {
    for (int stopAt : {2, 4}) {
        Restart();
        for (int attempt = 1; attempt <= 4; ++attempt) {
            HttpScript s = Answer(500);
            if (attempt == stopAt) {
                s.stallAt = HttpStep::Send;
                s.stall = [this] { bridge->core.stopRequested.Set(true); };
            }
            standin::QueueHttpScript(s);
        }
        Start();
        Push(MakeEvent("assign", "ONE", "EDDF", "A1"));
        ASSERT_TRUE(WaitForLog("Delivery failed", stopAt));
        EXPECT_EQ(DeliveryLines(),
                  Messages(stopAt, "Delivery failed assign ONE EDDF A1 (HTTP 500)"));
        EXPECT_EQ(standin::SleepsRecorded().size(), size_t(stopAt - 1));
    }
}

TEST_F(Worker, UnloadDropsQueuedEventsSilently) {
    Gate gate;
    standin::QueueHttpScript(HeldAt(HttpStep::Send, gate, 200));
    Start();
    for (const char *callsign : {"ONE", "TWO", "THREE"}) Push(MakeEvent("assign", callsign, "EDDF", "A1"));
    gate.WaitUntilEntered();
    std::thread release([&gate] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        gate.Open();
    });
    EXPECT_EQ(DeliveryLines(), (Messages{"Delivered assign ONE EDDF A1 (HTTP 200)"}));
    release.join();
    EXPECT_EQ(standin::OpenKernelHandles(), 0);
    EXPECT_EQ(standin::ModuleReferences(), 0);
}

// A worker stuck in a network call longer than the unload may wait: the
// unload goes on, leaves the stuck worker its locks and wake event, and a new
// load gets a fresh object and worker instead of sharing them. With two such
// workers, a third load starts none and says why.
TEST_F(Worker, AWorkerThatOutlivesTheUnloadNeverSharesWithTheNextLoad) {
    Gate first, second;
    standin::QueueHttpScript(HeldAt(HttpStep::Receive, first, 201));
    standin::QueueHttpScript(HeldAt(HttpStep::Receive, second, 201));
    CBridgePlugIn *old = Start();
    old->stopWaitMs = 100;
    Push(MakeEvent("assign", "OLD", "EDDF", "A1"));
    first.WaitUntilEntered();
    EuroScopePlugInExit();  // gives up waiting after 100 ms
    EXPECT_EQ(standin::ModuleReferences(), 1) << "the stuck worker keeps the module";

    CBridgePlugIn *fresh = Start();
    EXPECT_NE(fresh, old);
    bridge = fresh;
    fresh->stopWaitMs = 100;
    Push(MakeEvent("assign", "NEW", "EDDF", "A2"));
    second.WaitUntilEntered();
    EuroScopePlugInExit();
    CBridgePlugIn *third = Init();
    EXPECT_FALSE(third->enabled);
    EXPECT_EQ(Log().back(), "Bridge disabled: two earlier loads still sending");
    EuroScopePlugInExit();

    second.Open();
    ASSERT_TRUE(WaitForLog("Delivered assign NEW"));
    for (int i = 0; i < 500 && standin::ModuleReferences() != 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Start(), fresh) << "its worker gone, the place is free again";
    Push(MakeEvent("assign", "LATE", "EDDF", "A3"));
    ASSERT_TRUE(WaitForLog("Delivered assign LATE"));

    first.Open();
    ASSERT_TRUE(WaitForLog("Delivered assign OLD"));
    for (int i = 0; i < 500 && standin::ModuleReferences() != 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(standin::ModuleReferences(), 1) << "the old worker gave its reference back";
    EuroScopePlugInExit();
    EXPECT_EQ(standin::ModuleReferences(), 0);
    EXPECT_EQ(standin::OpenKernelHandles(), 1) << "the wake event left to the old worker";
    EXPECT_EQ(standin::LiveCriticalSections(), 2) << "the locks left to the old worker";

    // The old place is free again: a new load takes it and tidies up.
    EXPECT_EQ(Start(), old);
    EuroScopePlugInExit();
    EXPECT_EQ(standin::OpenKernelHandles(), 0);
}

}  // namespace
