// The terminal device under an exchange: the first kind of line.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "line/fd_wait.h"
#include "line/line.h"
#include "line/port_claim.h"
#include "line/tty_posix.h"

namespace hublink {

namespace {

int millisLeft(Line::Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Line::Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

LineResult failed(LineFault fault, const std::string& reason) { return {fault, reason, std::nullopt}; }

class TerminalLine : public Line {
public:
    TerminalLine(int fd, bool restoreOnClose)
        : fd_(fd), saved_(restoreOnClose ? tty::saveLine(fd) : std::vector<std::uint8_t>{}) {}
    ~TerminalLine() override {
        if (!saved_.empty()) tty::restoreLine(fd_, saved_);
        ::close(fd_);
    }
    TerminalLine(const TerminalLine&) = delete;
    TerminalLine& operator=(const TerminalLine&) = delete;

    LineResult purge() override {
        tty::discardInput(fd_);
        return {};
    }

    LineResult write(std::span<const std::uint8_t> bytes) override {
        ssize_t written;
        do {
            written = ::write(fd_, bytes.data(), bytes.size());
        } while (written < 0 && errno == EINTR);
        if (written == static_cast<ssize_t>(bytes.size())) return {};
        // Half a command must not stay queued for the hub.
        tty::discardOutput(fd_);
        return failed(LineFault::write, written < 0 ? std::strerror(errno) : "short write");
    }

    LineResult read(std::vector<std::uint8_t>& into, std::size_t max, Clock::time_point deadline) override {
        if (vanished()) return failed(LineFault::gone, "the device went away");
        const int ready = waitReadable(fd_, millisLeft(deadline));
        if (ready == 0) return {};
        if (ready < 0) return failed(LineFault::read, std::strerror(errno));
        const std::size_t before = into.size();
        into.resize(before + max);
        const long n = readRetrying(fd_, into.data() + before, max);
        into.resize(before + static_cast<std::size_t>(n > 0 ? n : 0));
        if (n > 0 || (n < 0 && errno == EAGAIN)) return {};
        return n == 0 ? failed(LineFault::gone, "the device reported end of data")
                      : failed(LineFault::read, std::strerror(errno));
    }

    // tcdrain has no time limit; the output queue is polled instead.
    LineResult drain(std::chrono::milliseconds bound) override {
        const auto deadline = Clock::now() + bound;
        for (;;) {
            int queued = 0;
            if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return {};
            if (Clock::now() >= deadline) return failed(LineFault::write, "output still queued");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

private:
    // An unplugged adapter's node (and a pty whose master closed) loses its
    // link while our descriptor stays valid.
    bool vanished() const {
        struct stat st {};
        return fstat(fd_, &st) != 0 || st.st_nlink != 1;
    }

    int fd_;
    std::vector<std::uint8_t> saved_;
};

// Raw 8N1 at `baud`, pending input dropped; blocking writes, so a packet
// goes out in one write call.
LineResult configure(int fd, int baud) {
    // A command carries the password: never write it into something that is
    // not a serial line, such as a file that happens to be named COM3.
    const auto refused = [](const char* what, int err) {
        return failed(LineFault::setup, std::string(what) + ": " + std::strerror(err));
    };
    if (!tty::readable(fd)) return refused("Error getting terminal attributes", errno);
    if (!tty::lineSpeedSupported(baud)) return refused("Unsupported baud rate", EINVAL);
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return refused("Error setting file flags", errno);
    tty::RawLine raw;
    raw.speed = baud;
    if (!tty::applyRawLine(fd, raw)) return refused("Error setting terminal attributes", errno);
    return {};
}

}  // namespace

std::unique_ptr<Line> openTerminalLine(const std::string& path, const LineSettings& settings,
                                       LineResult& status) {
    status = {};
    const int fd = openClaimed(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, status.openFailure);
    if (fd < 0) {
        status.fault = LineFault::open;
        status.reason = std::strerror(errno);
        return nullptr;
    }
    auto line = std::make_unique<TerminalLine>(fd, settings.restoreOnClose);
    status = configure(fd, settings.baud);
    if (!status.ok()) return nullptr;  // the line's destructor closes and restores
    return line;
}

}  // namespace hublink
