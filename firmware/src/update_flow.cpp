#include "firmware/update_flow.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "hublink/command_claim.h"
#include "hublink/cppmain.h"
#include "hublink/loader_port.h"
#include "hublink/port_url.h"

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

// A fresh buffer: a stale identify reply must not pass for an answer.
hublink::ReplyClass enterLoader(const std::string& comport, const std::string& password) {
    return hublink::classifyReply(hubCommand(comport, hublink::enterFirmwareUpdateCommand(password)));
}

// The product ID an identify reply names, or "" for no identify reply.
std::string productIn(const std::string& identifyReply) {
    constexpr std::string_view kMark = "TAVRIN";
    if (identifyReply.rfind(kMark, 0) != 0 || identifyReply.size() < kMark.size() + 4) return {};
    return identifyReply.substr(kMark.size(), 4);
}

// The hub commands that give the port to the loader; none when it took it.
std::optional<UpdateOutcome> handOver(const std::string& comport, const std::string& password,
                                      const UpdateOptions& options) {
    const std::string product = productIn(hubCommand(comport, hublink::identifyCommand()));
    // Another hub may answer on the port by now than the one the image was
    // checked against.
    if (!options.expectedProduct.empty() && !product.empty() && product != options.expectedProduct) {
        return outcome(kProductErr, comport + ": the hub is product " + product + ", the image is for " +
                                        options.expectedProduct);
    }
    switch (enterLoader(comport, password)) {
        case hublink::ReplyClass::Accepted: return std::nullopt;
        case hublink::ReplyClass::PasswordRejected: return outcome(kPasswordErr);
        case hublink::ReplyClass::Refused: break;
    }
    return outcome(kStateErr, "the hub refused or did not answer the update command");
}

}  // namespace

hublink::ReplyClass requestLoader(const std::string& comport, const std::string& password) {
    hubCommand(comport, hublink::identifyCommand());
    return enterLoader(comport, password);
}

std::optional<UpdateOutcome> refusedPort(const std::string& comport) {
    const auto url = hublink::parsePortUrl(comport).url;
    if (!url || url->scheme != hublink::PortScheme::tcp) return std::nullopt;
    return outcome(kStateErr, comport + ": a raw TCP export cannot change the line to the loader's " +
                                  std::to_string(hublink::kLoaderBaud) +
                                  " baud; export the hub with RFC 2217 and use rfc2217://");
}

std::optional<UpdateOutcome> refusedLine(const hublink::CommandClaim& claim,
                                         const std::string& comport) {
    if (claim.carriesBinary()) return std::nullopt;
    return outcome(kStateErr, comport + ": the server refused telnet's BINARY option, so the " +
                                  "loader's packets would lose bytes; export the hub with ser2net");
}

UpdateOutcome runUpdate(const std::string& comport, const std::string& password,
                        const ApromImage& image, const UpdateOptions& options) {
    if (auto refused = refusedPort(comport)) return *refused;
    if (options.progress) options.progress({UpdateStep::EnteringLoader, 0, image.AP_FILE.size()});
    // From "EUFW" to the run packet no other process may reach the hub; the
    // loader would take its bytes for a packet.
    const hublink::CommandClaim claim(comport);
    if (!claim.held())
        return outcome(kStateErr, claim.failure() ? hublink::openFailureText(*claim.failure())
                                                  : comport + ": the port cannot be had");
    if (auto refused = refusedLine(claim, comport)) return *refused;
    if (!options.hubInLoader) {
        if (auto refused = handOver(comport, password, options)) return *refused;
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
