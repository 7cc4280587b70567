#include "hublink/protocol.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

namespace hublink {
namespace {

TEST(PasswordField, ConsoleRule) {
    struct Case {
        std::string password;
        std::optional<std::string> field;
    };
    const Case cases[] = {
        {"", std::nullopt},
        {"a", "a       "},
        {"abc", "abc     "},
        {"12345678", "12345678"},
        {"123456789", std::nullopt},
        {"kiwi", "kiwi    "},
        // A line break would split the command line in two; other control
        // bytes and broken UTF-8 would reach the hub raw.
        {"ab\rRD", std::nullopt},
        {"ab\n", std::nullopt},
        {std::string("a") + std::string(20, '\x80'), std::nullopt},
        {std::string("ab\0c", 4), std::nullopt},
        {"ab\x1b[2J", std::nullopt},
        // Counted in characters: six two-byte letters still get two blanks.
        {"\xC3\xA4\xC3\xB6\xC3\xBC\xC3\xA4\xC3\xB6\xC3\xBC", "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\xA4\xC3\xB6\xC3\xBC  "},
        {"\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC",
         "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC"},
        {"\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC!",
         std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(consolePasswordField(c.password), c.field) << c.password;
}

TEST(SendableText, Utf8WithoutControlCharacters) {
    const struct {
        std::string text;
        bool sendable;
    } cases[] = {
        {"", true},
        {"Rack 7, shelf 2", true},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true},  // two, three and four bytes
        {"\xEF\xBF\xBD", true},                              // U+FFFD itself
        {"\x80", false},                                      // continuation without a lead
        {"a\xC3", false},                                     // cut short
        {"\xE2\x82", false},
        {"\xC3\x28", false},                                  // lead not followed
        {"\xC0\xAF", false},                                  // overlong "/"
        {"\xE0\x80\xAF", false},
        {"\xED\xA0\x80", false},                              // surrogate
        {"\xF4\x90\x80\x80", false},                          // above U+10FFFF
        {"\xF8\x88\x80\x80\x80", false},                      // five-byte form
        {"a\rb", false},
        {"a\nb", false},
        {std::string("a\0b", 3), false},
        {"\x1b", false},
        {"\x7f", false},
        {"\xC2\x85", false},                                  // C1 next line
        {"\xC2\xA0", true},                                   // no-break space
    };
    for (const auto& c : cases) EXPECT_EQ(isSendableText(c.text), c.sendable) << testing::PrintToString(c.text);
}

TEST(PasswordField, WindowRule) {
    struct Case {
        std::string typed;
        std::string field;
    };
    const Case cases[] = {
        {"", "        "},
        {"abc", "abc     "},
        {"12345678", "12345678"},
        {"123456789abc", "12345678"},
        // Cut on a character boundary, never inside a multi-byte letter.
        {"1234567\xC3\xA4\xC3\xB6", "1234567\xC3\xA4"},
        {"\xC3\xA4", "\xC3\xA4       "},
    };
    for (const auto& c : cases) EXPECT_EQ(windowPasswordField(c.typed), c.field) << c.typed;
}

TEST(CommandLines, EveryRowOfTheTable) {
    struct Case {
        std::string line;
        std::string expected;
    };
    const Case cases[] = {
        {identifyCommand(), "?Q\r"},
        {extendedIdentifyCommand(), "E?Q2\r"},
        {getPortStatesCommand(), "GP\r"},
        {setPortStatesCommand("kiwi    ", "F4FFFFFF"), "SPkiwi    F4FFFFFF\r"},
        {setAndSavePortStatesCommand("abc     ", "01FFFFFF"), "FPabc     01FFFFFF\r"},
        {consoleSavePortStatesCommand("kiwi    "), "WPkiwi    \r"},
        {windowSavePortStatesCommand("kiwi    ", "F4FFFFFF"), "WPkiwi    F4FFFFFF\r"},
        {changePasswordCommand("kiwi    ", "new1    "), "CPkiwi    new1    \r"},
        {writeDescriptionCommand("kiwi    ", "Bench 2"), "ESDDkiwi    Bench 2\r"},
        {writeDescriptionCommand("kiwi    ", ""), "ESDDkiwi    \r"},
        {restoreDefaultsCommand("kiwi    "), "RDkiwi    \r"},
        {resetHubCommand("12345678"), "RH12345678\r"},
        {enterFirmwareUpdateCommand("kiwi    "), "EUFWkiwi    \r"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.line, c.expected);
}

TEST(Replies, Classification) {
    struct Case {
        std::string reply;
        ReplyClass cls;
    };
    const Case cases[] = {
        {"G", ReplyClass::Accepted},
        {"GF4FFFFFF", ReplyClass::Accepted},
        {"E01", ReplyClass::PasswordRejected},
        {"E01 whatever follows", ReplyClass::PasswordRejected},
        {"E0", ReplyClass::Refused},
        {"E02", ReplyClass::Refused},
        {"g", ReplyClass::Refused},
        {"", ReplyClass::Refused},
        {"#?garbled", ReplyClass::Refused},
        {"G\n", ReplyClass::Accepted},  // window buffers keep the LF
    };
    for (const auto& c : cases) EXPECT_EQ(classifyReply(c.reply), c.cls) << c.reply;
}

TEST(ConsoleMapping, ResultTexts) {
    const Exchange none{"No", ""};
    const Exchange rejected{"OK", "E01"};
    const Exchange accepted{"OK", "G"};
    const Exchange refused{"OK", "X"};
    struct Case {
        Operation op;
        Exchange exchange;
        std::string states8;
        bool success;
        std::string text;
    };
    const Case cases[] = {
        {Operation::SetPortStates, none, "F4FFFFFF", false, "No"},
        {Operation::SetPortStates, rejected, "F4FFFFFF", false, "Password Error!"},
        {Operation::SetPortStates, {"OK", "GF4FFFFFF"}, "F4FFFFFF", true, ""},
        {Operation::SetPortStates, {"OK", "GF4FFFFFF\r"}, "F4FFFFFF", true, ""},
        {Operation::SetPortStates, accepted, "F4FFFFFF", false, "Set Port State: Failed!"},
        {Operation::SetPortStates, {"OK", "GF5FFFFFF"}, "F4FFFFFF", false, "Set Port State: Failed!"},
        {Operation::SetPortStates, refused, "F4FFFFFF", false, "Set Port State: Failed!"},
        {Operation::SetAndSavePortStates, {"OK", "G01FFFFFF"}, "01FFFFFF", true, ""},
        {Operation::SetAndSavePortStates, {"OK", "GF4FF"}, "F4FFFFFF", false, "Set Port State: Failed!"},
        {Operation::SetAndSavePortStates, rejected, "01FFFFFF", false, "Password Error!"},
        {Operation::SavePortStates, accepted, "", true, ""},
        {Operation::SavePortStates, refused, "", false, "Error Saving Port State"},
        {Operation::SavePortStates, none, "", false, "No"},
        {Operation::ChangePassword, accepted, "", true, ""},
        {Operation::ChangePassword, rejected, "", false, "Password Error!"},
        {Operation::ChangePassword, refused, "", false, "Change Password Failed!"},
        {Operation::WriteDescription, accepted, "", true, ""},
        {Operation::WriteDescription, {"OK", "E01xyz"}, "", false, "Password Error!"},
        {Operation::WriteDescription, refused, "", false, "Error Writing Description String"},
        {Operation::RestoreDefaults, accepted, "", true, ""},
        {Operation::RestoreDefaults, refused, "", false, "Error Restoring Factory Default"},
        {Operation::RestoreDefaults, none, "", false, "No"},
        {Operation::ResetHub, {"No", "", true}, "", true, ""},  // sent, then silence
        {Operation::ResetHub, none, "", false, "No"},           // never sent
        {Operation::ResetHub, refused, "", true, ""},
        {Operation::ResetHub, accepted, "", true, ""},
        {Operation::ResetHub, rejected, "", false, "Password Error!"},
    };
    for (const auto& c : cases) {
        const ConsoleOutcome out = consoleOutcome(c.op, c.exchange, c.states8);
        EXPECT_EQ(out.success, c.success) << static_cast<int>(c.op) << " " << c.exchange.reply;
        EXPECT_EQ(out.text, c.text) << static_cast<int>(c.op) << " " << c.exchange.reply;
    }
}

TEST(WindowMapping, ResultTexts) {
    struct Case {
        Operation op;
        std::string reply;
        std::string text;
    };
    const Case cases[] = {
        {Operation::SetPortStates, "G\n", "OK"},
        {Operation::SetPortStates, "G", "OK"},  // no echoed states needed
        {Operation::SetPortStates, "E01\n", "Password Err"},
        {Operation::SetPortStates, "", "State Err"},
        {Operation::SavePortStates, "X\n", "State Err"},
        {Operation::RestoreDefaults, "G\n", "OK"},
        {Operation::RestoreDefaults, "E01", "Password Err"},
        {Operation::RestoreDefaults, "", "State Err"},
        {Operation::ResetHub, "", "OK"},
        {Operation::ResetHub, "garbage", "OK"},
        {Operation::ResetHub, "E01\n", "Password Err"},
        {Operation::WriteDescription, "G\n", "OK"},
        {Operation::WriteDescription, "E01\n", "Password Err"},
        {Operation::WriteDescription, "", "I/O Err1"},
        {Operation::ChangePassword, "", "I/O Error"},
        {Operation::ChangePassword, "G\n", ""},
        {Operation::ChangePassword, "E01\n", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(windowOutcome(c.op, c.reply).text, c.text) << static_cast<int>(c.op) << " " << c.reply;
    EXPECT_EQ(windowOutcome(Operation::ChangePassword, "G\n").replyClass, ReplyClass::Accepted);
    EXPECT_EQ(windowOutcome(Operation::ChangePassword, "E01\n").replyClass,
              ReplyClass::PasswordRejected);
}

TEST(WindowLimits, PerOperation) {
    struct Case {
        Operation op;
        int bufferSize, bound, seconds, milliseconds;
    };
    const Case cases[] = {
        {Operation::SetPortStates, 32, 32, 2, 100},
        {Operation::SavePortStates, 32, 32, 2, 100},
        {Operation::ChangePassword, 32, 32, 2, 100},
        {Operation::EnterFirmwareUpdate, 32, 32, 2, 100},
        {Operation::RestoreDefaults, 32, 10, 2, 100},
        {Operation::ResetHub, 32, 10, 2, 100},
        {Operation::WriteDescription, 32, 10, 2, 100},
        {Operation::Identify, 100, 32, 0, 500},  // the search's identify
        {Operation::GetPortStates, 100, 32, 0, 500},
        {Operation::ExtendedIdentify, 100, 100, 0, 500},
    };
    for (const auto& c : cases) {
        const ReceiveLimits got = windowLimits(c.op);
        EXPECT_EQ(std::tie(got.bufferSize, got.bound, got.seconds, got.milliseconds),
                  std::tie(c.bufferSize, c.bound, c.seconds, c.milliseconds))
            << static_cast<int>(c.op);
    }
}

TEST(Family, FirmwareField) {
    EXPECT_EQ(firmwareField("TAVRIN0AB304V04"), "V04");
    EXPECT_EQ(firmwareField("TAVRIN0AB304V040123456789ABBench"), "V04");
    EXPECT_EQ(firmwareField("TAVRIN0AB304V"), "V");
    EXPECT_EQ(firmwareField("TAVRIN"), "");
}

TEST(Family, ConsoleAndWindowReadings) {
    struct Case {
        std::string field;
        std::optional<int> console;
        int window;
        bool legacy;
        bool extended;  // from the console reading, as the console decides
    };
    const Case cases[] = {
        {"V04", 4, 4, false, true},
        {"V03", 3, 3, true, false},
        {"v00", 0, 0, true, false},
        {"v01", 1, 1, true, false},
        {"V10", 16, 10, false, true},
        {"V99", 0x99, 99, false, true},
        {"VAB", std::nullopt, 0, false, false},
        {"V4x", 4, 0, false, true},  // window needs the whole rest to be digits
        {"V-4", 4, 0, false, true},
        {"", std::nullopt, 0, false, false},
        {"V", std::nullopt, 0, false, false},
        {"404", 0x404, 4, false, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(consoleFirmwareVersion(c.field), c.console) << c.field;
        EXPECT_EQ(windowFirmwareVersion(c.field), c.window) << c.field;
        EXPECT_EQ(isLegacyFirmware(c.field), c.legacy) << c.field;
        EXPECT_EQ(hasExtendedIdentify(c.console.value_or(0)), c.extended) << c.field;
    }
}

}  // namespace
}  // namespace hublink
