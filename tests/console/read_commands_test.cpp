// /G, /T and /U run as processes against virtual hubs (each output form, the
// argument refusals with their odd exit statuses, failed queries, V03 hubs
// and the UID port form), and their result lines for records no answering
// hub produces.
#include <gtest/gtest.h>

#include "command_harness.h"
#include "console/command_results.h"

namespace {

using cmdtest::HubCase;
using cmdtest::kQueryV03;
using cmdtest::kQueryV04;
using cmdtest::operator+;
using cmdtest::raw;
using console::CommandResult;
using console::StateForm;

const sim::HubConfig kPort3On{.states = 0x4};
const sim::HubConfig kEightPorts{.ports = 8, .states = 0x85};
const sim::HubConfig kV03{.firmware = "V03", .states = 0x4};

TEST(GetPortStates, OutputForms) {
    cmdtest::runHubCases({
        {"/G", {}, "On=3 Off=1,2,4\n", 0, kQueryV04, kPort3On},
        {"/G", {"-B"}, "0100\n", 0, kQueryV04, kPort3On},
        {"/G", {"-b"}, "0100\n", 0, kQueryV04, kPort3On},
        {"/g", {"-h"}, "F4FFFFFF\n", 0, kQueryV04, kPort3On},
        {"/G", {}, "On=None Off=1,2,3,4\n", 0, kQueryV04, {}},
        {"/G", {}, "On=1,2,3,4 Off=None\n", 0, kQueryV04, {.states = 0xF}},
        {"/G", {}, "On=1,3,8 Off=2,4,5,6,7\n", 0, kQueryV04, kEightPorts},
        {"/G", {"-B"}, "10000101\n", 0, kQueryV04, kEightPorts},
        {"/G", {"-H"}, "85FFFFFF\n", 0, kQueryV04, kEightPorts},
        {"/G", {}, "On=3 Off=1,2,4\n", 0, kQueryV03, kV03},
    });
}

TEST(GetPortStates, RefusalsAndFailedQueries) {
    const std::vector<sim::Fault> garbled = {raw("#?garbled\n")};
    cmdtest::runHubCases({
        // Wrong options end with status 0 and send nothing.
        {"/G", {"-x"}, "Invalid Command!\n", 0, {}},
        {"/G", {"-B", "extra"}, "Invalid Command!\n", 0, {}},
        {"/G", {"", "-B"}, "Invalid Command!\n", 0, {}},
        // Only the hex form reports a failed query with status 0.
        {"/G", {}, "Error Get Port States!\n", 1, {"?Q\r"}, {}, garbled},
        {"/G", {"-B"}, "Error Get Port States!\n", 1, {"?Q\r"}, {}, garbled},
        {"/G", {"-H"}, "Error Get Port States!\n", 0, {"?Q\r"}, {}, garbled},
        {"/G", {}, "Error Get Port States!\n", 1, kQueryV04, {}, cmdtest::after(2, raw("ZZ\n"))},
        // The port comes first, before the options are looked at.
        {"/G:UIDFFFFFFFFFFFF", {"-x"}, "Invalid Serial Port!\n", 1, {}},
    });
}

TEST(GetPortStates, UidNamesThePort) {
    cmdtest::Registry registry;
    sim::VirtualHub other({.uid = "0123456789AC"});
    sim::VirtualHub wanted({.states = 0x4});
    registry.add("ttyUSB0", other.path());
    registry.add("ttyUSB1", wanted.path());
    for (const std::string word : {"/G:UID0123456789AB", "/g:uid0123456789ab"}) {
        SCOPED_TRACE(word);
        other.clearReceived();
        wanted.clearReceived();
        const cmdtest::Run run = cmdtest::hubctl({word, "-H"}, registry);
        EXPECT_EQ(run.out, "F4FFFFFF\n");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(other.received(), cmdtest::Lines{"E?Q2\r"});
        EXPECT_EQ(wanted.received(), cmdtest::Lines{"E?Q2\r"} + kQueryV04);
    }
    // The UID is compared exactly: this hub reports lower-case letters.
    sim::VirtualHub lower({.uid = "0123456789ab"});
    cmdtest::Registry lowerRegistry;
    lowerRegistry.add("ttyUSB0", lower.path());
    const cmdtest::Run run = cmdtest::hubctl({"/G:UID0123456789ab"}, lowerRegistry);
    EXPECT_EQ(run.out, "Invalid Serial Port!\n");
    EXPECT_EQ(run.status, 1);
}

TEST(ReadDescriptionAndUid, Commands) {
    const sim::HubConfig bench{.uid = "ABCDEF012345", .description = "Bench 2"};
    // The console refuses reply bytes of 0x80 and above.
    const sim::HubConfig accented{.description = "Caf\xC3\xA9"};
    const std::vector<sim::Fault> garbled = {raw("#?garbled\n")};
    cmdtest::runHubCases({
        {"/T", {}, "Bench 2\n", 0, kQueryV04, bench},
        {"/T", {}, "Error Reading Description!\n", 0, {"?Q\r", "E?Q2\r"}, accented},
        {"/U", {}, "ABCDEF012345\n", 0, kQueryV04, bench},
        {"/T", {}, "\n", 0, kQueryV04, {.description = ""}},
        // Hubs before V04 have neither: empty lines.
        {"/T", {}, "\n", 0, kQueryV03, kV03},
        {"/U", {}, "\n", 0, kQueryV03, kV03},
        {"/T", {}, "Error Reading Description!\n", 0, {"?Q\r"}, {}, garbled},
        {"/U", {}, "Error Reading UID!\n", 0, {"?Q\r", "E?Q2\r"}, {},
         cmdtest::after(1, raw("TAVRIN\n"))},
        {"/T", {"x"}, "Invalid Command!\n", 1, {}},
        {"/U", {"", "y"}, "Invalid Command!\n", 1, {}},
        {"/T:UIDFFFFFFFFFFFF", {}, "Invalid Serial Port!\n", 1, {}},
        {"/U:UIDFFFFFFFFFFFF", {}, "Invalid Serial Port!\n", 1, {}},
    });
}

// Records the hub query never hands out, judged directly.
TEST(ReadResults, RecordsWithoutTheNeededFields) {
    const hublink::HubInfo noCount{{"Port_States", "F4,FF,FF,FF"}};
    const hublink::HubInfo badCount{{"nPorts", "x4"}, {"Port_States", "F4,FF,FF,FF"}};
    const hublink::HubInfo noStates{{"nPorts", "04"}};
    struct Row {
        StateForm form;
        hublink::QueryResult query;
        CommandResult want;
    };
    const std::vector<Row> rows = {
        {StateForm::Plain, {"OK", {}}, {"Error: Invalid nPorts value!", 1}},
        {StateForm::Binary, {"OK", noCount}, {"Error: Invalid nPorts value!", 1}},
        {StateForm::Plain, {"OK", badCount}, {"Error: Invalid nPorts value!", 1}},
        {StateForm::Hex, {"OK", badCount}, {"F4FFFFFF", 0}},
        {StateForm::Hex, {"OK", noStates}, {"", 0}},
        {StateForm::Plain, {"OK", noStates}, {"On=None Off=1,2,3,4", 0}},
        {StateForm::Binary, {"OK", noStates}, {"0000", 0}},
    };
    for (const Row& row : rows) {
        const CommandResult got = console::portStatesResult(row.form, row.query);
        EXPECT_EQ(got.line, row.want.line);
        EXPECT_EQ(got.status, row.want.status);
    }
    const hublink::QueryResult empty{"OK", {}};
    EXPECT_EQ(console::descriptionResult(empty).line, "Description not found in response!");
    EXPECT_EQ(console::descriptionResult(empty).status, 0);
    EXPECT_EQ(console::uidResult(empty).line, "UID not found in response!");
    EXPECT_EQ(console::uidResult(empty).status, 0);
}

TEST(ReadResults, StateToSendFromOddRecords) {
    struct Row {
        hublink::HubInfo record;
        std::string operand;
        std::string status;
        std::string states8;
    };
    const std::vector<Row> rows = {
        {{{"nPorts", ""}}, "1:1", "Invalid number of ports!", ""},
        {{{"nPorts", "x4"}}, "1:1", "Invalid number of ports!", ""},
        // A missing count reads as 0: every port is out of range.
        {{}, "1:1", "Invalid Port Number!", ""},
        {{{"nPorts", "4"}}, "1:1", "OK", "F1FFFFFF"},
        {{{"nPorts", "4"}, {"Port_States", "F4,FF,FF,FF"}}, "", "State Format Error!", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.operand);
        const portstate::StateUpdate got = console::stateToSend(row.operand, row.record);
        EXPECT_EQ(got.status, row.status);
        EXPECT_EQ(got.states8, row.states8);
    }
}

}  // namespace
