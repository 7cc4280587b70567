// hubflash as a user runs it: its outcome line, exit status and what the
// virtual hub received, for every outcome it can report.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "firmware/isp_packet.h"
#include "loader_rig.h"
#include "process.h"
#include "sim/fake_registry.h"

namespace {

namespace fs = std::filesystem;
using namespace fwtest;
using ::testing::HasSubstr;
using firmware::Bytes;

std::string lastLine(const std::string& out) {
    std::string text = out;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    const auto cut = text.rfind('\n');
    return cut == std::string::npos ? text : text.substr(cut + 1);
}

class Hubflash : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/hubflash-XXXXXX";
        dir_ = ::mkdtemp(pattern);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string file(const std::string& name, const Bytes& bytes) const {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
        return path;
    }
    std::string scrambled(const std::string& name, const Bytes& image) const {
        return file(name, firmware::scramble(image, firmware::defaultKey()));
    }

    testsupport::ProcessResult run(std::vector<std::string> args,
                                   std::vector<std::string> env = {}) const {
        testsupport::ProcessOptions options;
        options.env = std::move(env);
        return run(std::move(args), options);
    }
    testsupport::ProcessResult run(std::vector<std::string> args,
                                   testsupport::ProcessOptions options) const {
        args.insert(args.begin(), HUBFLASH_PATH);
        options.timeout = std::chrono::seconds(30);
        return testsupport::runProcess(args, options);
    }

    std::string dir_;
};

TEST_F(Hubflash, ProgramsTheHubAndReportsItsVersion) {
    sim::VirtualHub hub(quickHub());
    const Bytes image = imageFor(20000);
    const auto r = run({hub.path(), scrambled("fw.enc", image)});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "Hub firmware version: V04\nFirmware programmed Successfully!\n");
    EXPECT_EQ(hub.flashImage(), image);
    // Progress on a pipe: the steps, then a line per 10 % written.
    EXPECT_THAT(r.err, HasSubstr("Connecting...\n"));
    EXPECT_THAT(r.err, HasSubstr("Erasing...\n"));
    EXPECT_THAT(r.err, HasSubstr("Writing 100% (20000 of 20000 bytes)\n"));
    const auto writingLines = std::count(r.err.begin(), r.err.end(), '%');
    EXPECT_GE(writingLines, 10);
    EXPECT_LE(writingLines, 11);
}

TEST_F(Hubflash, OutcomesAndExitStatuses) {
    const Bytes image = imageFor(3000);
    const Bytes otherProduct = imageFor(3000, 0x12, 0x34);
    const Bytes noMarker(3000, 0x55);
    struct Case {
        const char* name;
        std::function<std::vector<std::string>(const std::string& port)> args;
        std::function<void(sim::VirtualHub&)> arrange;
        std::string message;
        int status;
        int linesReceived;  // by the hub; -1: a success, then at least 6
    };
    const std::string enc = scrambled("fw.enc", image);
    const std::string big = file("big.enc", Bytes(firmware::kFirmwareSizeLimit, 1));
    const std::string other = scrambled("other.enc", otherProduct);
    const std::string plain = scrambled("plain.enc", noMarker);
    const std::string unscrambled = file("image.bin", image);
    const auto none = [](sim::VirtualHub&) {};
    const Case cases[] = {
        {"dropped reply", [&](auto p) { return std::vector<std::string>{p, enc}; },
         [](auto& hub) { hub.pushLoaderFault({sim::LoaderFault::Kind::DropReply, 13}); },
         "I/O Error!", 1, 5},
        {"file too large", [&](auto p) { return std::vector<std::string>{p, big}; }, none,
         "Invalid Firmware File!", 3, 0},
        {"file missing", [&](auto p) { return std::vector<std::string>{p, dir_ + "/gone.enc"}; },
         none, "Invalid Firmware File!", 3, 0},
        {"another product", [&](auto p) { return std::vector<std::string>{p, other}; }, none,
         "Incorrect Firmware File!", 3, 3},
        {"no marker", [&](auto p) { return std::vector<std::string>{p, plain}; }, none,
         "Incorrect Firmware File!", 3, 0},
        {"unscrambled without --raw", [&](auto p) { return std::vector<std::string>{p, unscrambled}; },
         none, "Incorrect Firmware File!", 3, 0},
        {"wrong password", [&](auto p) { return std::vector<std::string>{"-p", "nope", p, enc}; },
         none, "Password Error!", 4, 5},
        {"hub silent", [&](auto p) { return std::vector<std::string>{p, enc}; },
         [](auto& hub) { hub.setPersistentFault(hubReply(sim::Fault::Kind::Silent)); }, "State Error", 5, 1},
        {"update refused",
         [&](auto p) { return std::vector<std::string>{p, enc}; },
         [](auto& hub) {
             for (int i = 0; i < 4; ++i) hub.pushFault(hubReply(sim::Fault::Kind::Delay));
             hub.pushFault(hubReply(sim::Fault::Kind::Raw, "E00\n"));
         },
         "State Error", 5, 5},
        {"raw image", [&](auto p) { return std::vector<std::string>{"--raw", p, unscrambled}; },
         none, "Firmware programmed Successfully!", 0, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::VirtualHub hub(quickHub());
        c.arrange(hub);
        const auto r = run(c.args(hub.path()));
        EXPECT_EQ(r.exitStatus, c.status) << r.err;
        EXPECT_EQ(lastLine(r.out), c.message);
        // Query (?Q, E?Q2, GP), then ?Q + EUFW; after success one more ?Q.
        if (c.linesReceived >= 0) {
            EXPECT_EQ(hub.received().size(), std::size_t(c.linesReceived));
        } else {
            EXPECT_GE(hub.received().size(), 6u);
        }
        if (c.status >= 3) {
            EXPECT_TRUE(hub.loaderPackets().empty());
        }
    }
}

TEST_F(Hubflash, CommandLineMistakes) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"/dev/null"},
        {"a", "b", "c"},
        {"--bogus", "a", "b"},
        {"--key", "short", "a", "b"},
        {"-p", std::string("pw\rRH"), "a", "b"},
        {"--scramble", "in"},
        {"--scramble", "in", "out", "extra"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        const auto r = run(args);
        EXPECT_EQ(r.exitStatus, 2);
        EXPECT_THAT(r.out, ::testing::StartsWith("Usage: hubflash"));
        EXPECT_THAT(r.err, ::testing::StartsWith("hubflash: "));
    }
    const auto help = run({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_THAT(help.out, HasSubstr("--recover"));
}

TEST_F(Hubflash, ScrambleThenUpdateByUidWithAnotherKey) {
    const Bytes image = imageFor(5000);
    const std::string in = file("image.bin", image);
    const std::string out = dir_ + "/image.enc";
    const std::string key = "Abcdef GHIJKL";
    const auto made = run({"--key", key, "--scramble", in, out});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    std::string error;
    EXPECT_EQ(firmware::unscramble(*firmware::readFirmwareBytes(out, error), key), image);

    sim::HubConfig config = quickHub();
    config.uid = "FLASHUID0001";
    sim::VirtualHub hub(config);
    sim::FakeRegistry registry(dir_ + "/reg");
    registry.add("ttyUSB3", hub.path());
    const auto r = run({"-q", "--key", key, "UIDflashuid0001", out},
                       {"HUBLINK_REGISTRY_ROOT=" + registry.root()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");  // quiet
    EXPECT_EQ(hub.flashImage(), image);

    const auto unknown = run({"--key", key, "UID000000000000", out}, {"HUBLINK_REGISTRY_ROOT=" + registry.root()});
    EXPECT_EQ(unknown.exitStatus, 5);
    EXPECT_EQ(lastLine(unknown.out), "State Error");
}

TEST_F(Hubflash, RecoverAfterAFailedUpdate) {
    sim::VirtualHub hub(quickHub());
    const Bytes image = imageFor(4000);
    const std::string enc = scrambled("fw.enc", image);
    hub.pushLoaderFault({sim::LoaderFault::Kind::WrongChecksum, 21});
    const auto failed = run({hub.path(), enc});
    ASSERT_EQ(failed.exitStatus, 1);
    EXPECT_THAT(failed.err, HasSubstr("wrong checksum in the reply to packet 21"));
    EXPECT_THAT(failed.err, HasSubstr("--recover"));
    ASSERT_TRUE(hub.inLoader());

    // In its loader the hub answers no query: only --recover can reach it.
    const auto plain = run({hub.path(), enc});
    EXPECT_EQ(plain.exitStatus, 5);
    const auto recovered = run({"--recover", "-v", hub.path(), enc});
    EXPECT_EQ(recovered.exitStatus, 0) << recovered.err;
    EXPECT_EQ(hub.flashImage(), image);
    EXPECT_THAT(recovered.out, HasSubstr("UART_AUTO_DETECT Start\n"));
    EXPECT_EQ(lastLine(recovered.out), "Firmware programmed Successfully!");
}

// Started without standard error (as by some service managers), hubflash
// must not write its progress into the port it opened in its place.
TEST_F(Hubflash, OnlyPacketsReachTheLoaderWithoutStandardError) {
    sim::VirtualHub hub(quickHub());
    const Bytes image = imageFor(3000);
    testsupport::ProcessOptions options;
    options.closed = {2};
    const auto r = run({hub.path(), scrambled("fw.enc", image)}, options);
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_EQ(hub.flashImage(), image);
    EXPECT_EQ(hub.loaderPackets().size(), 6 + firmware::apromPacketCount(image.size()) + 1);
    EXPECT_EQ(hub.received(), (std::vector<std::string>{"?Q\r", "E?Q2\r", "GP\r", "?Q\r",
                                                        "EUFWkiwi    \r", "?Q\r"}));
}

// Sends `signal` to the program once the loader received the packet numbered
// `packet`, whose reply comes 400 ms late, so the signal lands mid-update.
std::function<void(pid_t)> signalAt(const sim::VirtualHub& hub, std::uint32_t packet, int signal) {
    return [&hub, packet, signal](pid_t pid) {
        const auto start = Clock::now();
        auto reached = [&] {
            const auto packets = seen(hub);
            return std::any_of(packets.begin(), packets.end(),
                               [&](const SeenPacket& p) { return p.number == packet; });
        };
        while (!reached() && secondsSince(start) < 10) std::this_thread::sleep_for(1ms);
        ::kill(pid, signal);
    };
}

// A closed terminal lets the update run to its end; an interrupt stops it
// between packets and says where that left the hub.
TEST_F(Hubflash, SignalsDuringAnUpdate) {
    const Bytes image = imageFor(6000);
    const std::string enc = scrambled("fw.enc", image);
    const struct {
        const char* name;
        int signal;
        std::uint32_t packet;  // 5: reading the loader; 41: writing
        int status;
        std::string message;
        std::string note;  // on stderr; "@hub" stands for the hub's path
        bool inLoader;
    } cases[] = {
        {"hang-up", SIGHUP, 41, 0, "Firmware programmed Successfully!", "", false},
        {"terminate while writing", SIGTERM, 41, 1, "I/O Error!",
         "the hub waits in its loader: hubflash --recover @hub " + enc + " programs it", true},
        {"interrupt before the erase", SIGINT, 5, 1, "I/O Error!",
         "nothing was erased: the hub is unchanged and runs its firmware again", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::VirtualHub hub(quickHub());
        hub.pushLoaderFault({sim::LoaderFault::Kind::SplitReply, c.packet, 10, 400});
        testsupport::ProcessOptions options;
        options.alongside = signalAt(hub, c.packet, c.signal);
        const auto r = run({hub.path(), enc}, options);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.exitStatus, c.status) << r.err;
        EXPECT_EQ(lastLine(r.out), c.message);
        std::string note = c.note;
        if (const auto at = note.find("@hub"); at != std::string::npos) note.replace(at, 4, hub.path());
        EXPECT_THAT(r.err, HasSubstr(note));
        EXPECT_EQ(hub.flashImage() == image, c.status == 0);
        awaitApplication(hub);
        EXPECT_EQ(hub.inLoader(), c.inLoader);
    }
}

// `hubflash -v PORT FILE | head`: the reader goes away, the update goes on.
TEST_F(Hubflash, OutputToAPipeClosedEarly) {
    sim::VirtualHub hub(quickHub());
    const Bytes image = imageFor(6000);
    testsupport::ProcessOptions options;
    options.outLimit = 100;
    const auto r = run({"-v", hub.path(), scrambled("fw.enc", image)}, options);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(hub.flashImage(), image);
    EXPECT_THAT(r.err, HasSubstr("Writing 100%"));
    EXPECT_THAT(r.err, HasSubstr("cannot write the result \"Firmware programmed Successfully!\" "
                                 "to standard output"));
}

// Nothing is erased before the first APROM packet: a failure there sends the
// hub back to the firmware it has.
TEST_F(Hubflash, AFailureBeforeTheEraseLeavesTheHubUnchanged) {
    sim::VirtualHub hub(quickHub());
    hub.pushLoaderFault({sim::LoaderFault::Kind::WrongNumber, 3});
    const auto r = run({hub.path(), scrambled("fw.enc", imageFor(3000))});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(lastLine(r.out), "I/O Error!");
    EXPECT_THAT(r.err, HasSubstr("wrong packet number in the reply to packet 3"));
    EXPECT_THAT(r.err, HasSubstr("nothing was erased: the hub is unchanged"));
    EXPECT_THAT(r.err, ::testing::Not(HasSubstr("--recover")));
    EXPECT_FALSE(hub.inLoader());
    EXPECT_FALSE(sent(seen(hub), 0xA0));
}

// The port as the user gave it: a path outside /dev (a hubsim --tree folder)
// keeps its letters; --recover cannot look a UID up, and says so.
TEST_F(Hubflash, PortsAsGiven) {
    sim::VirtualHub hub(quickHub());
    sim::FakeRegistry registry(dir_ + "/Tree");
    const std::string linked = registry.add("ttyUSB0", hub.path());
    const Bytes image = imageFor(2000);
    const std::string enc = scrambled("fw.enc", image);
    const auto r = run({"-q", linked, enc});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(hub.flashImage(), image);

    hub.clearReceived();
    const auto uid = run({"--recover", "UID0123456789AB", enc},
                         {"HUBLINK_REGISTRY_ROOT=" + registry.root()});
    EXPECT_EQ(uid.exitStatus, 5);
    EXPECT_EQ(lastLine(uid.out), "State Error");
    EXPECT_THAT(uid.err, HasSubstr("a hub in its loader answers no UID lookup"));
    EXPECT_TRUE(hub.received().empty());
}

}  // namespace
