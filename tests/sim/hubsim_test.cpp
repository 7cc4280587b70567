// hubsim: its options, and the program run as users run it.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <numeric>
#include <set>

#include "fault_option.h"
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
    for (const auto& [option, value] :
         {std::pair{"--ports", "99"}, {"--pid", "m031"}, {"--fault", "late:SP"},
          {"--fault", "loader-drop"}}) {
        int out = -1, err = -1;
        const pid_t pid = startHubsim({option, value}, out, &err);
        ASSERT_GT(pid, 0);
        EXPECT_EQ(exitStatus(pid), 2) << option;
        EXPECT_TRUE(readLine(err).starts_with(std::string("hubsim: ") + option)) << option;
        ::close(out);
        ::close(err);
    }
}

// A hubsim for one test, its faults given as options; stopped at the end.
class Hubsim {
public:
    explicit Hubsim(const std::vector<std::string>& faults, std::vector<std::string> args = {}) {
        for (const std::string& fault : faults) args.insert(args.end(), {"--fault", fault});
        pid_ = startHubsim(args, out_);
        path_ = readLine(out_);
    }
    ~Hubsim() { stop(); }
    Hubsim(const Hubsim&) = delete;
    Hubsim& operator=(const Hubsim&) = delete;

    const std::string& path() const { return path_; }
    int stop() {  // the exit status
        if (pid_ <= 0) return -3;
        ::kill(pid_, SIGTERM);
        const int status = exitStatus(pid_);
        ::close(out_);
        pid_ = -1;
        return status;
    }

private:
    int out_ = -1;
    pid_t pid_ = -1;
    std::string path_;
};

std::string joined(const std::vector<std::string>& pieces) {
    return std::accumulate(pieces.begin(), pieces.end(), std::string());
}

// Each hub fault kind as a user starts it: what each line gets back, and
// whether the device is gone after the last.
TEST(HubsimFaults, EachHubKindFromTheCommandLine) {
    struct Step {
        std::string line;
        std::string reply;    // all that arrives within `millis`; an LF ends the wait
        int millis = 1000;
        int atLeastMillis = 0;
        std::size_t atLeastPieces = 0;
    };
    struct Row {
        const char* what;
        std::vector<std::string> faults;
        std::vector<Step> steps;
        bool vanishes = false;
    };
    const std::string id = "TAVRIN0AB304V04\n", states = "F0FFFFFF\n", set = "SPkiwi    03000000";
    const Row rows[] = {
        {"silent", {"silent:GP"}, {{"GP", "", 150}, {"?Q", id}, {"GP", "", 150}}},
        {"late", {"late:GP:200"}, {{"GP", states, 1000, 200}, {"?Q", id, 150}}},
        {"split", {"split:GP:3"}, {{"GP", states, 1000, 2 * sim::kSplitGapMillis, 3}}},
        {"truncate", {"truncate:?Q:4"}, {{"?Q", "TAVR", 150}, {"GP", states}}},
        {"garble", {"garble:?Q"}, {{"?Q", "#?garbled\n"}, {"GP", states}}},
        {"high-bytes", {"high-bytes"},
         {{"GP", "F0FFFFFF\x80\xFF\n"}, {"?Q", "TAVRIN0AB304V04\x80\xFF\n"}}},
        {"reply", {"reply:SP:E01"}, {{set, "E01\n"}, {"GP", "F3FFFFFF\n"}}},  // the SP took effect
        {"vanish", {"vanish:SP"}, {{"GP", states}, {set, "", 150}}, true},
        {"vanish-after", {"vanish-after:2"}, {{"?Q", id}, {"GP", states}, {"GP", "", 150}}, true},
        {"the first that fits decides", {"garble:GP", "silent"},
         {{"GP", "#?garbled\n"}, {"?Q", "", 150}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Hubsim hubsim(row.faults);
        ASSERT_FALSE(hubsim.path().empty());
        simtest::PtyClient client(hubsim.path());
        for (const Step& step : row.steps) {
            const auto start = simtest::Clock::now();
            client.send(step.line + "\r");
            const std::vector<std::string> pieces = client.readPieces(step.millis);
            EXPECT_EQ(joined(pieces), step.reply) << step.line;
            EXPECT_GE(simtest::millisSince(start), step.atLeastMillis) << step.line;
            EXPECT_GE(pieces.size(), step.atLeastPieces) << step.line;
        }
        // A vanish fault closes the device on reading the line: by now.
        EXPECT_EQ(simtest::hungUp(client.fd(), row.vanishes ? 2000 : 0), row.vanishes);
        EXPECT_EQ(hubsim.stop(), 0);
    }
}

// What each packet of a short update got back: connect, connect, sync 3,
// the first write packet 5 and its continuation 7.
struct Answer {
    std::vector<std::string> pieces;
    int millis;
    std::string bytes() const { return joined(pieces); }
};

std::vector<Answer> updateAgainst(const std::vector<std::string>& faults) {
    Hubsim hubsim(faults, {"--erase-ms", "0"});
    simtest::PtyClient client(hubsim.path());
    if (client.exchange("EUFWkiwi    ") != "G\n") return {};
    client.setSpeed(B115200);
    std::vector<simtest::Packet> script = {simtest::packet(0xAE, 1), simtest::packet(0xAE, 1),
                                           simtest::sync(3)};
    for (const simtest::Packet& p : simtest::writePackets(simtest::image(100), 5))
        script.push_back(p);
    std::vector<Answer> answers;
    for (const simtest::Packet& p : script) {
        const auto start = simtest::Clock::now();
        client.send(simtest::text(p));
        std::vector<std::string> pieces = client.readCount(64, 300);
        answers.push_back({std::move(pieces), simtest::millisSince(start)});
    }
    return answers;
}

// Each loader fault kind as a user starts it changes the answers it names and
// no other.
TEST(HubsimFaults, EachLoaderKindFromTheCommandLine) {
    using Check = std::function<void(const Answer& normal, const Answer& faulty)>;
    const Check silent = [](const Answer&, const Answer& f) { EXPECT_EQ(f.bytes(), ""); };
    auto wordOff = [](std::size_t at, std::size_t width, int by) -> Check {
        return [=](const Answer& n, const Answer& f) {
            EXPECT_EQ(simtest::le(f.bytes(), at, width), simtest::le(n.bytes(), at, width) + by);
        };
    };
    struct Row {
        std::string fault;
        std::vector<std::size_t> changed;
        Check check;
    };
    const Row rows[] = {
        {"loader-silent", {0, 1, 2, 3, 4}, silent},
        {"loader-ignore-connects:1", {0}, silent},
        {"loader-drop:3", {2}, silent},
        {"loader-checksum:5", {3}, wordOff(0, 2, 1)},
        {"loader-number:7", {4}, wordOff(4, 4, -1)},
        {"loader-split:5", {3},
         [](const Answer& n, const Answer& f) {
             EXPECT_EQ(f.bytes(), n.bytes());
             ASSERT_GE(f.pieces.size(), 2u);
             EXPECT_EQ(f.pieces[0].size(), std::size_t(sim::kLoaderSplitBytes));
             EXPECT_GE(f.millis, sim::kLoaderSplitMillis);
         }},
        {"loader-slow-erase:150", {3},
         [](const Answer& n, const Answer& f) {
             EXPECT_EQ(f.bytes(), n.bytes());
             EXPECT_GE(f.millis, 150);
         }},
        {"loader-corrupt:7", {4},
         [](const Answer& n, const Answer& f) {  // the packet's and the image's checksums
             EXPECT_NE(simtest::le(f.bytes(), 0, 2), simtest::le(n.bytes(), 0, 2));
             EXPECT_NE(simtest::le(f.bytes(), 8, 2), simtest::le(n.bytes(), 8, 2));
         }},
        {"loader-image-checksum", {4}, wordOff(8, 2, 1)},
    };
    const std::vector<Answer> normal = updateAgainst({});
    ASSERT_EQ(normal.size(), 5u);
    for (const Answer& answer : normal) ASSERT_EQ(answer.bytes().size(), 64u);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        const std::vector<Answer> faulty = updateAgainst({row.fault});
        ASSERT_EQ(faulty.size(), normal.size());
        for (std::size_t k = 0; k < normal.size(); ++k) {
            if (std::find(row.changed.begin(), row.changed.end(), k) != row.changed.end())
                row.check(normal[k], faulty[k]);
            else
                EXPECT_EQ(faulty[k].bytes(), normal[k].bytes()) << "packet " << k;
        }
    }
}

}  // namespace
