// hubsim: its options, and the program run as users run it.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <set>

#include "hubsim_options.h"
#include "pty_client.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

TEST(HubsimOptions, RefusesWhatNoHubCouldBe) {
    const std::vector<std::vector<std::string>> bad = {
        {"--hubs", "0"},        {"--hubs", "65"},          {"--hubs", "2x"},
        {"--ports", "33"},      {"--ports"},               {"--firmware", "V4"},
        {"--firmware", "404"},  {"--uid", "0123456789A"},  {"--uid", "0123456789 B"},
        {"--password", ""},     {"--password", "ninechars"}, {"--states", "F4FFFF"},
        {"--states", "F4FFFFFG"}, {"--description", std::string(101, 'd')}, {"--tree", ""},
        {"--bogus"},            {"hubs"},
    };
    for (const auto& args : bad) {
        SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
        sim::ParsedSimOptions parsed = sim::parseSimOptions(args);
        EXPECT_FALSE(parsed.options.has_value());
        EXPECT_FALSE(parsed.error.empty());
    }
}

TEST(HubsimOptions, TakesEveryValueAsTheHubWillUseIt) {
    sim::ParsedSimOptions parsed = sim::parseSimOptions(
        {"--hubs", "3", "--ports", "7", "--firmware", "V03", "--uid", "ABCDEFGHIJKL",
         "--description", "Lab", "--password", "pw", "--states", "f4000001", "--wire", "--tree",
         "/tmp/x"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    const sim::SimOptions& o = *parsed.options;
    EXPECT_EQ(o.hubs, 3);
    EXPECT_EQ(o.hub.ports, 7);
    EXPECT_EQ(o.hub.firmware, "V03");
    EXPECT_EQ(o.hub.description, "Lab");
    EXPECT_EQ(o.hub.password, "pw      ");
    EXPECT_EQ(o.hub.states, 0x010000F4u);
    EXPECT_EQ(o.hub.powerOnStates, 0x010000F4u);
    EXPECT_TRUE(o.hub.wireTiming);
    EXPECT_EQ(o.treeDir, "/tmp/x");
    EXPECT_FALSE(o.help);
    EXPECT_TRUE(sim::parseSimOptions({"-h"}).options->help);
}

TEST(HubsimOptions, SeveralHubsGetDistinctUids) {
    struct Case {
        std::string uid;
        int index;
        int hubs;
        std::string expected;
    };
    const Case cases[] = {
        {"0123456789AB", 0, 1, "0123456789AB"},
        {"0123456789AB", 0, 2, "0123456789A0"},
        {"0123456789AB", 9, 10, "0123456789A9"},
        {"0123456789AB", 7, 11, "012345678907"},
        {"0123456789AB", 63, 64, "012345678963"},
    };
    for (const Case& c : cases) EXPECT_EQ(sim::uidForHub(c.uid, c.index, c.hubs), c.expected);

    sim::SimOptions options;
    options.hubs = 64;
    std::set<std::string> uids;
    for (const sim::HubConfig& config : sim::hubConfigs(options)) uids.insert(config.uid);
    EXPECT_EQ(uids.size(), 64u);
}

// The built program sits beside this test's build folder.
fs::path hubsimProgram() { return HUBSIM_PATH; }

struct Child {
    pid_t pid = -1;
    int out = -1;
};

Child spawnHubsim(std::vector<std::string> args) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    args.insert(args.begin(), hubsimProgram().string());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    Child child;
    bool spawned = posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (!spawned) {
        ::close(pipeFds[0]);
        return {};
    }
    child.out = pipeFds[0];
    return child;
}

std::string readLine(int fd) {
    std::string line;
    auto start = simtest::Clock::now();
    char c = 0;
    while (c != '\n' && simtest::millisSince(start) < 5000) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0 || ::read(fd, &c, 1) != 1) break;
        if (c != '\n') line += c;
    }
    return line;
}

int waitExit(pid_t pid) {
    int status = 0;
    for (int tries = 0; tries < 500; ++tries) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ::usleep(10000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -2;
}

TEST(HubsimProgram, ServesHubsInATreeUntilTerminated) {
    fs::path tree = fs::temp_directory_path() / ("hubsim-test-" + std::to_string(::getpid()));
    Child child = spawnHubsim({"--hubs", "2", "--tree", tree.string()});
    ASSERT_GT(child.pid, 0);
    std::string first = readLine(child.out);
    std::string second = readLine(child.out);
    EXPECT_EQ(first, (tree / "dev/ttyUSB0").string());
    EXPECT_EQ(second, (tree / "dev/ttyUSB1").string());
    ASSERT_TRUE(fs::exists(second));
    {
        simtest::PtyClient client(second);
        EXPECT_EQ(client.exchange("E?Q2"), "TAVRINM03104V040123456789A1Virtual Hub\r\n");
    }
    ::kill(child.pid, SIGTERM);
    EXPECT_EQ(waitExit(child.pid), 0);
    ::close(child.out);
    EXPECT_FALSE(fs::exists(tree));
}

TEST(HubsimProgram, InvalidOptionExitsWithTwo) {
    Child child = spawnHubsim({"--ports", "99"});
    ASSERT_GT(child.pid, 0);
    EXPECT_EQ(waitExit(child.pid), 2);
    ::close(child.out);
}

}  // namespace
