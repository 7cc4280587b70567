// /S, /F, /P, /W, /D, /R and /X run as processes against virtual hubs: the
// line each sends, the password field by argument roles, the refusals (which
// send nothing) and every reply class.
#include <gtest/gtest.h>

#include "hub_harness.h"

namespace {

using hubtest::after;
using hubtest::kQueryV04;
using hubtest::Lines;
using hubtest::operator+;
using hubtest::raw;
using hubtest::silent;

// A 4-port hub with only port 3 on: it reports F4,FF,FF,FF.
const sim::HubConfig kPort3On{.states = 0x4};
const sim::HubConfig kOldPassword{.password = "old     ", .states = 0x4};

Lines sp(const std::string& fields) { return kQueryV04 + Lines{"SP" + fields + "\r"}; }

TEST(SetPortStates, OperandFormsSendTheWholeState) {
    hubtest::runHubCases({
        {{"/S:@hub", "1:1,2"}, "", 0, sp("kiwi    F7FFFFFF"), kPort3On},
        {{"/S:@hub", "T:2,3"}, "", 0, sp("kiwi    F2FFFFFF"), kPort3On},
        // The operand is upper-cased and its separator is not looked at.
        {{"/S:@hub", "0:all"}, "", 0, sp("kiwi    F0FFFFFF"), kPort3On},
        {{"/S:@hub", "t;ALL"}, "", 0, sp("kiwi    FBFFFFFF"), kPort3On},
        {{"/S:@hub", "b:0101"}, "", 0, sp("kiwi    F5FFFFFF"), kPort3On},
        {{"/S:@hub", "H:A601"}, "", 0, sp("kiwi    A601FFFF"), {.ports = 16}},
        {{"/F:@hub", "0:ALL"}, "", 0, kQueryV04 + Lines{"FPkiwi    F0FFFFFF\r"}, kPort3On},
        // Refused after the query, before anything is set.
        {{"/S:@hub"}, "State Format Error!\n", 1, kQueryV04, kPort3On},
        {{"/F:@hub", "kiwi", "X:1"}, "State Format Error!\n", 1, kQueryV04, kPort3On},
        {{"/S:@hub", "1:9"}, "Invalid Port Number!\n", 1, kQueryV04, kPort3On},
        {{"/S:@hub", "1:"}, "Error Port Numbers\n", 1, kQueryV04, kPort3On},
        {{"/S:@hub", "B:"}, "Error Bit Stream!\n", 1, kQueryV04, kPort3On},
        {{"/S:@hub", "H:5"}, "Error Hex String!\n", 1, kQueryV04, kPort3On},
        {{"/S:@hub", "H:ALL"}, "Set Port State: Error Arguments!\n", 1, kQueryV04, kPort3On},
        // A malformed query reply never turns into a state sent to the hub.
        {{"/S:@hub", "1:3"}, "Query Error!\n", 1, {"?Q\r"}, kPort3On,
         {raw("TAVRIN0AB3x4V04\n")}},
    });
}

TEST(SetPortStates, PasswordPortAndReplies) {
    hubtest::runHubCases({
        {{"/S:@hub", "abcdefgh", "1:1"}, "", 0, sp("abcdefghF5FFFFFF"),
         {.password = "abcdefgh", .states = 0x4}},
        {{"/S:@hub", "abc", "1:1"}, "", 0, sp("abc     F5FFFFFF"),
         {.password = "abc     ", .states = 0x4}},
        {{"/S:@hub", "wrong", "1:1"}, "Password Error!\n", 1, sp("wrong   F5FFFFFF"), kPort3On},
        // Refused passwords send nothing, not even the query.
        {{"/S:@hub", "abcdefghi", "1:1"}, "Invalid Password!\n", 1},
        {{"/S:@hub", "", "1:1"}, "Invalid Password!\n", 1},
        {{"/F:@hub", "ab\rRH", "1:1"}, "Invalid Password!\n", 1},
        // Broken UTF-8 counted one character and put 28 bytes on the wire.
        {{"/S:@hub", "a" + std::string(20, '\x80'), "1:1"}, "Invalid Password!\n", 1},
        {{"/S:@hub", "ab\x1b[2J", "1:1"}, "Invalid Password!\n", 1},
        // The port is resolved first, before the password is looked at.
        {{"/S:UIDFFFFFFFFFFFF", "abcdefghi", "1:1"}, "Invalid Serial Port!\n", 1, {"E?Q2\r"},
         kPort3On, {}, true},
        {{"/S:uid0123456789ab", "1:1"}, "", 0, Lines{"E?Q2\r"} + sp("kiwi    F5FFFFFF"), kPort3On,
         {}, true},
        // The hub must echo the state sent after its "G".
        {{"/S:@hub", "1:1"}, "Set Port State: Failed!\n", 1, sp("kiwi    F5FFFFFF"), kPort3On,
         after(3, raw("GF4FFFFFF\n"))},
        {{"/S:@hub", "1:1"}, "Set Port State: Failed!\n", 1, sp("kiwi    F5FFFFFF"), kPort3On,
         after(3, raw("E00\n"))},
        {{"/S:@hub", "1:1"}, "No\n", 1, sp("kiwi    F5FFFFFF"), kPort3On, after(3, silent())},
    });
}

TEST(ChangePassword, ArgumentRolesAndReplies) {
    hubtest::runHubCases({
        {{"/P:@hub", "newpw"}, "", 0, {"CPkiwi    newpw   \r"}},
        // An empty third argument counts as absent.
        {{"/P:@hub", "newpw", ""}, "", 0, {"CPkiwi    newpw   \r"}},
        {{"/P:@hub", "old", "new12345"}, "", 0, {"CPold     new12345\r"}, kOldPassword},
        {{"/P:@hub", "wrong", "new"}, "Password Error!\n", 1, {"CPwrong   new     \r"}},
        {{"/P:@hub", "new"}, "Change Password Failed!\n", 1, {"CPkiwi    new     \r"}, {},
         {raw("E00\n")}},
        {{"/P:@hub"}, "Invalid New Password!\n", 1},
        {{"/P:@hub", "old", "abcdefghi"}, "Invalid New Password!\n", 1},
        {{"/P:@hub", "abcdefghi", "new"}, "Invalid Password!\n", 1},
        {{"/P:@hub", "n\x01w"}, "Invalid New Password!\n", 1},
        {{"/P:@hub", "\xC3"}, "Invalid New Password!\n", 1},
    });
}

TEST(SaveRestoreReset, PasswordBeforePort) {
    hubtest::runHubCases({
        {{"/W:@hub"}, "", 0, {"WPkiwi    \r"}},
        {{"/W:@hub", "old", "ignored"}, "", 0, {"WPold     \r"}, kOldPassword},
        {{"/W:@hub", "wrong"}, "Password Error!\n", 1, {"WPwrong   \r"}},
        {{"/W:@hub"}, "Error Saving Port State\n", 1, {"WPkiwi    \r"}, {}, {raw("E00\n")}},
        {{"/W:UIDFFFFFFFFFFFF", "abcdefghi"}, "Invalid Password!\n", 1},
        {{"/D:@hub", "old"}, "", 0, {"RDold     \r"}, kOldPassword},
        {{"/D:@hub"}, "Error Restoring Factory Default\n", 1, {"RDkiwi    \r"}, {}, {raw("X\n")}},
        {{"/D:UIDFFFFFFFFFFFF"}, "Invalid Serial Port!\n", 1},
        // A restarting hub may answer nothing.
        {{"/R:@hub"}, "", 0, {"RHkiwi    \r"}, {}, {silent()}},
        {{"/R:@hub", "wrong"}, "Password Error!\n", 1, {"RHwrong   \r"}},
        {{"/R:@hub", "abcdefghi"}, "Invalid Password!\n", 1},
        // A first argument of six characters or fewer names no port.
        {{"/R:cu1"}, "Invalid Serial Port!\n", 1},
        {{"/W:cu1"}, "Invalid Serial Port!\n", 1},
        {{"/D:cu1"}, "Invalid Serial Port!\n", 1},
        {{"/S:cu1", "1:1"}, "Invalid Serial Port!\n", 1},
        {{"/F", "1:1"}, "Invalid Serial Port!\n", 1},
        {{"/P:cu1", "new"}, "Invalid Serial Port!\n", 1},
        {{"/X:cu1", "Desk"}, "Invalid Serial Port!\n", 1},
        // Nothing sent is nothing reset.
        {{"/R:/dev/does-not-exist"}, "No\n", 1},
        {{"/R:/dev/null"}, "No\n", 1},
    });
}

TEST(WriteDescription, ArgumentsLengthAndReplies) {
    std::string fiftyWide;  // 50 characters of two bytes each
    for (int i = 0; i < 50; ++i) fiftyWide += "\xC3\xA9";
    const std::string tooLong = "Error: string exceeds 50 maximum characters!\n";
    hubtest::runHubCases({
        {{"/X:@hub", "Desk hub"}, "", 0, {"ESDDkiwi    Desk hub\r"}},
        {{"/X:@hub", "old", "Desk hub"}, "", 0, {"ESDDold     Desk hub\r"}, kOldPassword},
        {{"/X:@hub", fiftyWide}, "", 0, {"ESDDkiwi    " + fiftyWide + "\r"}},
        {{"/X:@hub", std::string(51, 'd')}, tooLong, 1},
        {{"/X:UIDFFFFFFFFFFFF", "pw", std::string(51, 'd')}, tooLong, 1},
        // A line break would hand the hub a second command.
        {{"/X:@hub", "Desk\rRDkiwi    "}, "Error Writing Description String\n", 1},
        // Nor may other control bytes or broken UTF-8 (51 bytes that counted as none).
        {{"/X:@hub", std::string(51, '\x80')}, "Error Writing Description String\n", 1},
        {{"/X:@hub", "Desk\x1b[2J"}, "Error Writing Description String\n", 1},
        {{"/X:@hub", "Desk\xC0\xAF"}, "Error Writing Description String\n", 1},
        {{"/X:@hub"}, "Invalid Command!\n", 1},
        {{"/X:@hub", "abcdefghi", "Desk hub"}, "Invalid Password!\n", 1},
        // Hubs before V04 refuse the command.
        {{"/X:@hub", "Desk hub"}, "Error Writing Description String\n", 1,
         {"ESDDkiwi    Desk hub\r"}, {.firmware = "V03"}},
        {{"/X:UIDFFFFFFFFFFFF", "d"}, "Invalid Serial Port!\n", 1},
    });
}

}  // namespace
