// The network line through a real ser2net on loopback, in front of virtual
// hubs on ptys: what reaches the hub, what comes back, and how each failure
// is reported within its bound.
#include "netline/net_line.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sim/virtual_hub.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hub_test_util.h"
#include "hublink/exchange.h"
#include "hublink/port_url.h"
#include "line/net_library.h"
#include "nvt_server.h"
#include "ser2net_rig.h"

namespace hublink {
namespace {

using namespace std::chrono_literals;
using hubtest::Clock;
using hubtest::secondsSince;
using testsupport::Ser2netAccepter;
using testsupport::Ser2netExport;
using testsupport::Ser2netRig;

constexpr std::string_view kIdentifyReply = "TAVRIN0AB304V04\n";

std::vector<std::uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

std::string textOf(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

// A line from the network library, as the hub link gets one.
std::unique_ptr<NetLine> newLine() {
    std::string why;
    std::unique_ptr<NetLine> line = newNetLine(why);
    EXPECT_NE(line, nullptr) << why;
    return line;
}

// Opens `line` to a URL as users write it.
NetResult openUrl(NetLine& line, const std::string& url, int baud) {
    const PortUrlParse parsed = parsePortUrl(url);
    if (!parsed.url) return {NetFault::badUrl, parsed.error};
    return line.open(*parsed.url, baud);
}

// Reads until `count` bytes, a byte `stop`, or the deadline.
NetResult readUntil(NetLine& line, std::vector<std::uint8_t>& into, std::size_t count,
                    std::optional<std::uint8_t> stop, Clock::duration within = 1s) {
    const auto deadline = Clock::now() + within;
    const auto done = [&] {
        return into.size() >= count || (stop && !into.empty() && into.back() == *stop);
    };
    while (!done() && Clock::now() < deadline)
        if (NetResult r = line.read(into, stop ? 1 : count - into.size(), deadline); !r) return r;
    return {};
}

// Purge, command, reply line with its LF ("" when none came).
std::string exchange(NetLine& line, std::string_view command) {
    std::vector<std::uint8_t> reply;
    EXPECT_TRUE(line.purge());
    EXPECT_TRUE(line.write(bytesOf(command)));
    const NetResult r = readUntil(line, reply, 256, '\n');
    EXPECT_TRUE(r) << r.reason;
    return textOf(reply);
}

sim::HubConfig recording() {
    sim::HubConfig config;
    config.record = true;
    return config;
}

// Sets an environment variable (or unsets it, for an empty value) for one scope.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value.empty()) ::unsetenv(name);
        else ::setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

struct CaVariable : ScopedVariable {
    explicit CaVariable(const std::string& path) : ScopedVariable("HUBLINK_CA", path) {}
};

// A loopback socket bound to a port: not listening, so connection attempts
// are refused; listening with a full accept queue, so they hang (a
// blackhole); or listening and never accepting, so they connect and nothing
// ever answers.
enum class Trap { refusing, blackhole, silent };

class LoopbackTrap {
public:
    explicit LoopbackTrap(Trap kind) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof address;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        if (kind == Trap::blackhole) fillQueue(address);
        if (kind == Trap::silent) ::listen(fd_, 8);
    }
    ~LoopbackTrap() {
        for (int fd : fillers_) ::close(fd);
        ::close(fd_);
    }
    int port() const { return port_; }

private:
    void fillQueue(const sockaddr_in& address) {
        ::listen(fd_, 0);
        for (int i = 0; i < 3; ++i) {
            fillers_.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
            ::connect(fillers_.back(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
        }
    }
    int fd_;
    int port_ = 0;
    std::vector<int> fillers_;
};

TEST(NetLine, IdentifiesThroughRfc2217AndRawExports) {
    const struct {
        Ser2netAccepter accepter;
        int deviceBaud;  // the pty's line until a client sets one
    } cases[] = {
        {Ser2netAccepter::rfc2217, 19200},  // only the client's RFC 2217 settings make it 9600
        {Ser2netAccepter::raw, 9600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.accepter));
        sim::VirtualHub hub(recording());
        Ser2netRig rig({{hub.path(), c.accepter, c.deviceBaud}});
        auto line = newLine();
        const NetResult opened = openUrl(*line, rig.url(0), 9600);
        ASSERT_TRUE(opened) << opened.reason;
        EXPECT_EQ(exchange(*line, "?Q\r"), kIdentifyReply);
        EXPECT_EQ(exchange(*line, "?Q\r"), kIdentifyReply);
        // Exactly the command lines: no telnet bytes, no NUL after CR.
        EXPECT_EQ(hub.received(), (std::vector<std::string>{"?Q\r", "?Q\r"}));
        EXPECT_TRUE(hub.lineSettingsOk());
    }
}

TEST(NetLine, EveryByteValueCrossesUnchanged) {
    sim::VirtualHub hub(recording());
    hub.enterLoader();
    Ser2netRig rig({{hub.path(), Ser2netAccepter::rfc2217, 9600}});
    auto line = newLine();
    ASSERT_TRUE(openUrl(*line, rig.url(0), 115200));
    EXPECT_TRUE(line->carriesBinary());  // ser2net agreed to telnet BINARY both ways
    std::vector<std::array<std::uint8_t, 64>> sent(4);
    for (std::size_t k = 0; k < sent.size(); ++k) {
        // 0x00 ... 0xFF over the four packets
        std::iota(sent[k].begin(), sent[k].end(), std::uint8_t(64 * k));
        ASSERT_TRUE(line->write(sent[k]));
        std::vector<std::uint8_t> reply;
        ASSERT_TRUE(readUntil(*line, reply, 64, std::nullopt));
        ASSERT_EQ(reply.size(), 64u) << "packet " << k;
        const unsigned sum = std::accumulate(sent[k].begin(), sent[k].end(), 0u) & 0xFFFF;
        // The loader's checksum of what it got.
        EXPECT_EQ(reply[0] | reply[1] << 8, sum) << "packet " << k;
    }
    EXPECT_EQ(hub.loaderPackets(), sent);
    EXPECT_TRUE(hub.loaderLineSettingsOk());  // 115200 8N1, set through RFC 2217

    // And back: the hub sends all 256 values in one reply.
    sim::VirtualHub talker(recording());
    std::string all(256, '\0');
    std::iota(all.begin(), all.end(), '\0');
    talker.pushFault(hubtest::raw(all));
    Ser2netRig rig2({{talker.path(), Ser2netAccepter::rfc2217}});
    ASSERT_TRUE(openUrl(*line, rig2.url(0), 9600));
    ASSERT_TRUE(line->write(bytesOf("?Q\r")));
    std::vector<std::uint8_t> reply;
    ASSERT_TRUE(readUntil(*line, reply, 256, std::nullopt));
    EXPECT_EQ(textOf(reply), all);
}

// A server that refuses BINARY gets hub commands by NVT's rule (CR NUL), and
// the NUL it sends after a CR is not taken for a reply byte.
TEST(NetLine, AServerThatRefusesBinaryGetsNvtLines) {
    testsupport::NvtServer server;
    auto line = newLine();
    const NetResult opened = openUrl(*line, server.url(), 9600);
    ASSERT_TRUE(opened) << opened.reason;
    EXPECT_TRUE(server.binaryAsked());
    EXPECT_FALSE(line->carriesBinary());
    ASSERT_TRUE(line->write(bytesOf("?Q\r")));
    ASSERT_TRUE(line->write(bytesOf("GP\r\n")));
    const auto until = Clock::now() + 1s;
    while (server.received().size() < 7 && Clock::now() < until) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(server.received(), std::string("?Q\r\0GP\r\n", 8));
    server.send(std::string("AB\r", 3));
    server.send(std::string("\0CD\r\0\n", 6));  // a CR NUL split over two writes
    std::vector<std::uint8_t> reply;
    ASSERT_TRUE(readUntil(*line, reply, 16, '\n'));
    EXPECT_EQ(textOf(reply), "AB\rCD\r\n");
}

TEST(NetLine, SpeedChangesOnAnOpenLine) {
    for (const auto accepter : {Ser2netAccepter::rfc2217, Ser2netAccepter::raw}) {
        SCOPED_TRACE(int(accepter));
        sim::VirtualHub hub(recording());
        hub.enterLoader();
        Ser2netRig rig({{hub.path(), accepter}});
        auto line = newLine();
        ASSERT_TRUE(openUrl(*line, rig.url(0), 9600));
        const NetResult changed = line->setBaud(115200);
        if (accepter == Ser2netAccepter::raw) {
            // A raw export keeps the server's speed.
            EXPECT_EQ(changed.fault, NetFault::lineControl);
            continue;
        }
        ASSERT_TRUE(changed) << changed.reason;
        const std::array<std::uint8_t, 64> packet{0xAE};  // connect
        ASSERT_TRUE(line->write(packet));
        std::vector<std::uint8_t> reply;
        ASSERT_TRUE(readUntil(*line, reply, 64, std::nullopt));
        EXPECT_EQ(reply.size(), 64u);
        EXPECT_EQ(hub.loaderPackets().size(), 1u);
        EXPECT_TRUE(hub.loaderLineSettingsOk());
    }
}

TEST(NetLine, FailsToConnectWithinItsBound) {
    const LoopbackTrap nobody(Trap::refusing), blackhole(Trap::blackhole), silent(Trap::silent);
    // ser2net in front of a device that is not there (an unplugged hub).
    Ser2netRig unplugged({{"/dev/no-such-hub", Ser2netAccepter::rfc2217}, {"/dev/no-such-hub", Ser2netAccepter::raw}});
    const auto at = [](std::string scheme, int port) {
        return scheme + "://127.0.0.1:" + std::to_string(port);
    };
    const struct {
        std::string url;
        NetFault fault;
        std::string said;  // in the reason
    } cases[] = {
        {at("rfc2217", nobody.port()), NetFault::refused, "refused the connection"},
        {at("tcp", nobody.port()), NetFault::refused, "refused the connection"},
        {at("rfc2217", blackhole.port()), NetFault::timeout, "no connection to"},
        {at("rfc2217+tls", blackhole.port()), NetFault::timeout, "no connection to"},
        {at("rfc2217+tls", silent.port()), NetFault::timeout, "TLS handshake did not finish"},
        {"rfc2217://no-such-hub.invalid:7000", NetFault::noSuchHost, "no address for"},
    };
    for (const auto& c : cases) {
        auto line = newLine();
        const auto start = Clock::now();
        const NetResult r = openUrl(*line, c.url, 9600);
        EXPECT_LT(secondsSince(start), 2.5) << c.url;
        EXPECT_EQ(r.fault, c.fault) << c.url << ": " << r.reason;
        EXPECT_NE(r.reason.find(c.said), std::string::npos) << c.url << ": " << r.reason;
        EXPECT_FALSE(line->isOpen()) << c.url;
        EXPECT_FALSE(line->write(bytesOf("?Q\r"))) << c.url;
    }
    // Nor is an unplugged hub waited for as a busy one is. (A server that
    // hangs up during telnet's open may do so before its words arrive: that
    // try is taken for a busy port, the next one hears why.)
    for (const std::string& url : {unplugged.url(0), unplugged.url(1)}) {
        const auto start = Clock::now();
        const Exchange gone = sendCommand(url, "?Q\r");
        EXPECT_LT(secondsSince(start), 2.5) << url;
        ASSERT_TRUE(gone.openFailure) << url;
        EXPECT_NE(gone.openFailure->detail.find("could not open the hub's device"), std::string::npos)
            << url << ": " << gone.openFailure->detail;
    }
}

TEST(NetLine, SecondClientIsRejectedAndCanRetryLater) {
    for (const auto accepter : {Ser2netAccepter::rfc2217, Ser2netAccepter::raw, Ser2netAccepter::rfc2217Tls}) {
        SCOPED_TRACE(int(accepter));
        sim::VirtualHub hub(recording());
        Ser2netRig rig({{hub.path(), accepter}});
        const CaVariable ca(rig.caFile());
        auto first = newLine(), second = newLine();
        ASSERT_TRUE(openUrl(*first, rig.url(0), 9600));
        const auto start = Clock::now();
        const NetResult r = openUrl(*second, rig.url(0), 9600);
        EXPECT_LT(secondsSince(start), 0.5);
        EXPECT_EQ(r.fault, NetFault::rejected) << r.reason;
        // Its words are quoted when they came; telnet's open can end before.
        if (accepter == Ser2netAccepter::raw) {
            EXPECT_NE(r.reason.find("Port already in use"), std::string::npos) << r.reason;
        }
        EXPECT_EQ(exchange(*first, "?Q\r"), kIdentifyReply);  // the holder is undisturbed
        first->close();
        const NetResult retried = openUrl(*second, rig.url(0), 9600);
        ASSERT_TRUE(retried) << retried.reason;
        EXPECT_EQ(exchange(*second, "?Q\r"), kIdentifyReply);
        EXPECT_EQ(hub.received(), (std::vector<std::string>{"?Q\r", "?Q\r"}));
    }
}

TEST(NetLine, PurgeDropsAReplyTheServerAlreadyHad) {
    sim::VirtualHub hub;
    Ser2netRig rig({{hub.path(), Ser2netAccepter::rfc2217}});
    auto line = newLine();
    ASSERT_TRUE(openUrl(*line, rig.url(0), 9600));
    hub.pushFault({sim::Fault::Kind::Garble, 0, 0, {}});
    ASSERT_TRUE(line->write(bytesOf("?Q\r")));
    // Once the hub has written "#?garbled\n", it is on its way to us.
    const auto deadline = Clock::now() + 1s;
    while (hub.bytesExchanged() < 3 + 10 && Clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(exchange(*line, "?Q\r"), kIdentifyReply);
}

// A client that left before its reply came leaves that reply in the device;
// the next client's first exchange gets its own reply. Not with ser2net's
// chardelay on: what ser2net read from the device at connect it holds back
// for up to its chardelay-max (20 ms) whatever the client purges, and it
// then comes as the first command's reply (see the README).
TEST(NetLine, ALateReplyToAnEarlierClientIsNotTakenForOurs) {
    const struct {
        Ser2netAccepter accepter;
        bool direct;  // nodelay and no chardelay, as the README's export
    } cases[] = {
        {Ser2netAccepter::rfc2217, true},
        {Ser2netAccepter::raw, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.accepter) * 2 + c.direct);
        // Paced as a real hub: an unpaced one answers before ser2net has
        // sent on what it holds back, and the two come as one.
        sim::HubConfig config = recording();
        config.wireTiming = true;
        sim::VirtualHub hub(config);
        Ser2netRig rig({{hub.path(), c.accepter, 9600, c.direct, !c.direct}});
        hub.pushFault({sim::Fault::Kind::Delay, 60, 0, {}, "GP"});
        const auto deadline = Clock::now() + 2s;
        {
            auto early = newLine();
            ASSERT_TRUE(openUrl(*early, rig.url(0), 9600));
            ASSERT_TRUE(early->write(bytesOf("GP\r")));
            while (hub.received().empty() && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
        }
        // Its reply reached the device after the client had gone.
        while (hub.bytesExchanged() < 3 + 9 && Clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        ASSERT_EQ(hub.received(), std::vector<std::string>{"GP\r"});
        // The console's exchange, as a command makes it (ser2net may still
        // be closing the device: the exchange waits for its turn).
        const Exchange answer = sendCommand(rig.url(0), "?Q\r");
        EXPECT_EQ(answer.reply + "\n", kIdentifyReply);
        EXPECT_EQ(hub.received(), (std::vector<std::string>{"GP\r", "?Q\r"}));
    }
}

// After a whole reply the next purge does not wait for stragglers, but what
// has come all the same (here the reply to a request sent along) is dropped.
TEST(NetLine, PurgeAfterAWholeReplyStillDropsWhatCame) {
    sim::VirtualHub hub;
    Ser2netRig rig({{hub.path(), Ser2netAccepter::rfc2217}});
    auto line = newLine();
    ASSERT_TRUE(openUrl(*line, rig.url(0), 9600));
    ASSERT_TRUE(line->write(bytesOf("?Q\rGP\r")));
    std::vector<std::uint8_t> first;
    ASSERT_TRUE(readUntil(*line, first, kIdentifyReply.size(), std::nullopt));
    ASSERT_EQ(textOf(first), kIdentifyReply);
    const auto deadline = Clock::now() + 1s;
    while (hub.bytesExchanged() < 6 + kIdentifyReply.size() + 9 && Clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(200ms);  // the GP reply has crossed ser2net
    line->replyComplete();
    EXPECT_EQ(exchange(*line, "?Q\r"), kIdentifyReply);
}

TEST(NetLine, DrainWaitsForTheWireAndNoLonger) {
    sim::VirtualHub hub;
    Ser2netRig rig({{hub.path(), Ser2netAccepter::rfc2217}});
    auto line = newLine();
    ASSERT_TRUE(openUrl(*line, rig.url(0), 9600));
    const std::string filler(96, ' ');  // 100 ms on the wire at 9600 baud
    ASSERT_TRUE(line->write(bytesOf(filler)));
    auto start = Clock::now();
    const NetResult drained = line->drain(1s);
    EXPECT_TRUE(drained) << drained.reason;
    EXPECT_GE(secondsSince(start), 0.09);
    EXPECT_GE(hub.bytesExchanged(), filler.size());  // they reached the device

    ASSERT_TRUE(line->write(bytesOf(filler)));
    start = Clock::now();
    EXPECT_EQ(line->drain(10ms).fault, NetFault::timeout);
    EXPECT_LT(secondsSince(start), 0.06);
}

std::atomic<int> sigpipes{0};

TEST(NetLine, ServerGoneIsAnErrorNotASignal) {
    struct sigaction counting{}, old{};
    counting.sa_handler = [](int) { ++sigpipes; };
    ::sigaction(SIGPIPE, &counting, &old);
    sim::VirtualHub hub;
    Ser2netRig rig({{hub.path(), Ser2netAccepter::rfc2217}});
    auto line = newLine();
    ASSERT_TRUE(openUrl(*line, rig.url(0), 9600));
    rig.stop();
    std::vector<std::uint8_t> input;
    EXPECT_EQ(line->read(input, 64, Clock::now() + 1s).fault, NetFault::closed);
    NetResult written;
    for (int i = 0; i < 20 && written; ++i) written = line->write(bytesOf("?Q\r"));
    EXPECT_EQ(written.fault, NetFault::closed) << written.reason;
    EXPECT_EQ(line->purge().fault, NetFault::closed);
    ::sigaction(SIGPIPE, &old, nullptr);
    EXPECT_EQ(sigpipes.load(), 0);
}

TEST(NetLine, TlsTrustsOnlyTheRightCertificate) {
    sim::VirtualHub hub(recording()), plainHub(recording());
    Ser2netRig rig({{hub.path(), Ser2netAccepter::rfc2217Tls},
                    {plainHub.path(), Ser2netAccepter::rfc2217}});
    const std::string odd = rig.directory() + "/a,b)\"c";  // must stay one option value
    std::filesystem::create_directory(odd);
    std::filesystem::copy_file(rig.caFile(), odd + "/ca.crt");
    const std::string tlsOnPlainPort = "rfc2217+tls://127.0.0.1:" + std::to_string(rig.port(1));
    const struct {
        std::string url;
        std::string ca;
        NetFault fault;
    } cases[] = {
        {rig.url(0), rig.caFile(), NetFault::none},
        {"rfc2217+tls://localhost:" + std::to_string(rig.port(0)), rig.caFile(), NetFault::none},
        {rig.url(0), odd + "/ca.crt", NetFault::none},
        {rig.url(0), rig.otherCaFile(), NetFault::tls},
        {rig.url(0), "", NetFault::tls},  // the system's store knows no test CA
        {rig.url(0), rig.directory() + "/missing.crt", NetFault::tls},
        {tlsOnPlainPort, rig.caFile(), NetFault::tls},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url + " CA " + c.ca);
        const CaVariable ca(c.ca);
        hub.clearReceived();
        auto line = newLine();
        const NetResult r = openUrl(*line, c.url, 9600);
        EXPECT_EQ(r.fault, c.fault) << r.reason;
        if (r) EXPECT_EQ(exchange(*line, "?Q\r"), kIdentifyReply);
        else EXPECT_FALSE(line->write(bytesOf("?Q\r")));  // nothing in clear text either
        EXPECT_EQ(hub.received().size(), r ? 1u : 0u);
    }
    // The TLS handshake reached it as bytes; a command never did.
    for (const std::string& received : plainHub.received())
        EXPECT_EQ(received.find("?Q"), std::string::npos);
}

TEST(NetLine, TlsRefusesACertificateForAnotherHost) {
    sim::VirtualHub hub(recording());
    Ser2netRig rig({{hub.path(), Ser2netAccepter::rfc2217Tls}}, {"DNS:other.example,IP:127.0.0.2"});
    const CaVariable ca(rig.caFile());
    auto line = newLine();
    const NetResult r = openUrl(*line, rig.url(0), 9600);
    EXPECT_EQ(r.fault, NetFault::tls);
    EXPECT_NE(r.reason.find("not made out to 127.0.0.1"), std::string::npos) << r.reason;
    EXPECT_TRUE(hub.received().empty());
}

// ser2net's clientauth: only a certificate listed for an allowed user gets
// through, and every refusal is told at once, before the hub hears anything.
TEST(NetLine, ClientCertificatesOpenOnlyWhatTheyMay) {
    sim::VirtualHub hub(recording());
    Ser2netExport tls{hub.path(), Ser2netAccepter::rfc2217Tls};
    tls.clientAuth = true;
    Ser2netRig rig({tls});
    const std::string alice = rig.makeClientCertificate("alice", "alice");
    const std::string imposter = rig.makeClientCertificate("imposter", "alice");  // another key
    const std::string bob = rig.makeClientCertificate("bob", "bob");
    const std::string stale = rig.makeClientCertificate("stale", "alice", testsupport::CertificateDates::expired);
    rig.allowClient("alice", "alice");
    rig.allowClient("stale", "alice");
    const std::string open = rig.directory() + "/open.key";
    std::filesystem::copy_file(alice + ".key", open);
    std::filesystem::permissions(open, std::filesystem::perms::others_read, std::filesystem::perm_options::add);
    const CaVariable ca(rig.caFile());
    const struct {
        std::string cert, key;
        const char* said;  // empty: the hub answers
    } cases[] = {
        {alice + ".crt", alice + ".key", ""},
        {"", "", "without a certificate"},
        {bob + ".crt", bob + ".key", "did not accept the client certificate"},  // not listed
        {imposter + ".crt", imposter + ".key", "did not accept the client certificate"},
        {stale + ".crt", stale + ".key", "did not accept the client certificate"},
        {alice + ".crt", bob + ".key", "TLS with"},  // the key is not the certificate's
        {alice + ".crt", "", "HUBLINK_KEY, its key, is not"},
        {alice + ".crt", open, "too open"},
        {alice + ".crt", rig.directory() + "/missing.key", "No such file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cert + " " + c.key);
        const ScopedVariable cert("HUBLINK_CERT", c.cert), key("HUBLINK_KEY", c.key);
        hub.clearReceived();
        auto line = newLine();
        const auto start = Clock::now();
        const NetResult r = openUrl(*line, rig.url(0), 9600);
        EXPECT_LT(secondsSince(start), 2.0);
        if (*c.said == '\0') {
            ASSERT_TRUE(r) << r.reason;
            EXPECT_EQ(exchange(*line, "?Q\r"), kIdentifyReply);
            continue;
        }
        EXPECT_EQ(r.fault, NetFault::tls) << r.reason;  // not a busy port: no waiting for it
        EXPECT_NE(r.reason.find(c.said), std::string::npos) << r.reason;
        EXPECT_TRUE(hub.received().empty());
    }
}

TEST(NetLine, ReleasesEveryDescriptorOnEveryPath) {
    // A hub each: ser2net lets go of a device only some time after its client.
    sim::VirtualHub hub, tlsHub, rawHub;
    Ser2netRig rig({{hub.path(), Ser2netAccepter::rfc2217},
                    {tlsHub.path(), Ser2netAccepter::rfc2217Tls},
                    {rawHub.path(), Ser2netAccepter::raw}});
    const LoopbackTrap nobody(Trap::refusing);
    const CaVariable ca(rig.otherCaFile());
    const auto everyPath = [&] {
        auto held = newLine(), line = newLine();
        EXPECT_TRUE(openUrl(*held, rig.url(0), 9600));
        EXPECT_EQ(exchange(*held, "?Q\r"), kIdentifyReply);
        EXPECT_TRUE(held->setBaud(19200));
        EXPECT_EQ(openUrl(*line, rig.url(0), 9600).fault, NetFault::rejected);
        held->close();
        EXPECT_EQ(openUrl(*line, rig.url(1), 9600).fault, NetFault::tls);
        EXPECT_EQ(openUrl(*line, "tcp://127.0.0.1:" + std::to_string(nobody.port()), 9600).fault,
                  NetFault::refused);
        EXPECT_TRUE(openUrl(*line, rig.url(2), 9600));  // left open: the destructor closes it
    };
    everyPath();  // gensio loads its layers once
    const long before = hubtest::openDescriptorCount();
    for (int round = 0; round < 3; ++round) everyPath();
    EXPECT_EQ(hubtest::openDescriptorCount(), before);
}

}  // namespace
}  // namespace hublink
