// A byte line to a hub exported on another host (ser2net or any RFC 2217
// server), as its port URL names it (see hublink/port_url.h). Errors are
// values; nothing here throws, prints, or raises SIGPIPE. One thread uses a
// line at a time; lines on different threads are independent.
//
// The lines live in a library of their own, loaded only when a program first
// names a port URL (hublink's line layer does that), so that a command on a
// local port never maps gensio and what it brings. This header is all the
// two sides share: the interface and the library's one entry point.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "hublink/port_url.h"

namespace hublink {

enum class NetFault {
    none,
    badUrl,       // the name is no usable port URL, or the speed is not above 0
    noSuchHost,   // the host name has no address
    refused,      // nothing listens on that port
    timeout,      // no connection (or name) within the connect bound; drain's bound ran out
    connect,      // any other failure to connect (no route, ...)
    rejected,     // the server hung up at once: another client has the port
    noDevice,     // the server could not open the hub's device (unplugged, say)
    tls,          // the TLS handshake failed or the certificate was not accepted
    lineControl,  // the server refused the RFC 2217 line settings, or has none
    unconfirmed,  // the server did not confirm the line settings within the bound
    closed,       // the server hung up on an open line
    io,           // any other failure of an open line, or a call on a closed one
};

struct NetResult {
    NetFault fault = NetFault::none;
    std::string reason;  // for the user, e.g. "127.0.0.1:7000 refused the connection"

    bool ok() const { return fault == NetFault::none; }
    explicit operator bool() const { return ok(); }
};

class NetLine {
public:
    using Clock = std::chrono::steady_clock;

    // The whole of open: name lookup, connection, TLS, line settings.
    static constexpr std::chrono::milliseconds kConnectBound{2000};
    // The most purge spends dropping input on a line that never goes quiet.
    static constexpr std::chrono::milliseconds kPurgeBound{250};
    static constexpr std::chrono::milliseconds kWriteBound{2000};

    NetLine() = default;
    virtual ~NetLine() = default;  // closes
    NetLine(const NetLine&) = delete;
    NetLine& operator=(const NetLine&) = delete;

    // Connects to `url` within kConnectBound in total (an open line is closed
    // first). rfc2217 and rfc2217+tls: asks the server to purge the device's
    // input (RFC 2217 PURGE-DATA), sets `baud`, 8 data bits, no parity, 1 stop bit and waits until
    // the server confirmed each; modem lines are
    // left alone (a pty export never confirms them). tcp: the server's own
    // line settings apply and `baud` only times drain(); a server that hangs
    // up within a short grace period is `rejected`, so its parting words
    // ("Port already in use") are never taken for a reply. rfc2217+tls:
    // the certificate must chain to the CA file named by HUBLINK_CA, or to
    // the system's store when that is unset, and name the host; there is no
    // fallback to clear text. Input that arrives during open is dropped, and
    // what a server said before hanging up is quoted in the reason.
    virtual NetResult open(const PortUrl& url, int baud) = 0;
    virtual bool isOpen() const = 0;

    // Whether every byte value crosses unchanged both ways: tcp, and telnet
    // where the server agreed to BINARY in both directions (asked for at
    // open; ser2net agrees). Elsewhere telnet's NVT rule for CR applies and
    // is kept here (CR goes as CR NUL, the NUL after a CR is dropped): hub
    // commands work, binary packets would lose bytes.
    virtual bool carriesBinary() const = 0;

    // Changes the speed of an open RFC 2217 line (the loader's 115200 after
    // commands at 9600) and waits until the server confirmed it, at most
    // kConnectBound; input not yet read is dropped. drain() times the wire
    // at the new speed. tcp: `lineControl`, as a raw export keeps the
    // server's speed.
    virtual NetResult setBaud(int baud) = 0;

    // Drops input nobody read (a late reply), including bytes the server
    // still holds back: input is dropped until it has been quiet for two
    // character times (at least 1 ms), 2 ms more and a network round trip
    // (about 4 ms at 9600 baud nearby), at most kPurgeBound. After
    // replyComplete() only what has arrived is dropped, at once, unless
    // something had: then the quiet wait follows. Bytes still on the hub's
    // wire can arrive later, as on a local port. `closed` when the server
    // has hung up.
    virtual NetResult purge() = 0;

    // The caller's last exchange ended with the whole reply and nothing read
    // after it: the hub, which says one reply per request, has nothing more
    // to say, and the next purge() need not wait for stragglers.
    virtual void replyComplete() = 0;

    // All bytes (each value as it is: telnet's 0xFF doubling is undone on the
    // far side) or an error; `bound` limits the wait for the network.
    virtual NetResult write(std::span<const std::uint8_t> bytes,
                            std::chrono::milliseconds bound = kWriteBound) = 0;

    // Waits until input arrives or `deadline` passes, then appends what
    // arrived (at most `max` bytes) to `into`. A reply comes in pieces: the
    // caller reads until its terminator or deadline. Nothing appended and ok
    // when the deadline passed; `closed` when the server hung up.
    virtual NetResult read(std::vector<std::uint8_t>& into, std::size_t max,
                           Clock::time_point deadline) = 0;

    // Waits until the bytes written so far can have left the far end's
    // serial port: their time on the wire at the line speed, counted from
    // when the network took them, plus one network round trip. The network
    // gives no confirmation, so this is the wire's time, not a receipt; input
    // read since a write counts as the far end's answer to it (the bytes
    // written before it have left).
    // `timeout` when `bound` ran out first.
    virtual NetResult drain(std::chrono::milliseconds bound) = 0;

    // Closes (bounded). Safe to call when closed.
    virtual void close() = 0;
};

// The library's entry point, found by this name: a new closed line, or null
// when the caller was built for another version of this interface.
inline constexpr unsigned kNetLineInterface = 2;
inline constexpr const char* kNetLineEntry = "hublink_netline_create";
using NetLineCreate = NetLine* (*)(unsigned interfaceVersion);

}  // namespace hublink
