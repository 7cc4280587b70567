// /Q, /G, /T and /U run as processes against virtual hubs (each output form,
// the refusals with their exit statuses, failed queries, V03 hubs), the
// search over a registry of hubs for /Q and {"CMD":"Q"}, and the result lines
// for records no answering hub produces.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "console/command_results.h"
#include "hub_harness.h"

namespace {

using hubtest::after;
using hubtest::kQueryV03;
using hubtest::kQueryV04;
using hubtest::Lines;
using hubtest::operator+;
using hubtest::raw;

const sim::HubConfig kPort3On{.states = 0x4};
const sim::HubConfig kV03{.ports = 8, .firmware = "V03", .states = 0x81, .record = true};
const sim::HubConfig kBench{.uid = "ABCDEF012345", .description = "Bench 2"};
const std::vector<sim::Fault> kGarbled = {raw("#?garbled\n")};

TEST(QueryOneHub, FormsAndRefusals) {
    hubtest::runHubCases({
        {{"/Q:@hub"},
         "@hub, 4 ports, On=3, Off=1,2,4, FW=V04, UID=0123456789AB, Description=Virtual Hub\n", 0,
         kQueryV04, kPort3On},
        {{"/Q:@hub", "-F"}, "FFFFFFF4,4,V04,0123456789AB,Virtual Hub\n", 0, kQueryV04, kPort3On},
        {{"/Q:@hub"}, "@hub, 8 ports, On=1,8, Off=2,3,4,5,6,7, FW=V03\n", 0, kQueryV03, kV03},
        {{"/Q:@hub"}, "Error Query Hub!\n", 0, {"?Q\r"}, {}, kGarbled},
        // The one-hub option is case-sensitive.
        {{"/Q:@hub", "-f"}, "Invalid Command!\n", 1},
        {{"/Q:cu1"}, "Invalid Serial Port!\n", 1},
        {{"/Q", "x"}, "Invalid Command!\n", 1},
        {{"/Q"}, "0 Managed USB Hub(s) Found.\n", 0},
        {{"/Q", "-F"}, "0000\n", 0},
    });
}

TEST(QueryAllHubs, ConsoleAndJsonInRegistryOrder) {
    hubtest::Registry registry;
    sim::VirtualHub first(kV03), quiet, last({.description = "Lab/Bench 1", .states = 0x4});
    quiet.setPersistentFault(hubtest::silent());
    // Numbered names sort by value: ttyUSB2, ttyUSB3, ttyUSB10.
    const std::string lastPath = registry.add("ttyUSB10", last.path());
    const std::string firstPath = registry.add("ttyUSB2", first.path());
    registry.add("ttyUSB3", quiet.path());

    const hubtest::Run plain = hubtest::hubctl({"/Q"}, registry);
    EXPECT_EQ(plain.out, firstPath + ", 8 ports, On=1,8, Off=2,3,4,5,6,7, FW=V03\n" + lastPath +
                             ", 4 ports, On=3, Off=1,2,4, FW=V04, UID=0123456789AB, "
                             "Description=Lab/Bench 1\n2 Managed USB Hub(s) Found.\n");
    EXPECT_EQ(hubtest::hubctl({"/q", "-f"}, registry).out,
              "0002," + firstPath + "," + lastPath + "\n");
    EXPECT_EQ(first.received(), kQueryV03 + kQueryV03);

    const hubtest::Run json = hubtest::hubctl({"/J", R"({"CMD":"q"})"}, registry);
    auto record = [](const std::string& path, const std::string& ports, const std::string& fw,
                     const std::string& uid, const std::string& desc, const std::string& states) {
        return nlohmann::json{{"Port_Name", path}, {"PID", "0AB3"},         {"nPorts", ports},
                              {"FW_Ver", fw},      {"UID", uid},            {"Description", desc},
                              {"Port_States", states}};
    };
    EXPECT_EQ(nlohmann::json::parse(json.out, nullptr, false),
              (nlohmann::json{
                  {"RES", "OK"},
                  {"HUBS", "2"},
                  {"INFO",
                   {record(firstPath, "08", "V03", "", "", "81,FF,FF,FF"),
                    record(lastPath, "04", "V04", "0123456789AB", "Lab/Bench 1", "F4,FF,FF,FF")}}}))
        << json.out;
    EXPECT_TRUE(json.out.starts_with("{\n  \"RES\": \"OK\",\n")) << json.out;  // pretty
    for (std::size_t at = json.out.find('/'); at != std::string::npos; at = json.out.find('/', at + 1))
        EXPECT_EQ(json.out[at - 1], '\\') << json.out;
    EXPECT_EQ(json.status, 0);

    const hubtest::Run one = hubtest::hubctl({"/J", R"({"CMD":"QH","COM":")" + last.path() + "\"}"}, registry);
    EXPECT_TRUE(one.out.starts_with("{\n  \"RES\": \"OK\",\n")) << one.out;
    EXPECT_EQ(nlohmann::json::parse(one.out, nullptr, false)["INFO"],
              record(last.path(), "04", "V04", "0123456789AB", "Lab/Bench 1", "F4,FF,FF,FF"));
}

// A port path that is not UTF-8 cannot be written as JSON.
TEST(QueryAllHubs, UnserializableJsonRecordPrintsPlainLine) {
    sim::VirtualHub hub;
    hubtest::Registry registry("reg\xff");
    registry.add("ttyUSB0", hub.path());
    const hubtest::Run run = hubtest::hubctl({"/J", R"({"CMD":"Q"})"}, registry);
    EXPECT_EQ(run.out, "Error serializing JSON.\n");
    EXPECT_EQ(run.status, 0);
}

TEST(GetPortStates, FormsRefusalsAndFailedQueries) {
    hubtest::runHubCases({
        {{"/G:@hub"}, "On=3 Off=1,2,4\n", 0, kQueryV04, kPort3On},
        {{"/G:@hub", "-b"}, "0100\n", 0, kQueryV04, kPort3On},
        {{"/g:@hub", "-h"}, "85FFFFFF\n", 0, kQueryV04, {.ports = 8, .states = 0x85}},
        // Wrong options end with status 0 and send nothing.
        {{"/G:@hub", "-x"}, "Invalid Command!\n", 0},
        {{"/G:@hub", "-B", "extra"}, "Invalid Command!\n", 0},
        // Only the hex form reports a failed query with status 0.
        {{"/G:@hub"}, "Error Get Port States!\n", 1, {"?Q\r"}, {}, kGarbled},
        {{"/G:@hub", "-B"}, "Error Get Port States!\n", 1, {"?Q\r"}, {}, kGarbled},
        {{"/G:@hub", "-H"}, "Error Get Port States!\n", 0, {"?Q\r"}, {}, kGarbled},
        // The port comes first, before the options are looked at.
        {{"/G:UIDFFFFFFFFFFFF", "-x"}, "Invalid Serial Port!\n", 1},
        {{"/G:cu1"}, "Invalid Serial Port!\n", 1},
    });
}

TEST(ReadDescriptionAndUid, Commands) {
    hubtest::runHubCases({
        {{"/T:@hub"}, "Bench 2\n", 0, kQueryV04, kBench},
        {{"/U:@hub"}, "ABCDEF012345\n", 0, kQueryV04, kBench},
        // Hubs before V04 have neither: empty lines.
        {{"/T:@hub"}, "\n", 0, kQueryV03, kV03},
        {{"/U:@hub"}, "\n", 0, kQueryV03, kV03},
        {{"/T:@hub"}, "Error Reading Description!\n", 0, {"?Q\r"}, {}, kGarbled},
        {{"/U:@hub"}, "Error Reading UID!\n", 0, {"?Q\r", "E?Q2\r"}, {},
         after(1, raw("TAVRIN\n"))},
        {{"/T:@hub", "x"}, "Invalid Command!\n", 1},
        {{"/U:@hub", "", "y"}, "Invalid Command!\n", 1},
        {{"/T:cu1"}, "Invalid Serial Port!\n", 1},
        {{"/U:cu1"}, "Invalid Serial Port!\n", 1},
    });
}

// Records the hub query never hands out, judged directly.
TEST(ReadResults, RecordsWithoutTheNeededFields) {
    using console::StateForm;
    const hublink::HubInfo badCount{{"nPorts", "x4"}, {"Port_States", "F4,FF,FF,FF"}};
    const hublink::HubInfo noStates{{"nPorts", "04"}};
    const struct {
        StateForm form;
        hublink::HubInfo record;
        std::string line;
        int status;
    } rows[] = {
        {StateForm::Plain, {}, "Error: Invalid nPorts value!", 1},
        {StateForm::Binary, badCount, "Error: Invalid nPorts value!", 1},
        {StateForm::Hex, badCount, "F4FFFFFF", 0},
        {StateForm::Hex, noStates, "", 0},
        {StateForm::Plain, noStates, "On=None Off=1,2,3,4", 0},
    };
    for (const auto& row : rows) {
        const console::CommandResult got = console::portStatesResult(row.form, {"OK", row.record});
        EXPECT_EQ(got.line + "|" + std::to_string(got.status),
                  row.line + "|" + std::to_string(row.status));
    }
    const hublink::QueryResult empty{"OK", {}};
    EXPECT_EQ(console::descriptionResult(empty).line, "Description not found in response!");
    EXPECT_EQ(console::descriptionResult(empty).status, 0);
    EXPECT_EQ(console::uidResult(empty).line, "UID not found in response!");
    EXPECT_EQ(console::uidResult(empty).status, 0);

    const std::pair<hublink::HubInfo, std::string> counts[] = {
        {{{"nPorts", ""}}, "Invalid number of ports!"},
        {{{"nPorts", "x4"}}, "Invalid number of ports!"},
        {{}, "Invalid Port Number!"},  // a missing count reads as 0
    };
    for (const auto& [record, status] : counts)
        EXPECT_EQ(console::stateToSend("1:1", record).status, status);
}

}  // namespace
