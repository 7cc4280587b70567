// The terminal-device side of the virtual hub: the pty, its line settings and
// the writes of replies. Everything here talks to the OS.
#pragma once

#include <string>
#include <string_view>

namespace sim {

// Owns one descriptor; closes it when dropped.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    void reset();

private:
    int fd_ = -1;
};

struct Pty {
    UniqueFd master;  // non-blocking
    UniqueFd slave;   // kept open so a client's close never hangs up the master
    std::string path;
};

// Opens a pty whose slave is already raw 8N1 at 9600 baud. Both descriptors
// are close-on-exec. Throws std::system_error.
Pty openRawPty();

// Whether the line (read through either side) is raw 8N1 at `baud` (9600 or
// 115200; any other number is never right).
bool lineIsRaw(int fd, int baud);

// Writes all of `data` to a non-blocking descriptor, waiting at most
// `limitMillis` for room. False when the data could not all be written.
bool writeAll(int fd, std::string_view data, int limitMillis);

// Reads and drops what is waiting on a non-blocking descriptor (at most
// 64 KiB, so a flooding client cannot hold the caller). Returns the count.
std::size_t discardInput(int fd);

// Writes byte by byte, each byte due one character time at `baud` after the
// previous one, as a real line delivers them.
bool writePaced(int fd, std::string_view data, int baud);

// Time the line needs to carry `bytes` characters at `baud`, in microseconds.
long wireMicros(std::size_t bytes, int baud);

// A self-pipe that wakes a poll() on another thread. Non-blocking both ends.
class WakePipe {
public:
    WakePipe();  // throws std::system_error
    void signal();
    int readFd() const { return read_.get(); }

private:
    UniqueFd read_;
    UniqueFd write_;
};

}  // namespace sim
