#include "panel/hub_operations.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <hublink/command_claim.h>
#include <hublink/cppmain.h>
#include <portstate/gui_state.h>

namespace panel {

using hublink::Operation;

LinkReply BridgeLink::exchange(const std::string& port, const std::string& command,
                               const hublink::ReceiveLimits& limits) {
    // One byte more than the exchange may fill, so the text always ends.
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::max(limits.bufferSize, limits.bound)) + 1, 0);
    hublink::CPPMain_Wrapper bridge;
    LinkReply out;
    out.result = bridge.Send_Command_Wrapper(port, command, buffer.data(), limits.bound,
                                             limits.bufferSize, limits.seconds, limits.milliseconds);
    out.openFailure = bridge.openFailure();
    const char* text = reinterpret_cast<const char*>(buffer.data());
    out.reply.assign(text, strnlen(text, buffer.size()));
    return out;
}

namespace {

// The transport's result, with the reason when the port could not be opened.
std::string transportDetail(const std::string& result, const std::optional<hublink::OpenFailure>& failure) {
    return failure ? result + " " + hublink::openFaultText(failure->fault) : result;
}

}  // namespace

OpResult HubCommands::run(Operation op, const std::string& command, const std::string& comport) {
    const LinkReply reply = link_.exchange(comport, command, hublink::windowLimits(op));
    const hublink::WindowOutcome outcome = hublink::windowOutcome(op, reply.reply);
    OpResult result;
    switch (outcome.replyClass) {
        case hublink::ReplyClass::Accepted: result.text = "OK"; break;
        case hublink::ReplyClass::PasswordRejected: result.text = "Password Err"; break;
        case hublink::ReplyClass::Refused: result.text = outcome.text; break;
    }
    result.openFailure = reply.openFailure;
    if (reply.result != "OK") {
        result.detail = transportDetail(reply.result, reply.openFailure);
    } else if (outcome.replyClass == hublink::ReplyClass::Refused) {
        std::string shown = reply.reply;
        while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.pop_back();
        result.detail = "unexpected reply \"" + shown + "\"";
    }
    return result;
}

namespace {

std::string pw8(const std::string& password) { return hublink::windowPasswordField(password); }

// A selection whose State64 text did not read as 32 entries sends nothing.
OpResult unreadableStates() { return {"State Err", "port states of the selection are unreadable"}; }

}  // namespace

OpResult HubCommands::Set_Port_State(int switchNumber, const std::vector<std::int64_t>& state64,
                                     const std::string& password, const std::string& comport) {
    const std::optional<std::string> states = portstate::switchStateText(switchNumber, state64);
    if (!states) return unreadableStates();
    return run(Operation::SetPortStates, hublink::setPortStatesCommand(pw8(password), *states), comport);
}

std::optional<std::vector<std::int64_t>> HubCommands::Read_State64(int ports, const std::string& comport,
                                                                   std::string& why) {
    const LinkReply reply = link_.exchange(comport, hublink::getPortStatesCommand(), hublink::kSearchQueryLimits);
    const auto states = portstate::parsePortState(ports, reply.reply.substr(0, 8));
    if (reply.result != "OK" || !states) {
        why = reply.result != "OK" ? transportDetail(reply.result, reply.openFailure)
                                   : "unreadable port states \"" + reply.reply + "\"";
        return std::nullopt;
    }
    std::vector<std::int64_t> list;
    for (const std::string& entry : states->state64) list.push_back(entry == "1" ? 1 : 0);
    return list;
}

OpResult HubCommands::Click_Switch(int switchNumber, int ports, const std::string& password,
                                   const std::string& comport) {
    // All on and all off do not depend on the states there are.
    if (switchNumber <= 0) return Set_Port_State(switchNumber, std::vector<std::int64_t>(32, 0), password, comport);
    const hublink::CommandClaim claim(comport);
    // The exchange would fail the same way: tell it now, once.
    if (const auto& failure = claim.failure()) {
        return {"State Err", "port states could not be read: " + transportDetail("Open Port Error!", failure),
                failure};
    }
    std::string why;
    const auto now = Read_State64(ports, comport, why);
    if (!now) return {"State Err", "port states could not be read: " + why};
    return Set_Port_State(switchNumber, *now, password, comport);
}

OpResult HubCommands::Save_Port_States(const std::vector<std::int64_t>& state64,
                                       const std::string& password, const std::string& comport) {
    const std::optional<std::string> states = portstate::state64Text(state64);
    if (!states) return unreadableStates();
    return run(Operation::SavePortStates, hublink::windowSavePortStatesCommand(pw8(password), *states),
               comport);
}

OpResult HubCommands::Restore_Default(const std::string& password, const std::string& comport) {
    return run(Operation::RestoreDefaults, hublink::restoreDefaultsCommand(pw8(password)), comport);
}

OpResult HubCommands::Reset_Hubs(const std::string& password, const std::string& comport) {
    return run(Operation::ResetHub, hublink::resetHubCommand(pw8(password)), comport);
}

OpResult HubCommands::Edit_Description(const std::string& password, const std::string& description,
                                       const std::string& comport) {
    return run(Operation::WriteDescription,
               hublink::writeDescriptionCommand(pw8(password), description), comport);
}

OpResult HubCommands::Change_Password(const std::string& oldPassword, const std::string& newPassword,
                                      const std::string& comport) {
    return run(Operation::ChangePassword,
               hublink::changePasswordCommand(pw8(oldPassword), pw8(newPassword)), comport);
}

std::string failureLine(const std::string& comport, const OpResult& result) {
    return comport + ": " + (result.detail.empty() ? result.text : result.detail);
}

}  // namespace panel
