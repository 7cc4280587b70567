// The claim on a hub on another host: its connection, held for a command.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "hublink/command_claim.h"
#include "netline/net_line.h"

namespace hublink {

// The exchanges of the thread that holds it go through it, so nobody else
// gets the hub's port between reading the hub and changing it.
struct HeldConnection {
    std::string url;
    std::thread::id owner;
    std::unique_ptr<NetLine> line;
    int baud = 0;
};

struct CommandClaim::Remote {
    HeldConnection held;
};

}  // namespace hublink
