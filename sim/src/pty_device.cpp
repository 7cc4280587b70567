#include "pty_device.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>

namespace sim {

namespace {

// 10 bits per character: start, 8 data, stop.
long charNanos(int baud) { return baud > 0 ? 1'000'000'000L * 10 / baud : 0; }

speed_t speedFor(int baud) {
    switch (baud) {
        case 9600: return B9600;
        case 115200: return B115200;
        default: return B0;
    }
}

[[noreturn]] void throwErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void setFdFlag(int fd, int getCmd, int setCmd, int flag, const char* what) {
    int flags = fcntl(fd, getCmd);
    if (flags < 0 || fcntl(fd, setCmd, flags | flag) < 0) throwErrno(what);
}

void makeRaw9600(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) throwErrno("tcgetattr");
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, B9600) != 0 || cfsetospeed(&tio, B9600) != 0) throwErrno("cfsetspeed");
    if (tcsetattr(fd, TCSANOW, &tio) != 0) throwErrno("tcsetattr");
}

void addNanos(timespec& t, long nanos) {
    t.tv_nsec += nanos;
    while (t.tv_nsec >= 1'000'000'000L) {
        t.tv_nsec -= 1'000'000'000L;
        ++t.tv_sec;
    }
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = other.release();
    }
    return *this;
}

int UniqueFd::release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

Pty openRawPty() {
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) throwErrno("openpty");
    Pty pty{UniqueFd(master), UniqueFd(slave), {}};
    // Child processes (tools under test) must not inherit the master, or a
    // vanished hub would stay alive in them.
    setFdFlag(master, F_GETFD, F_SETFD, FD_CLOEXEC, "fcntl master");
    setFdFlag(slave, F_GETFD, F_SETFD, FD_CLOEXEC, "fcntl slave");
    setFdFlag(master, F_GETFL, F_SETFL, O_NONBLOCK, "fcntl master");
    makeRaw9600(slave);
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0) throwErrno("ptsname_r");
    pty.path = name;
    return pty;
}

bool lineIsRaw(int fd, int baud) {
    const speed_t speed = speedFor(baud);
    termios tio{};
    if (speed == B0 || tcgetattr(fd, &tio) != 0) return false;
    return (tio.c_cflag & CSIZE) == CS8 && !(tio.c_cflag & (PARENB | CSTOPB)) &&
           !(tio.c_lflag & (ICANON | ECHO)) && cfgetispeed(&tio) == speed &&
           cfgetospeed(&tio) == speed;
}

bool writeAll(int fd, std::string_view data, int limitMillis) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMillis);
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n > 0) {
            data.remove_prefix(std::size_t(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, int(left.count()));
    }
    return true;
}

std::size_t discardInput(int fd) {
    char buffer[512];
    std::size_t total = 0;
    for (ssize_t n; total < 65536 && (n = ::read(fd, buffer, sizeof buffer)) > 0;) total += std::size_t(n);
    return total;
}

bool writePaced(int fd, std::string_view data, int baud) {
    const long nanos = charNanos(baud);
    timespec due{};
    clock_gettime(CLOCK_MONOTONIC, &due);
    for (char c : data) {
        addNanos(due, nanos);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
        }
        if (!writeAll(fd, std::string_view(&c, 1), 1000)) return false;
    }
    return true;
}

WakePipe::WakePipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throwErrno("pipe2");
    read_ = UniqueFd(fds[0]);
    write_ = UniqueFd(fds[1]);
}

void WakePipe::signal() {
    char byte = 1;
    // A full pipe already wakes the reader.
    [[maybe_unused]] ssize_t n = ::write(write_.get(), &byte, 1);
}

long wireMicros(std::size_t bytes, int baud) {
    return static_cast<long>(bytes) * charNanos(baud) / 1000;
}

}  // namespace sim
