// The stand-in must behave like Windows wherever the product's native
// tests lean on it; a difference here would hide a product fault.
#include "standin/standin.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/win32.h"

namespace {

class StandinTest : public ::testing::Test {
protected:
    void SetUp() override {
        standin::Reset();
        char pattern[] = "/tmp/standin_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        for (const std::string &file : files_) unlink(file.c_str());
        rmdir(dir_.c_str());
    }
    std::string MakeFile(const std::string &name, const std::string &contents) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << contents;
        files_.push_back(path);
        return path;
    }
    std::string dir_;
    std::vector<std::string> files_;
};

struct ProfileCase {
    const char *what;
    std::string contents;  // empty: no file at all
    const char *section;
    const char *key;
    DWORD size;
    std::string expected;
};

TEST_F(StandinTest, ProfileStringReadsLikeWindows) {
    const std::string longValue(100000, 'x');
    const ProfileCase cases[] = {
        {"names ignore case", "[bridge]\nTOKEN=abc\n", "Bridge", "Token", 64, "abc"},
        {"blanks trimmed", " \t[ Bridge ]\t\n \tToken \t=\t a b \t\n", "Bridge", "Token", 64,
         "a b"},
        {"first section wins", "[Bridge]\nA=1\n[Bridge]\nToken=late\n", "Bridge", "Token", 64,
         "dflt"},
        {"first key wins", "[Bridge]\nToken=one\ntoken=two\n", "Bridge", "Token", 64, "one"},
        {"key of another section", "[Other]\nToken=x\n[Bridge]\n", "Bridge", "Token", 64, "dflt"},
        {"comment line", "[Bridge]\n ;Token=x\n", "Bridge", ";Token", 64, "dflt"},
        {"no inline comment", "[Bridge]\nToken=a ;b\n", "Bridge", "Token", 64, "a ;b"},
        {"missing section", "[Other]\nToken=x\n", "Bridge", "Token", 64, "dflt"},
        {"missing key", "[Bridge]\nOther=x\n", "Bridge", "Token", 64, "dflt"},
        {"missing file", "", "Bridge", "Token", 64, "dflt"},
        {"cut at size - 1", "[Bridge]\nToken=abcdef\n", "Bridge", "Token", 4, "abc"},
        {"default cut too", "", "Bridge", "Token", 3, "df"},
        {"CRLF", "[Bridge]\r\nToken=abc\r\nNext=1\r\n", "Bridge", "Token", 64, "abc"},
        {"double quotes", "[Bridge]\nToken=\" a \"\n", "Bridge", "Token", 64, " a "},
        {"single quotes", "[Bridge]\nToken='a'\n", "Bridge", "Token", 64, "a"},
        {"unmatched quote kept", "[Bridge]\nToken=\"a\n", "Bridge", "Token", 64, "\"a"},
        {"any bytes", "[Bridge]\nToken=\x01\x7f\x80\xff\n", "Bridge", "Token", 64,
         "\x01\x7f\x80\xff"},
        {"UTF-8 mark spoils line 1", "\xEF\xBB\xBF[Bridge]\nToken=a\n", "Bridge", "Token", 64,
         "dflt"},
        {"long line", "[Bridge]\nToken=" + longValue + "\n", "Bridge", "Token", 1000,
         longValue.substr(0, 999)},
    };
    int n = 0;
    for (const ProfileCase &c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = c.contents.empty() ? dir_ + "/absent.ini"
                                              : MakeFile(std::to_string(n++) + ".ini", c.contents);
        std::string buffer(c.size + 8, '#');
        DWORD length =
            GetPrivateProfileStringA(c.section, c.key, "dflt \t", &buffer[0], c.size, path.c_str());
        EXPECT_EQ(length, c.expected.size());
        EXPECT_EQ(std::string(buffer.c_str()), c.expected);
        EXPECT_EQ(buffer[c.size], '#');  // nothing written past the buffer
    }
}

struct Utf8Case {
    const char *what;
    std::string source;
    std::u16string expected;
};

TEST_F(StandinTest, Utf8DecodesLikeWindows) {
    const Utf8Case cases[] = {
        {"ASCII", "ab", u"ab"},
        {"two, three, four bytes", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
         u"\u00E9\u20AC\U0001F600"},
        {"embedded NUL", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        {"stray continuation", "a\x80z", u"a\uFFFDz"},
        {"overlong", "\xC0\x80", u"\uFFFD\uFFFD"},
        {"cut sequence then ASCII", "\xE2\x82z", u"\uFFFDz"},
        {"cut at the end", "\xF0\x9F\x98", u"\uFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"never a lead", "\xF5\xFF", u"\uFFFD\uFFFD"},
    };
    for (const Utf8Case &c : cases) {
        SCOPED_TRACE(c.what);
        const int length = static_cast<int>(c.source.size());
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, c.source.data(), length, nullptr, 0),
                  static_cast<int>(c.expected.size()));
        WCHAR out[16];
        int units = MultiByteToWideChar(CP_UTF8, 0, c.source.data(), length, out, 16);
        EXPECT_EQ(std::u16string(out, units > 0 ? units : 0), c.expected);
    }
}

TEST_F(StandinTest, Utf8TerminatedSourceAndSmallTarget) {
    WCHAR out[4] = {u'#', u'#', u'#', u'#'};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xE2\x82\xACz", -1, out, 4), 3);  // with NUL
    EXPECT_EQ(std::u16string(out, 3), std::u16string(u"\u20ACz\0", 3));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcd", -1, out, 4), 0);  // NUL does not fit
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98\x80", 4, out, 1), 0);  // half a pair
}

TEST_F(StandinTest, ModuleFileNameIsCutLikeWindows) {
    char buffer[8];
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, sizeof buffer), 0u);  // no path set
    standin::SetModulePath("abc");
    const struct {
        DWORD size;
        DWORD result;
        const char *text;
    } cases[] = {{8, 3, "abc"}, {4, 3, "abc"}, {3, 3, "ab"}, {1, 1, ""}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.size);
        std::fill(buffer, buffer + sizeof buffer, '#');
        EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, c.size), c.result);
        EXPECT_STREQ(buffer, c.text);
    }
}

TEST_F(StandinTest, EventsResetAndTimeOut) {
    HANDLE autoReset = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(standin::LastEventWaitResult(), WAIT_FAILED);  // none yet
    EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_OBJECT_0);  // initially set
    EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_TIMEOUT);   // the wait took it
    EXPECT_EQ(standin::LastEventWaitResult(), WAIT_TIMEOUT);
    SetEvent(manual);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(standin::LastEventWaitResult(), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);  // stays set

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(autoReset, 50), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));

    EXPECT_EQ(standin::OpenKernelHandles(), 2);
    EXPECT_TRUE(CloseHandle(autoReset));
    EXPECT_TRUE(CloseHandle(manual));
    EXPECT_FALSE(CloseHandle(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_FAILED);
    EXPECT_EQ(standin::OpenKernelHandles(), 0);
}

DWORD WINAPI WaitThenSet(void *parameter) {
    HANDLE *events = static_cast<HANDLE *>(parameter);
    WaitForSingleObject(events[0], INFINITE);
    SetEvent(events[1]);
    return 0;
}

TEST_F(StandinTest, ThreadHandleIsSetWhenTheRoutineReturns) {
    HANDLE events[2] = {CreateEventA(nullptr, FALSE, FALSE, nullptr),
                        CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, WaitThenSet, events, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
    SetEvent(events[0]);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);  // and stays set
    for (HANDLE handle : {thread, events[0], events[1]}) CloseHandle(handle);
}

TEST_F(StandinTest, ThreadHandleMayBeClosedBeforeTheThreadEnds) {
    HANDLE events[2] = {CreateEventA(nullptr, FALSE, FALSE, nullptr),
                        CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, WaitThenSet, events, 0, nullptr);
    EXPECT_TRUE(CloseHandle(thread));
    SetEvent(events[0]);
    EXPECT_EQ(WaitForSingleObject(events[1], 5000), WAIT_OBJECT_0);
    EXPECT_EQ(standin::OpenKernelHandles(), 2);
    CloseHandle(events[0]);
    CloseHandle(events[1]);
}

TEST_F(StandinTest, FileOpensForAppendWithoutTruncating) {
    std::string path = MakeFile("log.txt", "old\n");
    for (const char *line : {"a\r\n", "b\r\n"}) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_END), 4u + 3u * (line[0] - 'a'));
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(file, line, 3, &written, nullptr));
        EXPECT_EQ(written, 3u);
        CloseHandle(file);
    }
    std::stringstream contents;
    contents << std::ifstream(path, std::ios::binary).rdbuf();
    EXPECT_EQ(contents.str(), "old\na\r\nb\r\n");
    EXPECT_EQ(
        CreateFileA((dir_ + "/none/x").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr),
        INVALID_HANDLE_VALUE);
    EXPECT_EQ(standin::OpenKernelHandles(), 0);
}

TEST_F(StandinTest, HttpDoubleFollowsScriptsAndRecordsWhatWasSent) {
    standin::HttpScript failConnect;
    failConnect.fail = true;
    failConnect.failAt = standin::HttpStep::Connect;
    standin::QueueHttpScript(failConnect);
    standin::HttpScript teapot;
    teapot.status = 418;
    standin::SetDefaultHttpScript(teapot);

    HINTERNET session =
        WinHttpOpen(u"agent", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, nullptr, nullptr, 0);
    EXPECT_EQ(WinHttpConnect(session, u"host", 80, 0), nullptr);
    WinHttpCloseHandle(session);

    session = WinHttpOpen(u"agent", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, nullptr, nullptr, 0);
    WinHttpSetTimeouts(session, 1, 2, 3, 4);
    HINTERNET connection = WinHttpConnect(session, u"host", 8443, 0);
    HINTERNET request = WinHttpOpenRequest(connection, u"POST", u"/p", nullptr, nullptr, nullptr,
                                           WINHTTP_FLAG_SECURE);
    ASSERT_NE(request, nullptr);
    DWORD features = WINHTTP_DISABLE_REDIRECTS;
    EXPECT_TRUE(WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &features, 4));
    char body[] = "{}\0x";
    EXPECT_TRUE(WinHttpSendRequest(request, u"A: 1\r\nB", 6, body, 4, 4, 0));
    DWORD status = 0, size = 2;
    const DWORD query = WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER;
    EXPECT_FALSE(WinHttpQueryHeaders(request, query, nullptr, &status, &size, nullptr));
    EXPECT_TRUE(WinHttpReceiveResponse(request, nullptr));
    EXPECT_FALSE(WinHttpQueryHeaders(request, query, nullptr, &status, &size, nullptr));
    EXPECT_EQ(size, 4u);  // what a number needs
    EXPECT_TRUE(WinHttpQueryHeaders(request, query, nullptr, &status, &size, nullptr));
    EXPECT_EQ(status, 418u);
    for (HINTERNET handle : {request, connection, session}) WinHttpCloseHandle(handle);

    ASSERT_EQ(standin::HttpRequests().size(), 1u);  // the first attempt never sent
    const standin::HttpRequestRecord sent = standin::HttpRequests()[0];
    EXPECT_EQ(sent.userAgent, u"agent");
    EXPECT_EQ(sent.host, u"host");
    EXPECT_EQ(sent.port, 8443);
    EXPECT_EQ(sent.verb, u"POST");
    EXPECT_EQ(sent.path, u"/p");
    EXPECT_EQ(sent.openRequestFlags, WINHTTP_FLAG_SECURE);
    EXPECT_TRUE(sent.redirectsDisabled);
    EXPECT_EQ(std::vector<int>(sent.timeouts, sent.timeouts + 4), std::vector<int>({1, 2, 3, 4}));
    EXPECT_EQ(sent.headers, u"A: 1\r\n");
    EXPECT_EQ(sent.body, std::string("{}\0x", 4));
    EXPECT_EQ(sent.totalLength, 4u);
    const std::vector<std::string> calls = standin::HttpCalls();
    const std::vector<std::string> closes(calls.end() - 3, calls.end());
    EXPECT_EQ(closes, std::vector<std::string>({"WinHttpCloseHandle(request)",
                                                "WinHttpCloseHandle(connection)",
                                                "WinHttpCloseHandle(session)"}));
    EXPECT_EQ(standin::OpenHttpHandles(), 0);
}

}  // namespace
