// The hub's answers to each command, seen over the pty as a tool sees them.
#include <gtest/gtest.h>

#include <stdexcept>

#include "pty_client.h"
#include "sim/virtual_hub.h"

namespace {

using simtest::PtyClient;
using sim::HubConfig;
using sim::VirtualHub;

HubConfig v04() { return HubConfig{}; }

HubConfig v03() {
    HubConfig c;
    c.ports = 7;
    c.firmware = "V03";
    c.productId = "M032";
    c.states = 0x05;
    return c;
}

HubConfig withPorts(int ports, std::uint32_t states) {
    HubConfig c;
    c.ports = ports;
    c.states = states;
    return c;
}

HubConfig plainLf() {
    HubConfig c;
    c.extendedCrLf = false;
    c.description = "";
    return c;
}

struct ReplyCase {
    const char* what;
    HubConfig config;
    std::string line;
    std::string reply;
};

TEST(HubCommands, EachLineGetsItsReplyOnAFreshHub) {
    const std::string pw = "kiwi    ";
    const ReplyCase cases[] = {
        {"identify", v04(), "?Q", "TAVRINM03104V04\n"},
        {"extended identify", v04(), "E?Q2", "TAVRINM03104V040123456789ABVirtual Hub\r\n"},
        {"extended identify, LF only", plainLf(), "E?Q2", "TAVRINM03104V040123456789AB\n"},
        {"absent ports read as on", v04(), "GP", "F0FFFFFF\n"},
        {"16 ports", withPorts(16, 0x0102), "GP", "0201FFFF\n"},
        {"32 ports, byte 0 first", withPorts(32, 0x12345678), "GP", "78563412\n"},
        {"set echoes the states", v04(), "SP" + pw + "0F000000", "G0F000000\n"},
        {"set stores lower case as value", v04(), "SP" + pw + "f4ffffff", "GF4FFFFFF\n"},
        {"set and save", v04(), "FP" + pw + "01FFFFFF", "G01FFFFFF\n"},
        {"set, wrong password", v04(), "SPkiwi!   0F000000", "E01\n"},
        {"set, short states", v04(), "SP" + pw + "0F0000", "E00\n"},
        {"set, states not hex", v04(), "SP" + pw + "0G000000", "E00\n"},
        {"set and save, wrong password", v04(), "FPKIWI    0F000000", "E01\n"},
        {"save, console form", v04(), "WP" + pw, "G\n"},
        {"save, windowed form", v04(), "WP" + pw + "0A000000", "G\n"},
        {"save, states not hex", v04(), "WP" + pw + "0Z000000", "E00\n"},
        {"save, wrong password", v04(), "WPKIWI    ", "E01\n"},
        {"change password", v04(), "CP" + pw + "secret12", "G\n"},
        {"change password, old wrong", v04(), "CPnopenopesecret12", "E01\n"},
        {"change password, new missing", v04(), "CP" + pw, "E00\n"},
        {"description", v04(), "ESDD" + pw + "Bench", "G\n"},
        {"description of 100 bytes", v04(), "ESDD" + pw + std::string(100, 'x'), "G\n"},
        {"description of 101 bytes", v04(), "ESDD" + pw + std::string(101, 'x'), "E00\n"},
        {"description, wrong password", v04(), "ESDDbadpass!x", "E01\n"},
        {"restore defaults", v04(), "RD" + pw, "G\n"},
        {"restore, password too short", v04(), "RDkiwi   ", "E00\n"},
        {"restore, wrong password", v04(), "RDwrongpwd", "E01\n"},
        {"reset, wrong password", v04(), "RHwrongpwd", "E01\n"},
        {"firmware update, wrong password", v04(), "EUFWwrongpwd", "E01\n"},
        {"lower-case command", v04(), "?q", "E00\n"},
        {"trailing space", v04(), "?Q ", "E00\n"},
        {"unknown command", v04(), "XY", "E00\n"},
        {"empty line", v04(), "", "E00\n"},
        {"old identify", v03(), "?Q", "TAVRINM03207V03\n"},
        {"old hub has no extended identify", v03(), "E?Q2", "E00\n"},
        {"old hub has no description", v03(), "ESDD" + pw + "x", "E00\n"},
        {"old hub, 7 ports", v03(), "GP", "85FFFFFF\n"},
    };
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.what);
        VirtualHub hub(c.config);
        PtyClient client(hub.path());
        EXPECT_EQ(client.exchange(c.line), c.reply);
    }
}

struct Step {
    std::string line;
    std::string reply;
};

struct Script {
    const char* what;
    HubConfig config;
    std::vector<Step> steps;
    std::uint32_t states;
    std::uint32_t powerOnStates;
    std::string password;
    std::string description;
};

HubConfig factory(const std::string& password = "kiwi    ") {
    HubConfig c;
    c.states = 0x01;
    c.powerOnStates = 0x02;
    c.password = password;
    return c;
}

TEST(HubCommands, ScriptsChangeTheHubAsDocumented) {
    const std::string pw = "kiwi    ";
    const Script scripts[] = {
        {"set is live, save keeps it for power-on", v04(),
         {{"SP" + pw + "03000000", "G03000000\n"},
          {"GP", "F3FFFFFF\n"},
          {"WP" + pw, "G\n"},
          {"SP" + pw + "0C000000", "G0C000000\n"},
          {"GP", "FCFFFFFF\n"}},
         0x0C, 0x03, pw, "Virtual Hub"},
        {"set and save sets both", v04(), {{"FP" + pw + "05000000", "G05000000\n"}}, 0x05, 0x05,
         pw, "Virtual Hub"},
        {"windowed save keeps the given states", v04(),
         {{"SP" + pw + "01000000", "G01000000\n"}, {"WP" + pw + "02000000", "G\n"}}, 0x01, 0x02,
         pw, "Virtual Hub"},
        {"new password replaces the old", v04(),
         {{"CP" + pw + "secret12", "G\n"},
          {"SP" + pw + "01000000", "E01\n"},
          {"SPsecret1201000000", "G01000000\n"}},
         0x01, 0x00, "secret12", "Virtual Hub"},
        {"description shows in extended identify", v04(),
         {{"ESDD" + pw + "Bench A", "G\n"},
          {"E?Q2", "TAVRINM03104V040123456789ABBench A\r\n"}},
         0x00, 0x00, pw, "Bench A"},
        {"restore brings back every factory value", factory(),
         {{"CP" + pw + "secret12", "G\n"},
          {"ESDDsecret12Other", "G\n"},
          {"FPsecret12FF000000", "GFF000000\n"},
          {"RDsecret12", "G\n"},
          {"GP", "F1FFFFFF\n"},
          {"E?Q2", "TAVRINM03104V040123456789ABVirtual Hub\r\n"},
          {"RDsecret12", "E01\n"}},
         0x01, 0x02, pw, "Virtual Hub"},
        {"restore brings back the factory password, not the one started with",
         factory("started1"),
         {{"RDstarted1", "G\n"}, {"SP" + pw + "01000000", "G01000000\n"}},
         0x01, 0x02, pw, "Virtual Hub"},
    };
    for (const Script& s : scripts) {
        SCOPED_TRACE(s.what);
        VirtualHub hub(s.config);
        PtyClient client(hub.path());
        for (const Step& step : s.steps) EXPECT_EQ(client.exchange(step.line), step.reply) << step.line;
        EXPECT_EQ(hub.states(), s.states);
        EXPECT_EQ(hub.powerOnStates(), s.powerOnStates);
        EXPECT_EQ(hub.password(), s.password);
        EXPECT_EQ(hub.description(), s.description);
    }
}

TEST(HubCommands, ResetAppliesPowerOnStatesAndSilencesTheHubForAWhile) {
    HubConfig config;
    config.powerOnStates = 0x0A;
    config.resetSilence = std::chrono::milliseconds(150);
    VirtualHub hub(config);
    PtyClient client(hub.path());
    ASSERT_EQ(client.exchange("SPkiwi    05000000"), "G05000000\n");

    ASSERT_EQ(client.exchange("RHkiwi    "), "G\n");
    auto resetAt = simtest::Clock::now();
    EXPECT_EQ(hub.states(), 0x0Au);
    EXPECT_EQ(client.exchange("GP", 60), "");

    while (simtest::millisSince(resetAt) < 170) ::usleep(5000);
    EXPECT_EQ(client.exchange("GP"), "FAFFFFFF\n");
    EXPECT_EQ(hub.received().size(), 4u);  // the unanswered GP is recorded too
}

TEST(HubCommands, FirmwareUpdateLeavesTheHubSilent) {
    VirtualHub hub;
    PtyClient client(hub.path());
    EXPECT_FALSE(hub.inFirmwareUpdate());
    ASSERT_EQ(client.exchange("EUFWkiwi    "), "G\n");
    EXPECT_TRUE(hub.inFirmwareUpdate());
    EXPECT_EQ(client.exchange("?Q", 60), "");
}

TEST(HubCommands, ConfigsNoHubCouldHaveAreRefused) {
    struct BadCase {
        const char* what;
        void (*spoil)(HubConfig&);
    };
    const BadCase cases[] = {
        {"no ports", [](HubConfig& c) { c.ports = 0; }},
        {"33 ports", [](HubConfig& c) { c.ports = 33; }},
        {"product id of 3", [](HubConfig& c) { c.productId = "M03"; }},
        {"firmware of 2", [](HubConfig& c) { c.firmware = "V4"; }},
        {"uid of 11", [](HubConfig& c) { c.uid = "0123456789A"; }},
        {"password of 7", [](HubConfig& c) { c.password = "kiwi   "; }},
        {"description of 101", [](HubConfig& c) { c.description = std::string(101, 'd'); }},
        {"description with CR", [](HubConfig& c) { c.description = "a\rb"; }},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.what);
        HubConfig config;
        c.spoil(config);
        EXPECT_THROW(VirtualHub{config}, std::invalid_argument);
    }
}

}  // namespace
