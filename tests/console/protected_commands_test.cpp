// /P, /W, /D, /R and /X run as processes against virtual hubs: the exact
// line each sends, the password field by argument roles, every refusal
// (which must send nothing) and every reply class.
#include <gtest/gtest.h>

#include <string>

#include "command_harness.h"

namespace {

using cmdtest::HubCase;
using cmdtest::Lines;
using cmdtest::raw;

const std::string kDefaultField = "kiwi    ";
const sim::HubConfig kOldPassword{.password = "old     "};

TEST(ChangePassword, ArgumentRolesAndReplies) {
    cmdtest::runHubCases({
        {"/P", {"newpw"}, "", 0, {"CPkiwi    newpw   \r"}},
        {"/P", {"old", "new12345"}, "", 0, {"CPold     new12345\r"}, kOldPassword},
        // An empty third argument counts as absent: one password, the new one.
        {"/P", {"newpw", ""}, "", 0, {"CPkiwi    newpw   \r"}},
        {"/P", {"wrong", "new"}, "Password Error!\n", 1, {"CPwrong   new     \r"}},
        {"/P", {"new"}, "Change Password Failed!\n", 1, {"CPkiwi    new     \r"}, {},
         {raw("E00\n")}},
        {"/P", {}, "Invalid New Password!\n", 1, {}},
        {"/P", {"abcdefghi"}, "Invalid New Password!\n", 1, {}},
        {"/P", {"old", "abcdefghi"}, "Invalid New Password!\n", 1, {}},
        {"/P", {"abcdefghi", "new"}, "Invalid Password!\n", 1, {}},
        {"/P", {"", "new"}, "Invalid Password!\n", 1, {}},
        {"/P:UIDFFFFFFFFFFFF", {"new"}, "Invalid Serial Port!\n", 1, {}},
    });
}

TEST(SaveRestoreReset, PasswordBeforePort) {
    cmdtest::runHubCases({
        {"/W", {}, "", 0, {"WP" + kDefaultField + "\r"}},
        {"/W", {"old"}, "", 0, {"WPold     \r"}, kOldPassword},
        {"/W", {"old", "ignored"}, "", 0, {"WPold     \r"}, kOldPassword},
        {"/W", {"abcdefghi"}, "Invalid Password!\n", 1, {}},
        {"/W", {"wrong"}, "Password Error!\n", 1, {"WPwrong   \r"}},
        {"/W", {}, "Error Saving Port State\n", 1, {"WP" + kDefaultField + "\r"}, {},
         {raw("E00\n")}},
        {"/W", {}, "No\n", 1, {"WP" + kDefaultField + "\r"}, {}, {cmdtest::silent()}},

        {"/D", {}, "", 0, {"RD" + kDefaultField + "\r"}},
        {"/D", {"old"}, "", 0, {"RDold     \r"}, kOldPassword},
        {"/D", {"abcdefghi"}, "Invalid Password!\n", 1, {}},
        {"/D", {"wrong"}, "Password Error!\n", 1, {"RDwrong   \r"}},
        {"/D", {}, "Error Restoring Factory Default\n", 1, {"RD" + kDefaultField + "\r"}, {},
         {raw("X\n")}},

        {"/R", {}, "", 0, {"RH" + kDefaultField + "\r"}},
        {"/R", {"old"}, "", 0, {"RHold     \r"}, kOldPassword},
        {"/R", {"abcdefghi"}, "Invalid Password!\n", 1, {}},
        {"/R", {"wrong"}, "Password Error!\n", 1, {"RHwrong   \r"}},
        // A restarting hub may answer anything or nothing.
        {"/R", {}, "", 0, {"RH" + kDefaultField + "\r"}, {}, {raw("E00\n")}},
        {"/R", {}, "", 0, {"RH" + kDefaultField + "\r"}, {}, {cmdtest::silent()}},

        // The password is refused before the port is looked up.
        {"/W:UIDFFFFFFFFFFFF", {"abcdefghi"}, "Invalid Password!\n", 1, {}},
        {"/D:UIDFFFFFFFFFFFF", {}, "Invalid Serial Port!\n", 1, {}},
        {"/R:UIDFFFFFFFFFFFF", {"abc"}, "Invalid Serial Port!\n", 1, {}},
    });
}

TEST(WriteDescription, ArgumentsLengthAndReplies) {
    const std::string fifty(50, 'd');
    std::string fiftyWide;  // 50 characters of two bytes each
    for (int i = 0; i < 50; ++i) fiftyWide += "\xC3\xA9";
    const sim::HubConfig v03{.firmware = "V03"};
    cmdtest::runHubCases({
        {"/X", {"Desk hub"}, "", 0, {"ESDDkiwi    Desk hub\r"}},
        {"/X", {"old", "Desk hub"}, "", 0, {"ESDDold     Desk hub\r"}, kOldPassword},
        {"/X", {"Desk hub", ""}, "", 0, {"ESDDkiwi    Desk hub\r"}},
        {"/X", {fifty}, "", 0, {"ESDDkiwi    " + fifty + "\r"}},
        {"/X", {fiftyWide}, "", 0, {"ESDDkiwi    " + fiftyWide + "\r"}},
        {"/X", {fifty + "d"}, "Error: string exceeds 50 maximum characters!\n", 1, {}},
        {"/X", {"pw", fiftyWide + "\xC3\xA9"}, "Error: string exceeds 50 maximum characters!\n", 1,
         {}},
        // A line break would hand the hub a second command: nothing is sent.
        {"/X", {"Desk\rRDkiwi    "}, "Error Writing Description String\n", 1, {}},
        {"/X", {"Desk\n"}, "Error Writing Description String\n", 1, {}},
        {"/X", {"ab\rRD", "Desk"}, "Invalid Password!\n", 1, {}},
        {"/X", {}, "Invalid Command!\n", 1, {}},
        {"/X", {"", "Desk hub"}, "Invalid Command!\n", 1, {}},
        {"/X", {"abcdefghi", "Desk hub"}, "Invalid Password!\n", 1, {}},
        {"/X", {"wrong", "Desk hub"}, "Password Error!\n", 1, {"ESDDwrong   Desk hub\r"}},
        // Hubs before V04 refuse the command.
        {"/X", {"Desk hub"}, "Error Writing Description String\n", 1, {"ESDDkiwi    Desk hub\r"},
         v03},
        // Arguments and length are checked before the port.
        {"/X:UIDFFFFFFFFFFFF", {"abcdefghi", "d"}, "Invalid Password!\n", 1, {}},
        {"/X:UIDFFFFFFFFFFFF", {fifty + "d"}, "Error: string exceeds 50 maximum characters!\n", 1,
         {}},
        {"/X:UIDFFFFFFFFFFFF", {"d"}, "Invalid Serial Port!\n", 1, {}},
    });
}

}  // namespace
