// The loader on the wire: entering and leaving it, timing (erase, listen
// window, boot), packets cut by pauses or sent too early, and the faults
// whose effect is time or silence.
#include <gtest/gtest.h>

#include "isp_packets.h"
#include "pty_client.h"
#include "sim/virtual_hub.h"

namespace {

using namespace std::chrono_literals;
using sim::HubConfig;
using sim::LoaderFault;
using sim::VirtualHub;
using simtest::Clock;
using simtest::le;
using simtest::millisSince;
using simtest::packet;
using simtest::Packet;
using Kind = LoaderFault::Kind;

const std::string kIdentify = "TAVRIN0AB304V04\n";
const HubConfig kQuick{.states = 0x0A,
                       .powerOnStates = 0x05,
                       .eraseTime = 40ms,
                       .loaderListen = 80ms,
                       .bootTime = 100ms,
                       .record = true};

// A host on the hub's port: commands at 9600, packets at 115200.
class Host {
public:
    explicit Host(const VirtualHub& hub) : client_(hub.path()) {}

    void enterLoader() {
        ASSERT_EQ(client_.exchange("EUFWkiwi    "), "G\n");
        client_.setSpeed(B115200);
    }

    // The reply, or fewer bytes when `millis` run out first.
    std::string exchange(const Packet& p, int millis = 500) {
        send(p);
        return reply(millis);
    }
    void send(const Packet& p) { client_.send(simtest::text(p)); }
    std::string reply(int millis = 500) {
        std::string bytes;
        for (const std::string& piece : pieces(millis)) bytes += piece;
        return bytes;
    }
    std::vector<std::string> pieces(int millis = 500) { return client_.readCount(64, millis); }

    std::string command(const std::string& line, int millis = 500) {
        client_.setSpeed(B9600);
        return client_.exchange(line, millis);
    }
    simtest::PtyClient& client() { return client_; }

private:
    simtest::PtyClient client_;
};

TEST(LoaderWire, ConnectAnsweredWithTheLoadersNumberAt115200Only) {
    VirtualHub hub(kQuick);
    Host host(hub);
    host.enterLoader();
    EXPECT_TRUE(hub.inLoader());
    EXPECT_TRUE(hub.inFirmwareUpdate());
    const std::string reply = host.exchange(packet(0xAE, 1));
    ASSERT_EQ(reply.size(), 64u);
    EXPECT_EQ(std::uint8_t(reply[0]), 0xAF);
    EXPECT_EQ(std::uint8_t(reply[1]), 0x00);
    EXPECT_EQ(le(reply, 4), 2u);
    EXPECT_EQ(hub.loaderPackets(), std::vector<Packet>{packet(0xAE, 1)});
    EXPECT_TRUE(hub.loaderLineSettingsOk());
    EXPECT_TRUE(hub.lineSettingsOk());  // the EUFW line came at 9600

    host.client().setSpeed(B9600);  // still answered, but noted
    EXPECT_EQ(le(host.exchange(simtest::sync(3)), 4), 4u);
    EXPECT_FALSE(hub.loaderLineSettingsOk());
    hub.clearLoaderPackets();
    EXPECT_TRUE(hub.loaderPackets().empty());
}

// The whole update as a host runs it, then the run packet: no reply, a
// silent boot, and the application with its power-on states.
TEST(LoaderWire, WritesAnImageThenRunsTheApplication) {
    VirtualHub hub(kQuick);
    std::vector<std::pair<std::size_t, std::uint16_t>> heard;
    hub.setWriteListener([&](std::size_t n, std::uint16_t sum) { heard.emplace_back(n, sum); });
    Host host(hub);
    host.enterLoader();
    const auto bytes = simtest::image(300);
    std::vector<Packet> sequence = {packet(0xAE, 1), simtest::sync(3), packet(0xB1, 5),
                                    packet(0xA6, 7), packet(0xA2, 9)};
    for (const Packet& p : simtest::writePackets(bytes, 11)) sequence.push_back(p);
    std::string reply;
    for (const Packet& p : sequence) {
        const auto sent = Clock::now();
        reply = host.exchange(p);
        EXPECT_EQ(le(reply, 4), le(p, 4) + 1);
        if (p[0] == 0xA0) {
            EXPECT_GE(millisSince(sent), 40);  // erased first
        }
    }
    const unsigned sum = simtest::byteSum(bytes) & 0xFFFF;
    EXPECT_EQ(le(reply, 8, 2), sum);
    EXPECT_EQ(hub.flashImage(), bytes);
    EXPECT_EQ(hub.completedWrites(), 1);
    EXPECT_EQ(heard, (std::vector<std::pair<std::size_t, std::uint16_t>>{{300, sum}}));

    const auto run = Clock::now();
    EXPECT_EQ(host.exchange(packet(0xAB, 1), 30), "");
    EXPECT_EQ(host.command("?Q", 20), "");  // lost while the chip starts
    ASSERT_TRUE(simtest::eventually([&] { return !hub.inLoader(); }, 500));
    EXPECT_GE(millisSince(run), 100);
    EXPECT_EQ(host.command("?Q"), kIdentify);  // same identity, whatever was written
    EXPECT_EQ(hub.received().size(), 2u);       // EUFW and the last ?Q
    EXPECT_EQ(hub.states(), 0x05u);
    EXPECT_EQ(hub.loaderPackets().size(), sequence.size() + 1);
}

TEST(LoaderWire, ListenWindowEndsInTheApplicationUnlessAByteCame) {
    for (const bool connect : {false, true}) {
        SCOPED_TRACE(connect ? "a connect came" : "nothing came");
        VirtualHub hub(kQuick);
        Host host(hub);
        const auto entered = Clock::now();
        host.enterLoader();
        if (connect) {
            EXPECT_EQ(host.exchange(packet(0xAE, 1)).size(), 64u);
        }
        // Waits for the window's end; a hub in its application answers.
        EXPECT_EQ(simtest::eventually([&] { return !hub.inLoader(); }, 150), !connect);
        EXPECT_GE(millisSince(entered), 80);
        EXPECT_EQ(host.command("?Q", connect ? 40 : 500), connect ? "" : kIdentify);
    }
}

// What a failed update leaves: the loader keeps the port, through the listen
// window and through a run packet, until a whole image is written.
TEST(LoaderWire, ErasedFlashKeepsTheLoaderUntilAnImageIsWhole) {
    VirtualHub hub(kQuick);
    hub.enterLoader();
    EXPECT_TRUE(hub.inLoader());
    EXPECT_TRUE(hub.flashImage().empty());
    Host host(hub);
    host.client().setSpeed(B115200);
    EXPECT_EQ(host.reply(120), "");  // past the listen window, nothing sent, still here
    EXPECT_TRUE(hub.inLoader());

    const auto run = Clock::now();
    host.send(packet(0xAB, 1));
    EXPECT_EQ(host.exchange(packet(0xAE, 1), 30), "");  // the chip is restarting
    while (millisSince(run) < 110) ::usleep(2000);  // its boot time
    EXPECT_TRUE(hub.inLoader());
    EXPECT_EQ(le(host.exchange(packet(0xAE, 1)), 4), 2u);  // back in its loader

    for (const Packet& p : simtest::writePackets(simtest::image(70), 3))
        EXPECT_EQ(host.exchange(p).size(), 64u);
    EXPECT_EQ(host.exchange(packet(0xAB, 1), 30), "");
    EXPECT_TRUE(simtest::eventually([&] { return !hub.inLoader(); }, 500));
    EXPECT_EQ(hub.flashImage(), simtest::image(70));
}

TEST(LoaderWire, PacketsMustArriveWholeAndOneAtATime) {
    VirtualHub hub(kQuick);
    Host host(hub);
    host.enterLoader();
    const std::string part = simtest::text(packet(0xB1, 9)).substr(0, 20);
    host.client().send(part);
    EXPECT_EQ(host.reply(70), "");  // the pause drops the part
    EXPECT_EQ(le(host.exchange(packet(0xAE, 1)), 0, 2), 0xAFu);

    // A second packet sent before the first's reply is lost, whole.
    host.client().send(simtest::text(simtest::sync(3)) + simtest::text(packet(0xB1, 5)));
    EXPECT_EQ(le(host.reply(), 4), 4u);
    EXPECT_EQ(host.reply(40), "");
    EXPECT_EQ(hub.loaderPackets(), (std::vector<Packet>{packet(0xAE, 1), simtest::sync(3)}));
    EXPECT_EQ(le(host.exchange(packet(0xB1, 5)), 4), 6u);
}

TEST(LoaderWire, PacedRepliesTakeTheirWireTimeAt115200) {
    VirtualHub hub({.wireTiming = true});
    Host host(hub);
    host.enterLoader();
    std::size_t mostPieces = 0;  // a busy machine may merge pieces: three tries
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        host.send(packet(0xAE, 1));
        const auto pieces = host.pieces();
        EXPECT_GE(millisSince(start), 11);  // the packet's own 5.6 ms, then the reply's
        mostPieces = std::max(mostPieces, pieces.size());
    }
    EXPECT_GE(mostPieces, 2u);
}

// A config's loader fault strikes again each time the loader starts.
TEST(LoaderWire, ConfigFaultsArmAgainAtEachStart) {
    HubConfig config = kQuick;
    config.loaderFaults = {{Kind::DropReply, 1}};
    VirtualHub hub(config);
    Host host(hub);
    for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE(start);
        host.enterLoader();
        EXPECT_EQ(host.exchange(packet(0xAE, 1), 60), "");
        EXPECT_EQ(host.exchange(packet(0xAE, 1)).size(), 64u);  // used once per start
        for (const Packet& p : simtest::writePackets(simtest::image(10), 3))
            EXPECT_EQ(host.exchange(p).size(), 64u);
        host.send(packet(0xAB, 1));
        ASSERT_TRUE(simtest::eventually([&] { return !hub.inLoader(); }, 500));
    }
    hub.enterLoader();
    hub.clearLoaderFaults();  // until the next start
    host.client().setSpeed(B115200);
    EXPECT_EQ(host.exchange(packet(0xAE, 1)).size(), 64u);
}

TEST(LoaderWire, FaultsOfTimeAndSilence) {
    {
        SCOPED_TRACE("slow erase");
        VirtualHub hub(kQuick);
        hub.pushLoaderFault({Kind::SlowErase, 0, 0, 150});
        Host host(hub);
        host.enterLoader();
        host.exchange(packet(0xAE, 1));
        const auto start = Clock::now();
        EXPECT_EQ(host.exchange(simtest::writePackets(simtest::image(8), 3)[0]).size(), 64u);
        EXPECT_GE(millisSince(start), 150);
    }
    {
        SCOPED_TRACE("split reply");
        VirtualHub hub(kQuick);
        hub.pushLoaderFault({Kind::SplitReply, 1, 10, 30});
        Host host(hub);
        host.enterLoader();
        const auto start = Clock::now();
        host.send(packet(0xAE, 1));
        const auto pieces = host.pieces();
        EXPECT_GE(millisSince(start), 30);
        ASSERT_GE(pieces.size(), 2u);
        EXPECT_EQ(pieces[0].size(), 10u);
    }
    {
        SCOPED_TRACE("silent loader");
        VirtualHub hub(kQuick);
        hub.pushLoaderFault({Kind::Silent});
        Host host(hub);
        host.enterLoader();
        EXPECT_EQ(host.reply(120), "");  // no packet, yet no return to the application
        EXPECT_EQ(host.exchange(packet(0xAE, 1), 60), "");
        EXPECT_EQ(host.exchange(packet(0xAB, 1), 60), "");
        EXPECT_TRUE(hub.inLoader());
        EXPECT_EQ(hub.loaderPackets().size(), 2u);
        hub.clearLoaderFaults();
        EXPECT_EQ(le(host.exchange(packet(0xAE, 1)), 4), 2u);
    }
}

}  // namespace
