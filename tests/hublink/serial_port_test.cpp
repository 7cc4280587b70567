// The console transport over a real pty against the virtual hub.
#include "hublink/serial_port.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "hub_test_util.h"
#include "hublink/exchange.h"

namespace hublink {
namespace {

using namespace hubtest;

TEST(ConsoleExchange, RepliesThatArrive) {
    const std::string cmd = "SPkiwi    F4FFFFFF\r";
    struct Case {
        const char* name;
        sim::Fault fault;
        std::string status, reply;
    };
    const Case cases[] = {
        {"G and LF", raw("G\n"), "OK", "G"},
        {"CR before LF is kept", raw("GF4FFFFFF\r\n"), "OK", "GF4FFFFFF\r"},
        // An earlier reply held back and passed on with this one: the last is ours.
        {"two lines at once", raw("F0FFFFFF\nGF4FFFFFF\n"), "OK", "GF4FFFFFF"},
        {"a line, then the start of one", raw("GF4FFFFFF\nGF"), "OK", "GF4FFFFFF"},
        {"split in 3-byte pieces", fault(Kind::Split, 20, 3), "OK", "GF4FFFFFF"},
        {"bytes 0x80 and 0xFF", fault(Kind::HighBytes), "No", ""},
        {"only a LF", raw("\n"), "No", ""},
        {"512 bytes, the longest line taken", raw(std::string(512, 'G') + "\n"), "OK", std::string(512, 'G')},
        // A stream without LF is cut off at once, not collected for the second.
        {"513 bytes before the LF", raw(std::string(513, 'G') + "\n"), "No", ""},
        {"2000 bytes, no LF", raw(std::string(2000, 'G')), "No", ""},
        {"device vanishes", fault(Kind::Vanish), "No", ""},  // last: the hub is gone
    };
    sim::VirtualHub hub({.record = true});
    spoilLine(hub.path());
    for (const auto& c : cases) {
        hub.pushFault(c.fault);
        const auto start = Clock::now();
        const Exchange ex = sendCommand(hub.path(), cmd);
        EXPECT_EQ(ex.status, c.status) << c.name;
        EXPECT_EQ(ex.reply, c.reply) << c.name;
        EXPECT_LT(secondsSince(start), 0.9) << c.name;  // noticed, never waited out
    }
    // Each command reached the hub unchanged, on a 9600 8N1 raw line, and took effect.
    EXPECT_EQ(hub.received(), std::vector<std::string>(std::size(cases), cmd));
    EXPECT_TRUE(hub.lineSettingsOk());
    EXPECT_EQ(hub.states() & 0xF, 0x4u);
}

// Side by side, as the second is the slow part: a reply that comes too late
// (silence: "No") and a line without LF (the reply). The late reply must not
// answer the next command.
TEST(ConsoleExchange, TheSecondRunsOut) {
    sim::VirtualHub late, noLf;
    late.pushFault(fault(Kind::Delay, 1200));
    noLf.pushFault(raw("G01FF"));
    Exchange got[2];
    double seconds[2] = {};
    auto run = [&](int i, const sim::VirtualHub* hub) {
        const auto start = Clock::now();
        got[i] = sendCommand(hub->path(), "GP\r");
        seconds[i] = secondsSince(start);
    };
    std::thread t(run, 0, &late);
    run(1, &noLf);
    t.join();
    EXPECT_EQ(got[0].status + "|" + got[0].reply, "No|");
    EXPECT_EQ(got[1].status + "|" + got[1].reply, "OK|G01FF");
    for (double s : seconds) {
        EXPECT_GT(s, 0.9);
        EXPECT_LT(s, 1.5);
    }
    // The late reply reaches the pty (at 1.2 s) while no one has it open.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(sendCommand(late.path(), "?Q\r").reply, "TAVRIN0AB304V04");
}

TEST(ConsoleExchange, PathsWithoutAHubGiveNoAtOnce) {
    const std::string file = testing::TempDir() + "hublink-" + std::to_string(::getpid()) + "-COM3";
    { std::ofstream create(file); }
    for (const std::string& path : {std::string("/nonexistent/ttyUSB9"), file}) {
        const auto start = Clock::now();
        EXPECT_EQ(sendCommand(path, "SPsecret1201000000\r").status, "No") << path;
        EXPECT_LT(secondsSince(start), 0.5) << path;
    }
    EXPECT_EQ(std::filesystem::file_size(file), 0u);  // no password written into a file
    std::filesystem::remove(file);
}

template <typename Action>
std::optional<PortError> thrown(Action action) {
    try {
        action();
    } catch (PortError e) {
        return e;
    }
    return std::nullopt;
}

TEST(SerialPortClass, MisuseThrowsItsError) {
    std::uint8_t byte = 0;
    EXPECT_EQ(thrown([] { SerialPort("").openPort(); }), PortError::invalidPath);
    EXPECT_EQ(thrown([] { SerialPort("/dev/null").openPort(false, false); }),
              PortError::mustReceiveOrTransmit);
    EXPECT_EQ(thrown([] { SerialPort("/nonexistent/tty").openPort(); }), PortError::failedToOpen);
    EXPECT_EQ(thrown([&] { SerialPort("/dev/null").readBytes(&byte, 1, 0.01); }),
              PortError::mustBeOpen);
    sim::VirtualHub hub;
    SerialPort port(hub.path());
    port.openPort();
    hub.vanish();
    EXPECT_EQ(thrown([&] { port.readUntilChar('\n', 0.5); }), PortError::deviceNotConnected);
}

}  // namespace
}  // namespace hublink
