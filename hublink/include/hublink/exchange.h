// The console's command exchange: one open-configure-write-read-close cycle.
#pragma once

#include <optional>
#include <string>

#include "hublink/open_failure.h"
#include "hublink/port_address.h"

namespace hublink {

// Outcome of one console exchange. `status` is "OK" when a non-empty reply
// arrived, otherwise "No" with an empty reply; `sent` tells a command that
// went out whole (and got no usable reply) from a port that could not be
// opened, configured or written; `openFailure` says why the port could not
// be opened, when that is worth telling the user.
struct Exchange {
    std::string status;
    std::string reply;  // the reply line without its LF
    bool sent = false;
    std::optional<OpenFailure> openFailure{};
    bool ok() const { return status == "OK"; }
};

// Opens `com` and claims it (see SerialPort::openPort), configures 9600 baud
// 8N1 raw, drops input left from earlier exchanges, writes `cmd` in one write,
// reads the reply up to LF for at most 1.0 s in total and closes the port on
// every path. A reply byte of 0x80 or above, more than 512 bytes before the
// LF (no hub's reply is that long), a failed or partial write, or a device
// that goes away fails the exchange ("No"). A line that arrived without its
// LF within the second is the reply.
Exchange sendCommand(const std::string& com, const std::string& cmd);
// The same on a port already classified.
Exchange sendCommand(const PortAddress& port, const std::string& cmd);

}  // namespace hublink
