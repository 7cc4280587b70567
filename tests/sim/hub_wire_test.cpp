// The line itself: pieces, the record of lines, line settings, faults,
// wire pacing and the vanished device.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <numeric>

#include "pty_client.h"
#include "sim/virtual_hub.h"

namespace {

using simtest::PtyClient;
using sim::Fault;
using Kind = sim::Fault::Kind;
using sim::VirtualHub;

const std::string kIdentify = "TAVRIN0AB304V04\n";

Fault fault(Kind kind, int millis = 0, int count = 0, std::string raw = {}) {
    return {kind, millis, count, std::move(raw)};
}

// The pty is raw at 9600 before anyone configures it, and a reply no client
// read waits for the next one to open the port (the tools discard such
// leftovers after opening; their tests need them there).
TEST(HubWire, LinesAreCutAtCrAndRecordedWithIt) {
    VirtualHub hub({.record = true});
    const int fd = ::open(hub.path().c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B9600));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
    ASSERT_EQ(::write(fd, "G", 1), 1);
    ::usleep(10000);  // shapes the input: the hub must see two reads
    ASSERT_EQ(::write(fd, "\nP\r\n", 4), 4);  // LF is ignored wherever it comes
    ::close(fd);
    PtyClient client(hub.path());
    EXPECT_EQ(client.readReply(), "F0FFFFFF\n");
    client.send("?Q\rGP\r");  // two lines in one piece
    std::string replies = client.readReply();
    if (replies == kIdentify) replies += client.readReply();
    EXPECT_EQ(replies, kIdentify + "F0FFFFFF\n");
    const std::string longest(256, 'A');
    EXPECT_EQ(client.exchange(longest), "E00\n");
    EXPECT_EQ(client.exchange(longest + "B", 60), "");  // dropped whole
    EXPECT_EQ(client.exchange("?Q"), kIdentify);
    EXPECT_EQ(hub.received(),
              (std::vector<std::string>{"GP\r", "?Q\r", "GP\r", longest + "\r", "?Q\r"}));
    hub.clearReceived();
    EXPECT_TRUE(hub.received().empty());
}

// A hub that serves for days must not grow: its record is kept on request
// only, and reading one that was not kept is a mistake in the test.
TEST(HubWire, RecordOnlyWhenTheConfigAsks) {
    VirtualHub hub;
    PtyClient client(hub.path());
    EXPECT_EQ(client.exchange("?Q"), kIdentify);
    EXPECT_THROW(hub.received(), std::logic_error);
    EXPECT_THROW(hub.loaderPackets(), std::logic_error);
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
        VirtualHub hub;
        PtyClient client(hub.path());
        termios good{};
        tcgetattr(client.fd(), &good);
        termios spoilt = good;
        c.spoil(spoilt);
        tcsetattr(client.fd(), TCSANOW, &spoilt);
        EXPECT_EQ(client.exchange("?Q"), kIdentify) << c.what;
        tcsetattr(client.fd(), TCSANOW, &good);
        EXPECT_EQ(client.exchange("?Q"), kIdentify) << c.what;  // one bad line is enough
        EXPECT_EQ(hub.lineSettingsOk(), c.ok) << c.what;
    }
}

TEST(HubFaults, EachKindChangesOneReplyOnly) {
    struct Case {
        const char* what;
        Fault fault;
        std::string bytes;  // all that arrives within the wait
        int minMillis;
        std::size_t minPieces;
    };
    const Case cases[] = {
        {"silent", fault(Kind::Silent), "", 0, 0},
        {"delay", fault(Kind::Delay, 120), kIdentify, 120, 1},
        {"split", fault(Kind::Split, 15, 4), kIdentify, 45, 2},
        {"truncate", fault(Kind::Truncate, 0, 4), "TAVR", 0, 1},
        {"garble", fault(Kind::Garble), "#?garbled\n", 0, 1},
        {"high bytes", fault(Kind::HighBytes), "TAVRIN0AB304V04\x80\xFF\n", 0, 1},
        {"raw", fault(Kind::Raw, 0, 0, "G12\r\n"), "G12\r\n", 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VirtualHub hub;
        PtyClient client(hub.path());
        hub.pushFault(c.fault);
        const auto start = simtest::Clock::now();
        client.send("?Q\r");
        const auto pieces = client.readPieces(c.bytes.ends_with('\n') ? 1000 : 80);
        EXPECT_EQ(std::accumulate(pieces.begin(), pieces.end(), std::string()), c.bytes);
        EXPECT_GE(simtest::millisSince(start), c.minMillis);
        EXPECT_GE(pieces.size(), c.minPieces);
        EXPECT_EQ(client.exchange("?Q"), kIdentify);  // used up
    }
}

TEST(HubFaults, QueuedFaultsGoFirstThenThePersistentOne) {
    VirtualHub hub;
    PtyClient client(hub.path());
    hub.pushFault(fault(Kind::Silent));
    hub.pushFault(fault(Kind::Raw, 0, 0, "E99\n"));
    hub.setPersistentFault(fault(Kind::Garble));
    client.send("SPkiwi    03000000\r");  // unanswered, yet it takes effect
    EXPECT_TRUE(simtest::eventually([&] { return hub.states() == 0x03u; }));
    EXPECT_EQ(client.exchange("?Q"), "E99\n");
    EXPECT_EQ(client.exchange("?Q"), "#?garbled\n");
    EXPECT_EQ(client.exchange("?Q"), "#?garbled\n");
    hub.clearFaults();
    EXPECT_EQ(client.exchange("?Q"), kIdentify);
}

// Faults aimed at a command leave other lines alone; the config's hold from
// power-on behind a pushed one, and `after` lets fitting lines pass first.
TEST(HubFaults, AimedAtACommandAfterLettingLinesPass) {
    Fault secondGp = fault(Kind::Garble), quiet = fault(Kind::Silent);
    secondGp.command = "GP";
    secondGp.after = 1;
    quiet.command = "?Q";
    VirtualHub hub({.faults = {secondGp, quiet}});
    Fault secondSp = fault(Kind::Raw, 0, 0, "E99\n");
    secondSp.command = "SP";
    secondSp.after = 1;
    hub.pushFault(secondSp);
    const std::string set = "SPkiwi    03000000";
    const std::pair<std::string, std::string> steps[] = {
        {"GP", "F0FFFFFF\n"},  {"GP", "#?garbled\n"}, {"?Q", ""},
        {"XX", "E00\n"},       // no command: only faults aimed at none fit
        {"GP", "#?garbled\n"}, {set, "G03000000\n"}, {set, "E99\n"},
        {set, "G03000000\n"},  // the pushed one is used up
    };
    PtyClient client(hub.path());
    for (const auto& [line, reply] : steps)
        EXPECT_EQ(client.exchange(line, reply.empty() ? 80 : 1000), reply) << line;
    hub.clearFaults();
    EXPECT_EQ(client.exchange("?Q"), kIdentify);
}

TEST(HubWire, WireTimingPacesRepliesByteByByte) {
    VirtualHub hub({.wireTiming = true});
    PtyClient client(hub.path());
    std::size_t mostPieces = 0;  // a busy machine may merge the pieces: three tries
    for (int i = 0; i < 3; ++i) {
        const auto start = simtest::Clock::now();
        client.send("GP\r");
        const std::vector<std::string> pieces = client.readPieces(1000);
        EXPECT_EQ(std::accumulate(pieces.begin(), pieces.end(), std::string()), "F0FFFFFF\n");
        EXPECT_GE(simtest::millisSince(start), 9);  // 9 bytes of 1.04 ms each
        mostPieces = std::max(mostPieces, pieces.size());
    }
    EXPECT_GE(mostPieces, 2u);  // not one write after a wait
}

// After the device goes, the client's descriptor is hung up: poll reports it
// at once and a read fails (or reports the end), and the node is gone (its
// path may already name another process's new pty).
void expectHungUp(int fd) {
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));
    char byte;
    errno = 0;
    const ssize_t n = ::read(fd, &byte, 1);
    EXPECT_TRUE(n == 0 || (n < 0 && errno == EIO)) << n << " " << errno;
    struct stat st {};
    ASSERT_EQ(::fstat(fd, &st), 0);
    EXPECT_EQ(st.st_nlink, 0u);
}

TEST(HubVanish, OnDemandOrAsAFault) {
    VirtualHub hub({.record = true}), faulty({.record = true});
    PtyClient client(hub.path()), faultyClient(faulty.path());
    hub.pushFault(fault(Kind::Delay, 5000));
    client.send("?Q\r");
    ASSERT_TRUE(simtest::eventually([&] { return hub.received().size() == 1; }));
    const auto start = simtest::Clock::now();
    hub.vanish();  // cuts the pending delay short
    EXPECT_LT(simtest::millisSince(start), 1000);
    EXPECT_TRUE(hub.vanished());
    expectHungUp(client.fd());
    hub.vanish();  // a second time is harmless

    faulty.pushFault(fault(Kind::Vanish));
    faultyClient.send("?Q\r");  // read, then the device closes
    expectHungUp(faultyClient.fd());
    EXPECT_TRUE(faulty.vanished());
    EXPECT_EQ(faulty.received(), std::vector<std::string>{"?Q\r"});
}

TEST(HubLifetime, EveryDescriptorIsClosedWhateverTheEnd) {
    auto openDescriptors = [] {
        using std::filesystem::directory_iterator;
        return std::distance(directory_iterator("/proc/self/fd"), directory_iterator());
    };
    const auto before = openDescriptors();
    { EXPECT_EQ(PtyClient(VirtualHub().path()).exchange("?Q"), kIdentify); }
    VirtualHub().vanish();
    EXPECT_THROW(VirtualHub{sim::HubConfig{.ports = 0}}, std::invalid_argument);
    EXPECT_EQ(openDescriptors(), before);
}

}  // namespace
