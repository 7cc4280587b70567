#include "line/line.h"

#include <mutex>
#include <thread>

#include "hublink/command_claim.h"
#include "hublink/port_address.h"
#include "line/net_library.h"
#include "line/remote_claim.h"

namespace hublink {

namespace {

using namespace std::chrono_literals;

LineFault lineFaultOf(const NetResult& result, LineFault whenOpen) {
    switch (result.fault) {
        case NetFault::none: return LineFault::none;
        case NetFault::closed: return LineFault::gone;
        case NetFault::lineControl:
        case NetFault::unconfirmed: return LineFault::setup;
        default: return whenOpen;
    }
}

LineResult lineResult(const NetResult& result, LineFault otherwise) {
    return {lineFaultOf(result, otherwise), result.reason, std::nullopt};
}

std::mutex heldMutex;
std::vector<HeldConnection*> heldConnections;

HeldConnection* heldFor(const std::string& url) {
    std::lock_guard lock(heldMutex);
    for (HeldConnection* held : heldConnections)
        if (held->url == url && held->owner == std::this_thread::get_id()) return held;
    return nullptr;
}

// Whether another client may have the hub: ser2net drops a second client at
// once; over TLS it can also take one in and leave it unanswered while
// clients come and go (seen with several at once).
bool maybeBusy(const NetResult& result, const PortUrl& url) {
    return result.fault == NetFault::rejected ||
           (result.fault == NetFault::unconfirmed && url.scheme == PortScheme::rfc2217Tls);
}

// A client that finds the hub busy tries again, as a local exchange waits
// for the claim.
NetResult connectWaiting(NetLine& line, const PortUrl& url, int baud, std::chrono::milliseconds wait) {
    const auto until = Line::Clock::now() + wait;
    for (;;) {
        NetResult result = line.open(url, baud);
        if (!maybeBusy(result, url) || Line::Clock::now() >= until) return result;
        std::this_thread::sleep_for(20ms);
    }
}

class NetworkLine : public Line {
public:
    explicit NetworkLine(NetLine& line) : line_(line) {}

    LineResult purge() override { return lineResult(line_.purge(), LineFault::read); }
    void replyComplete() override { line_.replyComplete(); }
    LineResult write(std::span<const std::uint8_t> bytes) override {
        return lineResult(line_.write(bytes), LineFault::write);
    }
    LineResult read(std::vector<std::uint8_t>& into, std::size_t max, Clock::time_point deadline) override {
        return lineResult(line_.read(into, max, deadline), LineFault::read);
    }
    LineResult drain(std::chrono::milliseconds bound) override {
        return lineResult(line_.drain(bound), LineFault::write);
    }

private:
    NetLine& line_;
};

// A connection of its own for one exchange, closed with it.
class OwnNetworkLine : public NetworkLine {
public:
    explicit OwnNetworkLine(std::unique_ptr<NetLine> own) : NetworkLine(*own), own_(std::move(own)) {}
    std::unique_ptr<NetLine> own_;
};

// A line to the hub at `address` connected, waiting at most `wait` for a
// server that has another client; none otherwise, with the reason in `failed`.
std::unique_ptr<NetLine> connectTo(const PortAddress& address, int baud, std::chrono::milliseconds wait,
                                   NetResult& failed) {
    if (!address.url) {
        failed = {NetFault::badUrl, address.error};
        return nullptr;
    }
    std::unique_ptr<NetLine> line = newNetLine(failed.reason);
    if (line == nullptr) {
        failed.fault = NetFault::io;
        return nullptr;
    }
    failed = connectWaiting(*line, *address.url, baud, wait);
    if (failed.ok()) return line;
    return nullptr;
}

}  // namespace

std::unique_ptr<Line> openNetworkLine(const PortAddress& address, const LineSettings& settings,
                                      LineResult& status) {
    if (HeldConnection* held = heldFor(address.name)) {
        status = {};
        if (held->baud != settings.baud) {
            status = lineResult(held->line->setBaud(settings.baud), LineFault::setup);
            if (!status.ok()) return nullptr;
            held->baud = settings.baud;
        }
        return std::make_unique<NetworkLine>(*held->line);
    }
    NetResult connected;
    auto line = connectTo(address, settings.baud, kCommandClaimTimeout, connected);
    status = lineResult(connected, LineFault::open);
    if (line != nullptr) return std::make_unique<OwnNetworkLine>(std::move(line));
    // Every reason a connection fails is worth telling: the user cannot see it.
    status.openFailure = OpenFailure{address.name, OpenFault::unreachable, status.reason};
    return nullptr;
}

std::unique_ptr<Line> openLine(const PortAddress& port, const LineSettings& settings, LineResult& status) {
    if (port.remote()) return openNetworkLine(port, settings, status);
    return openTerminalLine(port.name, settings, status);
}

bool CommandClaim::claimRemote(const PortAddress& address, std::chrono::milliseconds wait) {
    const std::string& url = address.name;
    if (HeldConnection* held = heldFor(url)) {
        binary_ = held->line->carriesBinary();
        return remoteHere_ = true;
    }
    NetResult connected;
    std::unique_ptr<NetLine> line = connectTo(address, 9600, wait, connected);
    if (line == nullptr) {
        // A busy export is a hub another client holds, as a held local one.
        const bool busy = address.url && maybeBusy(connected, *address.url);
        failure_ = OpenFailure{url, busy ? OpenFault::held : OpenFault::unreachable, connected.reason};
        return false;
    }
    binary_ = line->carriesBinary();
    remote_ = std::make_unique<Remote>();
    HeldConnection& held = remote_->held;
    held.line = std::move(line);
    held.url = url;
    held.owner = std::this_thread::get_id();
    held.baud = 9600;
    std::lock_guard lock(heldMutex);
    heldConnections.push_back(&held);
    return true;
}

void CommandClaim::releaseRemote() {
    if (!remote_) return;
    {
        std::lock_guard lock(heldMutex);
        std::erase(heldConnections, &remote_->held);
    }
    remote_.reset();
}

}  // namespace hublink
