// The hub's answers to each command, seen over the pty as a tool sees them.
#include <gtest/gtest.h>

#include <stdexcept>

#include "hub_model.h"
#include "pty_client.h"
#include "sim/virtual_hub.h"

namespace {

using simtest::PtyClient;
using sim::HubConfig;
using sim::VirtualHub;

const std::string pw = "kiwi    ";

TEST(HubCommands, EachLineGetsItsReplyOnAFreshHub) {
    const HubConfig v04, v03{.ports = 7, .productId = "M032", .firmware = "V03", .states = 5};
    struct Case {
        const char* what;
        HubConfig config;
        std::string line, reply;
    };
    const Case cases[] = {
        {"extended identify, LF only", {.description = "", .extendedCrLf = false}, "E?Q2",
         "TAVRIN0AB304V040123456789AB\n"},
        {"32 ports, byte 0 first", {.ports = 32, .states = 0x12345678}, "GP", "78563412\n"},
        {"set takes lower case", v04, "SP" + pw + "f4ffffff", "GF4FFFFFF\n"},
        {"set, wrong password", v04, "SPkiwi!   0F000000", "E01\n"},
        {"set, short states", v04, "SP" + pw + "0F0000", "E00\n"},
        {"set, states not hex", v04, "SP" + pw + "0G000000", "E00\n"},
        {"save, states not hex", v04, "WP" + pw + "0Z000000", "E00\n"},
        {"save, wrong password", v04, "WPKIWI    ", "E01\n"},
        {"change password, old wrong", v04, "CPnopenopesecret12", "E01\n"},
        {"change password, new missing", v04, "CP" + pw, "E00\n"},
        {"description of 100 bytes", v04, "ESDD" + pw + std::string(100, 'x'), "G\n"},
        {"description of 101 bytes", v04, "ESDD" + pw + std::string(101, 'x'), "E00\n"},
        {"description, wrong password", v04, "ESDDbadpass!x", "E01\n"},
        {"restore, password too short", v04, "RDkiwi   ", "E00\n"},
        {"restore, wrong password", v04, "RDwrongpwd", "E01\n"},
        {"reset, wrong password", v04, "RHwrongpwd", "E01\n"},
        {"firmware update, wrong password", v04, "EUFWwrongpwd", "E01\n"},
        {"lower-case command", v04, "?q", "E00\n"},
        {"trailing space", v04, "?Q ", "E00\n"},
        {"empty line", v04, "", "E00\n"},
        {"old identify", v03, "?Q", "TAVRINM03207V03\n"},
        {"old hub, 7 ports", v03, "GP", "85FFFFFF\n"},
        {"old hub has no extended identify", v03, "E?Q2", "E00\n"},
        {"old hub has no description", v03, "ESDD" + pw + "x", "E00\n"},
    };
    for (const Case& c : cases) {
        VirtualHub hub(c.config);
        EXPECT_EQ(PtyClient(hub.path()).exchange(c.line), c.reply) << c.what;
    }
}

// Each script runs on a hub started with states 0x01, power-on states 0x02 and
// a password other than the factory one.
TEST(HubCommands, ScriptsChangeTheHubAsDocumented) {
    const std::string own = "started1";
    struct Step {
        std::string line, reply;
    };
    struct Script {
        const char* what;
        std::vector<Step> steps;
        std::uint32_t states, powerOnStates;
        std::string password = "started1", description = "Virtual Hub";
    };
    const Script scripts[] = {
        {"set is live, save keeps it for power-on",
         {{"SP" + own + "03000000", "G03000000\n"}, {"WP" + own, "G\n"},
          {"SP" + own + "0C000000", "G0C000000\n"}, {"GP", "FCFFFFFF\n"}},
         0x0C, 0x03},
        {"set and save sets both", {{"FP" + own + "05000000", "G05000000\n"}}, 0x05, 0x05},
        {"windowed save keeps the given states",
         {{"SP" + own + "03000000", "G03000000\n"}, {"WP" + own + "04000000", "G\n"}}, 0x03, 0x04},
        {"new password replaces the old",
         {{"CP" + own + "secret12", "G\n"}, {"SP" + own + "06000000", "E01\n"},
          {"SPsecret1206000000", "G06000000\n"}},
         0x06, 0x02, "secret12"},
        {"description shows in extended identify",
         {{"ESDD" + own + "Bench A", "G\n"}, {"E?Q2", "TAVRIN0AB304V040123456789ABBench A\r\n"}},
         0x01, 0x02, own, "Bench A"},
        {"restore brings back every factory value and the factory password",
         {{"ESDD" + own + "Other", "G\n"}, {"FP" + own + "FF000000", "GFF000000\n"},
          {"RD" + own, "G\n"}, {"GP", "F1FFFFFF\n"},
          {"E?Q2", "TAVRIN0AB304V040123456789ABVirtual Hub\r\n"}, {"RD" + own, "E01\n"},
          {"SP" + pw + "01000000", "G01000000\n"}},
         0x01, 0x02, pw},
    };
    for (const Script& s : scripts) {
        SCOPED_TRACE(s.what);
        VirtualHub hub({.password = own, .states = 0x01, .powerOnStates = 0x02});
        PtyClient client(hub.path());
        for (const Step& step : s.steps)
            EXPECT_EQ(client.exchange(step.line), step.reply) << step.line;
        EXPECT_EQ(hub.states(), s.states);
        EXPECT_EQ(hub.powerOnStates(), s.powerOnStates);
        EXPECT_EQ(hub.password(), s.password);
        EXPECT_EQ(hub.description(), s.description);
    }
}

TEST(HubCommands, ResetAndFirmwareUpdateSilenceTheHub) {
    VirtualHub hub({.powerOnStates = 0x0A,
                    .resetSilence = std::chrono::milliseconds(150),
                    .record = true});
    PtyClient client(hub.path());
    ASSERT_EQ(client.exchange("SP" + pw + "05000000"), "G05000000\n");
    ASSERT_EQ(client.exchange("RH" + pw), "G\n");
    const auto resetAt = simtest::Clock::now();
    EXPECT_EQ(hub.states(), 0x0Au);
    EXPECT_EQ(client.exchange("GP", 60), "");
    while (simtest::millisSince(resetAt) < 170) ::usleep(5000);
    EXPECT_EQ(client.exchange("GP"), "FAFFFFFF\n");
    EXPECT_EQ(hub.received().size(), 4u);  // the unanswered GP is recorded too

    EXPECT_FALSE(hub.inFirmwareUpdate());
    ASSERT_EQ(client.exchange("EUFW" + pw), "G\n");
    EXPECT_TRUE(hub.inFirmwareUpdate());
    EXPECT_EQ(client.exchange("?Q", 60), "");
}

TEST(HubCommands, ConfigsNoHubCouldHaveAreRefused) {
    int row = 0;
    for (const HubConfig& bad :
         {HubConfig{.ports = 33}, HubConfig{.productId = "M03"}, HubConfig{.firmware = "V4"},
          HubConfig{.uid = "0123456789A"}, HubConfig{.description = std::string(101, 'd')},
          HubConfig{.description = "a\rb"}, HubConfig{.password = "kiwi   "},
          HubConfig{.faults = {sim::Fault{.command = "GQ"}}},
          HubConfig{.faults = {sim::Fault{}, sim::Fault{.command = "gp"}}}})
        EXPECT_THROW(VirtualHub{bad}, std::invalid_argument) << "row " << row++;
}

// Faults aim at lines by this reading: bare commands only whole, the others
// by their first letters, as the hub dispatches them.
TEST(HubCommands, EachLineIsReadAsOneCommandOrNone) {
    const std::pair<std::string, std::string> rows[] = {
        {"?Q", "?Q"}, {"?Q ", ""},   {"E?Q2", "E?Q2"}, {"E?Q", ""},           {"GPX", ""},
        {"SP", "SP"}, {"FPx", "FP"}, {"ESD", ""},      {"EUFW" + pw, "EUFW"}, {"sp", ""},
    };
    for (const auto& [line, command] : rows)
        EXPECT_EQ(sim::HubModel::commandOf(line), command) << line;
    EXPECT_EQ(sim::HubModel::commandCodes().size(), 11u);
    EXPECT_TRUE(sim::HubModel::isCommand("EUFW"));
    EXPECT_FALSE(sim::HubModel::isCommand("SPkiwi"));
}

}  // namespace
