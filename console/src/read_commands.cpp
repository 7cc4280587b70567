// /G, /T and /U: query the hub and print one field of what it reports.
#include <optional>
#include <string>

#include "command_steps.h"
#include "console/command_results.h"
#include "console/commands.h"
#include "hublink/hub_query.h"
#include "portstate/int_text.h"
#include "portstate/port_state.h"
#include "unopened_ports.h"

namespace console {

namespace {

using cmd::kFailure;
using cmd::kSuccess;
using cmd::say;

// The on/off lists or the binary text; both need the port count.
CommandResult countedForm(StateForm form, const hublink::HubInfo& record) {
    const auto nPorts = portstate::parseInt64(cmd::recordField(record, "nPorts").value_or(""), 10);
    if (record.empty() || !nPorts) return {"Error: Invalid nPorts value!", kFailure};
    const std::string states = cmd::recordField(record, "Port_States").value_or("");
    if (form == StateForm::Binary) return {portstate::binaryStateText(*nPorts, states), kSuccess};
    const portstate::PortLists lists = portstate::Parse_Port_States(*nPorts, states);
    return {"On=" + lists.on + " Off=" + lists.off, kSuccess};
}

// /T and /U differ only in the field and their texts; both end with status
// 0 whatever they print.
CommandResult fieldResult(const hublink::QueryResult& query, const char* field,
                          const char* queryFailure, const char* missing) {
    if (query.status != "OK") return {queryFailure, kSuccess};
    return {cmd::recordField(query.record, field).value_or(missing), kSuccess};
}

int print(const CommandResult& result) { return say(result.line, result.status); }

int readField(const Invocation& inv, CommandResult (*result)(const hublink::QueryResult&)) {
    if (!inv.arg2.empty() || !inv.arg3.empty()) return say(cmd::kInvalidCommand, kFailure);
    const auto path = cmd::lookupPort(inv.COM_Name, cmd::Resolver::Command);
    if (!path) return say(cmd::kInvalidSerialPort, kFailure);
    return print(result(cmd::queryHub(*path)));
}

}  // namespace

std::optional<StateForm> stateFormOption(const std::string& option, const std::string& extra) {
    if (!extra.empty()) return std::nullopt;
    const std::string upper = upperAscii(option);
    if (upper.empty()) return StateForm::Plain;
    if (upper == "-B") return StateForm::Binary;
    if (upper == "-H") return StateForm::Hex;
    return std::nullopt;
}

CommandResult portStatesResult(StateForm form, const hublink::QueryResult& query) {
    // The hex form reports a failed query without failing the process.
    if (query.status != "OK")
        return {"Error Get Port States!", form == StateForm::Hex ? kSuccess : kFailure};
    if (form != StateForm::Hex) return countedForm(form, query.record);
    const auto states = cmd::recordField(query.record, "Port_States");
    return {states ? portstate::compactHubStateText(*states) : std::string(), kSuccess};
}

CommandResult descriptionResult(const hublink::QueryResult& query) {
    return fieldResult(query, "Description", "Error Reading Description!",
                       "Description not found in response!");
}

CommandResult uidResult(const hublink::QueryResult& query) {
    return fieldResult(query, "UID", "Error Reading UID!", "UID not found in response!");
}

int doGetPortState(const Invocation& inv) {
    const auto path = cmd::lookupPort(inv.COM_Name, cmd::Resolver::Command);
    if (!path) return say(cmd::kInvalidSerialPort, kFailure);
    const auto form = stateFormOption(inv.arg2, inv.arg3);
    if (!form) return say(cmd::kInvalidCommand, kSuccess);
    return print(portStatesResult(*form, cmd::queryHub(*path)));
}

int doRdDescr(const Invocation& inv) { return readField(inv, descriptionResult); }

int doRdUID(const Invocation& inv) { return readField(inv, uidResult); }

}  // namespace console
