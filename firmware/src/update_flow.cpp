#include "firmware/update_flow.h"

#include <array>
#include <cstdint>

#include "hublink/command_claim.h"
#include "hublink/cppmain.h"

namespace firmware {

namespace {

// One hub command through the windowed exchange; the reply as text.
std::string hubCommand(const std::string& comport, const std::string& line) {
    const hublink::ReceiveLimits limits = hublink::kProtectedLimits;
    std::array<std::uint8_t, 100> buffer{};  // zeros keep the text terminated
    hublink::CPPMain_Wrapper().Send_Command_Wrapper(comport, line, buffer.data(), limits.bound,
                                                    limits.bufferSize, limits.seconds,
                                                    limits.milliseconds);
    return reinterpret_cast<const char*>(buffer.data());
}

UpdateOutcome outcome(std::string_view result, std::string detail = {}) {
    return {std::string(result), std::move(detail)};
}

// A hub that entered its loader for this attempt still has its firmware until
// the erase; one that was in it before may hold half an image.
UpdateOutcome stopped(IspSession& session, bool hubInLoader) {
    UpdateOutcome result = outcome(kLoaderErr, session.failure());
    result.erased = session.erased();
    result.sentBack = !result.erased && !hubInLoader && session.sendBack();
    return result;
}

}  // namespace

hublink::ReplyClass requestLoader(const std::string& comport, const std::string& password) {
    hubCommand(comport, hublink::identifyCommand());
    // A fresh buffer: a stale identify reply must not pass for an answer.
    return hublink::classifyReply(
        hubCommand(comport, hublink::enterFirmwareUpdateCommand(password)));
}

UpdateOutcome runUpdate(const std::string& comport, const std::string& password,
                        const ApromImage& image, const UpdateOptions& options) {
    if (options.progress) options.progress({UpdateStep::EnteringLoader, 0, image.AP_FILE.size()});
    // From "EUFW" to the run packet no other process may reach the hub; the
    // loader would take its bytes for a packet.
    const hublink::CommandClaim claim(comport);
    if (!claim.held()) return outcome(kStateErr, comport + ": the port cannot be had");
    if (!options.hubInLoader) {
        switch (requestLoader(comport, password)) {
            case hublink::ReplyClass::Accepted: break;
            case hublink::ReplyClass::PasswordRejected: return outcome(kPasswordErr);
            case hublink::ReplyClass::Refused:
                return outcome(kStateErr, "the hub refused or did not answer the update command");
        }
    }
    // The loader listens only briefly after the hub hands over: no pause here.
    SerialChannel channel(options.log);
    if (channel.open(comport) != "OK") return outcome(kLoaderErr, channel.lastError());
    IspSession session(channel, options);
    if (!session.program(image)) return stopped(session, options.hubInLoader);
    UpdateOutcome done = outcome(kUpdateOk);
    done.erased = true;
    return done;
}

UpdateOutcome proceedUpdate(int /*selectRow*/, const std::string& password,
                            const std::string& binpath, const std::string& comport,
                            const UpdateOptions& options) {
    ApromImage image;
    if (!READ_APROM_BIN_FILE(binpath, image, options.log))
        return outcome(kImageErr, "cannot read the image " + binpath);
    return runUpdate(comport, password, image, options);
}

}  // namespace firmware
