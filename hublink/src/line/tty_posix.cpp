#include "line/tty_posix.h"

#include <termios.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <optional>

namespace hublink::tty {

namespace {

struct SpeedCode {
    int bitsPerSecond;
    speed_t code;
};

constexpr SpeedCode kSpeeds[] = {
    {0, B0},         {50, B50},       {75, B75},         {110, B110},       {134, B134},
    {150, B150},     {200, B200},     {300, B300},       {600, B600},       {1200, B1200},
    {1800, B1800},   {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
};

std::optional<speed_t> speedCode(int bitsPerSecond) {
    for (const auto& s : kSpeeds)
        if (s.bitsPerSecond == bitsPerSecond) return s.code;
    return std::nullopt;
}

tcflag_t characterSize(int dataBits) {
    switch (dataBits) {
        case 5: return CS5;
        case 6: return CS6;
        case 7: return CS7;
        default: return CS8;
    }
}

tcflag_t parityFlags(Parity parity) {
    switch (parity) {
        case Parity::Even: return PARENB;
        case Parity::Odd: return PARENB | PARODD;
        default: return 0;
    }
}

cc_t clampCc(int value) { return static_cast<cc_t>(std::clamp(value, 0, 255)); }

bool setSpeeds(termios& t, int in, int out) {
    const auto inCode = speedCode(in);
    const auto outCode = speedCode(out);
    if (!inCode || !outCode) {
        errno = EINVAL;
        return false;
    }
    return cfsetispeed(&t, *inCode) == 0 && cfsetospeed(&t, *outCode) == 0;
}

void consoleControlFlags(termios& t, const ConsoleLine& line) {
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | CREAD | PARENB | PARODD | CRTSCTS);
    t.c_cflag |= characterSize(line.dataBits) | parityFlags(line.parity) | CREAD | CLOCAL;
    if (line.twoStopBits) t.c_cflag |= CSTOPB;
    if (line.hardwareFlow) t.c_cflag |= CRTSCTS;
}

void consoleOtherFlags(termios& t, const ConsoleLine& line) {
    const tcflag_t swFlow = IXON | IXOFF | IXANY;
    t.c_iflag &= ~static_cast<tcflag_t>(INLCR | IGNCR | ICRNL | swFlow);
    if (line.softwareFlow) t.c_iflag |= swFlow;
    t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ISIG);
    if (line.processOutput)
        t.c_oflag |= OPOST;
    else
        t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
}

}  // namespace

bool lineSpeedSupported(int bitsPerSecond) { return speedCode(bitsPerSecond).has_value(); }

bool readable(int fd) {
    termios t{};
    return tcgetattr(fd, &t) == 0;
}

bool applyConsoleLine(int fd, const ConsoleLine& line) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    if (!setSpeeds(t, line.receiveRate, line.transmitRate)) return false;
    consoleControlFlags(t, line);
    consoleOtherFlags(t, line);
    std::fill(std::begin(t.c_cc), std::end(t.c_cc), cc_t{0});
    t.c_cc[VMIN] = clampCc(line.minimumBytes);
    t.c_cc[VTIME] = clampCc(line.readTimer);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

bool applyRawLine(int fd, const RawLine& line) {
    termios t{};  // all-zero: no input, output or local processing
    if (!setSpeeds(t, line.speed, line.speed)) return false;
    t.c_cflag |= CREAD | CLOCAL | characterSize(line.dataBits) | parityFlags(line.parity);
    if (line.twoStopBits) t.c_cflag |= CSTOPB;
    t.c_cc[VTIME] = clampCc(line.readTimer);
    t.c_cc[VMIN] = 0;
    discardInput(fd);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

std::vector<std::uint8_t> saveLine(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return {};
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&t);
    return {bytes, bytes + sizeof t};
}

void restoreLine(int fd, const std::vector<std::uint8_t>& saved) {
    if (saved.size() != sizeof(termios)) return;
    termios t{};
    std::memcpy(&t, saved.data(), sizeof t);
    const int keep = errno;
    tcsetattr(fd, TCSANOW, &t);
    errno = keep;
}

void discardInput(int fd) { tcflush(fd, TCIFLUSH); }
void discardOutput(int fd) { tcflush(fd, TCOFLUSH); }

}  // namespace hublink::tty
