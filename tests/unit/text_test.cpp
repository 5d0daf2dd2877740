#include <gtest/gtest.h>

#include <string>

#include "text/text.h"

namespace {

struct TrimCase {
    const char *source;
    uint32_t capacity;
    bool upper;
    const char *expected;
};

TEST(Text, TrimmedCopiesTrimFirstThenCut) {
    const TrimCase cases[] = {
        {"  abc  ", 8, false, "abc"},
        {"\t\r\n abc \t\r\n", 8, false, "abc"},
        {"   ", 8, false, ""},
        {"", 8, false, ""},
        {nullptr, 8, false, ""},
        {"\x0b" "abc\x0c", 8, false, "\x0b" "abc\x0c"},  // VT and FF are not whitespace
        {"a b c", 8, false, "a b c"},
        {"abcdefgh", 4, false, "abc"},
        {"ab cdefg", 4, false, "ab "},  // a cut text may end in whitespace
        {"  ab cd", 4, false, "ab "},
        {"x", 1, false, ""},
        {" eddf , eddm ", 64, true, "EDDF , EDDM"},
        {"a-z\xe4\xff{}`", 16, true, "A-Z\xe4\xff{}`"},  // only a..z change
    };
    for (const TrimCase &c : cases) {
        char field[72];
        memset(field, '#', sizeof field);
        if (c.upper)
            text::TrimmedUpperCopy(field, c.capacity, c.source);
        else
            text::TrimmedCopy(field, c.capacity, c.source);
        EXPECT_STREQ(field, c.expected) << (c.source ? c.source : "(null)");
        EXPECT_EQ(field[c.capacity], '#') << "wrote past the capacity";
    }
}

TEST(Text, TrimmedCopyMayCopyOntoItself) {
    char field[16] = "  in place  ";
    text::TrimmedUpperCopy(field, field);
    EXPECT_STREQ(field, "IN PLACE");
}

TEST(Text, BoundedAppendDropsEverythingPastTheCapacity) {
    char buffer[8];
    memset(buffer, '#', sizeof buffer);
    text::BoundedText out(buffer, 6);
    out.Append("abc");
    out.Append('d');
    out.Append('e');
    out.Append('f');  // no room: 5 characters fill a capacity of 6
    out.Append("gh");
    EXPECT_STREQ(buffer, "abcde");
    EXPECT_EQ(out.length, 5u);
    EXPECT_EQ(buffer[6], '#');
    out.Append(nullptr);
    EXPECT_STREQ(buffer, "abcde");
}

TEST(Text, BoundedAppendCanContinueAnExistingText) {
    char buffer[8] = "abcdefg";
    text::BoundedText out(buffer, sizeof buffer, 2);
    out.Append("XYZW");
    EXPECT_STREQ(buffer, "abXYZW");
    text::BoundedText beyond(buffer, 4, 10);  // a start past the end is clamped
    EXPECT_STREQ(buffer, "abX");
}

TEST(Text, DecimalDigitsKeepEveryDigitAndPadToAMinimum) {
    struct Case {
        uint32_t value, minDigits;
        const char *expected;
    } cases[] = {
        {0, 1, "0"},       {7, 3, "007"},   {70, 3, "070"},  {2024, 4, "2024"},
        {999, 4, "0999"},  {30827, 4, "30827"}, {4294967295u, 1, "4294967295"},
        {100, 2, "100"},
    };
    for (const Case &c : cases) {
        char buffer[32];
        text::BoundedText out(buffer);
        out.AppendDecimal(c.value, c.minDigits);
        EXPECT_STREQ(buffer, c.expected);
    }
}

}  // namespace
