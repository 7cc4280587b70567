// hubsim: its options, and the program run as users run it.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "hubsim_options.h"
#include "pty_client.h"

namespace fs = std::filesystem;

namespace {

TEST(HubsimOptions, RefusesWhatNoHubCouldBe) {
    const std::vector<std::vector<std::string>> bad = {
        {"--hubs", "65"},       {"--ports", "2x"},       {"--ports"},
        {"--firmware", "404"},  {"--uid", "0123456789 B"}, {"--password", "ninechars"},
        {"--states", "F4FFFFFG"}, {"--description", std::string(101, 'd')}, {"--tree", ""},
        {"--bogus"},            {"hubs"},
    };
    for (const auto& args : bad) {
        const sim::ParsedSimOptions parsed = sim::parseSimOptions(args);
        EXPECT_FALSE(parsed.options.has_value()) << args[0];
        EXPECT_FALSE(parsed.error.empty()) << args[0];
    }
}

TEST(HubsimOptions, SeveralHubsGetDistinctUids) {
    EXPECT_EQ(sim::uidForHub("0123456789AB", 0, 1), "0123456789AB");
    EXPECT_EQ(sim::uidForHub("0123456789AB", 7, 11), "012345678907");
    sim::SimOptions options;
    options.hubs = 64;
    std::set<std::string> uids;
    for (const sim::HubConfig& config : sim::hubConfigs(options)) uids.insert(config.uid);
    EXPECT_EQ(uids.size(), 64u);
}

// Starts the built program; its standard output comes back on `out`.
pid_t startHubsim(std::vector<std::string> args, int& out) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
    args.insert(args.begin(), HUBSIM_PATH);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::dup2(::open("/dev/null", O_WRONLY), 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    out = fds[0];
    return pid;
}

std::string readLine(int fd) {  // waits at most 5 s for each byte
    std::string line;
    char c = 0;
    for (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, 5000) == 1 && ::read(fd, &c, 1) == 1 && c != '\n';)
        line += c;
    return line;
}

int exitStatus(pid_t pid) {  // the program is killed after 5 s
    int status = 0;
    for (int tries = 0; tries < 500; ++tries, ::usleep(10000))
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -2;
}

// Every hub option reaches the hubs, which serve in a tree until SIGTERM.
TEST(HubsimProgram, ServesHubsInATreeUntilTerminated) {
    const fs::path tree = fs::temp_directory_path() / ("hubsim-test-" + std::to_string(::getpid()));
    int out = -1;
    const pid_t pid = startHubsim({"--hubs", "2", "--ports", "32", "--firmware", "V05", "--uid",
                                   "ABCDEFGHIJKL", "--description", "Lab", "--password", "pw",
                                   "--states", "f4000001", "--wire", "--tree", tree.string()},
                                  out);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(readLine(out), (tree / "dev/ttyUSB0").string());
    const std::string second = readLine(out);
    EXPECT_EQ(second, (tree / "dev/ttyUSB1").string());
    {
        simtest::PtyClient client(second);
        EXPECT_EQ(client.exchange("E?Q2"), "TAVRIN0AB332V05ABCDEFGHIJK1Lab\r\n");
        EXPECT_EQ(client.exchange("GP"), "F4000001\n");
        EXPECT_EQ(client.exchange("RHpw      "), "G\n");  // power-on states: the same
    }
    ::kill(pid, SIGTERM);
    EXPECT_EQ(exitStatus(pid), 0);
    ::close(out);
    EXPECT_FALSE(fs::exists(tree));
}

TEST(HubsimProgram, InvalidOptionExitsWithTwo) {
    int out = -1;
    const pid_t pid = startHubsim({"--ports", "99"}, out);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(exitStatus(pid), 2);
    ::close(out);
}

}  // namespace
