// /S and /F run as processes against virtual hubs: the state line each
// operand form sends, the password field, and every refusal before or after
// the hub query.
#include <gtest/gtest.h>

#include "command_harness.h"

namespace {

using cmdtest::after;
using cmdtest::HubCase;
using cmdtest::kQueryV04;
using cmdtest::Lines;
using cmdtest::operator+;
using cmdtest::raw;

// A 4-port hub with only port 3 on: it reports F4,FF,FF,FF.
const sim::HubConfig kPort3On{.states = 0x4};
// A 16-port hub with every port off: 00,00,FF,FF.
const sim::HubConfig kSixteenOff{.ports = 16, .states = 0};

Lines sp(const std::string& fields) { return kQueryV04 + Lines{"SP" + fields + "\r"}; }

TEST(SetPortStates, EachOperandFormSendsTheWholeState) {
    cmdtest::runHubCases({
        {"/S", {"1:3"}, "", 0, sp("kiwi    F4FFFFFF"), kPort3On},
        {"/S", {"1:1"}, "", 0, sp("kiwi    F5FFFFFF"), kPort3On},
        {"/S", {"0:3"}, "", 0, sp("kiwi    F0FFFFFF"), kPort3On},
        {"/S", {"T:3"}, "", 0, sp("kiwi    F0FFFFFF"), kPort3On},
        {"/S", {"T:2,2"}, "", 0, sp("kiwi    F4FFFFFF"), kPort3On},
        {"/S", {"0:ALL"}, "", 0, sp("kiwi    F0FFFFFF"), kPort3On},
        {"/S", {"1:ALL"}, "", 0, sp("kiwi    FFFFFFFF"), kPort3On},
        {"/S", {"T:ALL"}, "", 0, sp("kiwi    FBFFFFFF"), kPort3On},
        {"/S", {"B:0101"}, "", 0, sp("kiwi    F5FFFFFF"), kPort3On},
        // The operand is upper-cased and its separator is not looked at.
        {"/S", {"1;1"}, "", 0, sp("kiwi    F5FFFFFF"), kPort3On},
        {"/S", {"t:all"}, "", 0, sp("kiwi    FBFFFFFF"), kPort3On},
        {"/S", {"H:A601"}, "", 0, sp("kiwi    A601FFFF"), kSixteenOff},
        {"/S", {"h:a60"}, "", 0, sp("kiwi    0A60FFFF"), kSixteenOff},
    });
}

TEST(SetPortStates, SetAndSaveSendsFP) {
    cmdtest::runHubCases({
        {"/F", {"0:ALL"}, "", 0, kQueryV04 + Lines{"FPkiwi    F0FFFFFF\r"}, kPort3On},
        {"/f", {"kiwi", "1:1"}, "", 0, kQueryV04 + Lines{"FPkiwi    F5FFFFFF\r"}, kPort3On},
        {"/F", {"wrong", "1:1"}, "Password Error!\n", 1,
         kQueryV04 + Lines{"FPwrong   F5FFFFFF\r"}, kPort3On},
    });
}

TEST(SetPortStates, PasswordArgument) {
    const sim::HubConfig eight{.password = "abcdefgh", .states = 0x4};
    const sim::HubConfig three{.password = "abc     ", .states = 0x4};
    cmdtest::runHubCases({
        {"/S", {"abcdefgh", "1:1"}, "", 0, sp("abcdefghF5FFFFFF"), eight},
        {"/S", {"abc", "1:1"}, "", 0, sp("abc     F5FFFFFF"), three},
        {"/S", {"wrong", "1:1"}, "Password Error!\n", 1, sp("wrong   F5FFFFFF"), kPort3On},
        // Characters are counted, not bytes: "äö" is two characters of four
        // bytes and gets six blanks. This hub only knows ASCII passwords.
        {"/S", {"\xC3\xA4\xC3\xB6", "1:1"}, "Set Port State: Failed!\n", 1,
         sp("\xC3\xA4\xC3\xB6      F5FFFFFF"), kPort3On},
        // Refused passwords send nothing, not even the query.
        {"/S", {"abcdefghi", "1:1"}, "Invalid Password!\n", 1, {}, kPort3On},
        {"/S", {"", "1:1"}, "Invalid Password!\n", 1, {}, kPort3On},
        {"/F", {"\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4", "1:1"},
         "Invalid Password!\n", 1, {}, kPort3On},
    });
}

TEST(SetPortStates, OperandRefusedAfterTheQuery) {
    const Lines queried = kQueryV04;
    cmdtest::runHubCases({
        {"/S", {}, "State Format Error!\n", 1, queried, kPort3On},
        {"/S", {"X:1"}, "State Format Error!\n", 1, queried, kPort3On},
        {"/F", {"kiwi", "2:1"}, "State Format Error!\n", 1, queried, kPort3On},
        {"/S", {"1:9"}, "Invalid Port Number!\n", 1, queried, kPort3On},
        {"/S", {"1:"}, "Error Port Numbers\n", 1, queried, kPort3On},
        {"/S", {"1:3, 4"}, "Error Port Numbers\n", 1, queried, kPort3On},
        {"/S", {"B:"}, "Error Bit Stream!\n", 1, queried, kPort3On},
        {"/S", {"H:5"}, "Error Hex String!\n", 1, queried, kPort3On},
        {"/S", {"H:ALL"}, "Set Port State: Error Arguments!\n", 1, queried, kPort3On},
        {"/F", {"B:ALL"}, "Set Port State: Error Arguments!\n", 1, queried, kPort3On},
    });
}

TEST(SetPortStates, RepliesThatAreNotTheEcho) {
    cmdtest::runHubCases({
        // Accepted, but the hub reports a state other than the one sent.
        {"/S", {"1:1"}, "Set Port State: Failed!\n", 1, sp("kiwi    F5FFFFFF"), kPort3On,
         after(3, raw("GF4FFFFFF\n"))},
        {"/S", {"1:1"}, "Set Port State: Failed!\n", 1, sp("kiwi    F5FFFFFF"), kPort3On,
         after(3, raw("G\n"))},
        {"/S", {"1:1"}, "Set Port State: Failed!\n", 1, sp("kiwi    F5FFFFFF"), kPort3On,
         after(3, raw("E00\n"))},
        // Whatever follows the echo does not matter.
        {"/S", {"1:1"}, "", 0, sp("kiwi    F5FFFFFF"), kPort3On, after(3, raw("GF5FFFFFF00\n"))},
        {"/S", {"1:1"}, "Password Error!\n", 1, sp("kiwi    F5FFFFFF"), kPort3On,
         after(3, raw("E01GF5FFFFFF\n"))},
        // No reply at all: the exchange's own status is printed.
        {"/S", {"1:1"}, "No\n", 1, sp("kiwi    F5FFFFFF"), kPort3On,
         after(3, cmdtest::silent())},
    });
}

// A malformed query reply must never turn into a state sent to the hub.
TEST(SetPortStates, FailedQuerySendsNoState) {
    cmdtest::runHubCases({
        {"/S", {"1:3"}, "Query Error!\n", 1, {"?Q\r"}, kPort3On, {raw("TAVRINM031x4V04\n")}},
        {"/F", {"0:ALL"}, "Query Error!\n", 1, {"?Q\r"}, kPort3On, {raw("TAVRINM03104\n")}},
        {"/S", {"1:3"}, "Query Error!\n", 1, {"?Q\r"}, kPort3On, {raw("XAVRINM03104V04\n")}},
        {"/S", {"1:3"}, "Query2 Error!\n", 1, {"?Q\r", "E?Q2\r"}, kPort3On,
         after(1, raw("TAVRINM03104V04\n"))},
        {"/S", {"1:3"}, "No\n", 1, kQueryV04, kPort3On, after(2, raw("F4FF\n"))},
        {"/S", {"1:3"}, "No\n", 1, kQueryV04, kPort3On, after(2, raw("F4FFFFFG\n"))},
    });
}

TEST(SetPortStates, PortOperand) {
    cmdtest::Registry registry;
    sim::VirtualHub hub(kPort3On);
    registry.add("ttyUSB0", hub.path());
    struct Row {
        Lines args;
        std::string out;
        int status;
        Lines sent;
    };
    // The port is resolved first: an unknown UID is refused before the
    // password is even looked at.
    const std::vector<Row> rows = {
        {{"/S:UIDFFFFFFFFFFFF", "abcdefghi", "1:1"}, "Invalid Serial Port!\n", 1,
         {"E?Q2\r"}},
        {{"/F:UIDFFFFFFFFFFFF", "1:1"}, "Invalid Serial Port!\n", 1, {"E?Q2\r"}},
        {{"/S:uid0123456789ab", "1:1"}, "", 0, Lines{"E?Q2\r"} + sp("kiwi    F5FFFFFF")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args[0]);
        hub.clearReceived();
        const cmdtest::Run run = cmdtest::hubctl(row.args, registry);
        EXPECT_EQ(run.out, row.out);
        EXPECT_EQ(run.status, row.status);
        EXPECT_EQ(hub.received(), row.sent);
    }
}

}  // namespace
