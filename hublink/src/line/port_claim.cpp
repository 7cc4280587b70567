#include "line/port_claim.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>

#include "line/device_open.h"
#include "line/remote_claim.h"
#include "hublink/command_claim.h"

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

// The devices each thread of this process holds a command claim on. A
// device is named by its inode, so every path that leads to it (a
// registry's link) counts; other threads' exchanges wait like other
// processes'.
using DeviceId = std::tuple<dev_t, ino_t, std::thread::id>;
std::mutex heldMutex;
std::map<DeviceId, int> heldDevices;

bool deviceOf(int fd, DeviceId& id) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return false;
    id = {st.st_dev, st.st_ino, std::this_thread::get_id()};
    return true;
}

bool heldHere(int fd) {
    DeviceId id;
    if (!deviceOf(fd, id)) return false;
    std::lock_guard lock(heldMutex);
    return heldDevices.count(id) > 0;
}

}  // namespace

bool claimPort(int fd, std::chrono::milliseconds timeout) {
    // Under this thread's command claim the lock is ours already.
    if (!heldHere(fd) && !lockExclusive(fd, timeout)) return false;
    requestLowLatency(fd);
    return true;
}

int openClaimed(const std::string& path, int flags, std::optional<OpenFailure>& failure) {
    const int fd = openDevice(path, flags, failure);
    if (fd < 0 || claimPort(fd)) return fd;
    failure = failureFor(path, errno);
    ::close(fd);
    return -1;
}

CommandClaim::CommandClaim(const PortAddress& port, std::chrono::milliseconds wait) {
    if (port.remote()) {
        claimRemote(port, wait);
        return;
    }
    const std::string& path = port.name;
    const int fd = openDevice(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, failure_);
    if (fd < 0) return;
    DeviceId id;
    if (!deviceOf(fd, id) || (!heldHere(fd) && !lockExclusive(fd, wait))) {
        failure_ = failureFor(path, errno);
        ::close(fd);
        return;
    }
    std::lock_guard lock(heldMutex);
    ++heldDevices[id];
    fd_ = fd;
}

CommandClaim::~CommandClaim() {
    releaseRemote();
    if (fd_ < 0) return;
    DeviceId id;
    if (deviceOf(fd_, id)) {
        std::lock_guard lock(heldMutex);
        if (--heldDevices[id] <= 0) heldDevices.erase(id);
    }
    ::close(fd_);
}

}  // namespace hublink
