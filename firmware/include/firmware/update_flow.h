// One firmware update attempt on a hub: the hub commands that hand the port
// to the loader, then the programming sequence on the port held open.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "firmware/firmware_file.h"
#include "firmware/isp_session.h"
#include "hublink/command_claim.h"
#include "hublink/protocol.h"

namespace firmware {

// Result texts of an attempt. The window shows every text other than the
// first three as its I/O error.
inline constexpr std::string_view kUpdateOk = "OK";
inline constexpr std::string_view kPasswordErr = "Password Err";
inline constexpr std::string_view kStateErr = "State Err";
inline constexpr std::string_view kLoaderErr = "Loader Err";  // the sequence stopped
inline constexpr std::string_view kImageErr = "Image Err";    // image unreadable; nothing sent
inline constexpr std::string_view kProductErr = "Product Err";  // another product answered; nothing sent

struct UpdateOutcome {
    std::string result;  // one of the texts above
    std::string detail;  // why a failed attempt stopped; empty otherwise
    // The first APROM packet went out: the loader erased the old firmware.
    bool erased = false;
    // A stop with nothing erased sent the run packet: the hub went back to
    // the firmware it had.
    bool sentBack = false;
    bool ok() const { return result == kUpdateOk; }
    // The sequence stopped with the hub in its loader: only a new update
    // (from the connect packet on) brings it back.
    bool leftInLoader() const { return result == kLoaderErr && !sentBack; }
};

struct UpdateOptions : IspOptions {
    // The hub sits in its loader already (a failed update left it there):
    // no hub commands, the sequence starts with the connect packet.
    bool hubInLoader = false;
    // When set, the hub's identify reply must name this product ID (when it
    // names one), or the attempt ends with "Product Err" before "EUFW".
    std::string expectedProduct;
};

// Sends "?Q" (its reply is not examined) and "EUFW" + `password` exactly as
// given, each one exchange of the windowed transport with the protected
// operations' limits, and classifies the reply to "EUFW" (an unanswered
// command is refused).
hublink::ReplyClass requestLoader(const std::string& comport, const std::string& password);

// The "State Err" outcome for a port that cannot carry an update (a raw TCP
// export cannot change the line to the loader's speed), with the reason as
// its detail; nullopt for any other port. Sends nothing: callers ask it
// before their first exchange with the hub.
std::optional<UpdateOutcome> refusedPort(const std::string& comport);

// The same for a port claimed and connected: a telnet server that refused
// BINARY would change the loader's packets. Sends nothing to the hub.
std::optional<UpdateOutcome> refusedLine(const hublink::CommandClaim& claim,
                                         const std::string& comport);

// Refuses what refusedPort and refusedLine refuse, then enters the loader (unless
// options.hubInLoader), opens and claims the port once at 115200 baud and
// programs `image`. "OK" only when every reply passed
// its tests and the loader confirmed the image checksum; "Password Err" on
// "E01"; "State Err" when the hub refused or did not answer "EUFW" (nothing
// else is sent then); "Loader Err" when the sequence stopped. A stop before
// the erase sends the run packet (sentBack), unless options.hubInLoader: such
// a hub may hold half an image and stays in its loader.
UpdateOutcome runUpdate(const std::string& comport, const std::string& password,
                        const ApromImage& image, const UpdateOptions& options);

// The window's background part of an update: loads the image at `binpath`
// (READ_APROM_BIN_FILE, before anything is sent, so an unreadable image gives
// "Image Err" with the hub untouched), then runUpdate. `selectRow` is unused.
UpdateOutcome proceedUpdate(int selectRow, const std::string& password,
                            const std::string& binpath, const std::string& comport,
                            const UpdateOptions& options);

}  // namespace firmware
