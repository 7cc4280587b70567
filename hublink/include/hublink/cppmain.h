// The windowed programs' transport: primitives on a descriptor and the
// one-shot exchange `SendCommand`, plus the bridge the window code calls.
// Each keeps only why its last open failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hublink/open_failure.h"

namespace hublink {

// portdesk reads a reply until LF or this many bytes, waiting this long for
// each byte.
inline constexpr int kDeskReplyBound = 20;
inline constexpr int kDeskWaitSeconds = 2;
inline constexpr int kDeskWaitMilliseconds = 100;

class CPPMain {
public:
    // Opens `path` read-write without becoming its controlling terminal, then
    // makes the descriptor blocking and claims the port (exclusive advisory
    // lock, waited for at most ~3 s, so two exchanges never interleave).
    // Returns the descriptor or -1; nothing stays open on failure.
    int openPort(const std::string& path);

    // Why the last openPort (or an exchange's open) failed, when that is
    // worth telling the user; none after a success or for a missing device.
    const std::optional<OpenFailure>& openFailure() const { return openFailure_; }

    // Configures raw mode: speed 2400/4800/9600/115200, data bits 7 or 8,
    // parity letter N/E/O (any case), stop bits 1 or 2, read timer in tenths
    // of a second, minimum bytes 0; discards pending input. Returns 0, or -1
    // after printing the reason and the system's error text to stderr. Checks
    // run in this order: descriptor ("Invalid file descriptor"), current
    // settings ("Error getting terminal attributes"), "Invalid number of data
    // bits", "Invalid parity", "Unsupported baud rate" (refused from this
    // program's own table, never left to the driver), "Invalid number of stop
    // bits", then "Error setting terminal attributes".
    int Set_Opt(int fd, int speed, int dataBits, char parity, int stopBits, int readTimer);

    // One write; on a short write discards pending output and returns 0.
    int UART_Send(int fd, const std::uint8_t* buf, std::size_t len);

    // Waits up to seconds + milliseconds for input (a signal does not extend
    // or cut the wait), then reads up to len bytes. Returns the count, 0 on
    // timeout or end of data, -1 when the wait or the read failed.
    int UART_Recv(int fd, std::uint8_t* buf, std::size_t len, int seconds, int milliseconds);

    // Polling read for the loader protocol. Returns the count, 0 when
    // `seconds` ran out (or is not above 0), -1 on a read error.
    int read_with_timeout(int fd, std::uint8_t* buf, std::size_t len, double seconds);

    // One exchange at 9600 8N1: writes `command`, then stores reply bytes one
    // by one into `rcvBuf` (not terminated; the caller zero-fills a buffer
    // longer than `bound`) until LF or `bound` bytes, waiting at most
    // seconds + milliseconds for each byte. Returns "OK" (last byte LF),
    // "Read Timeout" (a byte's wait ran out, or the device reported end of
    // data), "Read Error" (a wait or read failed; nothing is stored for it),
    // "Error Parameters" (bound reached first, or bound 0), "Open Port Error!",
    // "Set Port Option Error!" or "Error Sending Command!". Closes the port on
    // every path. `rcvLen` is accepted and has no effect.
    std::string SendCommand(const std::string& portPath, const std::string& command,
                            std::uint8_t* rcvBuf, int bound, int rcvLen,
                            int seconds, int milliseconds);

    // portdesk's exchange: as above with the bound kDeskReplyBound, and a
    // line that cannot be set up is reported only by the result (nothing on
    // stderr). The caller zero-fills a buffer of more than 20 bytes.
    std::string SendCommand(const std::string& portPath, const std::string& command,
                            std::uint8_t* rcvBuf, int seconds, int milliseconds);

    // One loader packet on a port opened for it alone: open and claim, raw
    // 8N1 at 115200, drop stale input, write `sendLen` bytes in one write
    // (on failure "Error <errno> writing to serial port: <text>" on stderr),
    // print "Wrote <n> bytes to the serial port." on stdout, zero `rcvBuf`
    // and read until `rcvLen` bytes arrived or 0.25 s ran out; close on every
    // path. Returns 1 when the exchange took place (a missing or short reply
    // leaves zeros), 0 when the port could not be opened, configured,
    // written or read. `timeout_s` and `timeout_ms` have no effect. A whole
    // update holds one LoaderPort instead of calling this per packet.
    int SendCommand_Update(const std::string& port, const std::uint8_t* sendBuf, int sendLen,
                           std::uint8_t* rcvBuf, int rcvLen, int timeout_s, int timeout_ms);

private:
    std::optional<OpenFailure> openFailure_;

    int configure(int fd, int speed, int dataBits, char parity, int stopBits, int readTimer,
                  bool report);
    std::string exchange(const std::string& portPath, const std::string& command,
                         std::uint8_t* rcvBuf, int bound, int seconds, int milliseconds, int speed,
                         bool reportSetup);
};

// Bridge used by the window code; one instance per exchange. `send_buf_len`
// carries the receive bound, `receiv_buf_len` has no effect.
class CPPMain_Wrapper {
public:
    // Why the last exchange's port could not be opened ("Open Port Error!"),
    // when that is worth telling the user.
    const std::optional<OpenFailure>& openFailure() const { return openFailure_; }

    // portdesk's bridge: no length arguments (see the 5-argument SendCommand).
    std::string Send_Command_Wrapper(const std::string& port, const std::string& Command,
                                     std::uint8_t* prcv_buf, int timeout_s, int timeout_ms);

    std::string Send_Command_Wrapper(const std::string& port, const std::string& Command,
                                     std::uint8_t* prcv_buf, int send_buf_len,
                                     int receiv_buf_len, int timeout_s, int timeout_ms);

    // One loader packet through SendCommand_Update, with a receive buffer as
    // long as the packet. On success `returnBufferArray` is replaced by the
    // reply (as many bytes as the packet); on failure it is left empty.
    // `send_buf_len` and `receiv_buf_len` do not change either length.
    int Send_Command_Update_Wrapper(const std::string& port,
                                    const std::vector<std::uint8_t>& inputByteArray,
                                    std::vector<std::uint8_t>& returnBufferArray,
                                    int send_buf_len, int receiv_buf_len, int timeout_s,
                                    int timeout_ms);

private:
    std::optional<OpenFailure> openFailure_;
};

}  // namespace hublink
