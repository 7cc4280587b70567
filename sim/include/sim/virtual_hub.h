// The virtual hub: the hub's side of the control-port wire, served on a real
// pseudo-terminal so that the tools can talk to it exactly as to hardware.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// Every hub leaves the factory with this password, and "RD" brings it back.
inline constexpr std::string_view kFactoryPassword = "kiwi    ";

// What the hub is and what it holds at power-on. Factory defaults (restored by
// "RD") are the values given here, except the password, which becomes
// kFactoryPassword. Field widths are checked: a config that no
// hub could have makes the VirtualHub constructor throw std::invalid_argument.
struct HubConfig {
    int ports = 4;                       // downstream ports, 1..32; sent as two decimal digits
    std::string productId = "0AB3";      // 4 characters
    std::string firmware = "V04";        // a letter and two digits; below 4 has no "E?Q2"/"ESDD"
    std::string uid = "0123456789AB";    // 12 characters
    std::string description = "Virtual Hub";  // one line, at most 100 bytes
    std::string password = "kiwi    ";   // exactly 8 characters on the wire
    std::uint32_t states = 0;            // live port states, bit p-1 = port p; absent ports read as 1
    std::uint32_t powerOnStates = 0;     // states applied after a reset
    std::chrono::milliseconds resetSilence{2000};  // no replies for this long after "RH"
    bool wireTiming = false;             // pace replies at 9600 baud, byte by byte
    bool extendedCrLf = true;            // the extended identify reply ends with CR LF
};

// A fault applied to one reply, in place of the normal behaviour. The command
// itself still takes effect (a "SP" that gets no reply has switched the ports);
// only what goes back on the wire changes. Lines the hub does not answer
// (during a reset, in firmware update) use up no fault.
struct Fault {
    enum class Kind {
        Silent,     // read the command, send nothing
        Delay,      // send the normal reply after `millis`
        Split,      // send the normal reply in pieces of `count` bytes, `millis` apart
        Truncate,   // send only the first `count` bytes of the normal reply
        Garble,     // replace the normal reply by "#?garbled\n"
        HighBytes,  // put bytes 0x80 and 0xFF into the normal reply before its LF
        Raw,        // send `raw` exactly as given
        Vanish,     // read the command, then close the device (the path disappears)
    };
    Kind kind = Kind::Silent;
    int millis = 0;
    int count = 0;
    std::string raw;
};

// One virtual hub on its own pseudo-terminal, served by its own thread.
// The pty is in raw mode before path() is handed out, and the hub keeps a
// descriptor of the slave side open so a client's close never hangs it up.
class VirtualHub {
public:
    // Throws std::invalid_argument for a bad config, std::system_error when no
    // pty can be had.
    explicit VirtualHub(HubConfig config = {});
    ~VirtualHub();  // stops the thread and closes every descriptor
    VirtualHub(const VirtualHub&) = delete;
    VirtualHub& operator=(const VirtualHub&) = delete;

    // Device path a client opens (e.g. /dev/pts/7).
    const std::string& path() const;

    // Every command line received so far, each with its terminating CR (LF
    // bytes are ignored, lines over 256 bytes dropped unanswered). Lines that
    // arrive while the hub is silent are recorded too.
    std::vector<std::string> received() const;
    void clearReceived();

    // Bytes read from and written to the wire so far (for benchmarks).
    std::size_t bytesExchanged() const;

    // Faults are used once each, in order, by the next replies. A persistent
    // fault applies to every reply until cleared with clearFaults().
    void pushFault(Fault fault);
    void setPersistentFault(Fault fault);
    void clearFaults();

    // Close the device now, as if the hub were unplugged: the path disappears
    // and clients' reads fail. Returns once it is closed (waits at most 2 s).
    void vanish();
    bool vanished() const;  // by vanish() or a Vanish fault

    // Current hub state, for assertions.
    std::uint32_t states() const;
    std::uint32_t powerOnStates() const;
    std::string password() const;
    std::string description() const;
    bool inFirmwareUpdate() const;

    // Whether every command so far arrived on a line configured raw 8N1 at
    // 9600 baud (checked with tcgetattr on the master when a line completes).
    bool lineSettingsOk() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sim
