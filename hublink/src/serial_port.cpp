#include "hublink/serial_port.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <utility>

#include "fd_wait.h"
#include "hublink/exchange.h"
#include "port_claim.h"
#include "tty_posix.h"

namespace hublink {

namespace {

constexpr double kReplyTimeout = 1.0;       // whole reply line, console
constexpr double kByteWait = 0.025;         // one readBytes inside readUntilChar
constexpr auto kIdlePause = std::chrono::milliseconds(1);

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

// The reply line, or nullopt when the command could not be written whole;
// `sent` becomes true once it was.
std::optional<std::string> exchangeOnce(SerialPort& port, const std::string& cmd, bool& sent) {
    port.openPort(true, true);
    // A command carries the password: never write it into something that is
    // not a serial line, such as a file that happens to be named COM3.
    if (!port.isTerminal()) return std::nullopt;
    port.setSettings(BaudRate::baud9600, BaudRate::baud9600, 1, 1, ParityType::none, false,
                     DataBitsSize::bits8, false, false, false);
    port.discardInput();
    const std::span<const std::uint8_t> bytes(
        reinterpret_cast<const std::uint8_t*>(cmd.data()), cmd.size());
    // A failed or partial write leaves the hub half a command: no reply to wait for.
    if (port.writeData(bytes) != static_cast<long>(bytes.size())) return std::nullopt;
    sent = true;
    return port.readUntilChar('\n', kReplyTimeout);
}

}  // namespace

Exchange sendCommand(const std::string& com, const std::string& cmd) {
    SerialPort port(com);  // its destructor closes the port on every path
    bool sent = false;
    try {
        std::optional<std::string> reply = exchangeOnce(port, cmd, sent);
        port.closePort();
        if (!reply || reply->empty()) return {"No", "", sent};
        return {"OK", std::move(*reply), sent};
    } catch (const PortError&) {
        return {"No", "", sent, port.openFailure()};
    } catch (const std::exception&) {
        return {"No", "", sent};
    }
}

}  // namespace hublink
