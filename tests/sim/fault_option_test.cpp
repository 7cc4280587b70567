// hubsim's --fault values read into the library's faults, and the values
// that must be refused with a reason.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "fault_option.h"
#include "hubsim_options.h"

namespace {

using sim::AnyFault;
using sim::Fault;
using sim::LoaderFault;
using HubKind = Fault::Kind;
using LoaderKind = LoaderFault::Kind;

Fault hub(HubKind kind, std::string command = {}, int millis = 0, int count = 0) {
    return {.kind = kind, .millis = millis, .count = count, .command = std::move(command)};
}

TEST(FaultSpec, EachKindReadsIntoItsFault) {
    Fault reply = hub(HubKind::Raw, "GP"), anyReply = hub(HubKind::Raw), emptyReply = reply;
    reply.raw = "E01\n";
    anyReply.raw = "E01:x y\n";
    emptyReply.raw = "\n";
    Fault vanishAfter = hub(HubKind::Vanish), vanishAfterSp = hub(HubKind::Vanish, "SP");
    vanishAfter.after = 5;
    const std::pair<std::string, AnyFault> rows[] = {
        {"silent:GP", hub(HubKind::Silent, "GP")},
        {"late:SP:1500", hub(HubKind::Delay, "SP", 1500)},
        {"late:60000", hub(HubKind::Delay, "", 60000)},
        {"split", hub(HubKind::Split, "", sim::kSplitGapMillis, 1)},
        {"split:?Q:4", hub(HubKind::Split, "?Q", sim::kSplitGapMillis, 4)},
        {"reply:GP:E01", reply},
        {"reply:E01:x y", anyReply},  // not a command: the text, colons and all
        {"reply:GP:", emptyReply},
        {"vanish-after:5", vanishAfter},
        {"vanish-after:SP:0", vanishAfterSp},
        {"loader-ignore-connects:2", LoaderFault{LoaderKind::AnswerAfterConnects, 0, 2}},
        {"loader-checksum:4294967295", LoaderFault{LoaderKind::WrongChecksum, 0xFFFFFFFF}},
        {"loader-split:1", LoaderFault{LoaderKind::SplitReply, 1, sim::kLoaderSplitBytes,
                                       sim::kLoaderSplitMillis}},
        {"loader-slow-erase:1500", LoaderFault{LoaderKind::SlowErase, 0, 0, 1500}},
        {"loader-image-checksum", LoaderFault{LoaderKind::WrongImageChecksum}},
    };
    for (const auto& [option, expected] : rows) {
        const sim::ParsedFault parsed = sim::parseFaultOption(option);
        ASSERT_TRUE(parsed.fault.has_value()) << option << ": " << parsed.error;
        EXPECT_TRUE(*parsed.fault == expected) << option;
    }
}

TEST(FaultSpec, RefusedWithTheReason) {
    const std::pair<std::string, std::string> rows[] = {
        {"", "no fault is called ''"},
        {"Silent", "no fault is called 'Silent'"},
        {"silent:gp", "'gp' is no hub command (?Q E?Q2 GP SP FP WP CP ESDD RD RH EUFW)"},
        {"silent:5", "silent takes no value"},
        {"garble:GP:5", "garble takes no value"},
        {"late", "MS is missing; the form is late[:COMMAND]:MS"},
        {"late:SP:60001", "MS wants a number from 0 to 60000"},
        {"late:-1", "'-1' is neither a hub command nor a number"},
        {"late:GQ:100", "'GQ' is no hub command"},
        {"late:SP:1500:9", "MS wants a number"},
        {"truncate:GP:256", "N wants a number from 0 to 255"},
        {"vanish-after", "N is missing"},
        {"reply", "TEXT is missing"},
        {"reply:GP", "TEXT is missing"},
        {"reply:GP:a\rb", "TEXT wants one line"},
        {"reply:" + std::string(256, 'x'), "TEXT wants one line of at most 255 bytes"},
        {"loader-drop", "K is missing; the form is loader-drop:K"},
        {"loader-drop:GP:3", "a loader fault names no command"},
        {"loader-drop:4294967296", "K wants a number from 0 to 4294967295"},
        {"loader-silent:1", "loader-silent takes no value"},
        {"loader-ignore-connects:0", "N wants a number from 1 to 1000"},
    };
    for (const auto& [option, reason] : rows) {
        const sim::ParsedFault parsed = sim::parseFaultOption(option);
        EXPECT_FALSE(parsed.fault.has_value()) << option;
        EXPECT_TRUE(parsed.error.starts_with("--fault " + option + ": ")) << parsed.error;
        EXPECT_NE(parsed.error.find(reason), std::string::npos) << parsed.error;
    }
}

// Faults go to every hub in the order given, hub and loader ones apart.
TEST(FaultSpec, OptionsCollectThemInOrder) {
    const sim::ParsedSimOptions parsed = sim::parseSimOptions(
        {"--fault", "silent:GP", "--fault", "loader-drop:3", "--hubs", "2", "--fault", "garble"});
    ASSERT_TRUE(parsed.options.has_value()) << parsed.error;
    const auto configs = sim::hubConfigs(*parsed.options);
    ASSERT_EQ(configs.size(), 2u);
    for (const sim::HubConfig& config : configs) {
        const std::vector<Fault> expected = {hub(HubKind::Silent, "GP"), hub(HubKind::Garble)};
        EXPECT_EQ(config.faults, expected);
        EXPECT_EQ(config.loaderFaults, (std::vector<LoaderFault>{{LoaderKind::DropReply, 3}}));
        EXPECT_FALSE(config.record);  // a long-serving program keeps no record
    }
    const sim::ParsedSimOptions bad = sim::parseSimOptions({"--fault", "late:GP:x"});
    EXPECT_FALSE(bad.options.has_value());
    EXPECT_TRUE(bad.error.starts_with("--fault late:GP:x: ")) << bad.error;
}

// Every kind is explained where users look: a line of its own in --help, a
// bold entry in the manual page.
TEST(FaultSpec, EveryKindIsDocumented) {
    std::ifstream page(HUBSIM_MANPAGE);
    ASSERT_TRUE(page.good()) << HUBSIM_MANPAGE;
    std::stringstream manual;
    manual << page.rdbuf();
    const std::string usage = sim::simUsage();
    for (std::string_view kind : sim::faultKindNames()) {
        const std::string name(kind);
        std::string escaped;  // the manual page writes "-" as "\-"
        for (char c : name) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
        const bool listed = usage.find("\n  " + name + "[") != std::string::npos ||
                            usage.find("\n  " + name + ":") != std::string::npos ||
                            usage.find("\n  " + name + " ") != std::string::npos;
        EXPECT_TRUE(listed) << name;
        EXPECT_NE(manual.str().find("\\fB" + escaped + "\\fR"), std::string::npos) << name;
    }
}

}  // namespace
