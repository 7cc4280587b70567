// The byte line under every exchange: the console's command, the windows'
// command and the loader's packets all open one, whatever the port's form.
// A device path gives a terminal line, claimed as every exchange claims
// its hub; a port URL gives a line to a hub exported on another host.
// Errors are values; nothing here prints.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "hublink/open_failure.h"
#include "hublink/port_address.h"

namespace hublink {

struct LineSettings {
    int baud = 9600;  // raw 8N1 at this speed
    // Put the terminal's settings back on close. The loader's line stays as
    // configured: the loader may still be taking in the last packet.
    bool restoreOnClose = true;
};

enum class LineFault {
    none,
    open,   // no such port, no permission, no connection, or held too long
    setup,  // no terminal, or the line refused its settings
    write,  // the bytes did not all go out
    read,   // a wait or read failed
    gone,   // the device or the connection went away
};

struct LineResult {
    LineFault fault = LineFault::none;
    std::string reason;                      // for the user; empty when ok
    std::optional<OpenFailure> openFailure;  // a reason worth telling for `open`
    bool ok() const { return fault == LineFault::none; }
};

class Line {
public:
    using Clock = std::chrono::steady_clock;
    virtual ~Line() = default;

    // Drops input nobody has read (a late reply to an earlier exchange).
    virtual LineResult purge() = 0;
    // Says the exchange got its whole reply and read nothing after it. A
    // line that must wait for late bytes before it can drop them (one over
    // the network) need not wait at the next purge; others ignore this.
    virtual void replyComplete() {}
    // All of `bytes`, in one go where the line allows it.
    virtual LineResult write(std::span<const std::uint8_t> bytes) = 0;
    // Waits until input arrives or `deadline` passes, then appends at most
    // `max` bytes to `into`; ok with nothing appended when the time ran out.
    virtual LineResult read(std::vector<std::uint8_t>& into, std::size_t max, Clock::time_point deadline) = 0;
    // Waits at most `bound` until what was written has left.
    virtual LineResult drain(std::chrono::milliseconds bound) = 0;
};

// Opens the line to `port`, configured as `settings` asks, or none with the
// reason in `status`. Closing is the destructor's: a terminal gets its
// settings back and its claim released on every path.
std::unique_ptr<Line> openLine(const PortAddress& port, const LineSettings& settings, LineResult& status);

// A terminal device opened for an exchange and claimed (internal).
std::unique_ptr<Line> openTerminalLine(const std::string& path, const LineSettings& settings,
                                       LineResult& status);
// A hub on another host, by its port URL (internal).
std::unique_ptr<Line> openNetworkLine(const PortAddress& address, const LineSettings& settings,
                                      LineResult& status);

}  // namespace hublink
