// The hub query of both front ends against virtual hubs, the text forms of a
// console record, and the hub search over a candidate list.
#include <gtest/gtest.h>
#include <sim/virtual_hub.h>

#include <string>
#include <vector>

#include "hublink/hub_query.h"

using hublink::HubInfo;
using sim::Fault;

namespace {

sim::HubConfig hubConfig(int ports, const std::string& firmware, std::uint32_t states) {
    sim::HubConfig config;
    config.ports = ports;
    config.firmware = firmware;
    config.uid = "0123456789AB";
    config.description = "Bench";
    config.states = states;
    config.record = true;
    return config;
}

Fault raw(const std::string& bytes) { return Fault{Fault::Kind::Raw, 0, 0, bytes}; }
Fault normal() { return Fault{Fault::Kind::Delay, 0, 0, {}}; }
Fault silent() { return Fault{Fault::Kind::Silent, 0, 0, {}}; }

}  // namespace

TEST(ConsoleQuery, RecordOfEachFirmwareFamily) {
    sim::VirtualHub v04(hubConfig(4, "V04", 0x04));
    auto result = hublink::queryHub(v04.path());
    ASSERT_EQ(result.status, "OK");
    EXPECT_EQ(result.record, (HubInfo{{"Port_Name", v04.path()},
                                      {"PID", "0AB3"},
                                      {"nPorts", "04"},
                                      {"FW_Ver", "V04"},
                                      {"UID", "0123456789AB"},
                                      {"Description", "Bench"},
                                      {"Port_States", "F4,FF,FF,FF"}}));
    EXPECT_EQ(v04.received(), (std::vector<std::string>{"?Q\r", "E?Q2\r", "GP\r"}));

    sim::VirtualHub v03(hubConfig(7, "V03", 0x01));
    result = hublink::queryHub(v03.path());
    ASSERT_EQ(result.status, "OK");
    EXPECT_EQ(result.record.at("UID"), "");
    EXPECT_EQ(result.record.at("Description"), "");
    EXPECT_EQ(result.record.at("Port_States"), "81,FF,FF,FF");
    EXPECT_EQ(v03.received(), (std::vector<std::string>{"?Q\r", "GP\r"}));
}

TEST(ConsoleQuery, EmptyDescriptionStillGivesUid) {
    auto config = hubConfig(4, "V04", 0);
    config.description = "";
    sim::VirtualHub hub(config);
    auto result = hublink::queryHub(hub.path());
    ASSERT_EQ(result.status, "OK");
    EXPECT_EQ(result.record.at("UID"), "0123456789AB");
    EXPECT_EQ(result.record.at("Description"), "");
}

// Each malformed or missing reply fails the whole query with its own text and
// an empty record; nothing is read past the end of a short reply.
TEST(ConsoleQuery, FailuresGiveTextAndEmptyRecord) {
    struct Case {
        const char* name;
        std::vector<Fault> faults;
        const char* status;
    };
    const std::vector<Case> cases = {
        {"silent", {silent()}, "Query Error!"},
        {"unmarked identify", {raw("XXXXXX0AB304V04\n")}, "Query Error!"},
        {"short identify", {raw("TAVRIN0AB30\n")}, "Query Error!"},
        {"port count not decimal", {raw("TAVRIN0AB3x4V04\n")}, "Query Error!"},
        {"extended silent", {normal(), silent()}, "Query2 Error!"},
        {"extended unmarked", {normal(), raw("NOTAVR0AB304V040123456789ABx\r\n")}, "Query2 Error!"},
        {"extended without full UID", {normal(), raw("TAVRIN0AB304V040123\r\n")}, "Query2 Error!"},
        {"states silent", {normal(), normal(), silent()}, "No"},
        {"states short", {normal(), normal(), raw("F4FF\n")}, "No"},
        {"states not hex", {normal(), normal(), raw("F4FFZZFF\n")}, "No"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::VirtualHub hub(hubConfig(4, "V04", 0));
        for (const auto& f : c.faults) hub.pushFault(f);
        auto result = hublink::queryHub(hub.path());
        EXPECT_EQ(result.status, c.status);
        EXPECT_TRUE(result.record.empty());
    }
}

TEST(WindowQuery, RecordsHaveThirteenOrElevenFields) {
    auto config = hubConfig(4, "V04", 0x05);
    config.extendedCrLf = false;
    sim::VirtualHub v04(config);
    auto records = hublink::QueryHubs2(v04.path());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0], (HubInfo{{"ControlPortShort", v04.path()},
                                   {"TavrinMark", "TAVRIN"},
                                   {"ControlPort", v04.path()},
                                   {"PortsperHub", "04"},
                                   {"PortsperHubShort", "4"},
                                   {"On", "1,3"},
                                   {"Off", "2,4"},
                                   {"FW", "V04"},
                                   {"Password", "kiwi    "},
                                   {"State64", "1,0,1,0,1,1,1,1,1,1,1,1,1,1,1,1,"
                                               "1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1"},
                                   {"UID", "0123456789AB"},
                                   {"Description", "Bench"},
                                   {"PID", "0AB3"}}));
    EXPECT_EQ(v04.received(), (std::vector<std::string>{"?Q\r", "GP\r", "E?Q2\r"}));

    sim::VirtualHub v03(hubConfig(4, "V03", 0));
    records = hublink::QueryHubs2(v03.path());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].size(), 11u);
    EXPECT_EQ(records[0].count("UID") + records[0].count("Description"), 0u);
    EXPECT_EQ(records[0].at("On"), "");
    EXPECT_EQ(records[0].at("Off"), "1,2,3,4");

    // The password a window starts with: HUBLINK_PASSWORD's, by the window's rule.
    for (const auto& [given, remembered] : {std::pair{"secret12", "secret12"}, {"pw", "pw      "},
                                            {"longer than 8", "longer t"}, {"", "kiwi    "}}) {
        ::setenv("HUBLINK_PASSWORD", given, 1);
        EXPECT_EQ(hublink::QueryHubs2(v03.path()).at(0).at("Password"), remembered) << given;
    }
    ::unsetenv("HUBLINK_PASSWORD");
}

TEST(WindowQuery, UnmarkedHubIsListedButUnreadableRepliesAreNot) {
    struct Case {
        const char* name;
        std::vector<Fault> faults;
        bool listed;
    };
    const std::vector<Case> cases = {
        {"unmarked identify", {raw("XXXXXX0AB304V04\n")}, true},
        {"silent", {silent()}, false},
        {"short identify", {raw("TAVRINM03\n")}, false},
        {"port count not decimal", {raw("TAVRIN0AB3x4V04\n")}, false},
        {"states silent", {normal(), silent()}, false},
        {"states short", {normal(), raw("F4\n")}, false},
        {"extended silent", {normal(), normal(), silent()}, false},
        {"extended without full UID", {normal(), normal(), raw("TAVRIN0AB304V04012\r\n")}, false},
        {"reply fills the whole bound", {normal(), normal(), raw(std::string(100, 'A'))}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::VirtualHub hub(hubConfig(4, "V04", 0));
        for (const auto& f : c.faults) hub.pushFault(f);
        EXPECT_EQ(hublink::QueryHubs2(hub.path()).size(), c.listed ? 1u : 0u);
    }
}

TEST(HubSearch, KeepsCandidateOrderAndSkipsPortsWithoutHub) {
    sim::VirtualHub first(hubConfig(4, "V04", 0));
    sim::VirtualHub mute(hubConfig(4, "V04", 0));
    mute.setPersistentFault(silent());
    auto second = hubConfig(8, "V03", 0);
    sim::VirtualHub last(second);
    const std::vector<std::string> candidates{last.path(), mute.path(), first.path(),
                                              "/nonexistent/ttyUSB9"};

    auto console = hublink::searchHubs(candidates);
    ASSERT_EQ(console.size(), 2u);
    EXPECT_EQ(console[0].at("Port_Name"), last.path());
    EXPECT_EQ(console[1].at("Port_Name"), first.path());

    auto window = hublink::searchHubsWindow(candidates);
    ASSERT_EQ(window.size(), 2u);
    EXPECT_EQ(window[0].at("ControlPort"), last.path());
    EXPECT_EQ(window[1].at("ControlPort"), first.path());
}

TEST(HubInfoText, LineAndFormattedForms) {
    const HubInfo withUid{{"Port_Name", "/dev/ttyUSB0"}, {"PID", "0AB3"},
                          {"nPorts", "04"},              {"FW_Ver", "V04"},
                          {"UID", "0123456789AB"},       {"Description", "Bench"},
                          {"Port_States", "F4,FF,FF,FF"}};
    HubInfo withoutUid = withUid;
    withoutUid["UID"] = "";
    HubInfo badPorts = withUid;
    badPorts["nPorts"] = "x4";
    HubInfo threeGroups = withUid;
    threeGroups["Port_States"] = "F4,FF,FF";
    HubInfo noStates = withUid;
    noStates.erase("Port_States");

    struct Case {
        const char* name;
        HubInfo record;
        std::string line;
        std::string formatted;
    };
    const std::vector<Case> cases = {
        {"with UID", withUid,
         "/dev/ttyUSB0, 4 ports, On=3, Off=1,2,4, FW=V04, UID=0123456789AB, Description=Bench",
         "FFFFFFF4,4,V04,0123456789AB,Bench"},
        {"without UID", withoutUid, "/dev/ttyUSB0, 4 ports, On=3, Off=1,2,4, FW=V04",
         "FFFFFFF404V04"},
        {"port count not a number", badPorts, "Invalid nPorts", "Invalid nPorts"},
        {"three state groups", threeGroups,
         "/dev/ttyUSB0, 4 ports, On=3, Off=1,2,4, FW=V04, UID=0123456789AB, Description=Bench",
         "Invalid Port States"},
        {"no state field", noStates,
         "/dev/ttyUSB0, 4 ports, On=None, Off=1,2,3,4, FW=V04, UID=0123456789AB, "
         "Description=Bench",
         "Invalid Port States"},
        {"empty record", {}, "Invalid nPorts", "Invalid nPorts"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(hublink::parseHubInfo(c.record), c.line);
        EXPECT_EQ(hublink::parseHubInfoFormatted(c.record), c.formatted);
    }
}
