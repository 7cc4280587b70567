#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "portstate/gui_state.h"

using namespace portstate;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Ints = std::vector<std::int64_t>;

std::string join(const std::vector<std::string>& v) {
    std::string s;
    for (const auto& e : v) s += (s.empty() ? "" : ",") + e;
    return s;
}

// The window's own path: reply -> joined State64 text -> integer list.
Ints state64Of(const char* reply) {
    const auto parsed = parsePortState(4, reply);
    if (!parsed) return {};
    return get_numbers(join(parsed->state64)).value_or(Ints{});
}

}  // namespace

TEST(GuiState, ByteAndBitConversions) {
    const std::pair<const char*, std::optional<Bytes>> texts[] = {
        {"F4FFFFFF", Bytes{0xF4, 0xFF, 0xFF, 0xFF}}, {"0a", Bytes{0x0A}}, {"", Bytes{}},
        {"F", std::nullopt}, {"F4G0", std::nullopt}, {"+F", std::nullopt}, {" F", std::nullopt}};
    for (const auto& [text, bytes] : texts) EXPECT_EQ(stringToBytes(text), bytes) << text;

    EXPECT_EQ(bits(0xF4), (std::array<int, 8>{0, 0, 1, 0, 1, 1, 1, 1}));
    EXPECT_EQ(bits(0x01), (std::array<int, 8>{1, 0, 0, 0, 0, 0, 0, 0}));

    const std::pair<Ints, Bytes> packs[] = {
        {{1, 0, 0, 0, 0, 0, 0, 0, 1}, {0x80, 0x80}}, {{}, {}}, {{2, 1}, {0x40}}, {{0, 0, 0, 0, 0, 0, 0, 1}, {0x01}}};
    for (const auto& [in, out] : packs) EXPECT_EQ(bitsToBytes(in), out);
}

TEST(GuiState, ParsePortStateListsAndRejections) {
    struct Case { std::int64_t n; const char* text; bool ok; std::string on, off; };
    const Case cases[] = {
        {4, "F4FFFFFF", true, "3", "1,2,4"},
        {16, "A601FFFF", true, "2,3,6,8,9", "1,4,5,7,10,11,12,13,14,15,16"},
        {1, "00FFFFFF", true, "", "1"},
        {4, "f4ffffff00", true, "3", "1,2,4"},
        {0, "F4FFFFFF", false, "", ""},  {-1, "F4FFFFFF", false, "", ""},
        {33, "F4FFFFFF", false, "", ""}, {4, "F4FFFF", false, "", ""},
        {4, "F4FFFFF", false, "", ""},   {4, "F4FFFFFG", false, "", ""},
        {4, "", false, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.n) + " " + c.text);
        const auto r = parsePortState(c.n, c.text);
        ASSERT_EQ(r.has_value(), c.ok);
        if (!r) continue;
        EXPECT_EQ(join(r->on), c.on);
        EXPECT_EQ(join(r->off), c.off);
        ASSERT_EQ(r->state64.size(), 32u);
    }
    const auto all = parsePortState(32, "F4010080");
    ASSERT_TRUE(all);
    EXPECT_EQ(join(all->state64), "0,0,1,0,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1");
    EXPECT_EQ(all->on.size() + all->off.size(), 32u);
}

TEST(GuiState, GetNumbers) {
    const std::pair<const char*, std::optional<Ints>> cases[] = {
        {"0,1,1", Ints{0, 1, 1}}, {"-1,+2", Ints{-1, 2}}, {"", std::nullopt},
        {"1,,0", std::nullopt},   {"1,", std::nullopt},   {"1,x", std::nullopt}, {"1, 0", std::nullopt}};
    for (const auto& [text, numbers] : cases) EXPECT_EQ(get_numbers(text), numbers) << text;
}

TEST(GuiState, SwitchStateText) {
    const Ints f4 = state64Of("F4FFFFFF");
    const Ints a6 = state64Of("A601FFFF");
    Ints withTwo = f4;
    withTwo[0] = 2;  // not 1: packs as off, flips to 0
    struct Case { int sw; Ints list; std::optional<std::string> text; };
    const Case cases[] = {
        {3, f4, "F0FFFFFF"},  {1, f4, "F5FFFFFF"},   {16, f4, "F47FFFFF"}, {9, a6, "A600FFFF"},
        {1, withTwo, "F4FFFFFF"}, {0, f4, "00000000"}, {-1, f4, "FFFFFFFF"}, {0, {}, "00000000"},
        {17, f4, std::nullopt}, {-2, f4, std::nullopt}, {1, Ints(f4.begin(), f4.end() - 1), std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(switchStateText(c.sw, c.list), c.text) << c.sw;
    EXPECT_EQ(state64Text(f4), "F4FFFFFF");
    EXPECT_EQ(state64Text(withTwo), "F4FFFFFF");
    EXPECT_EQ(state64Text(Ints(31, 1)), std::nullopt);
}

TEST(GuiState, State64TextMatchesReversedGroupPacking) {
    // The window may also pack with bitsToBytes after reversing each group of eight.
    for (const char* reply : {"F4FFFFFF", "A601FF00", "0102C3E7"}) {
        Ints list = state64Of(reply);
        ASSERT_EQ(list.size(), 32u) << reply;
        for (auto it = list.begin(); it != list.end(); it += 8) std::reverse(it, it + 8);
        std::string hex;
        for (std::uint8_t b : bitsToBytes(list)) {
            const char d[] = "0123456789ABCDEF";
            hex += d[b >> 4];
            hex += d[b & 0xF];
        }
        EXPECT_EQ(hex, reply);
        EXPECT_EQ(state64Text(state64Of(reply)), reply);
    }
}
