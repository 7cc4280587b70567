#include "hublink/std_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace hublink {

namespace {

bool isOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

// Fills the hole at `fd`: every lower descriptor is open, so open() takes it.
bool fill(int fd) {
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened < 0) return false;
    if (opened != fd) ::close(opened);  // the hole was filled meanwhile
    return true;
}

}  // namespace

bool ensureStdStreams() noexcept {
    for (int fd = 0; fd <= 2; ++fd)
        if (!isOpen(fd) && !fill(fd)) return false;
    return true;
}

}  // namespace hublink
