// The test client's digits: a byte the console shows as \xHH must decode
// back to itself in a scenario word, and a number too large for 32 bits must
// be refused rather than wrap into a small one that passes a range check.
#include "host/digits.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(HostDigits, EveryByteShownInHexReadsBackInEitherCase) {
    for (uint32_t byte = 0; byte < 256; ++byte) {
        char lower[2] = {host::HexDigit(byte >> 4), host::HexDigit(byte)};
        char upper[2] = {host::UpperHexDigit(byte >> 4), host::UpperHexDigit(byte)};
        EXPECT_EQ(host::HexValue(lower[0]) * 16 + host::HexValue(lower[1]), int(byte)) << byte;
        EXPECT_EQ(host::HexValue(upper[0]) * 16 + host::HexValue(upper[1]), int(byte)) << byte;
    }
    for (char c : std::string("gG/:@`"))  // the neighbours of the digit ranges
        EXPECT_EQ(host::HexValue(c), -1) << c;
}

TEST(HostDigits, DecimalNumbersUpToThirtyTwoBitsAndNothingElse) {
    struct Case {
        const char *text;
        bool accepted;
        uint32_t value;
    } cases[] = {
        {"0", true, 0},
        {"007", true, 7},
        {"60000", true, 60000},
        {"4294967295", true, 4294967295u},
        {"00000000004294967295", true, 4294967295u},
        {"4294967296", false, 0},   // would wrap to 0
        {"4294967297", false, 0},   // would wrap to 1, inside every range checked
        {"42949672950", false, 0},
        {"", false, 0},
        {"12a", false, 0},
        {"-1", false, 0},
        {" 1", false, 0},
        {"1 ", false, 0},
        {"+1", false, 0},
    };
    for (const Case &c : cases) {
        uint32_t value = 12345;
        bool accepted = host::DecimalValue(c.text, uint32_t(std::string(c.text).size()), value);
        EXPECT_EQ(accepted, c.accepted) << c.text;
        EXPECT_EQ(value, c.accepted ? c.value : 12345u) << c.text;
    }
}

}  // namespace
