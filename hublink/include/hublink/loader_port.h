// A control port held open for the hub's loader: binary packets at 115200
// baud, one packet and one reply at a time, on one claimed descriptor for as
// long as the caller keeps it (a whole firmware update).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace hublink {

// Speed of the loader's packet protocol.
inline constexpr int kLoaderBaud = 115200;

class Line;

class LoaderPort {
public:
    LoaderPort();
    ~LoaderPort();  // closes
    LoaderPort(const LoaderPort&) = delete;
    LoaderPort& operator=(const LoaderPort&) = delete;

    // Opens and claims `path` (the transports' advisory lock, so no other
    // exchange reaches the loader meanwhile; a port URL is connected to, or
    // the connection a CommandClaim of this thread holds is used) and
    // configures raw 8N1 at `speed`. Returns "OK", "Open Port Error!" or "Set Port Option Error!"
    // (the reason printed to stderr); nothing stays open on failure.
    std::string open(const std::string& path, int speed = kLoaderBaud);
    bool isOpen() const;

    // Drops input nobody has read (a late reply to an earlier packet), then
    // writes `len` bytes in one write call: a loader drops a packet that
    // arrives with a pause inside. False (errno set) when the write failed or
    // was short.
    bool send(const std::uint8_t* data, std::size_t len);

    // Reads until `len` bytes arrived or `millis` ran out; the reply of a
    // USB-serial adapter comes in pieces. Returns the count (short when the
    // time ran out or the device went away), -1 when a wait or read failed.
    int receive(std::uint8_t* buf, std::size_t len, int millis);

    // Waits at most `millis` until written bytes have left the driver, so a
    // close does not drop them. True when the queue is empty.
    bool drain(int millis);

    // Closes. The line stays as configured: the loader may still be taking
    // in the last packet, and only a hub's port gets this far.
    void close();

private:
    std::unique_ptr<Line> line_;
};

}  // namespace hublink
