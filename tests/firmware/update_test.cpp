// Whole updates over a real pty against the virtual hub's loader: the packets
// it receives, what it writes, and how each loader fault ends.
#include "firmware/update_flow.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "hublink/cppmain.h"
#include "hublink/exchange.h"
#include "loader_rig.h"

namespace firmware {
namespace {

using namespace fwtest;
using ::testing::HasSubstr;
using Kind = sim::LoaderFault::Kind;

constexpr const char* kPassword = "kiwi    ";

// Short bounds so that a failing case ends quickly.
UpdateOptions quickOptions(std::vector<std::string>* log = nullptr) {
    UpdateOptions options;
    options.timings.connectLimit = 1500ms;
    options.timings.reply = 300ms;
    options.timings.erase = 1500ms;
    if (log) options.log = [log](const std::string& line) { log->push_back(line); };
    return options;
}

// The packets the loader received, once the run packet is among them (it may
// still be on its way when the update returns), or after 2 s.
std::vector<SeenPacket> awaitRunPacket(const sim::VirtualHub& hub) {
    const auto start = Clock::now();
    while (!sent(seen(hub), 0xAB) && secondsSince(start) < 2) std::this_thread::sleep_for(1ms);
    return seen(hub);
}

UpdateOutcome update(sim::VirtualHub& hub, const Bytes& image,
                     const UpdateOptions& options = quickOptions()) {
    return runUpdate(hub.path(), kPassword, makeImage(image), options);
}

TEST(Update, WritesTheImageWithTheExpectedPackets) {
    sim::VirtualHub hub(quickHub());
    const Bytes image = imageFor(1000);
    std::vector<UpdateProgress> progress;
    UpdateOptions options = quickOptions();
    options.progress = [&](const UpdateProgress& p) { progress.push_back(p); };
    const UpdateOutcome outcome = update(hub, image, options);
    ASSERT_TRUE(outcome.ok()) << outcome.result << ": " << outcome.detail;
    awaitApplication(hub);
    EXPECT_EQ(hub.flashImage(), image);
    EXPECT_EQ(hub.completedWrites(), 1);
    EXPECT_TRUE(hub.loaderLineSettingsOk());
    EXPECT_EQ(hub.received(), (std::vector<std::string>{"?Q\r", "EUFW" + std::string(kPassword) + "\r"}));

    // connect, connect, sync 3, product 5, version 7, config 9, first 11,
    // continuations 13..45 (1000 bytes: 1 + 17 packets), run 1.
    const auto packets = seen(hub);
    ASSERT_EQ(packets.size(), 25u);
    const std::vector<std::pair<int, std::uint32_t>> head = {
        {0xAE, 1}, {0xAE, 1}, {0xA4, 3}, {0xB1, 5}, {0xA6, 7}, {0xA2, 9}, {0xA0, 11}};
    for (std::size_t i = 0; i < head.size(); ++i) {
        EXPECT_EQ(packets[i].code, head[i].first) << i;
        EXPECT_EQ(packets[i].number, head[i].second) << i;
    }
    for (std::size_t i = 7; i < 24; ++i) {
        EXPECT_EQ(packets[i].code, 0x00) << i;
        EXPECT_EQ(packets[i].number, 13 + 2 * (i - 7)) << i;
    }
    EXPECT_EQ(packets[24].code, 0xAB);
    EXPECT_EQ(packets[24].number, 1u);
    EXPECT_EQ(hub.loaderPackets()[2][8], 3);  // the sync payload is its own number

    // Progress: steps in order, writing up to the whole image.
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front().step, UpdateStep::EnteringLoader);
    EXPECT_EQ(progress.back().step, UpdateStep::Done);
    std::size_t lastWritten = 0;
    for (const auto& p : progress) {
        if (p.step != UpdateStep::Writing) continue;
        EXPECT_GE(p.written, lastWritten);
        lastWritten = p.written;
    }
    EXPECT_EQ(lastWritten, 1000u);

    // The application is back (a first query may fall into its start-up).
    std::string identify;
    for (int attempt = 0; attempt < 2 && identify.empty(); ++attempt)
        identify = hublink::sendCommand(hub.path(), "?Q\r").reply;
    EXPECT_EQ(identify.substr(0, 10), "TAVRIN0AB3");
}

TEST(Update, ImageLengthsAroundPacketBoundaries) {
    const struct {
        std::size_t length;
        std::size_t imagePackets;
    } cases[] = {{0, 1}, {48, 1}, {49, 2}, {104, 2}, {105, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        sim::VirtualHub hub(quickHub());
        Bytes image(c.length);
        for (std::size_t i = 0; i < image.size(); ++i) image[i] = std::uint8_t(200 + i);
        const UpdateOutcome outcome = update(hub, image);
        ASSERT_TRUE(outcome.ok()) << outcome.detail;
        EXPECT_EQ(hub.flashImage(), image);
        std::size_t imagePackets = 0;
        for (auto p : seen(hub)) imagePackets += p.code == 0xA0 || p.code == 0x00;
        EXPECT_EQ(imagePackets, c.imagePackets);
    }
}

TEST(Update, TraceLinesOfASmallUpdate) {
    sim::VirtualHub hub(quickHub());
    std::vector<std::string> log;
    ASSERT_TRUE(update(hub, imageFor(49), quickOptions(&log)).ok());
    awaitApplication(hub);
    std::vector<std::string> steps;
    for (const auto& line : log)
        if (line.ends_with(" Start") || line == "checksum pass" || line.starts_with("FW_VERSION") ||
            line.starts_with("CONFIG"))
            steps.push_back(line);
    EXPECT_THAT(steps, ::testing::ElementsAre(
                           "UART_AUTO_DETECT Start", "LINK_FUN Start", "SN_FUN Start",
                           "READ_PID_FUN Start", "READ_FW_FUN Start", ::testing::StartsWith("FW_VERSION=0x"),
                           "READ_CONFIG_FUN Start", ::testing::StartsWith("CONFIG0=0x"),
                           ::testing::StartsWith("CONFIG1=0x"), "UPDATE_APROM Start",
                           "UART_TRANSFER_START_UPDATE_APROM Start", "checksum pass",
                           "RUN_APROM_FUN Start", "UART_TRANSFER_NON_ACK Start"));
    EXPECT_EQ(std::count(log.begin(), log.end(), "Wrote 64 bytes to the serial port."),
              static_cast<long>(hub.loaderPackets().size()));
    EXPECT_EQ(std::count(log.begin(), log.end(), "checksum error"), 0);
    EXPECT_EQ(log[1], "thelist");
    EXPECT_THAT(log[2], ::testing::StartsWith("[174, 0, 0, 0, 1, 0, 0, 0, 0, "));
}

// Each loader fault stops the update with its reason, within its bound,
// without resending a data packet and without the run packet.
TEST(Update, LoaderFaultsStopTheUpdate) {
    const struct {
        const char* name;
        sim::LoaderFault fault;
        const char* detail;
        double bound;  // seconds: the wait that applies, plus a margin
    } cases[] = {
        {"dropped reply", {Kind::DropReply, 15}, "no reply to packet 15", 0.8},
        {"dropped first APROM reply", {Kind::DropReply, 11}, "no reply to packet 11", 2.0},
        {"wrong checksum", {Kind::WrongChecksum, 13}, "wrong checksum in the reply to packet 13", 0.5},
        {"wrong number", {Kind::WrongNumber, 17}, "wrong packet number in the reply to packet 17", 0.5},
        {"bad write", {Kind::CorruptWrite, 19}, "wrong checksum in the reply to packet 19", 0.5},
        {"image checksum", {Kind::WrongImageChecksum}, "image checksum", 0.5},
        {"reply cut short", {Kind::SplitReply, 13, 30, 800}, "incomplete reply to packet 13 (30 of 64", 0.8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::VirtualHub hub(quickHub());
        hub.pushLoaderFault(c.fault);
        const auto start = Clock::now();
        const UpdateOutcome outcome = update(hub, imageFor(400));
        const double took = secondsSince(start);
        EXPECT_LT(took, c.bound);
        EXPECT_EQ(outcome.result, kLoaderErr);
        EXPECT_THAT(outcome.detail, HasSubstr(c.detail));
        const auto packets = seen(hub);
        EXPECT_TRUE(noDataPacketResent(packets));
        EXPECT_FALSE(sent(packets, 0xAB));
        EXPECT_TRUE(hub.inLoader());
        EXPECT_TRUE(outcome.erased);
        EXPECT_TRUE(outcome.leftInLoader());
    }
}

// Before the first APROM packet nothing is erased: a stop there sends the run
// packet, so the hub goes back to the firmware it had.
TEST(Update, AStopBeforeTheEraseSendsTheHubBack) {
    const struct {
        const char* name;
        sim::LoaderFault fault;
        const char* detail;
        bool answers;  // the loader takes the run packet
    } cases[] = {
        {"wrong number on sync", {Kind::WrongNumber, 3}, "wrong packet number in the reply to packet 3", true},
        {"dropped reply to the product ID", {Kind::DropReply, 5}, "no reply to packet 5", true},
        {"wrong checksum on the configuration", {Kind::WrongChecksum, 9}, "wrong checksum in the reply to packet 9", true},
        {"silent loader", {Kind::Silent}, "did not answer the connect packet within 1.5 s", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::VirtualHub hub(quickHub());
        hub.pushLoaderFault(c.fault);
        const UpdateOutcome outcome = update(hub, imageFor(400));
        EXPECT_EQ(outcome.result, kLoaderErr);
        EXPECT_THAT(outcome.detail, HasSubstr(c.detail));
        EXPECT_FALSE(outcome.erased);
        EXPECT_FALSE(outcome.leftInLoader());
        const auto packets = awaitRunPacket(hub);
        EXPECT_FALSE(sent(packets, 0xA0));
        ASSERT_FALSE(packets.empty());
        EXPECT_EQ(packets.back().code, 0xAB);
        EXPECT_EQ(packets.back().number, 1u);
        if (!c.answers) continue;
        awaitApplication(hub);
        EXPECT_FALSE(hub.inLoader());
        EXPECT_TRUE(hub.flashImage().empty());  // never erased
    }
}

// A hub that an earlier update left in its loader may hold half an image:
// it is never started from there.
TEST(Update, ARecoveryThatStopsEarlyLeavesTheHubInItsLoader) {
    sim::VirtualHub hub(quickHub());
    hub.enterLoader();
    hub.pushLoaderFault({Kind::WrongNumber, 3});
    UpdateOptions options = quickOptions();
    options.hubInLoader = true;
    const UpdateOutcome outcome = update(hub, imageFor(400), options);
    EXPECT_EQ(outcome.result, kLoaderErr);
    EXPECT_TRUE(outcome.leftInLoader());
    EXPECT_FALSE(sent(seen(hub), 0xAB));
    EXPECT_TRUE(hub.inLoader());
}

// A connect reply that comes after its attempt's deadline, while the next
// attempt is on its way, must not pass for the reply to a later packet.
TEST(Update, ALateConnectReplyIsNotTakenForTheNextOne) {
    sim::VirtualHub hub(quickHub());
    // Every packet numbered 1 is a connect: the first reply comes after the
    // attempt gave up, the next two a little late.
    hub.pushLoaderFault({Kind::SplitReply, 1, 0, 300});
    hub.pushLoaderFault({Kind::SplitReply, 1, 0, 30});
    hub.pushLoaderFault({Kind::SplitReply, 1, 0, 30});
    const Bytes image = imageFor(400);
    const UpdateOutcome outcome = update(hub, image);
    EXPECT_TRUE(outcome.ok()) << outcome.detail;
    EXPECT_EQ(hub.flashImage(), image);
}

// Faults a sound host rides out: a reply in pieces, a loader that wakes up
// late, a slow erase.
TEST(Update, SurvivesSlowAndSplitReplies) {
    const struct {
        const char* name;
        sim::LoaderFault fault;
        double atLeast;
    } cases[] = {
        {"split reply", {Kind::SplitReply, 13, 20, 100}, 0.1},
        {"late loader", {Kind::AnswerAfterConnects, 0, 3}, 0.75},
        {"slow erase", {Kind::SlowErase, 0, 0, 1200}, 1.2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::VirtualHub hub(quickHub());
        hub.pushLoaderFault(c.fault);
        const Bytes image = imageFor(300);
        const auto start = Clock::now();
        const UpdateOutcome outcome = update(hub, image);
        const double took = secondsSince(start);
        EXPECT_TRUE(outcome.ok()) << outcome.detail;
        EXPECT_EQ(hub.flashImage(), image);
        EXPECT_GE(took, c.atLeast);
        EXPECT_LT(took, c.atLeast + 0.8);  // no blind pauses on top
        EXPECT_TRUE(noDataPacketResent(seen(hub)));
    }
}

TEST(Update, ConnectRepeatsUntilTheLoaderAnswers) {
    sim::VirtualHub hub(quickHub());
    hub.pushLoaderFault({Kind::AnswerAfterConnects, 0, 4});
    ASSERT_TRUE(update(hub, imageFor(100)).ok());
    const auto packets = seen(hub);
    // four ignored, the answered one, then LINK_FUN's
    ASSERT_GE(packets.size(), 6u);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(packets[i].code, 0xAE) << i;
    EXPECT_EQ(packets[6].code, 0xA4);
}

TEST(Update, HubCommandsDecideWhetherTheLoaderIsReached) {
    using sim::Fault;
    const Fault normal = hubReply(Fault::Kind::Delay);
    const struct {
        const char* name;
        std::vector<Fault> faults;
        std::string hubPassword;
        std::string_view result;
    } cases[] = {
        {"wrong password", {}, "secret  ", kPasswordErr},
        {"update refused", {normal, hubReply(Fault::Kind::Raw, "E00\n")}, kPassword, kStateErr},
        {"update unanswered", {normal, hubReply(Fault::Kind::Silent)}, kPassword, kStateErr},
        {"only E0", {normal, hubReply(Fault::Kind::Raw, "E0\n")}, kPassword, kStateErr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::HubConfig config = quickHub();
        config.password = c.hubPassword;
        sim::VirtualHub hub(config);
        for (const auto& f : c.faults) hub.pushFault(f);
        const UpdateOutcome outcome = update(hub, imageFor(100));
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_TRUE(hub.loaderPackets().empty());
        EXPECT_EQ(hub.received().size(), 2u);
    }
}

TEST(Update, AnotherProductOnThePortGetsNoUpdate) {
    const struct {
        const char* name;
        std::string hubProduct;
        std::string expected;
        bool identifySilent;
        std::string_view result;
    } cases[] = {
        {"the product checked", "0AB3", "0AB3", false, kUpdateOk},
        {"another hub answers now", "0AB4", "0AB3", false, kProductErr},
        {"nothing asked", "0AB4", "", false, kUpdateOk},
        {"no identify reply: the update command decides", "0AB3", "0AB3", true, kUpdateOk},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::HubConfig config = quickHub();
        config.productId = c.hubProduct;
        sim::VirtualHub hub(config);
        if (c.identifySilent) hub.pushFault(hubReply(sim::Fault::Kind::Silent));
        UpdateOptions options = quickOptions();
        options.expectedProduct = c.expected;
        const UpdateOutcome outcome = update(hub, imageFor(100), options);
        EXPECT_EQ(outcome.result, c.result) << outcome.detail;
        if (c.result == kProductErr) {
            EXPECT_EQ(hub.received(), std::vector<std::string>{"?Q\r"});
            EXPECT_FALSE(hub.inLoader());
            EXPECT_THAT(outcome.detail, HasSubstr("product 0AB4"));
        }
    }
}

TEST(Update, RecoveryAfterAFailedUpdate) {
    sim::VirtualHub hub(quickHub());
    hub.pushLoaderFault({Kind::DropReply, 21});
    const Bytes image = imageFor(2000);
    ASSERT_EQ(update(hub, image).result, kLoaderErr);
    ASSERT_TRUE(hub.inLoader());
    EXPECT_NE(hub.flashImage(), image);

    hub.clearLoaderPackets();
    UpdateOptions options = quickOptions();
    options.hubInLoader = true;
    const UpdateOutcome outcome = update(hub, image, options);
    ASSERT_TRUE(outcome.ok()) << outcome.detail;
    EXPECT_EQ(hub.flashImage(), image);
    EXPECT_EQ(seen(hub).front().code, 0xAE);
    EXPECT_EQ(hub.received().size(), 2u);  // no hub commands the second time
}

TEST(Update, ImageIsLoadedBeforeAnythingIsSent) {
    sim::VirtualHub hub(quickHub());
    const UpdateOutcome missing =
        proceedUpdate(0, kPassword, "/nonexistent/bin_temp.bin", hub.path(), quickOptions());
    EXPECT_EQ(missing.result, kImageErr);
    EXPECT_TRUE(hub.received().empty());

    const std::string path = std::filesystem::temp_directory_path() / "fwtest-image.bin";
    const Bytes image = imageFor(500);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), 500);
    const UpdateOutcome done = proceedUpdate(0, kPassword, path, hub.path(), quickOptions());
    std::filesystem::remove(path);
    EXPECT_TRUE(done.ok()) << done.detail;
    EXPECT_EQ(hub.flashImage(), image);
}

// Another exchange that wants the port waits until the update let go of it,
// instead of writing into the loader.
TEST(Update, ThePortIsHeldForTheWholeUpdate) {
    sim::VirtualHub hub(quickHub());
    hub.pushLoaderFault({Kind::SlowErase, 0, 0, 600});
    const Bytes image = imageFor(3000);
    auto running = std::async(std::launch::async, [&] { return update(hub, image); });
    const auto start = Clock::now();
    while (hub.loaderPackets().empty() && secondsSince(start) < 2) std::this_thread::sleep_for(1ms);
    hublink::sendCommand(hub.path(), "?Q\r");
    EXPECT_TRUE(running.get().ok());
    awaitApplication(hub);
    EXPECT_EQ(hub.flashImage(), image);
    // The query went out only after the run packet: it became no loader
    // packet (it reached the restarting hub, which may have lost it).
    EXPECT_EQ(hub.loaderPackets().size(), 6 + apromPacketCount(image.size()) + 1);
    EXPECT_TRUE(hub.received().size() == 2 || hub.received().back() == "?Q\r");
}

TEST(Update, CancelStopsBetweenPackets) {
    sim::VirtualHub hub(quickHub());
    std::atomic<bool> cancel{false};
    UpdateOptions options = quickOptions();
    options.cancel = &cancel;
    options.progress = [&](const UpdateProgress& p) {
        if (p.step == UpdateStep::Writing && p.written > 1000) cancel = true;
    };
    const UpdateOutcome outcome = update(hub, imageFor(5000), options);
    EXPECT_EQ(outcome.result, kLoaderErr);
    EXPECT_EQ(outcome.detail, "cancelled");
    EXPECT_FALSE(sent(seen(hub), 0xAB));
    EXPECT_TRUE(outcome.leftInLoader());
}

// A cancel while the loader is being read comes before the erase.
TEST(Update, CancelBeforeTheEraseKeepsTheFirmware) {
    sim::VirtualHub hub(quickHub());
    std::atomic<bool> cancel{false};
    UpdateOptions options = quickOptions();
    options.cancel = &cancel;
    options.progress = [&](const UpdateProgress& p) {
        if (p.step == UpdateStep::Reading) cancel = true;
    };
    const UpdateOutcome outcome = update(hub, imageFor(5000), options);
    EXPECT_EQ(outcome.result, kLoaderErr);
    EXPECT_EQ(outcome.detail, "cancelled");
    EXPECT_FALSE(outcome.erased);
    const auto packets = awaitRunPacket(hub);
    EXPECT_FALSE(sent(packets, 0xA0));
    EXPECT_TRUE(sent(packets, 0xAB));
    awaitApplication(hub);
    EXPECT_FALSE(hub.inLoader());
}

TEST(SinglePacket, ExchangeOnAPortOpenedForIt) {
    sim::VirtualHub hub(quickHub());
    hub.enterLoader();
    Packet connect = commandPacket(IspCommand::Connect);
    setPacketNumber(connect, 1);
    const std::vector<std::uint8_t> packet(connect.begin(), connect.end());
    std::vector<std::uint8_t> reply{9, 9};
    testing::internal::CaptureStdout();
    const int result = hublink::CPPMain_Wrapper().Send_Command_Update_Wrapper(
        hub.path(), packet, reply, 64, 64, 0, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Wrote 64 bytes to the serial port.\n");
    EXPECT_EQ(result, 1);
    ASSERT_EQ(reply.size(), 64u);
    EXPECT_EQ(reply[0], 0xAF);
    EXPECT_EQ(reply[1], 0x00);
    EXPECT_EQ(readU32(reply, 4), 2u);

    reply = {9};
    EXPECT_EQ(hublink::CPPMain_Wrapper().Send_Command_Update_Wrapper("/nonexistent/tty", packet,
                                                                     reply, 64, 64, 0, 0),
              0);
    EXPECT_TRUE(reply.empty());
}

}  // namespace
}  // namespace firmware
