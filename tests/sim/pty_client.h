// A minimal control-port client for the tests: plain POSIX calls, every wait
// bounded.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace simtest {

using Clock = std::chrono::steady_clock;

inline int millisSince(Clock::time_point start) {
    return int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class PtyClient {
public:
    // Opens `path` and sets raw 8N1 at 9600 baud, as the tools do.
    explicit PtyClient(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        if (fd_ < 0) throw std::runtime_error("cannot open " + path);
        termios tio{};
        tcgetattr(fd_, &tio);
        cfmakeraw(&tio);
        cfsetspeed(&tio, B9600);
        tcsetattr(fd_, TCSANOW, &tio);
    }
    ~PtyClient() { ::close(fd_); }
    PtyClient(const PtyClient&) = delete;
    PtyClient& operator=(const PtyClient&) = delete;

    int fd() const { return fd_; }

    // Another speed, still raw 8N1 (the loader talks at 115200).
    void setSpeed(speed_t speed) {
        termios tio{};
        tcgetattr(fd_, &tio);
        cfsetspeed(&tio, speed);
        tcsetattr(fd_, TCSANOW, &tio);
    }

    void send(std::string_view bytes) {
        if (::write(fd_, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
            throw std::runtime_error("short write");
    }

    // Each read() result until an LF arrives or `millis` run out.
    std::vector<std::string> readPieces(int millis) {
        return readPiecesUntil(millis, [](const std::string& piece, std::size_t) {
            return piece.find('\n') != std::string::npos;
        });
    }

    // Each read() result until `count` bytes arrived or `millis` run out;
    // never reads past `count`.
    std::vector<std::string> readCount(std::size_t count, int millis) {
        return readPiecesUntil(
            millis, [count](const std::string&, std::size_t total) { return total >= count; },
            count);
    }

    std::string readReply(int millis = 1000) {
        std::string reply;
        for (const std::string& piece : readPieces(millis)) reply += piece;
        return reply;
    }

    std::string exchange(const std::string& line, int millis = 1000) {
        send(line + "\r");
        return readReply(millis);
    }

private:
    template <typename Done>
    std::vector<std::string> readPiecesUntil(int millis, Done done, std::size_t most = SIZE_MAX) {
        std::vector<std::string> pieces;
        std::size_t total = 0;
        const auto start = Clock::now();
        for (int left = millis; left > 0; left = millis - millisSince(start)) {
            pollfd p{fd_, POLLIN, 0};
            char buffer[256];
            if (::poll(&p, 1, left) <= 0 || !(p.revents & POLLIN)) break;
            const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, most - total));
            if (n <= 0) break;
            pieces.emplace_back(buffer, std::size_t(n));
            total += std::size_t(n);
            if (done(pieces.back(), total) || total >= most) break;
        }
        return pieces;
    }

    int fd_;
};

// Whether the device behind `fd` has gone: hung up within `millis` and its
// node unlinked.
inline bool hungUp(int fd, int millis) {
    pollfd p{fd, POLLIN, 0};
    struct stat st {};
    return ::poll(&p, 1, millis) == 1 && (p.revents & (POLLHUP | POLLERR)) &&
           ::fstat(fd, &st) == 0 && st.st_nlink == 0;
}

// Polls `done` until it holds or `millis` run out.
template <typename Predicate>
bool eventually(Predicate done, int millis = 1000) {
    const auto start = Clock::now();
    while (!done()) {
        if (millisSince(start) > millis) return false;
        ::usleep(1000);
    }
    return true;
}

}  // namespace simtest
