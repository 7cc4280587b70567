#include "port_claim.h"

#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <thread>

namespace hublink {

namespace {

constexpr std::chrono::milliseconds kRetryInterval{5};

bool lockExclusive(int fd, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= deadline) {
            errno = EWOULDBLOCK;
            return false;
        }
        std::this_thread::sleep_for(kRetryInterval);
    }
}

// FTDI-style adapters hold received bytes up to their latency timer (16 ms)
// unless told otherwise: the largest avoidable delay of an exchange. Ptys and
// some drivers answer ENOTTY or EINVAL; that is fine.
void requestLowLatency(int fd) {
    const int saved = errno;
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ioctl(fd, TIOCSSERIAL, &serial);
    }
    errno = saved;
}

}  // namespace

bool claimPort(int fd, std::chrono::milliseconds timeout) {
    if (!lockExclusive(fd, timeout)) return false;
    requestLowLatency(fd);
    return true;
}

}  // namespace hublink
