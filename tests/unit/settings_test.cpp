#include <gtest/gtest.h>

#include <string>

#include "shell/settings.h"
#include "standin/standin.h"
#include "tests/unit/test_support.h"

namespace {

struct Case {
    std::string file;  // bytes of the settings file; "" for no file at all
    std::string endpoint, token, airports;
};

TEST(Settings, ValuesAreCleanedAsRead) {
    const std::string long80(80, 'x');
    const Case cases[] = {
        {"", "", "", "EDDF,EDDM"},
        {"[Other]\r\nToken=abc\r\n", "", "", "EDDF,EDDM"},
        {"[Bridge]\r\nEndpoint = https://e.com/x \r\nToken=\t abc def\r\nAirports=  eddf , eddm  \r\n",
         "https://e.com/x", "abc def", "EDDF , EDDM"},
        {"[Bridge]\r\nAirports=\r\n", "", "", "EDDF,EDDM"},
        {"[Bridge]\r\nAirports= \t \r\n", "", "", "EDDF,EDDM"},
        // Separators alone are not blank: no code at all, not the default.
        {"[Bridge]\r\nAirports= , ; \r\n", "", "", ", ;"},
        {"[Bridge]\r\nAirports=lfpg;\xe4\x62\r\n", "", "", "LFPG;\xe4" "B"},
        {"[Bridge]\r\nAirports=" + long80 + "\r\n", "", "", std::string(63, 'X')},
        {"[Bridge]\r\nAirports=" + std::string(62, 'a') + " b\r\n", "", "", std::string(62, 'A')},
        {"[Bridge]\r\nToken=\x0b" "abc\r\n", "", "\x0b" "abc", "EDDF,EDDM"},
        {"[Bridge]\r\nToken=" + std::string(300, 't') + "\r\n", "", std::string(255, 't'),
         "EDDF,EDDM"},
        {"[Bridge]\r\nEndpoint=HTTPS://E.COM\r\n", "HTTPS://E.COM", "", "EDDF,EDDM"},
        {"[bridge]\r\nENDPOINT=https://e.com\r\n", "https://e.com", "", "EDDF,EDDM"},
        {"\xef\xbb\xbf" "garbage\x01\x02\r\n[Bridge]\r\n;Token=commented\r\nToken=kept\r\n",
         "", "kept", "EDDF,EDDM"},
    };
    for (const Case &c : cases) {
        standin::Reset();
        testing_support::TempDir dir;
        std::string path = dir.File("Plug.ini");
        if (!c.file.empty()) testing_support::WriteWholeFile(path, c.file);
        BridgeSettings settings;
        memset(&settings, '#', sizeof settings);
        LoadBridgeSettings(path.c_str(), settings);
        EXPECT_EQ(std::string(settings.endpoint), c.endpoint) << c.file;
        EXPECT_EQ(std::string(settings.token), c.token) << c.file;
        EXPECT_EQ(std::string(settings.airports), c.airports) << c.file;
    }
}

TEST(Settings, AnEmptyPathReadsNoFile) {
    standin::Reset();
    BridgeSettings settings;
    LoadBridgeSettings("", settings);
    EXPECT_STREQ(settings.endpoint, "");
    EXPECT_STREQ(settings.token, "");
    EXPECT_STREQ(settings.airports, "EDDF,EDDM");
}

}  // namespace
