// The line itself: pieces, the record of lines, line settings, faults,
// wire pacing and the vanished device.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "line_assembler.h"
#include "pty_client.h"
#include "sim/virtual_hub.h"

namespace {

using simtest::PtyClient;
using sim::Fault;
using sim::HubConfig;
using sim::VirtualHub;

const std::string kIdentify = "TAVRINM03104V04\n";

TEST(LineAssembler, CutsLinesAtCrWhateverThePieces) {
    struct Case {
        const char* what;
        std::vector<std::string> pieces;
        std::vector<std::string> lines;
    };
    const std::string longest(sim::LineAssembler::kMaxLine, 'A');
    const Case cases[] = {
        {"one piece", {"?Q\r"}, {"?Q"}},
        {"byte by byte", {"G", "P", "\r"}, {"GP"}},
        {"two lines in one piece", {"?Q\rGP\r"}, {"?Q", "GP"}},
        {"LF ignored anywhere", {"\nG\nP\r\n"}, {"GP"}},
        {"no CR yet", {"?Q"}, {}},
        {"longest line kept", {longest, "\r"}, {longest}},
        {"overlong line dropped, next kept", {longest, "B", "\r?Q\r"}, {"?Q"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::LineAssembler assembler;
        std::vector<std::string> lines;
        for (const std::string& piece : c.pieces)
            for (std::string& line : assembler.feed(piece)) lines.push_back(line);
        EXPECT_EQ(lines, c.lines);
    }
}

TEST(HubWire, LinesArriveInPiecesAndAreRecordedWithTheirCr) {
    VirtualHub hub;
    PtyClient client(hub.path());
    client.send("G");
    ::usleep(10000);  // shapes the input: the hub must see two reads
    client.send("P\r\n");
    EXPECT_EQ(client.readReply(), "F0FFFFFF\n");
    EXPECT_EQ(client.exchange(std::string(300, 'A'), 60), "");  // the LF-free overlong line is dropped
    EXPECT_EQ(client.exchange("?Q"), kIdentify);
    EXPECT_EQ(hub.received(), (std::vector<std::string>{"GP\r", "?Q\r"}));
    hub.clearReceived();
    EXPECT_TRUE(hub.received().empty());
}

// Descriptors of this process open on `path`: the hub runs in it.
int openCount(const std::string& path) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == path) ++count;
    }
    return count;
}

TEST(HubWire, PtyIsRawAt9600BeforeAnyClientConfiguresIt) {
    VirtualHub hub;
    EXPECT_EQ(openCount(hub.path()), 1);  // the hub's own slave, so no client hangs it up
    int fd = ::open(hub.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios tio{};
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B9600));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
    ::close(fd);
    // A client's close must not hang the hub up.
    PtyClient next(hub.path());
    EXPECT_EQ(next.exchange("?Q"), kIdentify);
}

// A reply that no client read waits for the next one to open the port (the
// tools discard such leftovers after opening; their tests need them there).
TEST(HubWire, AnUnreadReplyReachesTheNextOpener) {
    VirtualHub hub;
    {
        PtyClient gone(hub.path());
        gone.send("?Q\r");
    }
    PtyClient next(hub.path());
    EXPECT_EQ(next.readReply(), kIdentify);
}

// A pty forces CS8 and clears PARENB on every tcsetattr, so parity and
// character size cannot be got wrong there and have no rows here.
TEST(HubWire, LineSettingsOkOnlyForRaw8N1At9600) {
    struct Case {
        const char* what;
        void (*spoil)(termios&);
        bool ok;
    };
    const Case cases[] = {
        {"raw 8N1 9600", [](termios&) {}, true},
        {"19200 baud", [](termios& t) { cfsetspeed(&t, B19200); }, false},
        {"two stop bits", [](termios& t) { t.c_cflag |= CSTOPB; }, false},
        {"canonical", [](termios& t) { t.c_lflag |= ICANON; }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VirtualHub hub;
        PtyClient client(hub.path());
        EXPECT_EQ(client.exchange("?Q"), kIdentify);
        termios good{};
        tcgetattr(client.fd(), &good);
        termios spoilt = good;
        c.spoil(spoilt);
        tcsetattr(client.fd(), TCSANOW, &spoilt);
        EXPECT_EQ(client.exchange("?Q"), kIdentify);
        tcsetattr(client.fd(), TCSANOW, &good);
        EXPECT_EQ(client.exchange("?Q"), kIdentify);  // one bad line is enough
        EXPECT_EQ(hub.lineSettingsOk(), c.ok);
    }
}

Fault fault(Fault::Kind kind, int millis = 0, int count = 0, std::string raw = {}) {
    return Fault{kind, millis, count, std::move(raw)};
}

TEST(HubFaults, EachKindChangesOneReplyOnly) {
    struct Case {
        const char* what;
        Fault fault;
        std::string line;
        std::string bytes;  // all that arrives within the wait
        int minMillis;
        std::size_t minPieces;
    };
    const Case cases[] = {
        {"silent", fault(Fault::Kind::Silent), "?Q", "", 0, 0},
        {"delay", fault(Fault::Kind::Delay, 120), "?Q", kIdentify, 120, 1},
        {"split", fault(Fault::Kind::Split, 15, 4), "?Q", kIdentify, 45, 2},
        {"truncate", fault(Fault::Kind::Truncate, 0, 4), "?Q", "TAVR", 0, 1},
        {"garble", fault(Fault::Kind::Garble), "?Q", "#?garbled\n", 0, 1},
        {"high bytes", fault(Fault::Kind::HighBytes), "GP", "F0FFFFFF\x80\xFF\n", 0, 1},
        {"raw", fault(Fault::Kind::Raw, 0, 0, "G12\r\n"), "GP", "G12\r\n", 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VirtualHub hub;
        PtyClient client(hub.path());
        hub.pushFault(c.fault);
        auto start = simtest::Clock::now();
        client.send(c.line + "\r");
        std::vector<std::string> pieces = client.readPieces(c.bytes.ends_with('\n') ? 1000 : 80);
        std::string bytes;
        for (const std::string& piece : pieces) bytes += piece;
        EXPECT_EQ(bytes, c.bytes);
        EXPECT_GE(simtest::millisSince(start), c.minMillis);
        EXPECT_GE(pieces.size(), c.minPieces);
        EXPECT_EQ(client.exchange("?Q"), kIdentify);  // used up
    }
}

TEST(HubFaults, QueuedFaultsGoFirstThenThePersistentOne) {
    VirtualHub hub;
    PtyClient client(hub.path());
    hub.pushFault(fault(Fault::Kind::Truncate, 0, 3));
    hub.pushFault(fault(Fault::Kind::Raw, 0, 0, "E99\n"));
    hub.setPersistentFault(fault(Fault::Kind::Garble));
    EXPECT_EQ(client.exchange("?Q", 80), "TAV");
    EXPECT_EQ(client.exchange("?Q"), "E99\n");
    EXPECT_EQ(client.exchange("?Q"), "#?garbled\n");
    EXPECT_EQ(client.exchange("?Q"), "#?garbled\n");
    hub.clearFaults();
    EXPECT_EQ(client.exchange("?Q"), kIdentify);
}

TEST(HubFaults, AnUnansweredCommandStillTakesEffect) {
    VirtualHub hub;
    PtyClient client(hub.path());
    hub.pushFault(fault(Fault::Kind::Silent));
    client.send("SPkiwi    03000000\r");
    EXPECT_TRUE(simtest::eventually([&] { return hub.received().size() == 1; }));
    EXPECT_EQ(hub.states(), 0x03u);
}

TEST(HubWire, WireTimingPacesRepliesByteByByte) {
    HubConfig config;
    config.wireTiming = true;
    VirtualHub hub(config);
    PtyClient client(hub.path());
    auto start = simtest::Clock::now();
    client.send("GP\r");
    std::vector<std::string> pieces = client.readPieces(1000);
    int millis = simtest::millisSince(start);
    std::string reply;
    for (const std::string& piece : pieces) reply += piece;
    EXPECT_EQ(reply, "F0FFFFFF\n");
    EXPECT_GE(millis, 9);  // 9 bytes of 1.04 ms each
    EXPECT_GE(pieces.size(), 3u);
}

// After the device goes, the client's descriptor is hung up: poll reports it
// at once and a read fails (or reports the end), and the node is gone.
void expectHungUp(int fd, const std::string& path) {
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));
    char byte;
    errno = 0;
    ssize_t n = ::read(fd, &byte, 1);
    EXPECT_TRUE(n == 0 || (n < 0 && errno == EIO)) << n << " " << errno;
    struct stat st {};
    ASSERT_EQ(::fstat(fd, &st), 0);
    EXPECT_EQ(st.st_nlink, 0u);
    EXPECT_NE(::stat(path.c_str(), &st), 0);
}

TEST(HubVanish, OnDemandClosesTheDevice) {
    VirtualHub hub;
    PtyClient client(hub.path());
    struct stat st {};
    ASSERT_EQ(::fstat(client.fd(), &st), 0);
    ASSERT_EQ(st.st_nlink, 1u);
    hub.vanish();
    EXPECT_TRUE(hub.vanished());
    expectHungUp(client.fd(), hub.path());
    hub.vanish();  // a second time is harmless
}

TEST(HubVanish, AsAFaultAfterReadingTheCommand) {
    VirtualHub hub;
    PtyClient client(hub.path());
    hub.pushFault(fault(Fault::Kind::Vanish));
    client.send("?Q\r");
    expectHungUp(client.fd(), hub.path());
    EXPECT_TRUE(hub.vanished());
    EXPECT_EQ(hub.received(), std::vector<std::string>{"?Q\r"});
}

TEST(HubVanish, CutsAPendingDelayShort) {
    VirtualHub hub;
    PtyClient client(hub.path());
    hub.pushFault(fault(Fault::Kind::Delay, 5000));
    client.send("?Q\r");
    ASSERT_TRUE(simtest::eventually([&] { return hub.received().size() == 1; }));
    auto start = simtest::Clock::now();
    hub.vanish();
    EXPECT_LT(simtest::millisSince(start), 1000);
    expectHungUp(client.fd(), hub.path());
}

std::size_t openDescriptors() {
    auto fds = std::filesystem::directory_iterator("/proc/self/fd");
    return std::size_t(std::distance(begin(fds), end(fds)));
}

TEST(HubLifetime, EveryDescriptorIsClosedWhateverTheEnd) {
    std::size_t before = openDescriptors();
    {
        VirtualHub served;
        PtyClient client(served.path());
        EXPECT_EQ(client.exchange("?Q"), kIdentify);
    }
    { VirtualHub vanished; vanished.vanish(); }
    HubConfig bad;
    bad.ports = 0;
    EXPECT_THROW(VirtualHub{bad}, std::invalid_argument);
    EXPECT_EQ(openDescriptors(), before);
}

}  // namespace
