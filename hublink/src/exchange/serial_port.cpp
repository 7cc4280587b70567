#include "hublink/serial_port.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "line/fd_wait.h"
#include "line/line.h"
#include "hublink/exchange.h"
#include "line/port_claim.h"
#include "line/tty_posix.h"

namespace hublink {

namespace {

constexpr double kReplyTimeout = 1.0;       // whole reply line, console
constexpr double kByteWait = 0.025;         // one readBytes inside readUntilChar
constexpr auto kIdlePause = std::chrono::milliseconds(1);
// Longest reply line taken, LF not counted. The longest a hub sends, the
// extended identify with a 100-byte description, is well below it.
constexpr std::size_t kReplyBound = 512;

int openFlags(bool toReceive, bool andTransmit) {
    const int base = O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    if (toReceive && andTransmit) return base | O_RDWR;
    if (toReceive) return base | O_RDONLY;
    if (andTransmit) return base | O_WRONLY;
    throw PortError::mustReceiveOrTransmit;
}

tty::Parity ttyParity(ParityType p) {
    switch (p) {
        case ParityType::even: return tty::Parity::Even;
        case ParityType::odd: return tty::Parity::Odd;
        default: return tty::Parity::None;
    }
}

}  // namespace

SerialPort::SerialPort(std::string path) : path_(std::move(path)) {}

SerialPort::~SerialPort() { closePort(); }

void SerialPort::openPort(bool toReceive, bool andTransmit) {
    if (path_.empty()) throw PortError::invalidPath;
    const int flags = openFlags(toReceive, andTransmit);
    closePort();
    const int fd = openClaimed(path_, flags, openFailure_);
    if (fd < 0) throw PortError::failedToOpen;
    fileDescriptor_ = fd;
    savedLine_ = tty::saveLine(fd);
}

void SerialPort::setSettings(BaudRate receiveRate, BaudRate transmitRate, int minimumBytesToRead,
                             int timeout, ParityType parityType, bool sendTwoStopBits,
                             DataBitsSize dataBitsSize, bool useHardwareFlowControl,
                             bool useSoftwareFlowControl, bool processOutput) {
    if (!fileDescriptor_) return;
    tty::ConsoleLine line;
    line.receiveRate = static_cast<int>(receiveRate);
    line.transmitRate = static_cast<int>(transmitRate);
    line.minimumBytes = minimumBytesToRead;
    line.readTimer = timeout;
    line.parity = ttyParity(parityType);
    line.twoStopBits = sendTwoStopBits;
    line.dataBits = 5 + static_cast<int>(dataBitsSize);
    line.hardwareFlow = useHardwareFlowControl;
    line.softwareFlow = useSoftwareFlowControl;
    line.processOutput = processOutput;
    tty::applyConsoleLine(*fileDescriptor_, line);
}

bool SerialPort::isTerminal() const {
    return fileDescriptor_ && ::isatty(*fileDescriptor_) == 1;
}

void SerialPort::discardInput() {
    if (!fileDescriptor_) throw PortError::mustBeOpen;
    tty::discardInput(*fileDescriptor_);
}

long SerialPort::writeData(std::span<const std::uint8_t> data) {
    if (!fileDescriptor_) throw PortError::mustBeOpen;
    return static_cast<long>(::write(*fileDescriptor_, data.data(), data.size()));
}

long SerialPort::readBytes(std::uint8_t* into, std::size_t size, double timeout) {
    if (!fileDescriptor_) throw PortError::mustBeOpen;
    struct stat st {};
    // An unplugged adapter's node (and a pty whose master closed) loses its
    // link while our descriptor stays valid.
    if (fstat(*fileDescriptor_, &st) != 0 || st.st_nlink != 1) throw PortError::deviceNotConnected;
    const int ready = waitReadable(*fileDescriptor_, timeoutMillis(timeout));
    if (ready <= 0) return ready;
    return readRetrying(*fileDescriptor_, into, size);
}

std::string SerialPort::readUntilChar(char terminator, double timeout) {
    const auto start = std::chrono::steady_clock::now();
    const auto limit = std::chrono::duration<double>(timeout);
    std::string collected;
    while (std::chrono::steady_clock::now() - start < limit) {
        std::uint8_t byte = 0;
        if (readBytes(&byte, 1, kByteWait) <= 0) {
            std::this_thread::sleep_for(kIdlePause);
            continue;
        }
        if (byte >= 0x80) throw PortError::unableToConvertByteToCharacter;
        if (byte == static_cast<std::uint8_t>(terminator)) break;
        collected.push_back(static_cast<char>(byte));
    }
    return collected;  // only ASCII got here, so it is valid UTF-8
}

void SerialPort::closePort() {
    if (!fileDescriptor_) return;
    tty::restoreLine(*fileDescriptor_, savedLine_);
    ::close(*fileDescriptor_);
    fileDescriptor_.reset();
}

namespace {

// Where the reply ends in what has arrived: the last terminator when all
// that arrived ends in one, else the first one; npos when there is none.
// The hub says one line per request, so when several whole lines came at
// once the earlier ones are older than the reply: a late reply to an
// earlier request, which a server such as ser2net can hold back and pass on
// together with this one.
std::size_t replyEnd(const std::vector<std::uint8_t>& got, std::size_t from, std::uint8_t terminator) {
    const auto first = std::find(got.begin() + long(from), got.end(), terminator);
    if (first == got.end()) return std::string::npos;
    if (got.back() == terminator) return got.size() - 1;
    return std::size_t(first - got.begin());
}

// The line before the reply's terminator (not kept) within the deadline;
// none when a byte of 0x80 or above arrives (no ASCII reply), more than
// kReplyBound bytes come before the terminator, or the line fails.
std::optional<std::string> replyLine(Line& line, char terminator, Line::Clock::time_point deadline) {
    std::vector<std::uint8_t> got;
    while (Line::Clock::now() < deadline) {
        const std::size_t before = got.size();
        // Never more than the bound and its terminator: a peer that streams
        // bytes for the whole second costs no more memory than a reply.
        const std::size_t room = std::min<std::size_t>(64, kReplyBound + 1 - before);
        if (!line.read(got, room, deadline).ok()) return std::nullopt;
        const std::size_t end = replyEnd(got, before, static_cast<std::uint8_t>(terminator));
        const auto last = end == std::string::npos ? got.end() : got.begin() + long(end);
        if (std::any_of(got.begin() + long(before), last, [](std::uint8_t b) { return b >= 0x80; }))
            return std::nullopt;
        if (end != std::string::npos) {
            if (end + 1 == got.size()) line.replyComplete();
            const auto start = std::find(std::make_reverse_iterator(got.begin() + long(end)), got.rend(),
                                         static_cast<std::uint8_t>(terminator));
            return std::string(start.base(), got.begin() + long(end));
        }
        if (got.size() > kReplyBound) return std::nullopt;  // no hub says this much
    }
    return std::string(got.begin(), got.end());  // a line without its LF is the reply
}

}  // namespace

Exchange sendCommand(const std::string& com, const std::string& cmd) {
    return sendCommand(PortAddress::of(com), cmd);
}

Exchange sendCommand(const PortAddress& port, const std::string& cmd) {
    LineResult status;
    const std::unique_ptr<Line> line = openLine(port, {}, status);  // closed on every path
    if (!line) return {"No", "", false, status.openFailure};
    line->purge();
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(cmd.data()), cmd.size());
    // A failed or partial write leaves the hub half a command: no reply to wait for.
    if (!line->write(bytes).ok()) return {"No", "", false};
    const auto deadline = Line::Clock::now() + std::chrono::duration_cast<Line::Clock::duration>(
                                                   std::chrono::duration<double>(kReplyTimeout));
    std::optional<std::string> reply = replyLine(*line, '\n', deadline);
    if (!reply || reply->empty()) return {"No", "", true};
    return {"OK", std::move(*reply), true};
}

}  // namespace hublink
