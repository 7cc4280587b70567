// The windowed transport over a real pty against the virtual hub, and what
// both transports share: the port claim and clean descriptor handling.
#include "hublink/cppmain.h"

#include <pty.h>
#include <sys/file.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "hub_test_util.h"
#include "hublink/exchange.h"
#include "exchange/reply_reader.h"

namespace hublink {
namespace {

using namespace hubtest;

struct Reply {
    std::string result;
    std::uint8_t buffer[100] = {};
    std::string text() const { return reinterpret_cast<const char*>(buffer); }
};

// Through the window code's bridge: the bound goes on, the receive length has no effect.
Reply windowExchange(const std::string& path, const std::string& cmd, int bound = 32,
                     int millis = 300) {
    Reply r;
    r.result = CPPMain_Wrapper().Send_Command_Wrapper(path, cmd, r.buffer, bound, -7, 0, millis);
    return r;
}

TEST(WindowExchange, RepliesAndTheirResults) {
    struct Case {
        const char* name;
        sim::Fault fault;
        int bound;
        std::string result, stored;
        bool waits = false;  // a byte's wait ran out
    };
    const Case cases[] = {
        {"G and LF", raw("G\n"), 32, "OK", "G\n"},
        {"40 bytes against 32", raw(std::string(40, 'A') + "\n"), 32, "Error Parameters",
         std::string(32, 'A')},
        {"LF at the bound", fault(Kind::Delay), 16, "OK", "TAVRIN0AB304V04\n"},
        {"high bytes stored", fault(Kind::HighBytes), 32, "OK", "TAVRIN0AB304V04\x80\xFF\n"},
        {"cut short", fault(Kind::Truncate, 0, 5), 32, "Read Timeout", "TAVRI", true},
        {"bound 0 reads nothing", fault(Kind::Silent), 0, "Error Parameters", ""},
        {"device vanishes", fault(Kind::Vanish), 32, "Read Timeout", ""},  // end of data
    };
    sim::VirtualHub hub({.record = true});
    spoilLine(hub.path());
    for (const auto& c : cases) {
        hub.pushFault(c.fault);
        const auto start = Clock::now();
        const Reply r = windowExchange(hub.path(), "?Q\r", c.bound);
        EXPECT_EQ(r.result, c.result) << c.name;
        EXPECT_EQ(r.text(), c.stored) << c.name;
        EXPECT_EQ(secondsSince(start) > 0.29, c.waits) << c.name;
        EXPECT_LT(secondsSince(start), 0.6) << c.name;
    }
    EXPECT_EQ(hub.received(), std::vector<std::string>(std::size(cases), "?Q\r"));
    EXPECT_TRUE(hub.lineSettingsOk());
}

TEST(WindowExchange, PortsThatCannotBeUsed) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(windowExchange("/nonexistent/ttyUSB0", "?Q\r").result, "Open Port Error!");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    const long before = openDescriptorCount();
    testing::internal::CaptureStderr();
    EXPECT_EQ(windowExchange("/dev/null", "?Q\r").result, "Set Port Option Error!");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(err.starts_with("Error getting terminal attributes: ")) << err;
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST(SetOpt, RefusesInItsOrderAndAppliesTheRest) {
    struct Refusal {
        int speed, dataBits;
        char parity;
        int stopBits;
        std::string message;
    };
    // Each row's message is the first bad value in the checking order.
    const Refusal refusals[] = {
        {19200, 6, 'X', 3, "Invalid number of data bits"},
        {19200, 8, 'X', 3, "Invalid parity"},
        {19200, 8, 'n', 3, "Unsupported baud rate"},
        {9600, 8, 'N', 3, "Invalid number of stop bits"},
    };
    sim::VirtualHub hub;
    CPPMain io;
    const int fd = io.openPort(hub.path());
    ASSERT_GE(fd, 0);
    for (const auto& c : refusals) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(io.Set_Opt(fd, c.speed, c.dataBits, c.parity, c.stopBits, 0), -1);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(err.starts_with(c.message + ": ") && err.ends_with('\n')) << err;
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(io.Set_Opt(-1, 9600, 8, 'N', 1, 0), -1);
    EXPECT_TRUE(testing::internal::GetCapturedStderr().starts_with("Invalid file descriptor: "));

    // A pty forces CS8 without parity-enable, so size and PARENB cannot be seen here.
    ASSERT_EQ(io.Set_Opt(fd, 115200, 7, 'o', 2, 5), 0);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));
    EXPECT_EQ(t.c_cflag & (PARODD | CSTOPB), tcflag_t(PARODD | CSTOPB));
    EXPECT_EQ(t.c_cc[VTIME], 5);
    ::close(fd);
}

// A failed read ends the reply at once and stores nothing for itself.
TEST(ReplyReader, StopsOnAFailedRead) {
    const std::pair<int, char> steps[] = {{1, 'G'}, {-1, 'X'}, {1, '\n'}, {0, 'Y'}};
    std::size_t calls = 0;
    const ByteSource source = [&](std::uint8_t& byte) {
        const auto step = steps[std::min<std::size_t>(calls++, 3)];
        byte = static_cast<std::uint8_t>(step.second);  // even when the read failed
        return step.first;
    };
    std::uint8_t buf[8] = {};
    EXPECT_EQ(receiveReplyLine(source, buf, 32), "Read Error");
    EXPECT_STREQ(reinterpret_cast<const char*>(buf), "G");
    EXPECT_EQ(calls, 2u);
}

// ---- Both transports ------------------------------------------------------

TEST(BothTransports, ConcurrentExchangesNeverInterleaveNorLeak) {
    sim::VirtualHub hub({.record = true});
    const long before = openDescriptorCount();
    constexpr int kRounds = 40;
    int bad = 0;
    std::thread console([&] {
        for (int i = 0; i < kRounds; ++i)
            bad += sendCommand(hub.path(), "?Q\r").reply != "TAVRIN0AB304V04";
    });
    for (int i = 0; i < kRounds; ++i) {
        const Reply r = windowExchange(hub.path(), "GP\r", 32, 500);
        EXPECT_EQ(r.result + r.text(), "OKF0FFFFFF\n");
    }
    console.join();
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(hub.received().size(), 2u * kRounds);
    EXPECT_EQ(openDescriptorCount(), before);
}

// Both at once against a port held for good: the claim's wait is the only slow part.
TEST(BothTransports, GiveUpOnAPortHeldTooLong) {
    sim::VirtualHub hub({.record = true});
    const int holder = ::open(hub.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    const long before = openDescriptorCount();
    const auto start = Clock::now();
    std::thread window(
        [&] { EXPECT_EQ(windowExchange(hub.path(), "?Q\r").result, "Open Port Error!"); });
    EXPECT_EQ(sendCommand(hub.path(), "?Q\r").status, "No");
    window.join();
    EXPECT_GE(secondsSince(start), 9.9);
    EXPECT_LT(secondsSince(start), 11.5);
    EXPECT_TRUE(hub.received().empty());
    EXPECT_EQ(openDescriptorCount(), before);
    ::close(holder);
}

}  // namespace
}  // namespace hublink

namespace hublink {
namespace {

// portdesk's exchange tells a line that cannot be set up only by its result.
TEST(DeskExchange, SetUpFailuresOnlyInTheResult) {
    std::uint8_t buffer[33] = {};
    testing::internal::CaptureStderr();
    EXPECT_EQ(CPPMain_Wrapper().Send_Command_Wrapper("/dev/null", "?Q\r", buffer, 0, 100),
              "Set Port Option Error!");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    testing::internal::CaptureStderr();
    EXPECT_EQ(CPPMain_Wrapper().Send_Command_Wrapper("/dev/null", "?Q\r", buffer, 32, 32, 0, 100),
              "Set Port Option Error!");
    EXPECT_NE(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
}  // namespace hublink

namespace hublink {
namespace {

// A terminal that is no hub (the user's own, say) is left as it was found.
TEST(AllTransports, PutTheLineBackAsFound) {
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    char name[128];
    ASSERT_EQ(::ptsname_r(master, name, sizeof name), 0);
    termios cooked{};
    ::tcgetattr(slave, &cooked);
    cooked.c_lflag |= ICANON | ECHO;
    ::cfsetspeed(&cooked, B38400);
    ASSERT_EQ(::tcsetattr(slave, TCSANOW, &cooked), 0);
    const auto unchanged = [&] {
        termios now{};
        ::tcgetattr(slave, &now);
        return (now.c_lflag & (ICANON | ECHO)) == (ICANON | ECHO) && ::cfgetospeed(&now) == B38400;
    };
    std::uint8_t buffer[40] = {};
    EXPECT_EQ(CPPMain_Wrapper().Send_Command_Wrapper(name, "?Q\r", buffer, 32, 32, 0, 50), "Read Timeout");
    EXPECT_TRUE(unchanged());
    EXPECT_EQ(CPPMain_Wrapper().Send_Command_Wrapper(name, "?Q\r", buffer, 0, 50), "Read Timeout");
    EXPECT_TRUE(unchanged());
    EXPECT_EQ(sendCommand(name, "?Q\r").status, "No");
    EXPECT_TRUE(unchanged());
    ::close(slave);
    ::close(master);
}

}  // namespace
}  // namespace hublink
