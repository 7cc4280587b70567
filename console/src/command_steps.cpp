#include "command_steps.h"

#include <iostream>

#include "hublink/discovery.h"
#include "hublink/exchange.h"
#include "unopened_ports.h"

namespace console::cmd {

int say(std::string_view text, int status) {
    std::cout << text << '\n';
    std::cout.flush();
    return status;
}

std::optional<std::string> lookupPort(const std::string& COM_Name, Resolver resolver) {
    // "/S:cu1" and the like leave no port name: nothing to resolve, and an
    // empty path must not pass for one.
    if (COM_Name.empty()) return std::nullopt;
    const hublink::PortLookup found = told(resolver == Resolver::Query
                                               ? hublink::getCOMPort(COM_Name)
                                               : hublink::Get_COM_Port(COM_Name));
    if (!found.valid) return std::nullopt;
    return found.path;
}

ArgumentRoles passwordThenPayload(const Invocation& inv) {
    if (inv.arg3.empty()) return {std::nullopt, inv.arg2};
    return {inv.arg2, inv.arg3};
}

std::optional<std::string> optionalPassword(const Invocation& inv) {
    if (inv.arg2.empty()) return std::nullopt;
    return inv.arg2;
}

std::optional<std::string> pw8For(const std::optional<std::string>& password) {
    if (!password) return hublink::consoleUnstatedPassword();
    return hublink::consolePasswordField(*password);
}

int runProtected(const std::string& path, hublink::Operation op, const std::string& line,
                 std::string_view states8) {
    const hublink::ConsoleOutcome outcome =
        hublink::consoleOutcome(op, sendCommand(path, line), states8);
    if (outcome.success) return kSuccess;
    return say(outcome.text, kFailure);
}

std::optional<std::string> recordField(const hublink::HubInfo& record, const std::string& key) {
    const auto it = record.find(key);
    if (it == record.end()) return std::nullopt;
    return it->second;
}

}  // namespace console::cmd
