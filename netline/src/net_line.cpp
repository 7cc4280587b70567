// The network line over gensio, and the library's entry point.
#include <algorithm>
#include <cstdlib>
#include <exception>
#include <new>
#include <utility>

#include "net_gensio.h"
#include "net_identity.h"
#include "net_resolve.h"
#include "net_sigpipe.h"
#include "netline/net_line.h"

namespace hublink {
namespace {

using Clock = NetLine::Clock;
using net::LinkStatus;

// A raw server turns a second client away right after accepting it: the
// longer of this and four connect times is waited for that at open.
constexpr auto kRawGrace = std::chrono::milliseconds(20);
constexpr int kBitsPerByte = 10;  // start, 8 data, stop

NetResult success() { return {}; }

NetResult failure(NetFault fault, std::string reason) { return {fault, std::move(reason)}; }

std::string millisText(std::chrono::milliseconds bound) {
    return std::to_string(bound.count()) + " ms";
}

std::string caFile() {
    const char* path = std::getenv("HUBLINK_CA");
    return path != nullptr ? path : "";
}

// An option value in quotes, so a path with ',' or ')' stays one value.
std::string quotedValue(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + '"';
}

std::string tcpPart(const std::vector<net::NumericAddress>& addresses, int port) {
    std::string text = "tcp(nodelay)";
    for (const auto& address : addresses)
        text += std::string(address.v6 ? ",ipv6," : ",ipv4,") + address.text + "," +
                std::to_string(port);
    return text;
}

// What goes on top of the connection: telnet, and TLS under it.
struct Stack {
    std::string telnet;
    std::string lower;
};

std::string tlsPart(const net::ClientIdentity& id) {
    std::vector<std::string> options;
    if (const std::string ca = caFile(); !ca.empty()) options.push_back("CA=" + quotedValue(ca));
    if (!id.cert.empty()) {
        options.push_back("cert=" + quotedValue(id.cert));
        options.push_back("key=" + quotedValue(id.key));
    }
    std::string text = "ssl";
    for (std::size_t i = 0; i < options.size(); ++i) text += (i == 0 ? "(" : ",") + options[i];
    return text + (options.empty() ? "," : "),");
}

// Numeric addresses only: the name was looked up within the bound already.
Stack gensioStack(const PortUrl& url, const std::vector<net::NumericAddress>& addresses,
                  const net::ClientIdentity& id) {
    const std::string tcp = tcpPart(addresses, url.port);
    if (url.scheme == PortScheme::tcp) return {"", tcp};
    if (url.scheme == PortScheme::rfc2217) return {"telnet(rfc2217)", tcp};
    return {"telnet(rfc2217)", tlsPart(id) + tcp};
}

// What a server said before hanging up, printable and on one line.
std::string serverWords(const std::string& bytes) {
    std::string words;
    for (char c : bytes) {
        const bool printable = c >= ' ' && c <= '~';
        if (printable || (!words.empty() && words.back() != ' ')) words += printable ? c : ' ';
    }
    while (!words.empty() && words.back() == ' ') words.pop_back();
    return words.empty() ? std::string() : " (it said \"" + words + "\")";
}

std::string hostPort(const PortUrl& url) {
    const bool v6 = url.host.find(':') != std::string::npos;
    return (v6 ? "[" + url.host + "]" : url.host) + ":" + std::to_string(url.port);
}

NetResult notOpen() { return failure(NetFault::io, "the line is not open"); }

// Runs one operation with SIGPIPE held back; no exception leaves it.
template <typename Operation>
NetResult shielded(Operation operation) {
    try {
        net::SigpipeShield shield;
        return operation();
    } catch (const std::exception& e) {
        return failure(NetFault::io, e.what());
    }
}

}  // namespace

struct Connection {
    Connection(PortUrl target, int speed) : url(std::move(target)), where(hostPort(url)), baud(speed) {}

    static NetResult open(std::unique_ptr<Connection>& slot, const PortUrl& url, int baud);
    NetResult connect(Clock::time_point deadline);
    NetResult settle(Clock::time_point deadline);
    NetResult setBaud(int speed);
    NetResult purge();
    NetResult write(std::span<const std::uint8_t> bytes, Clock::time_point deadline);
    NetResult read(std::vector<std::uint8_t>& into, std::size_t max, Clock::time_point deadline);
    NetResult drain(std::chrono::milliseconds bound);

    bool tls() const { return url.scheme == PortScheme::rfc2217Tls; }
    bool serial() const { return url.scheme != PortScheme::tcp; }
    Clock::duration wireTime(std::size_t bytes) const;
    NetResult lookUpFailure(const net::Resolution& found) const;
    NetResult connectFailure(LinkStatus status) const;
    NetResult lineFailure(LinkStatus status);
    NetResult ioFailure(LinkStatus status, const char* doing) const;
    NetResult rejected() const;

    net::GensioLink link;
    PortUrl url;
    std::string where;  // "host:port" for messages
    int baud;
    Clock::duration roundTrip{};
    Clock::time_point wireFreeAt{};  // when the far UART has sent all written bytes
    Clock::time_point quietFrom{};   // when stale input from the device could first come
    bool replyComplete = false;      // the last exchange ended with its whole reply
    bool presentsCertificate = false;  // HUBLINK_CERT went with the TLS handshake
};

NetResult Connection::open(std::unique_ptr<Connection>& slot, const PortUrl& url, int baud) {
    const auto deadline = Clock::now() + NetLine::kConnectBound;
    if (baud <= 0)
        return failure(NetFault::badUrl, "line speed " + std::to_string(baud) + " is not above 0");
    auto impl = std::make_unique<Connection>(url, baud);
    NetResult result = impl->connect(deadline);
    if (result) slot = std::move(impl);
    return result;
}

NetResult Connection::connect(Clock::time_point deadline) {
    if (!link.usable()) return failure(NetFault::io, "no event loop for the network could be made");
    const net::ClientIdentity id = tls() ? net::clientIdentity() : net::ClientIdentity{};
    if (!id.error.empty()) return failure(NetFault::tls, "TLS with " + where + ": " + id.error);
    presentsCertificate = !id.cert.empty();
    const net::Resolution found = net::resolveHost(url.host, deadline);
    if (found.outcome != net::Resolution::Outcome::found) return lookUpFailure(found);
    const auto start = Clock::now();
    const Stack stack = gensioStack(url, found.addresses, id);
    const LinkStatus status = link.connect(stack.telnet, stack.lower, tls() ? url.host : "", deadline);
    if (status != LinkStatus::ok) return connectFailure(status);
    roundTrip = Clock::now() - start;
    if (tls() && !link.certificateChecked())
        return failure(NetFault::tls,
                       "TLS with " + where + ": the certificate's names went unchecked");
    NetResult settled = settle(deadline);
    if (settled && link.enterSync() != LinkStatus::ok) return ioFailure(LinkStatus::failed, "open");
    return settled;
}

// An RFC 2217 line: the server purges the device's input and confirms the
// settings, and what it had passed on before is dropped on entering
// synchronous mode. What it read from the device before the purge and still
// holds back (its chardelay) comes later: the first purge waits for quiet.
// A raw server turns a second client away right after accepting it: that is
// waited for.
NetResult Connection::settle(Clock::time_point deadline) {
    if (serial()) {
        const NetResult set = lineFailure(link.setLine(static_cast<unsigned>(baud), deadline));
        // The connect's time holds telnet's (and TLS's) handshake.
        if (set) roundTrip = link.lineRoundTrip();
        quietFrom = link.firstConfirmation();
        return set;
    }
    const Clock::duration grace = std::max<Clock::duration>(kRawGrace, 4 * roundTrip);
    const bool hungUp = link.hangsUpBefore(std::min(deadline, Clock::now() + grace));
    quietFrom = Clock::now();
    return hungUp ? rejected() : success();
}

NetResult Connection::lookUpFailure(const net::Resolution& found) const {
    using Outcome = net::Resolution::Outcome;
    if (found.outcome == Outcome::unknownHost)
        return failure(NetFault::noSuchHost, "no address for " + url.host + ": " + found.reason);
    if (found.outcome == Outcome::timedOut)
        return failure(NetFault::timeout,
                       "no address for " + url.host + " within " + millisText(NetLine::kConnectBound));
    return failure(NetFault::connect, "cannot look up " + url.host + ": " + found.reason);
}

NetResult Connection::connectFailure(LinkStatus status) const {
    if (status == LinkStatus::timedOut && link.reachedServer())
        return failure(NetFault::timeout, "connected to " + where + ", but the " +
                                              (tls() ? "TLS" : "telnet") + " handshake did not finish within " +
                                              millisText(NetLine::kConnectBound));
    if (status == LinkStatus::timedOut)
        return failure(NetFault::timeout,
                       "no connection to " + where + " within " + millisText(NetLine::kConnectBound));
    if (status == LinkStatus::refused)
        return failure(NetFault::refused,
                       where + " refused the connection (nothing listens there)");
    // A busy export hangs up on a second client during the TLS open too.
    if (status == LinkStatus::hungUp) return rejected();
    if (tls())
        return failure(NetFault::tls, "TLS with " + where + " failed: " + link.failureText());
    return failure(NetFault::connect, "cannot connect to " + where + ": " + link.failureText());
}

// ser2net says why it turns a client away: a busy port is worth waiting
// for, a device that would not open (an unplugged hub) is not.
NetResult Connection::rejected() const {
    // A server that wants a client certificate and does not take ours ends
    // the connection right after the handshake, before any telnet word (TLS
    // 1.3 sends no alert); a busy one says so first.
    if (tls() && link.certificateChecked() && !link.serverSpoke())
        return failure(NetFault::tls,
                       where + " ended the connection after the TLS handshake: it did not accept " +
                           (presentsCertificate ? "the client certificate (HUBLINK_CERT)"
                                                : "a client without a certificate (set HUBLINK_CERT "
                                                  "and HUBLINK_KEY)"));
    const std::string& said = link.earlyBytes();
    if (said.find("Device open failure") != std::string::npos)
        return failure(NetFault::noDevice,
                       where + " could not open the hub's device" + serverWords(said));
    const std::string why = " (another client holds the port, or its device would not open)";
    return failure(NetFault::rejected, where + " hung up at once" + why + serverWords(said));
}

NetResult Connection::lineFailure(LinkStatus status) {
    switch (status) {
        case LinkStatus::ok: return success();
        case LinkStatus::hungUp:
            // Its parting words may still be on their way.
            link.hangsUpBefore(Clock::now() + kRawGrace);
            return rejected();
        case LinkStatus::timedOut:
            return failure(NetFault::unconfirmed,
                           where + " did not confirm the line settings within " +
                               millisText(NetLine::kConnectBound) + " (no RFC 2217 server?)");
        case LinkStatus::noSerialControl:
            return failure(NetFault::lineControl, where + " offers no RFC 2217 line control");
        default: return failure(NetFault::lineControl, where + ": " + link.failureText());
    }
}

NetResult Connection::ioFailure(LinkStatus status, const char* doing) const {
    if (status == LinkStatus::ok) return success();
    if (status == LinkStatus::hungUp)
        return failure(NetFault::closed, where + " closed the connection");
    return failure(NetFault::io, where + ": " + doing + " failed: " + link.failureText());
}

NetResult Connection::setBaud(int speed) {
    if (speed <= 0)
        return failure(NetFault::lineControl,
                       "line speed " + std::to_string(speed) + " is not above 0");
    if (!serial())
        return failure(NetFault::lineControl,
                       where + " is a raw export: its speed is the server's");
    const LinkStatus status =
        link.changeSpeed(static_cast<unsigned>(speed), Clock::now() + NetLine::kConnectBound);
    if (status == LinkStatus::ok) baud = speed;
    // What the hub says while the speed changes is no reply of the last exchange.
    replyComplete = false;
    quietFrom = Clock::now();
    return status == LinkStatus::hungUp ? ioFailure(status, "speed change") : lineFailure(status);
}

// ser2net holds bytes from the device for two character times (at least
// 1 ms) before it sends them on, and its purge leaves what it holds: unless
// the last exchange ended with its whole reply, input is dropped until it
// has been quiet for that long, 2 ms more and a round trip, counted from the
// last input or from when the device could first send (see settle).
NetResult Connection::purge() {
    if (std::exchange(replyComplete, false)) {
        // The hub says one reply per request: after its whole reply there is
        // nothing left to wait for, unless something came all the same.
        std::size_t dropped = 0;
        const LinkStatus status = link.dropArrived(dropped);
        if (status != LinkStatus::ok || dropped == 0) return ioFailure(status, "purge");
    }
    const Clock::duration hold =
        std::max<Clock::duration>(wireTime(2), std::chrono::milliseconds(1));
    const Clock::duration quiet = hold + std::chrono::milliseconds(2) + roundTrip;
    return ioFailure(link.dropUntilQuiet(quiet, quietFrom, Clock::now() + NetLine::kPurgeBound), "purge");
}

Clock::duration Connection::wireTime(std::size_t bytes) const {
    const std::chrono::duration<double> seconds(double(bytes) * kBitsPerByte / baud);
    return std::chrono::duration_cast<Clock::duration>(seconds);
}

NetResult Connection::write(std::span<const std::uint8_t> bytes, Clock::time_point deadline) {
    // An answer to this may still come: only an exchange can say it came whole.
    replyComplete = false;
    std::size_t written = 0;
    const LinkStatus status = link.writeAll(bytes.data(), bytes.size(), written, deadline);
    wireFreeAt = std::max(Clock::now(), wireFreeAt) + wireTime(written);
    if (status != LinkStatus::timedOut) return ioFailure(status, "write");
    return failure(NetFault::io, where + ": only " + std::to_string(written) + " of " +
                                     std::to_string(bytes.size()) + " bytes went out in time");
}

NetResult Connection::read(std::vector<std::uint8_t>& into, std::size_t max,
                              Clock::time_point deadline) {
    const std::size_t before = into.size();
    into.resize(before + max);
    std::size_t got = 0;
    const LinkStatus status = link.readSome(into.data() + before, max, got, deadline);
    into.resize(before + got);
    // An answer means the far end has taken in what was written before it,
    // however fast it was: a virtual hub answers before the wire time passed.
    if (got > 0) wireFreeAt = std::min(wireFreeAt, Clock::now());
    return status == LinkStatus::timedOut ? success() : ioFailure(status, "read");
}

NetResult Connection::drain(std::chrono::milliseconds bound) {
    const Clock::time_point target = wireFreeAt + roundTrip;
    link.idle(std::min(target, Clock::now() + bound));
    if (Clock::now() >= target) return success();
    return failure(NetFault::timeout,
                   where + ": written bytes may still be on their way after " + millisText(bound));
}

namespace {

class GensioNetLine final : public NetLine {
public:
    ~GensioNetLine() override { close(); }

    NetResult open(const PortUrl& url, int baud) override {
        close();
        NetResult result = shielded([&] { return Connection::open(impl_, url, baud); });
        if (!result) impl_.reset();
        return result;
    }

    bool isOpen() const override { return impl_ != nullptr && impl_->link.isOpen(); }

    bool carriesBinary() const override { return isOpen() && impl_->link.carriesBinary(); }

    NetResult setBaud(int baud) override {
        return onOpen([&] { return impl_->setBaud(baud); });
    }

    NetResult purge() override {
        return onOpen([&] { return impl_->purge(); });
    }

    void replyComplete() override {
        if (impl_ != nullptr) impl_->replyComplete = true;
    }

    NetResult write(std::span<const std::uint8_t> bytes, std::chrono::milliseconds bound) override {
        return onOpen([&] { return impl_->write(bytes, Clock::now() + bound); });
    }

    NetResult read(std::vector<std::uint8_t>& into, std::size_t max,
                   Clock::time_point deadline) override {
        if (max == 0 && isOpen()) return success();
        return onOpen([&] { return impl_->read(into, max, deadline); });
    }

    NetResult drain(std::chrono::milliseconds bound) override {
        return onOpen([&] { return impl_->drain(bound); });
    }

    void close() override {
        if (impl_ == nullptr) return;
        net::SigpipeShield shield;
        impl_.reset();
    }

private:
    template <typename Operation>
    NetResult onOpen(Operation operation) {
        if (!isOpen()) return notOpen();
        return shielded(operation);
    }

    std::unique_ptr<Connection> impl_;
};

}  // namespace

}  // namespace hublink

extern "C" __attribute__((visibility("default"))) hublink::NetLine* hublink_netline_create(
    unsigned interfaceVersion) {
    if (interfaceVersion != hublink::kNetLineInterface) return nullptr;
    return new (std::nothrow) hublink::GensioNetLine();
}
