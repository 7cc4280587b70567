// /P, /W, /D, /R and /X: one password-protected command line each. Every
// argument is checked before the hub is contacted.
#include <optional>
#include <string>

#include "command_steps.h"
#include "console/commands.h"
#include "hublink/protocol.h"

namespace console {

namespace {

using cmd::kFailure;
using cmd::say;
using hublink::Operation;

// /W, /D and /R: password first, then the port.
int runPasswordOnly(const Invocation& inv, Operation op,
                    std::string (*buildLine)(std::string_view pw8)) {
    const auto pw8 = cmd::pw8For(cmd::optionalPassword(inv));
    if (!pw8) return say(cmd::kInvalidPassword, kFailure);
    const auto path = cmd::lookupPort(inv.COM_Name, cmd::Resolver::Command);
    if (!path) return say(cmd::kInvalidSerialPort, kFailure);
    return cmd::runProtected(*path, op, buildLine(*pw8));
}

}  // namespace

int doChangePassword(const Invocation& inv) {
    const auto path = cmd::lookupPort(inv.COM_Name, cmd::Resolver::Command);
    if (!path) return say(cmd::kInvalidSerialPort, kFailure);
    const cmd::ArgumentRoles roles = cmd::passwordThenPayload(inv);
    const auto oldPw8 = cmd::pw8For(roles.password);
    if (!oldPw8) return say(cmd::kInvalidPassword, kFailure);
    // The new password is required: an absent one is as invalid as a long one.
    const auto newPw8 = hublink::consolePasswordField(roles.payload);
    if (!newPw8) return say("Invalid New Password!", kFailure);
    return cmd::runProtected(*path, Operation::ChangePassword,
                             hublink::changePasswordCommand(*oldPw8, *newPw8));
}

int doSaveState(const Invocation& inv) {
    return runPasswordOnly(inv, Operation::SavePortStates, hublink::consoleSavePortStatesCommand);
}

int doRestoreDefault(const Invocation& inv) {
    return runPasswordOnly(inv, Operation::RestoreDefaults, hublink::restoreDefaultsCommand);
}

int doResetHub(const Invocation& inv) {
    return runPasswordOnly(inv, Operation::ResetHub, hublink::resetHubCommand);
}

int doWrDescr(const Invocation& inv) {
    if (inv.arg2.empty()) return say(cmd::kInvalidCommand, kFailure);
    const cmd::ArgumentRoles roles = cmd::passwordThenPayload(inv);
    const auto pw8 = cmd::pw8For(roles.password);
    if (!pw8) return say(cmd::kInvalidPassword, kFailure);
    if (charCount(roles.payload) > hublink::kConsoleDescriptionChars)
        return say("Error: string exceeds 50 maximum characters!", kFailure);
    // A line break would end the command early and send the rest as another;
    // other control bytes and broken UTF-8 would reach the hub raw.
    if (!hublink::isSendableText(roles.payload))
        return say("Error Writing Description String", kFailure);
    const auto path = cmd::lookupPort(inv.COM_Name, cmd::Resolver::Command);
    if (!path) return say(cmd::kInvalidSerialPort, kFailure);
    return cmd::runProtected(*path, Operation::WriteDescription,
                             hublink::writeDescriptionCommand(*pw8, roles.payload));
}

}  // namespace console
