// Many hubctl processes on one hub at once: a command that reads the hub and
// writes what it computed from it holds the hub throughout, so no update is
// lost, and every command still gets its answer.
#include <gtest/gtest.h>

#include <future>

#include "hub_harness.h"

namespace hubtest {
namespace {

std::vector<Run> runTogether(const std::vector<Lines>& commands, const Registry& registry) {
    std::vector<std::future<Run>> running;
    for (const Lines& args : commands)
        running.push_back(std::async(std::launch::async, [&registry, args] { return hubctl(args, registry); }));
    std::vector<Run> done;
    for (auto& r : running) done.push_back(r.get());
    return done;
}

TEST(ParallelCommands, SixteenTogglesLoseNoUpdate) {
    Registry registry;
    sim::VirtualHub hub({.ports = 4, .states = 0b0100});
    // Replies a little slow, as on a real line: time for another process to
    // slip in between a command's query and its set.
    hub.setPersistentFault({sim::Fault::Kind::Delay, 3, 0, {}});
    const Lines toggle{"/S:" + hub.path(), "T:1"};
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        const auto runs = runTogether(std::vector<Lines>(16, toggle), registry);
        for (const auto& r : runs) ASSERT_EQ(r.status, 0) << r.out;
        // An even number of toggles leaves port 1 as it was.
        ASSERT_EQ(hub.states() & 0xFU, 0b0100U);
    }
}

TEST(ParallelCommands, MixedCommandsAllSucceed) {
    Registry registry;
    sim::VirtualHub hub({.ports = 8, .states = 0});
    const std::string port = hub.path();
    std::vector<Lines> commands;
    for (int p = 1; p <= 8; ++p) commands.push_back({"/S:" + port, "T:" + std::to_string(p)});
    commands.push_back({"/F:" + port, "1:8"});
    commands.push_back({"/W:" + port});
    commands.push_back({"/Q:" + port});
    commands.push_back({"/G:" + port});
    commands.push_back({"/G:" + port, "-H"});
    commands.push_back({"/U:" + port});
    commands.push_back({"/T:" + port});
    commands.push_back({"/J", R"({"CMD":"GPST","COM":")" + port + R"("})"});
    commands.push_back({"/J", R"({"CMD":"QH","COM":")" + port + R"("})"});
    commands.push_back({"/J", R"({"CMD":"RUID","COM":")" + port + R"("})"});
    ASSERT_EQ(commands.size(), 18u);
    const auto runs = runTogether(commands, registry);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i].status, 0) << commands[i][0] << ": " << runs[i].out;
        EXPECT_EQ(runs[i].out.find("Error"), std::string::npos) << runs[i].out;
    }
    // Ports 1-7 toggled once from off; port 8 was switched on by /F and
    // toggled once, in some order: on or off, but each of 1-7 is on.
    EXPECT_EQ(hub.states() & 0x7FU, 0x7FU);
}

}  // namespace
}  // namespace hubtest
