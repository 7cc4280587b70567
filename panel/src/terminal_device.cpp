// Linux side of the typed-path search: is a path a terminal we can open?
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <hublink/open_failure.h>

#include <cerrno>

#include "panel/hub_list.h"

namespace panel {

bool isTerminalDevice(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return false;
    // Non-blocking so a modem line without carrier cannot hold the search up.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return hublink::openFaultOf(errno).has_value();
    const bool terminal = ::isatty(fd) == 1;
    ::close(fd);
    return terminal;
}

}  // namespace panel
