#include "hublink/cppmain.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

#include "line/fd_wait.h"
#include "line/line.h"
#include "hublink/fd_guard.h"
#include "hublink/loader_port.h"
#include "line/port_claim.h"
#include "exchange/reply_reader.h"
#include "line/tty_posix.h"

namespace hublink {

namespace {

// The windowed programs talk only at these speeds (the hub at 9600, its
// loader at 115200). Checked here: glibc and ptys would take others.
constexpr int kWindowSpeeds[] = {2400, 4800, 9600, 115200};

constexpr auto kPollPause = std::chrono::milliseconds(25);

// How long a single loader packet waits for its reply.
constexpr int kUpdateReplyMillis = 250;

int refuse(const char* message, int err) {
    std::fprintf(stderr, "%s: %s\n", message, std::strerror(err));
    return -1;
}

std::optional<tty::Parity> parityFromLetter(char letter) {
    switch (letter) {
        case 'N': case 'n': return tty::Parity::None;
        case 'E': case 'e': return tty::Parity::Even;
        case 'O': case 'o': return tty::Parity::Odd;
        default: return std::nullopt;
    }
}

// Checks the requested line in the order the messages are reported; returns
// the message of the first bad value, or nullptr with `line` filled in.
const char* checkLine(int speed, int dataBits, char parity, int stopBits, tty::RawLine& line) {
    if (dataBits != 7 && dataBits != 8) return "Invalid number of data bits";
    const auto p = parityFromLetter(parity);
    if (!p) return "Invalid parity";
    if (std::find(std::begin(kWindowSpeeds), std::end(kWindowSpeeds), speed) ==
        std::end(kWindowSpeeds))
        return "Unsupported baud rate";
    if (stopBits != 1 && stopBits != 2) return "Invalid number of stop bits";
    line.dataBits = dataBits;
    line.parity = *p;
    line.speed = speed;
    line.twoStopBits = stopBits == 2;
    return nullptr;
}

}  // namespace

int CPPMain::openPort(const std::string& path) {
    const int fd = openClaimed(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, openFailure_);
    if (fd < 0) return -1;
    // Non-blocking only so that open cannot hang on modem lines; the reads
    // rely on blocking semantics with VMIN/VTIME from here on.
    if (fcntl(fd, F_SETFL, 0) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int CPPMain::Set_Opt(int fd, int speed, int dataBits, char parity, int stopBits, int readTimer) {
    return configure(fd, speed, dataBits, parity, stopBits, readTimer, true);
}

int CPPMain::configure(int fd, int speed, int dataBits, char parity, int stopBits, int readTimer,
                       bool report) {
    const auto fail = [report](const char* message, int err) {
        return report ? refuse(message, err) : -1;
    };
    if (fd < 0) return fail("Invalid file descriptor", EBADF);
    if (!tty::readable(fd)) return fail("Error getting terminal attributes", errno);
    tty::RawLine line;
    if (const char* bad = checkLine(speed, dataBits, parity, stopBits, line))
        return fail(bad, EINVAL);
    line.readTimer = readTimer;
    if (!tty::applyRawLine(fd, line)) return fail("Error setting terminal attributes", errno);
    return 0;
}

int CPPMain::UART_Send(int fd, const std::uint8_t* buf, std::size_t len) {
    const ssize_t written = ::write(fd, buf, len);
    if (written < 0 || static_cast<std::size_t>(written) != len) {
        tty::discardOutput(fd);
        return 0;
    }
    return static_cast<int>(written);
}

int CPPMain::UART_Recv(int fd, std::uint8_t* buf, std::size_t len, int seconds,
                       int milliseconds) {
    const int ready = waitReadable(fd, seconds * 1000 + milliseconds);
    if (ready <= 0) return ready;
    return static_cast<int>(readRetrying(fd, buf, len));
}

int CPPMain::read_with_timeout(int fd, std::uint8_t* buf, std::size_t len, double seconds) {
    if (!(seconds > 0)) return 0;
    const auto start = std::chrono::steady_clock::now();
    const auto limit = std::chrono::duration<double>(seconds);
    for (;;) {
        const long n = ::read(fd, buf, len);
        if (n > 0) return static_cast<int>(n);
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
        std::this_thread::sleep_for(kPollPause);
        if (std::chrono::steady_clock::now() - start >= limit) return 0;
    }
}

std::string CPPMain::SendCommand(const std::string& portPath, const std::string& command,
                                 std::uint8_t* rcvBuf, int bound, int /*rcvLen*/, int seconds,
                                 int milliseconds) {
    return exchange(portPath, command, rcvBuf, bound, seconds, milliseconds, 9600, true);
}

std::string CPPMain::SendCommand(const std::string& portPath, const std::string& command,
                                 std::uint8_t* rcvBuf, int seconds, int milliseconds) {
    // Only 9600 is asked for; a speed this transport lacks would fall back to it.
    return exchange(portPath, command, rcvBuf, kDeskReplyBound, seconds, milliseconds, 9600, false);
}

std::string CPPMain::exchange(const std::string& portPath, const std::string& command,
                              std::uint8_t* rcvBuf, int bound, int seconds, int milliseconds,
                              int speed, bool reportSetup) {
    const bool known = std::find(std::begin(kWindowSpeeds), std::end(kWindowSpeeds), speed) !=
                       std::end(kWindowSpeeds);
    if (!reportSetup && !known) speed = 9600;  // portdesk's line set-up falls back
    LineResult status;
    const std::unique_ptr<Line> line = openLine(PortAddress::of(portPath), {speed}, status);  // closed on every path
    openFailure_ = status.openFailure;
    if (!line && status.fault == LineFault::open) return "Open Port Error!";
    if (!line) {
        if (reportSetup) std::fprintf(stderr, "%s\n", status.reason.c_str());
        return "Set Port Option Error!";
    }
    line->purge();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(command.data());
    if (!line->write({bytes, command.size()}).ok()) return "Error Sending Command!";
    const auto wait = std::chrono::seconds(seconds) + std::chrono::milliseconds(milliseconds);
    std::vector<std::uint8_t> got;
    const ByteSource next = [&](std::uint8_t& byte) {
        got.clear();
        const LineResult read = line->read(got, 1, Line::Clock::now() + wait);
        if (!read.ok()) return read.fault == LineFault::gone ? 0 : -1;
        if (got.empty()) return 0;
        byte = got.front();
        return 1;
    };
    std::string outcome = receiveReplyLine(next, rcvBuf, bound);
    if (outcome == "OK") line->replyComplete();  // read byte by byte: up to its LF
    return outcome;
}

int CPPMain::SendCommand_Update(const std::string& port, const std::uint8_t* sendBuf,
                                int sendLen, std::uint8_t* rcvBuf, int rcvLen, int /*timeout_s*/,
                                int /*timeout_ms*/) {
    if (sendLen < 0 || rcvLen < 0) return 0;
    LoaderPort loader;
    if (loader.open(port) != "OK") return 0;
    if (!loader.send(sendBuf, static_cast<std::size_t>(sendLen))) {
        const int err = errno;
        std::fprintf(stderr, "Error %d writing to serial port: %s\n", err, std::strerror(err));
        return 0;
    }
    std::printf("Wrote %d bytes to the serial port.\n", sendLen);
    std::fflush(stdout);
    std::fill(rcvBuf, rcvBuf + rcvLen, std::uint8_t{0});
    return loader.receive(rcvBuf, static_cast<std::size_t>(rcvLen), kUpdateReplyMillis) < 0 ? 0 : 1;
}

std::string CPPMain_Wrapper::Send_Command_Wrapper(const std::string& port,
                                                  const std::string& Command,
                                                  std::uint8_t* prcv_buf, int timeout_s,
                                                  int timeout_ms) {
    CPPMain transport;
    std::string result = transport.SendCommand(port, Command, prcv_buf, timeout_s, timeout_ms);
    openFailure_ = transport.openFailure();
    return result;
}

std::string CPPMain_Wrapper::Send_Command_Wrapper(const std::string& port,
                                                  const std::string& Command,
                                                  std::uint8_t* prcv_buf, int send_buf_len,
                                                  int receiv_buf_len, int timeout_s,
                                                  int timeout_ms) {
    CPPMain transport;
    std::string result = transport.SendCommand(port, Command, prcv_buf, send_buf_len,
                                               receiv_buf_len, timeout_s, timeout_ms);
    openFailure_ = transport.openFailure();
    return result;
}

int CPPMain_Wrapper::Send_Command_Update_Wrapper(const std::string& port,
                                                 const std::vector<std::uint8_t>& inputByteArray,
                                                 std::vector<std::uint8_t>& returnBufferArray,
                                                 int send_buf_len, int receiv_buf_len,
                                                 int timeout_s, int timeout_ms) {
    (void)send_buf_len;
    (void)receiv_buf_len;
    std::vector<std::uint8_t> reply(inputByteArray.size());
    const int size = static_cast<int>(inputByteArray.size());
    const int result = CPPMain().SendCommand_Update(port, inputByteArray.data(), size,
                                                    reply.data(), size, timeout_s, timeout_ms);
    returnBufferArray.clear();
    if (result == 1 && !inputByteArray.empty()) returnBufferArray = std::move(reply);
    return result;
}

}  // namespace hublink
