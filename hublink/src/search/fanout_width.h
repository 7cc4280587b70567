// How many candidates a search can ask at once, and what to tell the user
// when that is fewer than it has: each batch beyond the first can cost one
// more timeout.
#pragma once

#include <cstddef>
#include <string>

namespace hublink {

// Descriptors a candidate holds while it is asked. A serial device is one;
// a network connection is its socket and its own event loop's epoll
// descriptor (2.0 a connection, measured over 256 connections to ser2net),
// plus the netlink socket its address lookup holds for a moment.
inline constexpr std::size_t kDescriptorsPerDevice = 1;
inline constexpr std::size_t kDescriptorsPerConnection = 3;
// gensio 2.6's event loop keeps its descriptors in tables of FD_SETSIZE
// entries: once connections' descriptors are numbered 1024 and above, it
// corrupts memory and crashes (seen with 520 connections at once, not with
// 504). Whatever the limit, a search's connections stay below that.
inline constexpr std::size_t kConnectionDescriptorCeiling = 1024;
// Left for what the program holds beside its candidates (standard streams,
// libraries being loaded, the registry walk).
inline constexpr std::size_t kDescriptorHeadroom = 64;

enum class FanoutBound {
    none,         // every candidate at once
    inFlight,     // the program's own cap (kMaxPortsInFlight)
    descriptors,  // the hard limit on open descriptors
    connections,  // the network library's ceiling on descriptor numbers
    threads,      // no more threads could be started
};

struct FanoutWidth {
    std::size_t width = 0;  // candidates asked at once, at least 1 when there are any
    FanoutBound bound = FanoutBound::none;
};

inline constexpr std::size_t descriptorsEach(bool connections) {
    return connections ? kDescriptorsPerConnection : kDescriptorsPerDevice;
}

struct FanoutNeeds {
    std::size_t candidates = 0;  // groups of ports, each asked one port after another
    bool connections = false;    // some are network connections
    std::size_t descriptorLimit = 0;  // the soft limit, once raised
    std::size_t helpers = 0;          // pool threads beside the caller
    std::size_t maxInFlight = 0;
};

// How many of `needs.candidates` can be asked at once: each holds
// kDescriptorsPerConnection when any is a connection (else
// kDescriptorsPerDevice) beside kDescriptorHeadroom; connections stay
// under kConnectionDescriptorCeiling. The tightest bound names the reason.
FanoutWidth fanoutWidth(const FanoutNeeds& needs);

// One line, without the program's name or a newline, e.g. "asking 320 of
// 1024 ports at a time (network connections need descriptors numbered
// below 1024, 3 each): the search can take 4 timeouts". Empty when all
// are asked at once.
std::string fanoutNotice(const FanoutNeeds& needs, const FanoutWidth& width);

}  // namespace hublink
