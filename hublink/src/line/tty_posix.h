// The one place that knows termios. Callers hand in plain values; nothing
// here prints or decides policy.
#pragma once

#include <cstdint>
#include <vector>

namespace hublink::tty {

enum class Parity { None, Even, Odd };

// Line settings of the console's SerialPort, applied over the current ones.
struct ConsoleLine {
    int receiveRate = 9600;   // bits per second; must be in lineSpeedSupported()
    int transmitRate = 9600;
    int minimumBytes = 1;     // VMIN, clamped to 0..255
    int readTimer = 1;        // VTIME in tenths of a second, clamped to 0..255
    Parity parity = Parity::None;
    bool twoStopBits = false;
    int dataBits = 8;         // 5..8
    bool hardwareFlow = false;
    bool softwareFlow = false;
    bool processOutput = false;
};

// Raw line of the windowed transport, built from all-zero settings.
struct RawLine {
    int speed = 9600;         // bits per second; must be in lineSpeedSupported()
    int dataBits = 8;         // 7 or 8
    Parity parity = Parity::None;
    bool twoStopBits = false;
    int readTimer = 0;        // VTIME, clamped to 0..255; VMIN is 0
};

// Whether the speed has a termios code here (0 and 50..230400 standard rates).
bool lineSpeedSupported(int bitsPerSecond);

// tcgetattr succeeds: the descriptor is a terminal we can configure.
bool readable(int fd);

// Read-modify-write of the current settings, applied at once. False (errno
// set) when the line refuses them; the old settings then stay.
bool applyConsoleLine(int fd, const ConsoleLine& line);

// Discards pending input, then applies `line` at once. False with errno set.
bool applyRawLine(int fd, const RawLine& line);

// The line's settings as they are now, as opaque bytes (empty when the
// descriptor is no terminal), and putting them back (best effort). A
// transport puts back what it found when it closes the port, so a terminal
// that is no hub (the user's own /dev/tty) is not left raw.
std::vector<std::uint8_t> saveLine(int fd);
void restoreLine(int fd, const std::vector<std::uint8_t>& saved);

// Discards input / output the driver holds but nobody has read / sent.
void discardInput(int fd);
void discardOutput(int fd);

}  // namespace hublink::tty
