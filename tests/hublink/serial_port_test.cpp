// The console transport over a real pty against the virtual hub.
#include "hublink/serial_port.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <sim/virtual_hub.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "hublink/exchange.h"

namespace hublink {
namespace {

using Clock = std::chrono::steady_clock;
using sim::Fault;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

Fault raw(std::string bytes) {
    Fault f;
    f.kind = Fault::Kind::Raw;
    f.raw = std::move(bytes);
    return f;
}

Fault kind(Fault::Kind k, int count = 0, int millis = 0) {
    Fault f;
    f.kind = k;
    f.count = count;
    f.millis = millis;
    return f;
}

TEST(ConsoleExchange, RepliesThatArrive) {
    struct Case {
        const char* name;
        Fault fault;
        std::string status;
        std::string reply;
    };
    const Case cases[] = {
        {"G and LF", raw("G\n"), "OK", "G"},
        {"CR before LF is kept", raw("GF4FFFFFF\r\n"), "OK", "GF4FFFFFF\r"},
        {"split in 3-byte pieces", kind(Fault::Kind::Split, 3, 20), "OK", "TAVRINM03104V04"},
        {"delayed by 300 ms", kind(Fault::Kind::Delay, 0, 300), "OK", "TAVRINM03104V04"},
        {"garbled", kind(Fault::Kind::Garble), "OK", "#?garbled"},
        {"bytes 0x80 and 0xFF", kind(Fault::Kind::HighBytes), "No", ""},
        {"only a LF", raw("\n"), "No", ""},
    };
    sim::VirtualHub hub;
    for (const auto& c : cases) {
        hub.pushFault(c.fault);
        const Exchange ex = sendCommand(hub.path(), "?Q\r");
        EXPECT_EQ(ex.status, c.status) << c.name;
        EXPECT_EQ(ex.reply, c.reply) << c.name;
    }
    EXPECT_TRUE(hub.lineSettingsOk());
}

TEST(ConsoleExchange, SilenceCostsOneSecond) {
    struct Case {
        const char* name;
        Fault fault;
        std::string status;
        std::string reply;
        Exchange got;
        double seconds = 0;
    };
    Case cases[] = {
        {"silent", kind(Fault::Kind::Silent), "No", "", {}},
        // A line without LF is still a reply when the second runs out.
        {"no LF", raw("G01FF"), "OK", "G01FF", {}},
    };
    // One hub each, run side by side: the second is the slow part.
    sim::VirtualHub hubs[2];
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) {
        hubs[i].pushFault(cases[i].fault);
        threads.emplace_back([&, i] {
            const auto start = Clock::now();
            cases[i].got = sendCommand(hubs[i].path(), "GP\r");
            cases[i].seconds = secondsSince(start);
        });
    }
    for (auto& t : threads) t.join();
    for (const auto& c : cases) {
        EXPECT_EQ(c.got.status, c.status) << c.name;
        EXPECT_EQ(c.got.reply, c.reply) << c.name;
        EXPECT_GT(c.seconds, 0.9) << c.name;
        EXPECT_LT(c.seconds, 1.5) << c.name;
    }
}

TEST(ConsoleExchange, SendsTheLineUnchangedAndTheHubActsOnIt) {
    sim::HubConfig config;
    config.states = 0;
    sim::VirtualHub hub(config);
    const Exchange ex = sendCommand(hub.path(), "SPkiwi    F4FFFFFF\r");
    EXPECT_EQ(ex.status, "OK");
    EXPECT_EQ(ex.reply, "GF4FFFFFF");
    ASSERT_EQ(hub.received().size(), 1u);
    EXPECT_EQ(hub.received()[0], "SPkiwi    F4FFFFFF\r");
    EXPECT_EQ(hub.states() & 0xF, 0x4u);
    EXPECT_TRUE(hub.lineSettingsOk());
}

TEST(ConsoleExchange, StaleInputIsNotTakenForTheReply) {
    sim::VirtualHub hub;
    // A reply that comes after the console gave up must not answer the next command.
    hub.pushFault(kind(Fault::Kind::Delay, 0, 1200));
    EXPECT_EQ(sendCommand(hub.path(), "?Q\r").status, "No");
    // Let the late reply reach the pty while no one has it open.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const Exchange ex = sendCommand(hub.path(), "GP\r");
    EXPECT_EQ(ex.reply, "F0FFFFFF");
}

TEST(ConsoleExchange, FailuresBecomeNo) {
    sim::VirtualHub hub;
    struct Case {
        const char* name;
        std::string path;
    };
    const Case cases[] = {
        {"empty path", ""},
        {"missing device", "/nonexistent/ttyUSB9"},
        {"a directory", "/tmp"},
    };
    for (const auto& c : cases) {
        const auto start = Clock::now();
        const Exchange ex = sendCommand(c.path, "?Q\r");
        EXPECT_EQ(ex.status, "No") << c.name;
        EXPECT_EQ(ex.reply, "") << c.name;
        EXPECT_LT(secondsSince(start), 0.5) << c.name;
    }
    EXPECT_TRUE(hub.received().empty());
}

TEST(ConsoleExchange, WritesNothingIntoAFileThatIsNoSerialLine) {
    const std::string path = testing::TempDir() + "COM3";
    { std::ofstream create(path); }
    const Exchange ex = sendCommand(path, "SPsecret1201000000\r");
    EXPECT_EQ(ex.status, "No");
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    std::filesystem::remove(path);
}

TEST(ConsoleExchange, DeviceVanishingMidReadGivesNoAtOnce) {
    sim::VirtualHub hub;
    hub.pushFault(kind(Fault::Kind::Vanish));
    const auto start = Clock::now();
    const Exchange ex = sendCommand(hub.path(), "GP\r");
    EXPECT_EQ(ex.status, "No");
    EXPECT_EQ(ex.reply, "");
    EXPECT_LT(secondsSince(start), 0.9);  // noticed, not waited out
    EXPECT_EQ(sendCommand(hub.path(), "GP\r").status, "No");
}

TEST(SerialPortClass, MisuseThrowsItsError) {
    struct Case {
        const char* name;
        std::function<void(SerialPort&)> action;
        std::string path;
        PortError error;
    };
    std::uint8_t byte = 0;
    const Case cases[] = {
        {"empty path", [](SerialPort& p) { p.openPort(); }, "", PortError::invalidPath},
        {"no direction", [](SerialPort& p) { p.openPort(false, false); }, "/dev/null",
         PortError::mustReceiveOrTransmit},
        {"cannot open", [](SerialPort& p) { p.openPort(); }, "/nonexistent/tty",
         PortError::failedToOpen},
        {"read closed", [&](SerialPort& p) { p.readBytes(&byte, 1, 0.01); }, "/dev/null",
         PortError::mustBeOpen},
    };
    for (const auto& c : cases) {
        SerialPort port(c.path);
        try {
            c.action(port);
            ADD_FAILURE() << c.name << ": nothing thrown";
        } catch (PortError e) {
            EXPECT_EQ(e, c.error) << c.name;
        }
        EXPECT_FALSE(port.isOpen()) << c.name;
    }
}

TEST(SerialPortClass, ReadsAfterTheDeviceWentAway) {
    sim::VirtualHub hub;
    SerialPort port(hub.path());
    port.openPort();
    hub.vanish();
    std::uint8_t byte = 0;
    EXPECT_THROW(port.readBytes(&byte, 1, 0.1), PortError);
    try {
        port.readUntilChar('\n', 0.5);
        ADD_FAILURE() << "nothing thrown";
    } catch (PortError e) {
        EXPECT_EQ(e, PortError::deviceNotConnected);
    }
}

TEST(SerialPortClass, SettingsReachTheLine) {
    struct Case {
        BaudRate rate;
        speed_t speed;
        ParityType parity;
        bool twoStop;
        DataBitsSize bits;
        bool hwFlow, swFlow, opost;
    };
    const Case cases[] = {
        {BaudRate::baud9600, B9600, ParityType::none, false, DataBitsSize::bits8, false, false, false},
        {BaudRate::baud19200, B19200, ParityType::even, true, DataBitsSize::bits7, true, false, true},
        {BaudRate::baud115200, B115200, ParityType::odd, false, DataBitsSize::bits5, false, true, false},
    };
    sim::VirtualHub hub;
    for (const auto& c : cases) {
        SerialPort port(hub.path());
        port.openPort();
        port.setSettings(c.rate, c.rate, 3, 7, c.parity, c.twoStop, c.bits, c.hwFlow, c.swFlow,
                         c.opost);
        const int probe = ::open(hub.path().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(probe, 0);
        termios t{};
        ASSERT_EQ(tcgetattr(probe, &t), 0);
        ::close(probe);
        const int rate = static_cast<int>(c.rate);
        EXPECT_EQ(cfgetispeed(&t), c.speed) << rate;
        EXPECT_EQ(cfgetospeed(&t), c.speed) << rate;
        // A pty forces CS8 without parity-enable, so size and PARENB cannot be seen here.
        EXPECT_EQ((t.c_cflag & PARODD) != 0, c.parity == ParityType::odd) << rate;
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStop) << rate;
        EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.hwFlow) << rate;
        EXPECT_EQ((t.c_iflag & IXON) != 0, c.swFlow) << rate;
        EXPECT_EQ((t.c_oflag & OPOST) != 0, c.opost) << rate;
        EXPECT_EQ(t.c_cc[VMIN], 3) << rate;
        EXPECT_EQ(t.c_cc[VTIME], 7) << rate;
    }
    // The exchange puts the line back to 9600 8N1 raw.
    EXPECT_TRUE(sendCommand(hub.path(), "?Q\r").ok());
    EXPECT_TRUE(hub.lineSettingsOk());
}

}  // namespace
}  // namespace hublink
