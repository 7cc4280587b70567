// hubsim: its options, and the program run as users run it.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "hubsim_options.h"
#include "isp_packets.h"
#include "pty_client.h"

namespace fs = std::filesystem;

namespace {

TEST(HubsimOptions, RefusesWhatNoHubCouldBe) {
    const std::vector<std::vector<std::string>> bad = {
        {"--hubs", "65"},       {"--ports", "2x"},       {"--ports"},
        {"--firmware", "404"},  {"--uid", "0123456789 B"}, {"--password", "ninechars"},
        {"--states", "F4FFFFFG"}, {"--description", std::string(101, 'd')}, {"--tree", ""},
        {"--bogus"},            {"hubs"},
        {"--pid", "0ab3"},      {"--pid", "0AB"},        {"--pid", "0AB3F"},
        {"--pid", "GHIJ"},      {"--pid", " AB3"},       {"--erase-ms", "60001"},
        {"--erase-ms", "-1"},   {"--erase-ms", "1s"},    {"--erase-ms"},
    };
    for (const auto& args : bad) {
        const sim::ParsedSimOptions parsed = sim::parseSimOptions(args);
        EXPECT_FALSE(parsed.options.has_value()) << args[0];
        EXPECT_FALSE(parsed.error.empty()) << args[0];
    }
}

TEST(HubsimOptions, ProductIdAndEraseTimeReachTheHub) {
    struct Case {
        std::vector<std::string> args;
        std::string productId;
        int eraseMillis;
    };
    const Case cases[] = {
        {{}, "0AB3", 400},
        {{"--pid", "FFFF", "--erase-ms", "0"}, "FFFF", 0},
        {{"--erase-ms", "60000", "--pid", "1A2B"}, "1A2B", 60000},
    };
    for (const Case& c : cases) {
        const sim::ParsedSimOptions parsed = sim::parseSimOptions(c.args);
        ASSERT_TRUE(parsed.options.has_value()) << parsed.error;
        EXPECT_EQ(parsed.options->hub.productId, c.productId);
        EXPECT_EQ(parsed.options->hub.eraseTime.count(), c.eraseMillis);
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

// Starts the built program; its standard output comes back on `out`, its
// standard error on `err` when given.
pid_t startHubsim(std::vector<std::string> args, int& out, int* err = nullptr) {
    int fds[2], errFds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
    if (err && ::pipe2(errFds, O_CLOEXEC) != 0) return -1;
    args.insert(args.begin(), HUBSIM_PATH);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::dup2(err ? errFds[1] : ::open("/dev/null", O_WRONLY), 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    out = fds[0];
    if (err) {
        ::close(errFds[1]);
        *err = errFds[0];
    }
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

// A write through the loader of a hub with its own product ID is reported on
// standard error with its size and checksum.
TEST(HubsimProgram, ReportsAWrittenImage) {
    int out = -1, err = -1;
    const pid_t pid = startHubsim({"--pid", "1A2B", "--erase-ms", "0"}, out, &err);
    ASSERT_GT(pid, 0);
    const std::string path = readLine(out);
    {
        simtest::PtyClient client(path);
        EXPECT_EQ(client.exchange("?Q"), "TAVRIN1A2B04V04\n");
        ASSERT_EQ(client.exchange("EUFWkiwi    "), "G\n");
        client.setSpeed(B115200);
        const auto bytes = simtest::image(100, 200);
        for (const simtest::Packet& p : simtest::writePackets(bytes, 3)) {
            client.send(simtest::text(p));
            std::string reply;
            for (const std::string& piece : client.readCount(64, 1000)) reply += piece;
            EXPECT_EQ(reply.size(), 64u);
        }
        char expected[128];
        std::snprintf(expected, sizeof expected, "hubsim: %s: firmware written, 100 bytes, checksum 0x%04X",
                      path.c_str(), simtest::byteSum(bytes) & 0xFFFF);
        EXPECT_EQ(readLine(err), expected);
    }
    ::kill(pid, SIGTERM);
    EXPECT_EQ(exitStatus(pid), 0);
    ::close(out);
    ::close(err);
}

TEST(HubsimProgram, InvalidOptionExitsWithTwoAndSaysWhy) {
    for (const auto& [option, value] : {std::pair{"--ports", "99"}, {"--pid", "m031"}}) {
        int out = -1, err = -1;
        const pid_t pid = startHubsim({option, value}, out, &err);
        ASSERT_GT(pid, 0);
        EXPECT_EQ(exitStatus(pid), 2) << option;
        EXPECT_TRUE(readLine(err).starts_with(std::string("hubsim: ") + option)) << option;
        ::close(out);
        ::close(err);
    }
}

}  // namespace
