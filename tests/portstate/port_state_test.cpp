#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "portstate/int_text.h"
#include "portstate/json_state.h"
#include "portstate/port_state.h"

using namespace portstate;

namespace {

std::string portRange(int from, int to) {
    std::string s;
    for (int p = from; p <= to; ++p) s += (s.empty() ? "" : ",") + std::to_string(p);
    return s;
}

}  // namespace

TEST(IntText, StrictSignedAndUnsignedReading) {
    struct Case { const char* text; int base; std::optional<std::int64_t> s; std::optional<std::uint64_t> u; };
    const Case cases[] = {
        {"0101", 2, 5, 5u},           {"+11", 2, 3, 3u},           {"-1", 2, -1, std::nullopt},
        {"102", 2, std::nullopt, std::nullopt},                   {"ff", 16, 255, 255u},
        {"", 10, std::nullopt, std::nullopt},                     {"+", 10, std::nullopt, std::nullopt},
        {"-", 10, std::nullopt, std::nullopt},                    {" 1", 10, std::nullopt, std::nullopt},
        {"1 ", 10, std::nullopt, std::nullopt},                   {"0x1", 16, std::nullopt, std::nullopt},
        {"9223372036854775807", 10, INT64_MAX, 9223372036854775807u},
        {"9223372036854775808", 10, std::nullopt, 9223372036854775808u},
        {"-9223372036854775808", 10, INT64_MIN, std::nullopt},
        {"-9223372036854775809", 10, std::nullopt, std::nullopt},
        {"18446744073709551616", 10, std::nullopt, std::nullopt},
        {"FFFFFFFFFFFFFFFF", 16, std::nullopt, UINT64_MAX},
        {"0000000000000000000000000000000000000000000000000000000000000000000001", 2, 1, 1u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseInt64(c.text, c.base), c.s);
        EXPECT_EQ(parseUInt64(c.text, c.base), c.u);
    }
    EXPECT_EQ(splitComma(",a,,b,", false), (std::vector<std::string_view>{"a", "b"}));
    EXPECT_EQ(splitComma(",a,,b,", true), (std::vector<std::string_view>{"", "a", "", "b", ""}));
}

TEST(HubStateText, WordListsBinaryAndCompactForms) {
    struct Case { std::int64_t n; const char* text; std::uint64_t word; std::string on, off, binary, compact; };
    const Case cases[] = {
        {4, "F4,FF,FF,FF", 0xFFFFFFFFFFFFFFF4u, "3", "1,2,4", "0100", "F4FFFFFF"},
        {4, "F5,FF,FF,FF", 0xFFFFFFFFFFFFFFF5u, "1,3", "2,4", "0101", "F5FFFFFF"},
        {4, "F3,FF,FF,FF", 0xFFFFFFFFFFFFFFF3u, "1,2", "3,4", "0011", "F3FFFFFF"},
        {4, "F1,FF,FF,FF", 0xFFFFFFFFFFFFFFF1u, "1", "2,3,4", "0001", "F1FFFFFF"},
        {4, "F0,FF,FF,FF", 0xFFFFFFFFFFFFFFF0u, "None", "1,2,3,4", "0000", "F0FFFFFF"},
        {4, "", 0xFFFFFFFFFFFFFFF0u, "None", "1,2,3,4", "0000", ""},
        {16, "00,00,FF,FF", 0xFFFFFFFFFFFF0000u, "None", portRange(1, 16), std::string(16, '0'), "0000FFFF"},
        // empty pieces dropped; an unreadable piece keeps its byte position
        {8, "F4,,FF", 0xFFFFFFFFFFFFFFF4u, "3,5,6,7,8", "1,2,4", "11110100", "F4FF"},
        {10, "ZZ,01", 0xFFFFFFFFFFFFFD00u, "9", "1,2,3,4,5,6,7,8,10", "0100000000", "ZZ01"},
        // ninth piece adds nothing; no absent bits from 64 on
        {64, "01,00,00,00,00,00,00,80,FF", 0x8000000000000001u, "1,64", portRange(2, 63),
         "1" + std::string(62, '0') + "1", "0100000000000080FF"},
        // ports above 64 have no bit: always off
        {66, "FF,FF,FF,FF,FF,FF,FF,FF", UINT64_MAX, portRange(1, 64), "65,66", "00" + std::string(64, '1'),
         "FFFFFFFFFFFFFFFF"},
        {0, "F4", UINT64_MAX, "None", "None", "", "F4"},
        {-5, "F4", UINT64_MAX, "None", "None", "", "F4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.n) + " " + c.text);
        EXPECT_EQ(static_cast<std::uint64_t>(Parse_Port_States_int64(c.n, c.text)), c.word);
        const PortLists signedLists = Parse_Port_States(c.n, c.text);
        const PortLists unsignedLists = parsePortStates(c.n, c.text);
        EXPECT_EQ(signedLists.on, c.on);
        EXPECT_EQ(signedLists.off, c.off);
        EXPECT_EQ(unsignedLists.on, c.on);
        EXPECT_EQ(unsignedLists.off, c.off);
        EXPECT_EQ(binaryStateText(c.n, c.text), c.binary);
        EXPECT_EQ(compactHubStateText(c.text), c.compact);
    }
}

TEST(HubStateText, SignedAndUnsignedPieceReadingDiffer) {
    EXPECT_EQ(Parse_Port_States(4, "-1").on, "1,2,3,4");
    EXPECT_EQ(parsePortStates(4, "-1").on, "None");
    EXPECT_EQ(Parse_Port_States(4, "FFFFFFFFFFFFFFFF").on, "None");
    EXPECT_EQ(parsePortStates(4, "FFFFFFFFFFFFFFFF").on, "1,2,3,4");
}

TEST(HubStateText, HugePortCountsStayBounded) {
    const PortLists lists = Parse_Port_States(INT64_MAX, "");
    EXPECT_EQ(lists.off.substr(lists.off.rfind(',') + 1), std::to_string(kMaxListedPorts));
    EXPECT_EQ(binaryStateText(INT64_MAX, "FF").size(), static_cast<std::size_t>(kMaxListedPorts));
    EXPECT_EQ(Parse_Port_States_int64(INT64_MIN, ""), -1);
}

TEST(HubStateText, States8AndReplyConversion) {
    const std::pair<std::uint64_t, const char*> words[] = {
        {0xFFFFFFFFFFFFFFF4u, "F4FFFFFF"}, {0x12345678u, "78563412"}, {0, "00000000"},
        {0x8000000000000000u, "00000000"}, {0xAB00000000CDu, "CD000000"}};
    for (const auto& [w, s8] : words) EXPECT_EQ(states8Of(static_cast<StateWord>(w)), s8);

    const std::pair<const char*, std::optional<std::string>> replies[] = {
        {"F4FFFFFF", "F4,FF,FF,FF"}, {"f4ffffff\r", "f4,ff,ff,ff"}, {"0102030405", "01,02,03,04"},
        {"F4FFFFF", std::nullopt},   {"F4FFFFGF", std::nullopt},     {"", std::nullopt},
        {"E01", std::nullopt},       {"F4 FFFFFF", std::nullopt}};
    for (const auto& [reply, text] : replies) EXPECT_EQ(hubStateTextFromReply(reply), text) << reply;
}

TEST(JsonStates, AcceptsLooseFormsAndRejectsOthers) {
    struct Case { std::optional<std::string> in; std::string status, states8; };
    const Case cases[] = {
        {"F4FFFFFF", "OK", "F4FFFFFF"},
        {"F4,FF,FF,FF", "OK", "F4FFFFFF"},
        {"f4, ff, ff, ff", "OK", "F4FFFFFF"},
        {" f4 ,ff,ff,ff", "OK", "F4FFFFFF"},
        {",\tF4\n,,FF\xC2\xA0,FFFF", "OK", "F4FFFFFF"},  // tab, newline, no-break space
        {"F4,FF,FF", std::string(kIncorrectPortState), ""},
        {"F4,FF,FF,FG", std::string(kIncorrectPortState), ""},
        {"F4,FF,FF,FF,00", std::string(kIncorrectPortState), ""},
        {"F4 FF,FF,FF", std::string(kIncorrectPortState), ""},  // inner blank stays
        {"\xC0\xA0" "F4FFFFFF", std::string(kIncorrectPortState), ""},  // overlong blank is not white space
        {"", std::string(kIncorrectPortState), ""},
        {std::nullopt, std::string(kInvalidPortState), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in.value_or("<missing>"));
        const JsonStatesResult r = jsonStatesToStates8(c.in);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.states8, c.states8);
    }
    EXPECT_TRUE(Validate_8_Hex_String("0123abCD"));
    EXPECT_FALSE(Validate_8_Hex_String("0123abC"));
    EXPECT_FALSE(Validate_8_Hex_String("+123abCD"));
}
