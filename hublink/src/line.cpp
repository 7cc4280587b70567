#include "line.h"

#include <mutex>
#include <thread>

#include "hublink/command_claim.h"
#include "hublink/port_url.h"
#include "net_line.h"
#include "remote_claim.h"

namespace hublink {

namespace {

using namespace std::chrono_literals;

LineFault lineFaultOf(const NetResult& result, LineFault whenOpen) {
    switch (result.fault) {
        case NetFault::none: return LineFault::none;
        case NetFault::closed: return LineFault::gone;
        case NetFault::lineControl: return LineFault::setup;
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

// ser2net drops a second client at once: another program has the hub. Such
// a client tries again, as a local exchange waits for the claim.
NetResult connectWaiting(NetLine& line, const std::string& url, int baud, std::chrono::milliseconds wait) {
    const auto until = Line::Clock::now() + wait;
    for (;;) {
        NetResult result = line.open(url, baud);
        if (result.fault != NetFault::rejected || Line::Clock::now() >= until) return result;
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
    OwnNetworkLine() : NetworkLine(own_) {}
    NetLine own_;
};

}  // namespace

std::unique_ptr<Line> openNetworkLine(const std::string& url, const LineSettings& settings,
                                      LineResult& status) {
    if (HeldConnection* held = heldFor(url)) {
        status = {};
        if (held->baud != settings.baud) {
            status = lineResult(held->line.setBaud(settings.baud), LineFault::setup);
            if (!status.ok()) return nullptr;
            held->baud = settings.baud;
        }
        return std::make_unique<NetworkLine>(held->line);
    }
    auto line = std::make_unique<OwnNetworkLine>();
    status = lineResult(connectWaiting(line->own_, url, settings.baud, kCommandClaimTimeout), LineFault::open);
    if (status.ok()) return line;
    // Every reason a connection fails is worth telling: the user cannot see it.
    status.openFailure = OpenFailure{url, OpenFault::unreachable, status.reason};
    return nullptr;
}

std::unique_ptr<Line> openLine(const std::string& port, const LineSettings& settings, LineResult& status) {
    if (isPortUrl(port)) return openNetworkLine(port, settings, status);
    return openTerminalLine(port, settings, status);
}

bool CommandClaim::claimRemote(const std::string& url, std::chrono::milliseconds wait) {
    if (heldFor(url) != nullptr) return remoteHere_ = true;
    remote_ = std::make_unique<Remote>();
    HeldConnection& held = remote_->held;
    const NetResult result = connectWaiting(held.line, url, 9600, wait);
    if (!result.ok()) {
        failure_ = OpenFailure{url, OpenFault::unreachable, result.reason};
        remote_.reset();
        return false;
    }
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
