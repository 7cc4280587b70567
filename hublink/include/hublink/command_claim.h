// A hub held for a whole command. A command that reads the hub and then
// writes a state computed from what it read must not let another process
// change the hub in between, or that change is silently lost.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "hublink/open_failure.h"
#include "hublink/port_address.h"

namespace hublink {

// How long a command or an exchange waits for another process to let go of a
// hub: enough for a queue of 16 commands on one hub at wire speed.
inline constexpr std::chrono::milliseconds kCommandClaimTimeout{10000};

// Takes the hub's claim (the advisory lock every transport takes for an
// exchange) and keeps it until destroyed: exchanges of other processes and
// of other threads wait, this thread's own exchanges on the same device go
// through. The claim dies with the process, so nothing stale is left behind.
// A hub on another host (a port URL) is claimed by its connection: held for
// the command, the thread's exchanges go through it, and other clients are
// turned away by the server meanwhile.
class CommandClaim {
public:
    // Opens `port` (connects to a URL) and waits at most `wait` for the claim.
    explicit CommandClaim(const PortAddress& port,
                          std::chrono::milliseconds wait = kCommandClaimTimeout);
    explicit CommandClaim(const std::string& path,
                          std::chrono::milliseconds wait = kCommandClaimTimeout)
        : CommandClaim(PortAddress::of(path), wait) {}
    ~CommandClaim();
    CommandClaim(const CommandClaim&) = delete;
    CommandClaim& operator=(const CommandClaim&) = delete;

    // False when the port could not be opened or the wait ran out.
    bool held() const { return fd_ >= 0 || remote_ != nullptr || remoteHere_; }
    // Why the claim was not had, when that is worth telling the user (a
    // missing device is not); none while held.
    const std::optional<OpenFailure>& failure() const { return failure_; }
    // Whether every byte value reaches the hub unchanged and back: false for
    // a telnet server that refused BINARY (hub commands still work there,
    // the loader's packets would not).
    bool carriesBinary() const { return binary_; }

private:
    struct Remote;
    bool claimRemote(const PortAddress& address, std::chrono::milliseconds wait);
    void releaseRemote();

    int fd_ = -1;
    std::optional<OpenFailure> failure_;
    std::unique_ptr<Remote> remote_;
    bool remoteHere_ = false;  // this thread held the connection already
    bool binary_ = true;
};

}  // namespace hublink
