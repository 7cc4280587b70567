#include "line/fd_wait.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>

namespace hublink {

int waitReadable(int fd, int millis) {
    using namespace std::chrono;
    // poll ignores negative descriptors and flags closed ones; a wait on
    // either has failed, as select would say.
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    const auto deadline = steady_clock::now() + milliseconds(std::max(0, millis));
    for (;;) {
        // poll, not select: a descriptor number above FD_SETSIZE must not
        // overrun an fd_set in a long-running window program.
        pollfd p{fd, POLLIN, 0};
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        const int rc = poll(&p, 1, static_cast<int>(std::max<long long>(0, left)));
        if (rc > 0 && (p.revents & POLLNVAL)) {
            errno = EBADF;
            return -1;
        }
        if (rc >= 0 || errno != EINTR) return rc;
    }
}

long readRetrying(int fd, void* buf, std::size_t len) {
    for (;;) {
        const ssize_t n = ::read(fd, buf, len);
        if (n >= 0 || errno != EINTR) return static_cast<long>(n);
    }
}

int timeoutMillis(double seconds) {
    if (!(seconds > 0)) return 0;
    return static_cast<int>(std::ceil(std::min(seconds, 86400.0) * 1000.0));
}

}  // namespace hublink
