#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "portstate/port_state.h"
#include "portstate/state_operand.h"

using namespace portstate;

namespace {

const std::string kOK(kStatusOK);

struct OperandCase {
    std::int64_t n;
    const char* hubState;
    const char* operand;  // already upper-cased, as the console hands it over
    std::string status;
    std::string states8;  // expected only with "OK"
};

void checkOperand(const OperandCase& c) {
    SCOPED_TRACE(std::to_string(c.n) + " [" + c.hubState + "] " + c.operand);
    const StateWord current = Parse_Port_States_int64(c.n, c.hubState);
    const std::string op = c.operand;
    const StateUpdate r = Update_Port_State(op.empty() ? '\0' : op[0], op, c.n, current);
    EXPECT_EQ(r.status, c.status);
    if (c.status == kOK) {
        EXPECT_EQ(r.states8, c.states8);
        EXPECT_EQ(r.states8, states8Of(r.word));
        EXPECT_EQ(static_cast<std::uint64_t>(r.word) & absentPortMask(c.n), absentPortMask(c.n));
    } else {
        EXPECT_EQ(r.word, current) << "a failed operand must change nothing";
        EXPECT_TRUE(r.states8.empty());
    }
}

}  // namespace

TEST(UpdatePortState, FourPortHub) {
    const std::string bits(kErrorBitStream), ports(kErrorPortNumbers), invalid(kInvalidPortNumber);
    const OperandCase cases[] = {
        {4, "F4,FF,FF,FF", "1:1", kOK, "F5FFFFFF"},
        {4, "F4,FF,FF,FF", "T:3", kOK, "F0FFFFFF"},
        {4, "F4,FF,FF,FF", "0:ALL", kOK, "F0FFFFFF"},
        {4, "F4,FF,FF,FF", "1:ALL", kOK, "FFFFFFFF"},
        {4, "F4,FF,FF,FF", "T:ALL", kOK, "FBFFFFFF"},
        {4, "F4,FF,FF,FF", "B:0101", kOK, "F5FFFFFF"},
        {4, "F4,FF,FF,FF", "B:000000000101", kOK, "F5FFFFFF"},
        {4, "F4,FF,FF,FF", "B:-1", kOK, "FFFFFFFF"},
        {4, "F4,FF,FF,FF", "B:-1000000000000000000000000000000000000000000000000000000000000000", kOK, "F0FFFFFF"},
        {4, "F4,FF,FF,FF", "B:1000000000000000000000000000000000000000000000000000000000000000", bits, ""},
        {4, "F4,FF,FF,FF", "B:", bits, ""},
        {4, "F4,FF,FF,FF", "B:0102", bits, ""},
        {4, "F4,FF,FF,FF", "B:+", bits, ""},
        {4, "F4,FF,FF,FF", "T:2,2", kOK, "F4FFFFFF"},
        {4, "F4,FF,FF,FF", "0:3,1", kOK, "F0FFFFFF"},
        {4, "F4,FF,FF,FF", "1:1,,4", kOK, "FDFFFFFF"},
        {4, "F4,FF,FF,FF", "1;3", kOK, "F4FFFFFF"},
        {4, "F4,FF,FF,FF", "1\xE2\x86\x92" "1", kOK, "F5FFFFFF"},  // multi-byte separator
        {4, "F4,FF,FF,FF", "1:", ports, ""},
        {4, "F4,FF,FF,FF", "1:,", ports, ""},
        {4, "F4,FF,FF,FF", "1", ports, ""},
        {4, "F4,FF,FF,FF", "1:3, 4", ports, ""},
        {4, "F4,FF,FF,FF", "1:X", ports, ""},
        {4, "F4,FF,FF,FF", "1:0", invalid, ""},
        {4, "F4,FF,FF,FF", "1:5", invalid, ""},
        {4, "F4,FF,FF,FF", "1:-1", invalid, ""},
        {4, "F4,FF,FF,FF", "1:1,9", invalid, ""},  // checked while applying: nothing applied
        {4, "F4,FF,FF,FF", "B:ALL", std::string(kErrorArguments), ""},
        {4, "F4,FF,FF,FF", "H:ALL", std::string(kErrorArguments), ""},
        {4, "F4,FF,FF,FF", "X:1", std::string(kStateFormatError), ""},
        {4, "F4,FF,FF,FF", "", std::string(kStateFormatError), ""},
    };
    for (const auto& c : cases) checkOperand(c);
}

TEST(UpdatePortState, WholeStateAndLargeHubs) {
    const std::string hex(kErrorHexString);
    const OperandCase cases[] = {
        {16, "00,00,FF,FF", "H:A601", kOK, "A601FFFF"},
        {16, "00,00,FF,FF", "H:A6", kOK, "A600FFFF"},
        {16, "FF,FF,FF,FF", "H:A6", kOK, "A600FFFF"},
        {16, "00,00,FF,FF", "H:A60", kOK, "0A60FFFF"},
        {16, "00,00,FF,FF", "H:5", hex, ""},
        {16, "00,00,FF,FF", "H:", hex, ""},
        {32, "00,00,00,00", "H:123456789", hex, ""},
        {32, "00,00,00,00", "H:12345678", kOK, "12345678"},
        {32, "00,00,00,00", "H:1G", hex, ""},
        {32, "00,00,00,00", "H:+1", hex, ""},
        {32, "00,00,00,00", "1:32,9", kOK, "00010080"},
        {32, "00,00,00,00", "1:33", std::string(kInvalidPortNumber), ""},
        // ports above 64 are valid on such a hub but have no bit to change
        {70, "00,00,00,00", "1:66", kOK, "00000000"},
        {70, "00,00,00,00", "1:71", std::string(kInvalidPortNumber), ""},
        {64, "00,00,00,00", "T:ALL", kOK, "FFFFFFFF"},
        {0, "", "1:1", std::string(kInvalidPortNumber), ""},
    };
    for (const auto& c : cases) checkOperand(c);
}

TEST(StateOperand, ArgumentReaders) {
    const std::pair<const char*, std::optional<StateWord>> hex[] = {
        {"A601", 0x01A6}, {"A60", 0x600A}, {"12345678", 0x78563412}, {"FFFFFFFF", 0xFFFFFFFF},
        {"ff", 0xFF},     {"1", std::nullopt}, {"123456789", std::nullopt}, {"-1", std::nullopt}};
    for (const auto& [text, value] : hex) {
        const WordResult r = Little_Endian_To_Hex(text);
        EXPECT_EQ(r.value, value) << text;
        EXPECT_EQ(r.status, value ? kOK : std::string(kErrorHexString)) << text;
    }
    const std::pair<const char*, std::optional<std::vector<std::int64_t>>> lists[] = {
        {"1,,3", std::vector<std::int64_t>{1, 3}}, {"", std::vector<std::int64_t>{}},
        {",", std::vector<std::int64_t>{}},        {"+2,-3,2", std::vector<std::int64_t>{2, -3, 2}},
        {"1, 2", std::nullopt}, {"1,a", std::nullopt}, {"99999999999999999999", std::nullopt}};
    for (const auto& [text, ports] : lists) {
        const PortListResult r = Parse_Integer_String(text);
        EXPECT_EQ(r.status, ports ? kOK : std::string(kErrorPortNumbers)) << text;
        EXPECT_EQ(r.ports, ports.value_or(std::vector<std::int64_t>{})) << text;
    }
}
