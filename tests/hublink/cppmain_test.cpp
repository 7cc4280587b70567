// The windowed transport over a real pty against the virtual hub, and what
// both transports share: the port claim and clean descriptor handling.
#include "hublink/cppmain.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sim/virtual_hub.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "reply_reader.h"
#include "hublink/exchange.h"

namespace hublink {
namespace {

using Clock = std::chrono::steady_clock;
using sim::Fault;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

Fault fault(Fault::Kind k, int count = 0, int millis = 0, std::string raw = {}) {
    Fault f;
    f.kind = k;
    f.count = count;
    f.millis = millis;
    f.raw = std::move(raw);
    return f;
}

int openDescriptorCount() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) ++count;
        closedir(dir);
    }
    return count;
}

// The hub records a line before it answers; with no answer to wait for, poll
// (bounded) until it has been heard.
std::vector<std::string> linesHeard(const sim::VirtualHub& hub, std::size_t count) {
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    while (hub.received().size() < count && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return hub.received();
}

std::string text(const std::uint8_t* buf) { return reinterpret_cast<const char*>(buf); }

struct Reply {
    std::string result;
    std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(100, 0);
};

Reply windowExchange(const std::string& path, const std::string& cmd, int bound, int seconds,
                     int millis) {
    Reply r;
    r.result = CPPMain().SendCommand(path, cmd, r.buffer.data(), bound, 100, seconds, millis);
    return r;
}

TEST(WindowExchange, RepliesAndTheirResults) {
    const std::string forty(40, 'A');
    struct Case {
        const char* name;
        Fault fault;
        int bound;
        std::string result;
        std::string stored;  // the buffer read as text
    };
    const Case cases[] = {
        {"G and LF", fault(Fault::Kind::Raw, 0, 0, "G\n"), 32, "OK", "G\n"},
        {"40 bytes against 32", fault(Fault::Kind::Raw, 0, 0, forty + "\n"), 32,
         "Error Parameters", std::string(32, 'A')},
        {"LF at the bound", fault(Fault::Kind::Raw, 0, 0, "TAVRINM03104V04\n"), 16, "OK",
         "TAVRINM03104V04\n"},
        {"one short of the LF", fault(Fault::Kind::Raw, 0, 0, "TAVRINM03104V04\n"), 15,
         "Error Parameters", "TAVRINM03104V04"},
        {"split in pairs", fault(Fault::Kind::Split, 2, 10), 32, "OK", "TAVRINM03104V04\n"},
        {"high bytes stored", fault(Fault::Kind::HighBytes), 32, "OK",
         "TAVRINM03104V04\x80\xFF\n"},
        {"truncated", fault(Fault::Kind::Truncate, 5), 32, "Read Timeout", "TAVRI"},
        {"bound 0 reads nothing", fault(Fault::Kind::Raw, 0, 0, "G\n"), 0, "Error Parameters",
         ""},
    };
    sim::VirtualHub hub;
    for (const auto& c : cases) {
        hub.clearReceived();
        hub.pushFault(c.fault);
        const Reply r = windowExchange(hub.path(), "?Q\r", c.bound, 0, 300);
        EXPECT_EQ(r.result, c.result) << c.name;
        EXPECT_EQ(text(r.buffer.data()), c.stored) << c.name;
        EXPECT_EQ(linesHeard(hub, 1), std::vector<std::string>{"?Q\r"}) << c.name;
    }
    EXPECT_TRUE(hub.lineSettingsOk());
}

TEST(WindowExchange, SilenceEndsAfterOneByteWait) {
    sim::VirtualHub hub;
    hub.pushFault(fault(Fault::Kind::Silent));
    const auto start = Clock::now();
    const Reply r = windowExchange(hub.path(), "GP\r", 32, 0, 150);
    EXPECT_EQ(r.result, "Read Timeout");
    EXPECT_EQ(r.buffer[0], 0);
    EXPECT_GE(secondsSince(start), 0.14);
    EXPECT_LT(secondsSince(start), 0.6);
}

TEST(WindowExchange, VanishedDeviceEndsAtOnce) {
    sim::VirtualHub hub;
    hub.pushFault(fault(Fault::Kind::Vanish));
    const auto start = Clock::now();
    // End of data counts as silence, without waiting out the 2.1 s.
    EXPECT_EQ(windowExchange(hub.path(), "GP\r", 32, 2, 100).result, "Read Timeout");
    EXPECT_LT(secondsSince(start), 1.0);
    EXPECT_EQ(windowExchange(hub.path(), "GP\r", 32, 2, 100).result, "Open Port Error!");
}

TEST(WindowExchange, PortsThatCannotBeUsed) {
    struct Case {
        std::string path;
        std::string result;
        std::string stderrText;
    };
    const Case cases[] = {
        {"/nonexistent/ttyUSB0", "Open Port Error!", ""},
        {"", "Open Port Error!", ""},
        {"/dev/null", "Set Port Option Error!", "Error getting terminal attributes: "},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        const Reply r = windowExchange(c.path, "?Q\r", 32, 0, 100);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(r.result, c.result) << c.path;
        EXPECT_EQ(err.substr(0, c.stderrText.size()), c.stderrText) << c.path;
        if (c.stderrText.empty()) {
            EXPECT_EQ(err, "") << c.path;
        }
    }
}

TEST(WindowExchange, WrapperForwardsAndIgnoresReceiveLength) {
    sim::HubConfig config;
    config.firmware = "V03";
    sim::VirtualHub hub(config);
    std::uint8_t buf[100] = {};
    const std::string result =
        CPPMain_Wrapper().Send_Command_Wrapper(hub.path(), "?Q\r", buf, 32, -7, 0, 500);
    EXPECT_EQ(result, "OK");
    EXPECT_EQ(text(buf), "TAVRINM03104V03\n");
    EXPECT_EQ(hub.received(), std::vector<std::string>{"?Q\r"});
}

TEST(SetOpt, RefusalsInTheirOrder) {
    struct Case {
        int speed, dataBits;
        char parity;
        int stopBits;
        std::string message;
    };
    const Case cases[] = {
        {19200, 8, 'N', 1, "Unsupported baud rate"},
        {0, 8, 'N', 1, "Unsupported baud rate"},
        {9600, 8, 'X', 1, "Invalid parity"},
        {9600, 6, 'N', 1, "Invalid number of data bits"},
        {9600, 8, 'N', 3, "Invalid number of stop bits"},
        {19200, 6, 'X', 3, "Invalid number of data bits"},
        {19200, 8, 'X', 3, "Invalid parity"},
        {19200, 8, 'n', 0, "Unsupported baud rate"},
    };
    sim::VirtualHub hub;
    CPPMain io;
    const int fd = io.openPort(hub.path());
    ASSERT_GE(fd, 0);
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(io.Set_Opt(fd, c.speed, c.dataBits, c.parity, c.stopBits, 0), -1);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.substr(0, c.message.size() + 2), c.message + ": ") << c.message;
        EXPECT_EQ(err.back(), '\n');
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(io.Set_Opt(-1, 9600, 8, 'N', 1, 0), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("Invalid file descriptor: ", 0), 0u);
    ::close(fd);
}

TEST(SetOpt, AcceptedLineReachesTheDriver) {
    struct Case {
        int speed;
        speed_t code;
        int dataBits;
        char parity;
        int stopBits;
        int readTimer;
    };
    const Case cases[] = {
        {115200, B115200, 7, 'o', 2, 5},
        {2400, B2400, 8, 'N', 1, 0},
    };
    sim::VirtualHub hub;
    CPPMain io;
    const int fd = io.openPort(hub.path());
    ASSERT_GE(fd, 0);
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(io.Set_Opt(fd, c.speed, c.dataBits, c.parity, c.stopBits, c.readTimer), 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        termios t{};
        ASSERT_EQ(tcgetattr(fd, &t), 0);
        EXPECT_EQ(cfgetispeed(&t), c.code) << c.speed;
        EXPECT_EQ(cfgetospeed(&t), c.code) << c.speed;
        // A pty forces CS8 without parity-enable, so size and PARENB cannot be seen here.
        EXPECT_EQ((t.c_cflag & PARODD) != 0, c.parity == 'o') << c.speed;
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.stopBits == 2) << c.speed;
        EXPECT_EQ(t.c_cc[VTIME], c.readTimer) << c.speed;
    }
    ::close(fd);
}

TEST(Primitives, ReceiveLoopStopsOnTheFirstFailure) {
    // Script for the byte source: a byte, or 0 (timeout), or -1 (failure).
    struct Step {
        int rc;
        std::uint8_t byte;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        int bound;
        std::string result;
        std::string stored;
        std::size_t calls;
    };
    const std::vector<Step> noLf(40, Step{1, 'A'});
    const Case cases[] = {
        {"reply", {{1, 'G'}, {1, '\n'}}, 32, "OK", "G\n", 2},
        {"timeout mid-line", {{1, 'G'}, {0, 0}}, 32, "Read Timeout", "G", 2},
        {"failed read mid-line", {{1, 'G'}, {-1, 0}, {1, '\n'}}, 32, "Read Error", "G", 2},
        {"failed first read", {{-1, 0}, {-1, 0}}, 32, "Read Error", "", 1},
        {"bound reached", noLf, 32, "Error Parameters", std::string(32, 'A'), 32},
        {"bound 0", {{1, 'G'}}, 0, "Error Parameters", "", 0},
        {"negative bound", {{1, 'G'}}, -3, "Error Parameters", "", 0},
    };
    for (const auto& c : cases) {
        std::size_t calls = 0;
        const ByteSource source = [&](std::uint8_t& byte) {
            const Step step = calls < c.steps.size() ? c.steps[calls] : Step{0, 0};
            ++calls;
            if (step.rc == 1) byte = step.byte;
            return step.rc;
        };
        std::uint8_t buf[64] = {};
        EXPECT_EQ(receiveReplyLine(source, buf, c.bound), c.result) << c.name;
        EXPECT_EQ(text(buf), c.stored) << c.name;
        EXPECT_EQ(calls, c.calls) << c.name;
    }
}

extern "C" void ignoreSignal(int) {}

TEST(Primitives, SignalDoesNotShortenTheByteWait) {
    sim::VirtualHub hub;
    CPPMain io;
    const int fd = io.openPort(hub.path());
    ASSERT_GE(fd, 0);
    struct sigaction action {}, previous{};
    action.sa_handler = ignoreSignal;  // no SA_RESTART: poll really sees EINTR
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    std::atomic<bool> waiting{false};
    int rc = -2;
    double elapsed = 0;
    std::thread reader([&] {
        std::uint8_t byte = 0;
        waiting = true;
        const auto start = Clock::now();
        rc = io.UART_Recv(fd, &byte, 1, 0, 300);
        elapsed = secondsSince(start);
    });
    while (!waiting) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    pthread_kill(reader.native_handle(), SIGUSR1);
    reader.join();
    sigaction(SIGUSR1, &previous, nullptr);
    ::close(fd);
    EXPECT_EQ(rc, 0);
    EXPECT_GE(elapsed, 0.29);
    EXPECT_LT(elapsed, 0.8);
}

TEST(Primitives, PollingReadForTheLoader) {
    sim::VirtualHub hub;
    CPPMain io;
    std::uint8_t buf[64] = {};
    EXPECT_EQ(io.read_with_timeout(-1, buf, sizeof buf, 0.0), 0);  // no time, no read
    EXPECT_EQ(io.read_with_timeout(-1, buf, sizeof buf, 0.1), -1);
    EXPECT_EQ(io.UART_Recv(-1, buf, sizeof buf, 0, 10), -1);
    EXPECT_EQ(io.UART_Recv(1 << 20, buf, sizeof buf, 0, 10), -1);  // not open

    const int fd = io.openPort(hub.path());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(io.Set_Opt(fd, 9600, 8, 'N', 1, 0), 0);
    auto start = Clock::now();
    EXPECT_EQ(io.read_with_timeout(fd, buf, sizeof buf, 0.1), 0);
    EXPECT_GE(secondsSince(start), 0.09);
    EXPECT_LT(secondsSince(start), 0.5);

    const std::uint8_t cmd[] = {'G', 'P', '\r'};
    EXPECT_EQ(io.UART_Send(fd, cmd, sizeof cmd), 3);
    const int n = io.read_with_timeout(fd, buf, sizeof buf, 1.0);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), std::size_t(n)),
              std::string("F0FFFFFF\n").substr(0, std::size_t(n)));
    ::close(fd);
    EXPECT_EQ(io.UART_Send(fd, cmd, sizeof cmd), 0);  // closed: nothing written
}

// ---- Both transports ------------------------------------------------------

TEST(BothTransports, NoDescriptorOutlivesAnExchange) {
    sim::VirtualHub hub;
    const int before = openDescriptorCount();
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(sendCommand(hub.path(), "?Q\r").ok());
        EXPECT_EQ(windowExchange(hub.path(), "GP\r", 32, 0, 300).result, "OK");
        hub.pushFault(fault(Fault::Kind::HighBytes));
        EXPECT_EQ(sendCommand(hub.path(), "?Q\r").status, "No");
        hub.pushFault(fault(Fault::Kind::Raw, 0, 0, std::string(40, 'x')));
        EXPECT_EQ(windowExchange(hub.path(), "?Q\r", 32, 0, 300).result, "Error Parameters");
        hub.pushFault(fault(Fault::Kind::Silent));
        EXPECT_EQ(windowExchange(hub.path(), "?Q\r", 32, 0, 50).result, "Read Timeout");
        EXPECT_EQ(sendCommand("/nonexistent/tty", "?Q\r").status, "No");
        testing::internal::CaptureStderr();
        EXPECT_EQ(windowExchange("/dev/null", "?Q\r", 32, 0, 50).result,
                  "Set Port Option Error!");
        testing::internal::GetCapturedStderr();
    }
    {
        sim::VirtualHub gone;
        gone.pushFault(fault(Fault::Kind::Vanish));
        EXPECT_EQ(sendCommand(gone.path(), "GP\r").status, "No");
        sim::VirtualHub gone2;
        gone2.pushFault(fault(Fault::Kind::Vanish));
        EXPECT_NE(windowExchange(gone2.path(), "GP\r", 32, 0, 300).result, "OK");
    }
    EXPECT_EQ(openDescriptorCount(), before);
    EXPECT_TRUE(hub.lineSettingsOk());
}

TEST(BothTransports, ConcurrentExchangesNeverInterleave) {
    sim::VirtualHub hub;
    constexpr int kRounds = 40;
    int consoleBad = 0;
    int windowBad = 0;
    std::thread console([&] {
        for (int i = 0; i < kRounds; ++i)
            if (sendCommand(hub.path(), "?Q\r").reply != "TAVRINM03104V04") ++consoleBad;
    });
    std::thread window([&] {
        for (int i = 0; i < kRounds; ++i) {
            const Reply r = windowExchange(hub.path(), "GP\r", 32, 0, 500);
            if (r.result != "OK" || text(r.buffer.data()) != "F0FFFFFF\n") ++windowBad;
        }
    });
    console.join();
    window.join();
    EXPECT_EQ(consoleBad, 0);
    EXPECT_EQ(windowBad, 0);
    const auto lines = hub.received();
    EXPECT_EQ(lines.size(), 2u * kRounds);
    for (const auto& line : lines) EXPECT_TRUE(line == "?Q\r" || line == "GP\r") << line;
}

TEST(BothTransports, WaitForABriefHolderOfThePort) {
    sim::VirtualHub hub;
    const int holder = ::open(hub.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        ::close(holder);
    });
    const auto start = Clock::now();
    const Exchange ex = sendCommand(hub.path(), "?Q\r");
    release.join();
    EXPECT_TRUE(ex.ok());
    EXPECT_GE(secondsSince(start), 0.14);
}

TEST(BothTransports, GiveUpOnAPortHeldTooLong) {
    sim::VirtualHub hub;
    const int holder = ::open(hub.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    const int before = openDescriptorCount();
    Exchange console;
    std::string window;
    double consoleTime = 0;
    const auto start = Clock::now();
    // Both at once: the claim's wait is the only slow part.
    std::thread t([&] {
        console = sendCommand(hub.path(), "?Q\r");
        consoleTime = secondsSince(start);
    });
    window = windowExchange(hub.path(), "?Q\r", 32, 0, 500).result;
    const double windowTime = secondsSince(start);
    t.join();
    EXPECT_EQ(console.status, "No");
    EXPECT_EQ(window, "Open Port Error!");
    for (double s : {consoleTime, windowTime}) {
        EXPECT_GE(s, 2.9);
        EXPECT_LT(s, 4.0);
    }
    EXPECT_TRUE(hub.received().empty());
    EXPECT_EQ(openDescriptorCount(), before);
    ::close(holder);
}

}  // namespace
}  // namespace hublink
