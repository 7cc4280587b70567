#include "hublink/loader_port.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "fd_wait.h"
#include "hublink/cppmain.h"
#include "tty_posix.h"

namespace hublink {

namespace {

using Clock = std::chrono::steady_clock;

int millisLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

LoaderPort::~LoaderPort() { close(); }

std::string LoaderPort::open(const std::string& path, int speed) {
    close();
    CPPMain transport;
    const int fd = transport.openPort(path);
    if (fd < 0) return "Open Port Error!";
    if (transport.Set_Opt(fd, speed, 8, 'N', 1, 0) != 0) {
        ::close(fd);
        return "Set Port Option Error!";
    }
    fd_ = fd;
    return "OK";
}

bool LoaderPort::send(const std::uint8_t* data, std::size_t len) {
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    tty::discardInput(fd_);
    ssize_t written;
    do {
        written = ::write(fd_, data, len);
    } while (written < 0 && errno == EINTR);
    if (written >= 0 && static_cast<std::size_t>(written) != len) errno = EIO;
    return written >= 0 && static_cast<std::size_t>(written) == len;
}

int LoaderPort::receive(std::uint8_t* buf, std::size_t len, int millis) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(millis);
    std::size_t got = 0;
    while (got < len) {
        const int ready = waitReadable(fd_, millisLeft(deadline));
        if (ready < 0) return -1;
        if (ready == 0) break;
        const long n = readRetrying(fd_, buf + got, len - got);
        if (n < 0 && errno != EAGAIN) return -1;
        if (n == 0) break;  // the device went away
        if (n > 0) got += static_cast<std::size_t>(n);
    }
    return static_cast<int>(got);
}

bool LoaderPort::drain(int millis) {
    if (fd_ < 0) return false;
    // tcdrain has no time limit; the output queue is polled instead.
    const auto deadline = Clock::now() + std::chrono::milliseconds(millis);
    for (;;) {
        int queued = 0;
        if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void LoaderPort::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace hublink
