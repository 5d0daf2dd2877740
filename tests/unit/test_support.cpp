#include "tests/unit/test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <filesystem>

#include "text/text.h"

namespace testing_support {

TempDir::TempDir() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/zdb-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) ADD_FAILURE() << "mkdtemp failed";
    path_ = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadWholeFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteWholeFile(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

bool FileExists(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

namespace {

bool IsTimestamp(const std::string &s) {
    static const char kShape[] = "dddd-dd-ddTdd:dd:dd.dddZ";
    if (s.size() != sizeof kShape - 1) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        if (kShape[i] == 'd' ? !isdigit(static_cast<unsigned char>(s[i])) : s[i] != kShape[i])
            return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> LogMessages(const std::string &logPath) {
    std::string all = ReadWholeFile(logPath);
    std::vector<std::string> messages;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "log line without CR LF: " << all.substr(start);
            break;
        }
        std::string line = all.substr(start, end - start);
        EXPECT_TRUE(line.size() > 25 && IsTimestamp(line.substr(0, 24)) && line[24] == ' ')
            << "malformed log line: " << line;
        messages.push_back(line.size() > 25 ? line.substr(25) : std::string());
        start = end + 2;
    }
    return messages;
}

SYSTEMTIME Time(int year, int month, int day, int hour, int minute, int second, int ms) {
    SYSTEMTIME t = {};
    t.wYear = static_cast<WORD>(year);
    t.wMonth = static_cast<WORD>(month);
    t.wDay = static_cast<WORD>(day);
    t.wHour = static_cast<WORD>(hour);
    t.wMinute = static_cast<WORD>(minute);
    t.wSecond = static_cast<WORD>(second);
    t.wMilliseconds = static_cast<WORD>(ms);
    return t;
}

StandEvent MakeEvent(const char *action, const char *callsign, const char *destination,
                     const char *stand, const char *controller) {
    StandEvent e;
    memset(&e, 0, sizeof e);
    text::TrimmedCopy(e.action, action);
    text::TrimmedCopy(e.callsign, callsign);
    text::TrimmedCopy(e.destination, destination);
    text::TrimmedCopy(e.stand, stand);
    text::TrimmedCopy(e.observedAt, "2024-01-02T03:04:05.006Z");
    text::TrimmedCopy(e.controller, controller);
    return e;
}

}  // namespace testing_support
