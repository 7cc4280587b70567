// Shorthands the transport and discovery tests share: faults for the virtual
// hub, elapsed time, the process's open descriptors, a mis-set line.
#pragma once

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <sim/virtual_hub.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <string>

namespace hubtest {

using Clock = std::chrono::steady_clock;
using Kind = sim::Fault::Kind;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline sim::Fault fault(Kind kind, int millis = 0, int count = 0) {
    return {kind, millis, count, {}};
}
inline sim::Fault raw(std::string bytes) { return {Kind::Raw, 0, 0, std::move(bytes)}; }

inline long openDescriptorCount() {
    using std::filesystem::directory_iterator;
    return std::distance(directory_iterator("/proc/self/fd"), directory_iterator());
}

// Leaves the hub's line at 19200 baud, two stop bits, canonical: an exchange
// that does not set the line up itself is then seen by hub.lineSettingsOk().
inline void spoilLine(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfsetspeed(&t, B19200);
    t.c_cflag |= CSTOPB;
    t.c_lflag |= ICANON;
    ::tcsetattr(fd, TCSANOW, &t);
    ::close(fd);
}

}  // namespace hubtest
