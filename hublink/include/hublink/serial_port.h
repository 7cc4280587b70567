// The console's serial port: a thin class over one terminal device, used for
// exactly one exchange. Every failure is thrown as a PortError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "hublink/open_failure.h"

namespace hublink {

enum class PortError : std::int32_t {
    failedToOpen = -1,
    invalidPath = 0,
    mustReceiveOrTransmit = 1,
    mustBeOpen = 2,
    stringsMustBeUTF8 = 3,
    unableToConvertByteToCharacter = 4,
    deviceNotConnected = 5,
};

// Each case's value is its line speed in bits per second.
enum class BaudRate : std::int32_t {
    baud0 = 0,
    baud50 = 50,
    baud75 = 75,
    baud110 = 110,
    baud134 = 134,
    baud150 = 150,
    baud200 = 200,
    baud300 = 300,
    baud600 = 600,
    baud1200 = 1200,
    baud1800 = 1800,
    baud2400 = 2400,
    baud4800 = 4800,
    baud9600 = 9600,
    baud19200 = 19200,
    baud38400 = 38400,
    baud57600 = 57600,
    baud115200 = 115200,
    baud230400 = 230400,
};

enum class ParityType { none, even, odd };

// Position k selects a character size of 5 + k bits.
enum class DataBitsSize { bits5, bits6, bits7, bits8 };

class SerialPort {
public:
    explicit SerialPort(std::string path);
    ~SerialPort();  // closes the port if it is open
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the path without becoming its controlling terminal, non-blocking,
    // read-write / read-only / write-only as asked, and claims the port for
    // this exchange (exclusive advisory lock, waited for at most ~3 s).
    // Throws invalidPath (empty path), mustReceiveOrTransmit (neither
    // direction), failedToOpen (open failed, or another exchange held the
    // port too long). Opening an open port closes the old descriptor first.
    void openPort(bool toReceive, bool andTransmit);
    void openPort() { openPort(true, true); }

    // Why the last openPort failed, when that is worth telling the user (see
    // OpenFault); none after a success or for a missing device.
    const std::optional<OpenFailure>& openFailure() const { return openFailure_; }

    // Applies the line settings over the current ones at once; does nothing
    // while the port is closed. A line that refuses them keeps its old
    // settings (not reported). The two counts are kept within 0..255.
    void setSettings(BaudRate receiveRate, BaudRate transmitRate, int minimumBytesToRead,
                     int timeout, ParityType parityType, bool sendTwoStopBits,
                     DataBitsSize dataBitsSize, bool useHardwareFlowControl,
                     bool useSoftwareFlowControl, bool processOutput);

    // Drops input that arrived before this exchange (a late reply to an
    // earlier one). Throws mustBeOpen.
    // True when the open descriptor is a terminal device.
    bool isTerminal() const;

    void discardInput();

    // One write of the whole buffer. Returns the count written (-1 on
    // failure). Throws mustBeOpen.
    long writeData(std::span<const std::uint8_t> data);

    // Waits at most `timeout` seconds for input, then reads up to `size`
    // bytes. Returns the count, 0 on timeout, -1 when the wait fails (and
    // whatever the read returned otherwise). Throws mustBeOpen, and
    // deviceNotConnected when the device node has gone.
    long readBytes(std::uint8_t* into, std::size_t size, double timeout);

    // Collects bytes until `terminator` (not kept) or until `timeout` seconds
    // have passed; a timeout is no error and returns what arrived. Throws
    // unableToConvertByteToCharacter for a byte of 0x80 or above, and what
    // readBytes throws.
    std::string readUntilChar(char terminator, double timeout);

    // Puts back the line settings the port had when opened, then closes the
    // descriptor (releasing the claim). Safe to call when closed.
    void closePort();

    bool isOpen() const { return fileDescriptor_.has_value(); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::optional<int> fileDescriptor_;
    std::optional<OpenFailure> openFailure_;
    std::vector<std::uint8_t> savedLine_;  // the line as opened, put back on close
};

}  // namespace hublink
