// /Q run as a process: one named hub in both output forms, and the search
// over a registry of virtual hubs (candidate order, a silent port left out,
// the count line and the compact list).
#include <gtest/gtest.h>

#include "command_harness.h"

namespace {

using cmdtest::HubCase;
using cmdtest::kQueryV03;
using cmdtest::kQueryV04;
using cmdtest::Lines;
using cmdtest::operator+;

const sim::HubConfig kPort3On{.states = 0x4};
const sim::HubConfig kV03{.ports = 8, .firmware = "V03", .states = 0x81};

TEST(QueryOneHub, FormsAndRefusals) {
    cmdtest::runHubCases({
        {"/Q", {"-F"}, "FFFFFFF4,4,V04,0123456789AB,Virtual Hub\n", 0, kQueryV04, kPort3On},
        {"/q", {"-F"}, "FFFFFF8108V03\n", 0, kQueryV03, kV03},
        {"/Q", {}, "Error Query Hub!\n", 0, {"?Q\r"}, {}, {cmdtest::raw("#?garbled\n")}},
        {"/Q", {"-F"}, "Error Query Hub!\n", 0, kQueryV04, {}, cmdtest::after(2, cmdtest::raw("\n"))},
        // The one-hub option is case-sensitive; nothing is sent for a refusal.
        {"/Q", {"-f"}, "Invalid Command!\n", 1, {}},
        {"/Q", {"x"}, "Invalid Command!\n", 1, {}},
        {"/Q", {"-F", "x"}, "Invalid Command!\n", 1, {}},
        // A first argument of six characters has no port operand.
        {"/Q:cu1", {}, "Invalid Serial Port!\n", 1, {}},
        {"/Q:COM0", {}, "Invalid Serial Port!\n", 1, {}},
        {"/Q:UIDFFFFFFFFFFFF", {}, "Invalid Serial Port!\n", 1, {}},
    });
}

TEST(QueryOneHub, InfoLineNamesThePort) {
    cmdtest::Registry registry;
    sim::VirtualHub v04(kPort3On);
    sim::VirtualHub v03(kV03);
    const cmdtest::Run run04 = cmdtest::hubctl({"/Q:" + v04.path()}, registry);
    EXPECT_EQ(run04.out, v04.path() +
                             ", 4 ports, On=3, Off=1,2,4, FW=V04, UID=0123456789AB, "
                             "Description=Virtual Hub\n");
    EXPECT_EQ(run04.status, 0);
    const cmdtest::Run run03 = cmdtest::hubctl({"/Q:" + v03.path()}, registry);
    EXPECT_EQ(run03.out, v03.path() + ", 8 ports, On=1,8, Off=2,3,4,5,6,7, FW=V03\n");
    EXPECT_EQ(run03.status, 0);
    EXPECT_EQ(v03.received(), kQueryV03);
}

struct Expect {
    Lines args;
    std::string out;
    int status;
};

void expectRuns(const cmdtest::Registry& registry, const std::vector<Expect>& runs) {
    for (const Expect& e : runs) {
        SCOPED_TRACE(e.args.size() > 1 ? e.args[0] + " " + e.args[1] : e.args[0]);
        const cmdtest::Run run = cmdtest::hubctl(e.args, registry);
        EXPECT_EQ(run.out, e.out);
        EXPECT_EQ(run.status, e.status);
    }
}

TEST(QueryAllHubs, NoHubAttached) {
    cmdtest::Registry registry;
    expectRuns(registry, {
                             {{"/Q"}, "0 Managed USB Hub(s) Found.\n", 0},
                             {{"/Q", "-F"}, "0000\n", 0},
                             {{"/q", "-f"}, "0000\n", 0},
                             // Neither all-hubs form: the one-hub rules refuse it.
                             {{"/Q", "x"}, "Invalid Command!\n", 1},
                             {{"/Q", "-F", "x"}, "Invalid Command!\n", 1},
                             {{"/Q", "", "-F"}, "Invalid Command!\n", 1},
                         });
}

TEST(QueryAllHubs, CandidatesInRegistryOrder) {
    cmdtest::Registry registry;
    sim::VirtualHub first(kV03);
    sim::VirtualHub quiet;
    quiet.setPersistentFault(cmdtest::silent());
    sim::VirtualHub last(kPort3On);
    sim::VirtualHub modem;
    // Numbered names sort by value: ttyUSB2, ttyUSB3, ttyUSB10.
    const std::string lastPath = registry.add("ttyUSB10", last.path());
    const std::string firstPath = registry.add("ttyUSB2", first.path());
    registry.add("ttyUSB3", quiet.path());
    registry.add("ttyACM0", modem.path(), "cdc_acm");  // not a USB serial adapter

    expectRuns(registry,
               {
                   {{"/Q"},
                    firstPath + ", 8 ports, On=1,8, Off=2,3,4,5,6,7, FW=V03\n" + lastPath +
                        ", 4 ports, On=3, Off=1,2,4, FW=V04, UID=0123456789AB, "
                        "Description=Virtual Hub\n2 Managed USB Hub(s) Found.\n",
                    0},
                   {{"/Q", "-f"}, "0002," + firstPath + "," + lastPath + "\n", 0},
               });
    EXPECT_EQ(quiet.received(), (Lines{"?Q\r", "?Q\r"}));
    EXPECT_EQ(modem.received(), Lines{});
    EXPECT_EQ(first.received(), kQueryV03 + kQueryV03);
}

}  // namespace
