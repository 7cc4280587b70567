// /S and /F: read the hub, apply the state operand to what it reports, send
// the whole new state.
#include <optional>
#include <string>
#include <string_view>

#include "command_steps.h"
#include "console/command_results.h"
#include "console/commands.h"
#include "hublink/hub_query.h"
#include "portstate/int_text.h"
#include "portstate/port_state.h"
#include "portstate/state_operand.h"
#include "unopened_ports.h"

namespace console {

namespace {

using cmd::kFailure;
using cmd::say;

bool isOperationLetter(char letter) {
    return std::string_view("01TBH").find(letter) != std::string_view::npos;
}

std::string setCommandLine(const std::string& code, const std::string& pw8,
                           const std::string& states8) {
    return code == "FP" ? hublink::setAndSavePortStatesCommand(pw8, states8)
                        : hublink::setPortStatesCommand(pw8, states8);
}

hublink::Operation setOperation(const std::string& code) {
    return code == "FP" ? hublink::Operation::SetAndSavePortStates
                        : hublink::Operation::SetPortStates;
}

}  // namespace

portstate::StateUpdate stateToSend(const std::string& operand, const hublink::HubInfo& record) {
    const auto nPorts = portstate::parseInt64(cmd::recordField(record, "nPorts").value_or("0"), 10);
    if (!nPorts) return {"Invalid number of ports!", 0, {}};
    const portstate::StateWord current = portstate::Parse_Port_States_int64(
        *nPorts, cmd::recordField(record, "Port_States").value_or(""));
    const char letter = operand.empty() ? '\0' : operand[0];
    if (!isOperationLetter(letter)) return {std::string(portstate::kStateFormatError), current, {}};
    return portstate::Update_Port_State(letter, operand, *nPorts, current);
}

int doSetPortState(const Invocation& inv, const std::string& code) {
    const auto path = cmd::lookupPort(inv.COM_Name, cmd::Resolver::Command);
    if (!path) return say(cmd::kInvalidSerialPort, kFailure);
    const cmd::ArgumentRoles roles = cmd::passwordThenPayload(inv);
    const auto pw8 = cmd::pw8For(roles.password);
    if (!pw8) return say(cmd::kInvalidPassword, kFailure);

    // Read, compute, write: no other process may change the hub in between.
    // A hub that cannot be had is a query that failed, as its text says.
    const auto claim = cmd::holdHub(*path);
    if (!claim) return say("Query Error!", kFailure);
    const hublink::QueryResult hub = cmd::queryHub(*path);
    if (hub.status != "OK") return say(hub.status, kFailure);
    const portstate::StateUpdate update = stateToSend(upperAscii(roles.payload), hub.record);
    if (update.status != portstate::kStatusOK) return say(update.status, kFailure);

    return cmd::runProtected(*path, setOperation(code), setCommandLine(code, *pw8, update.states8),
                             update.states8);
}

}  // namespace console
