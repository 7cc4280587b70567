// The virtual hub: the hub's side of the control-port wire, served on a real
// pseudo-terminal so that the tools can talk to it exactly as to hardware.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// Every hub leaves the factory with this password, and "RD" brings it back.
inline constexpr std::string_view kFactoryPassword = "kiwi    ";

// A fault applied to one reply, in place of the normal behaviour. The command
// itself still takes effect (a "SP" that gets no reply has switched the ports);
// only what goes back on the wire changes. Lines the hub does not answer
// (during a reset, in firmware update) meet no fault. A fault fits a line when
// it names no command or the line's command; it strikes a fitting line once
// it has let `after` of them pass.
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
    std::string raw{};
    std::string command{};  // ?Q E?Q2 GP SP FP WP CP ESDD RD RH or EUFW; empty: every line
    int after = 0;        // fitting lines that pass unharmed before it strikes

    bool operator==(const Fault&) const = default;
};

// A fault of the firmware loader, for tests of the update's failure paths.
// Each is used once: those naming a packet wait for the first packet whose
// number field (bytes 4-7) carries `packet`; the others act on the next
// packet they fit, in push order. Silent is the exception: it holds until
// clearLoaderFaults().
struct LoaderFault {
    enum class Kind {
        Silent,              // the loader answers nothing at all (and stays in the loader)
        AnswerAfterConnects, // ignores the first `count` connect packets, then answers
        DropReply,           // no reply to the packet whose number field (bytes 4-7) is `packet`
        WrongChecksum,       // that packet's reply checksum is off by one
        WrongNumber,         // that packet's reply carries a wrong packet number
        SplitReply,          // that packet's reply goes out as `count` bytes, a pause of `millis`, the rest
        SlowErase,           // the erase before the first APROM reply takes `millis`
        CorruptWrite,        // one byte of that packet's data is written wrongly (readback shows it)
        WrongImageChecksum,  // the image checksum in the last data packet's reply is off by one
    };
    Kind kind = Kind::Silent;
    std::uint32_t packet = 0;  // host packet number the fault waits for (the first packet that carries it)
    int count = 0;
    int millis = 0;

    bool operator==(const LoaderFault&) const = default;
};

// What the hub is and what it holds at power-on. Factory defaults (restored by
// "RD") are the values given here, except the password, which becomes
// kFactoryPassword. Field widths are checked: a config that no hub could
// have, or a fault naming a command the hub does not know, makes the
// VirtualHub constructor throw std::invalid_argument.
struct HubConfig {
    int ports = 4;                       // downstream ports, 1..32; sent as two decimal digits
    std::string productId = "0AB3";      // 4 characters; firmware files name it in hex
    std::string firmware = "V04";        // a letter and two digits; below 4 has no "E?Q2"/"ESDD"
    std::string uid = "0123456789AB";    // 12 characters
    std::string description = "Virtual Hub";  // one line, at most 100 bytes
    std::string password = "kiwi    ";   // exactly 8 characters on the wire
    std::uint32_t states = 0;            // live port states, bit p-1 = port p; absent ports read as 1
    std::uint32_t powerOnStates = 0;     // states applied after a reset
    std::chrono::milliseconds resetSilence{2000};  // no replies for this long after "RH"
    std::chrono::milliseconds eraseTime{400};      // loader: whole-flash erase before the first APROM reply
    std::chrono::milliseconds loaderListen{500};   // loader: wait for a first byte, then start the application
    std::chrono::milliseconds bootTime{300};       // silence while the application starts after a run packet
    bool wireTiming = false;             // pace replies byte by byte (9600 baud, loader 115200)
    bool extendedCrLf = true;            // the extended identify reply ends with CR LF
    std::vector<Fault> faults{};         // persistent from power-on, tried in order (see pushFault)
    std::vector<LoaderFault> loaderFaults{};  // armed afresh each time the loader starts
    bool record = false;                 // keep received() and loaderPackets(); they grow with use
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
    // arrive while the hub is silent are recorded too. Throws std::logic_error
    // unless the config asked for `record`, so a test cannot read an empty
    // record by mistake.
    std::vector<std::string> received() const;
    void clearReceived();

    // Bytes read from and written to the wire so far (for benchmarks).
    std::size_t bytesExchanged() const;

    // Pushed faults are used once each, by the next lines they fit, in push
    // order. Persistent faults (the config's, or the one set here in their
    // place) strike every line they fit, the first that fits deciding, after
    // any pushed fault. clearFaults() drops both kinds.
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

    // Whether every command so far arrived on a line configured raw 8N1 at
    // 9600 baud (checked with tcgetattr on the master when a line completes).
    bool lineSettingsOk() const;

    // The firmware loader. An accepted "EUFW" hands the port to it: from then
    // on bytes are cut into 64-byte packets (a part followed by a pause of
    // more than 50 ms is dropped; bytes that arrive while a packet is being
    // handled are lost). If no byte comes within loaderListen and the flash
    // holds a whole application, the application starts again; a run packet
    // restarts it after bootTime, bytes being lost meanwhile. The application
    // comes back with its power-on states and unchanged identity, whatever
    // image was written. False exactly while the application has the port.
    bool inLoader() const;
    bool inFirmwareUpdate() const { return inLoader(); }  // older name

    // Pushed loader faults wait for their packet as LoaderFault says. The
    // config's are armed again each time the loader starts (an accepted
    // "EUFW", a chip restart, enterLoader()), behind the pushed ones.
    // clearLoaderFaults() disarms both until the loader starts again.
    void pushLoaderFault(LoaderFault fault);
    void clearLoaderFaults();

    // The N image bytes from flash address 0, N being the length named by the
    // last first-APROM packet; empty before any.
    std::vector<std::uint8_t> flashImage() const;

    // Every whole packet the loader received, in order. Throws
    // std::logic_error unless the config asked for `record`.
    std::vector<std::array<std::uint8_t, 64>> loaderPackets() const;
    void clearLoaderPackets();

    // Images written to their last byte.
    int completedWrites() const;

    // Whether every packet so far arrived on a line configured raw 8N1 at
    // 115200 baud (checked when each packet completes).
    bool loaderLineSettingsOk() const;

    // Puts the hub where a failed update leaves it: in its loader, flash
    // erased (image forgotten), no listen timeout.
    void enterLoader();

    // Called on the hub's thread when an image is complete, with its length
    // and the loader's 16-bit sum of it read back from flash. May be empty.
    void setWriteListener(std::function<void(std::size_t bytes, std::uint16_t checksum)> listener);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sim
