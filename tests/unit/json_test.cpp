#include <gtest/gtest.h>

#include <string>

#include "delivery/json_writer.h"
#include "tests/unit/test_support.h"

namespace {

using testing_support::MakeEvent;

std::string Body(const StandEvent &event) {
    JsonWriter writer;
    BuildEventBody(event, writer);
    EXPECT_TRUE(writer.ok);
    char send[kBodyCapacity];
    PrepareSendBuffer(writer, send);
    return send;
}

TEST(JsonBody, ExactBodies) {
    struct Case {
        StandEvent event;
        const char *body;
    } cases[] = {
        {MakeEvent("assign", "ABC123", "EDDF", "V155"),
         R"({"action":"assign","callsign":"ABC123","observedAt":"2024-01-02T03:04:05.006Z","controller":"EDDF_GND","destination":"EDDF","stand":"V155"})"},
        {MakeEvent("manual_cancel", "ABC123", "", "", ""),
         R"({"action":"manual_cancel","callsign":"ABC123","observedAt":"2024-01-02T03:04:05.006Z","controller":null})"},
        {MakeEvent("cancel", "ABC123", "EDDF", ""),
         R"({"action":"cancel","callsign":"ABC123","observedAt":"2024-01-02T03:04:05.006Z","controller":"EDDF_GND","destination":"EDDF"})"},
        {MakeEvent("manual_occupy", "ABC123", "", "A12"),
         R"({"action":"manual_occupy","callsign":"ABC123","observedAt":"2024-01-02T03:04:05.006Z","controller":"EDDF_GND","stand":"A12"})"},
        {MakeEvent("", "", "", "", ""),
         R"({"action":"","callsign":"","observedAt":"2024-01-02T03:04:05.006Z","controller":null})"},
    };
    for (const auto &c : cases) EXPECT_EQ(Body(c.event), c.body);
}

TEST(JsonBody, EscapesAndDroppedControlBytes) {
    struct Case {
        const char *value;
        const char *json;
    } cases[] = {
        {"a\tb\nc\rd", R"("a\tb\nc\rd")"},
        {"q\"b\\", R"("q\"b\\")"},
        {"\x08\x0c", R"("\b\f")"},
        {"a\x01" "b\x0b" "c\x1f", R"("abc")"},
        {"\x01\x02\x0b\x0e", R"("")"},
        {"a/b\x7f", "\"a/b\x7f\""},
        {"\xc3\xa4\xff", "\"\xc3\xa4\xff\""},
    };
    for (const auto &c : cases) {
        JsonWriter writer;
        writer.length = 0;
        writer.text[0] = '\0';
        AppendString(writer, c.value);
        EXPECT_TRUE(writer.ok);
        EXPECT_STREQ(writer.text, c.json);
        EXPECT_EQ(writer.length, strlen(c.json));
    }
}

// A writer holding `used` bytes of filler, to put the edge where we want it.
JsonWriter FilledTo(uint32_t used) {
    JsonWriter writer;
    writer.length = 0;
    writer.text[0] = '\0';
    std::string filler(used, 'x');
    AppendRaw(writer, filler.c_str());
    return writer;
}

TEST(JsonBody, TheBoundIs2047Bytes) {
    JsonWriter exact = FilledTo(2047);
    EXPECT_TRUE(exact.ok);
    EXPECT_EQ(exact.length, 2047u);
    EXPECT_EQ(exact.text[2047], '\0');

    JsonWriter over = FilledTo(2047);
    AppendRaw(over, "y");
    EXPECT_FALSE(over.ok);
    EXPECT_EQ(over.length, 2047u);

    struct Edge {
        uint32_t used;
        const char *value;
        bool ok;
    } edges[] = {
        {2044, "a", true},    // "a" fills the last three bytes exactly
        {2045, "a", false},   // the closing quote finds no room
        {2043, "\t", true},   // the escape pair fits exactly with both quotes
        {2044, "\t", false},  // the closing quote after the pair does not fit
        {2045, "\t", false},  // the pair's second byte does not fit
        {2045, "", true},
        {2046, "", false},    // the closing quote of an empty value
    };
    for (const Edge &e : edges) {
        JsonWriter writer = FilledTo(e.used);
        AppendString(writer, e.value);
        EXPECT_EQ(writer.ok, e.ok) << e.used << " " << e.value;
        EXPECT_LE(writer.length, 2047u);
    }
}

TEST(JsonBody, NothingChangesOnceTheBodyFailed) {
    JsonWriter writer = FilledTo(2047);
    AppendRaw(writer, "y");
    ASSERT_FALSE(writer.ok);
    std::string before(writer.text, writer.length);
    AppendString(writer, "more");
    AppendRaw(writer, "}");
    EXPECT_FALSE(writer.ok);
    EXPECT_EQ(std::string(writer.text, writer.length), before);
}

TEST(JsonBody, TheLongestEventFitsWithRoomToSpare) {
    std::string q19(19, '"'), q39(39, '"'), q7(7, '"'), q31(31, '"');
    StandEvent e = MakeEvent(q19.c_str(), q39.c_str(), q7.c_str(), q39.c_str(), q39.c_str());
    memcpy(e.observedAt, q31.c_str(), 32);
    JsonWriter writer;
    BuildEventBody(e, writer);
    EXPECT_TRUE(writer.ok);
    EXPECT_EQ(writer.length, 435u);
}

TEST(JsonBody, ASendBufferTakesAFullBodyWhole) {
    JsonWriter writer = FilledTo(2047);
    char send[kBodyCapacity];
    PrepareSendBuffer(writer, send);
    EXPECT_EQ(strlen(send), 2047u);
}

}  // namespace
