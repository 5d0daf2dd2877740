#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <filesystem>

#include "diag/log_file.h"
#include "diag/timestamp.h"
#include "standin/standin.h"
#include "tests/unit/test_support.h"

using testing_support::Time;

namespace {

TEST(Timestamp, TextForFixedClocks) {
    struct Case {
        SYSTEMTIME time;
        const char *expected;
    } cases[] = {
        {Time(2024, 1, 2, 3, 4, 5, 6), "2024-01-02T03:04:05.006Z"},
        {Time(2025, 12, 31, 23, 59, 59, 999), "2025-12-31T23:59:59.999Z"},
        {Time(2026, 1, 1, 0, 0, 0, 0), "2026-01-01T00:00:00.000Z"},
        {Time(2024, 1, 2, 3, 4, 5, 70), "2024-01-02T03:04:05.070Z"},
        {Time(999, 1, 2, 3, 4, 5, 7), "0999-01-02T03:04:05.007Z"},
        {Time(30827, 12, 31, 23, 59, 59, 999), "30827-12-31T23:59:59.999Z"},
        {Time(2024, 100, 2, 3, 4, 5, 6), "2024-100-02T03:04:05.006Z"},
        // Far out of range: the text stops at 31 characters.
        {Time(65535, 65535, 65535, 65535, 65535, 65535, 65535),
         "65535-65535-65535T65535:65535:6"},
    };
    for (const auto &c : cases) {
        standin::Reset();
        standin::SetClock(c.time);
        UtcTimestamp field;
        memset(field, '#', sizeof field);
        FormatUtcTimestamp(field);
        EXPECT_STREQ(field, c.expected);
    }
}

TEST(Timestamp, FourDigitYearsAlwaysGiveTwentyFourCharacters) {
    for (int year : {1000, 1970, 2026, 9999}) {
        UtcTimestamp field;
        WriteUtcTimestamp(Time(year, 6, 15, 12, 30, 45, 500), field);
        EXPECT_EQ(strlen(field), 24u) << year;
    }
}

TEST(Timestamp, LeavesBytesBehindTheTextAlone) {
    UtcTimestamp field;
    memset(field, '#', sizeof field);
    WriteUtcTimestamp(Time(2024, 1, 2, 3, 4, 5, 6), field);
    for (size_t i = 25; i < sizeof field; ++i) EXPECT_EQ(field[i], '#');
}

TEST(LogLine, BoundsAt767Characters) {
    UtcTimestamp stamp;
    WriteUtcTimestamp(Time(2024, 1, 2, 3, 4, 5, 6), stamp);
    struct Case {
        size_t messageLength;
        std::string ending;  // what follows the message text
        size_t lineLength;
    } cases[] = {
        {0, "\r\n", 27},
        {740, "\r\n", 767},
        {741, "\r", 767},  // 766 characters leave room for CR only
        {742, "", 767},    // the message fills the line: no CR, no LF
        {5000, "", 767},
    };
    for (const auto &c : cases) {
        std::string message(c.messageLength, 'm');
        char line[kLogLineCapacity];
        BuildLogLine(line, stamp, message.c_str());
        std::string got(line);
        EXPECT_EQ(got.size(), c.lineLength) << c.messageLength;
        size_t kept = std::min(c.messageLength, size_t(742));
        EXPECT_EQ(got, std::string("2024-01-02T03:04:05.006Z ") + std::string(kept, 'm') + c.ending);
    }
    char line[kLogLineCapacity];
    BuildLogLine(line, stamp, nullptr);
    EXPECT_STREQ(line, "2024-01-02T03:04:05.006Z \r\n");
}

class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        standin::Reset();
        InitializeCriticalSection(&log.logLock);
    }
    void TearDown() override { DeleteCriticalSection(&log.logLock); }
    BridgeLog log = {};
    testing_support::TempDir dir;
};

TEST_F(LogFileTest, EmptyPathWritesNothing) {
    log.logPath[0] = '\0';
    log.Write("nothing");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    EXPECT_EQ(standin::OpenKernelHandles(), 0);
}

TEST_F(LogFileTest, AppendsAfterExistingContentAndClosesTheFile) {
    std::string path = dir.File("bridge.log");
    testing_support::WriteWholeFile(path, "earlier\r\n");
    snprintf(log.logPath, sizeof log.logPath, "%s", path.c_str());
    standin::SetClock(Time(2024, 1, 2, 3, 4, 5, 6));
    log.Write("first");
    log.Write("");
    EXPECT_EQ(testing_support::ReadWholeFile(path),
              "earlier\r\n2024-01-02T03:04:05.006Z first\r\n2024-01-02T03:04:05.006Z \r\n");
    EXPECT_EQ(standin::OpenKernelHandles(), 0);
}

TEST_F(LogFileTest, AFileThatCannotBeOpenedLosesTheLineOnly) {
    snprintf(log.logPath, sizeof log.logPath, "%s/missing-dir/bridge.log", dir.path().c_str());
    log.Write("lost");
    EXPECT_FALSE(testing_support::FileExists(log.logPath));
    EXPECT_EQ(standin::OpenKernelHandles(), 0);
}

TEST_F(LogFileTest, LinesOfTwoThreadsNeverMix) {
    std::string path = dir.File("bridge.log");
    snprintf(log.logPath, sizeof log.logPath, "%s", path.c_str());
    const int kLines = 300;
    auto writer = [this](char letter) {
        std::string message(200, letter);
        for (int i = 0; i < kLines; ++i) log.Write(message.c_str());
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    auto messages = testing_support::LogMessages(path);
    ASSERT_EQ(messages.size(), size_t(2 * kLines));
    for (const auto &m : messages)
        EXPECT_TRUE(m == std::string(200, 'a') || m == std::string(200, 'b'));
}

TEST(EventLine, PiecesAndSeparators) {
    using testing_support::MakeEvent;
    struct Case {
        const char *verb;
        StandEvent event;
        uint32_t status;
        const char *expected;
    } cases[] = {
        {"Captured", MakeEvent("assign", "ABC123", "EDDF", "A12"), 0,
         "Captured assign ABC123 EDDF A12"},
        {"Delivered", MakeEvent("assign", "ABC123", "EDDF", "A12"), 201,
         "Delivered assign ABC123 EDDF A12 (HTTP 201)"},
        {"Delivery failed", MakeEvent("assign", "ABC123", "EDDF", "A12"), 0,
         "Delivery failed assign ABC123 EDDF A12"},
        {"Captured", MakeEvent("cancel", "ABC123", "EDDF", ""), 0, "Captured cancel ABC123 EDDF"},
        {"Captured", MakeEvent("manual_cancel", "ABC123", "", ""), 0,
         "Captured manual_cancel ABC123"},
        {"Captured", MakeEvent("manual_occupy", "ABC123", "", "A12"), 0,
         "Captured manual_occupy ABC123 A12"},
        {"Captured", MakeEvent("", "ABC123", "", ""), 0, "Captured  ABC123"},
        {"Captured", MakeEvent("assign", "", "", ""), 0, "Captured assign "},
        {nullptr, MakeEvent("assign", "X", "", ""), 0, " assign X"},
        {"", MakeEvent("assign", "X", "", ""), 0, " assign X"},
        {"Delivery failed", MakeEvent("assign", "X", "", ""), 4294967295u,
         "Delivery failed assign X (HTTP 4294967295)"},
        // A scratch pad's CR LF must not start a forged line of its own.
        {"Captured", MakeEvent("assign", "X", "EDDF", "A1\r\n2026\tDelivered\x7f"), 0,
         "Captured assign X EDDF A1??2026?Delivered?"},
        // Only control bytes are hidden, the last of them too: an inner space
        // and bytes from 0x80 up stay.
        {"Captured", MakeEvent("assign", "X", "EDDF", "A 12\x01\x1f\x80\xff"), 0,
         "Captured assign X EDDF A 12??\x80\xff"},
    };
    for (const auto &c : cases) {
        char line[kEventLineCapacity];
        BuildEventLine(line, c.verb, c.event, c.status);
        EXPECT_STREQ(line, c.expected);
    }
}

TEST(EventLine, LongestPossibleLineFitsWhole) {
    StandEvent e = testing_support::MakeEvent(std::string(19, 'a').c_str(),
                                              std::string(39, 'c').c_str(),
                                              std::string(7, 'd').c_str(),
                                              std::string(39, 's').c_str());
    char line[kEventLineCapacity];
    BuildEventLine(line, "Delivery failed", e, 4294967295u);
    EXPECT_EQ(strlen(line), 141u);
}

}  // namespace
