#include "json_request.h"

#include "console/entry.h"
#include "hublink/protocol.h"
#include "portstate/json_state.h"

namespace console::jcmd {

namespace {

ArgResult failed(std::string_view error) { return {{}, std::string(error)}; }

}  // namespace

std::optional<Request> parseRequest(std::string_view text) {
    // No exceptions: any malformed text, however large or deep, is simply
    // discarded (the parser keeps its nesting on the heap).
    Request req = Request::parse(text, nullptr, /*allow_exceptions=*/false);
    if (req.is_discarded() || !req.is_object()) return std::nullopt;
    return req;
}

std::optional<std::string> stringMember(const Request& req, const char* name) {
    const auto it = req.find(name);
    if (it == req.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

std::string commandName(const Request& req) {
    return upperAscii(stringMember(req, "CMD").value_or(std::string()));
}

std::optional<std::string> comOperand(const Request& req) {
    auto com = stringMember(req, "COM");
    if (com && com->find('\0') != std::string::npos) return std::nullopt;
    return com;
}

ArgResult JGet_Password(const Request& req) {
    const auto psw = stringMember(req, "PSW");
    auto pw8 = psw ? hublink::consolePasswordField(*psw) : hublink::consoleUnstatedPassword();
    if (!pw8) return failed("Invalid Password!");
    return {std::move(*pw8), {}};
}

ArgResult JGet_Passwords(const Request& req) {
    const auto npw = stringMember(req, "NPW");
    if (!npw) return failed("Missing New Password!");
    auto pw8 = hublink::consolePasswordField(*npw);
    if (!pw8) return failed("Invalid New Password!");
    return {std::move(*pw8), {}};
}

ArgResult JGet_Description(const Request& req) {
    auto desc = stringMember(req, "DESC");
    if (!desc) return failed("Missing Description String!");
    if (charCount(*desc) > hublink::kConsoleDescriptionChars) {
        return failed("Error: String cannot exceed 50 characters!");
    }
    // A line break would end the command early and send the rest as another;
    // other control bytes and broken UTF-8 would reach the hub raw.
    if (!hublink::isSendableText(*desc)) return failed("Error Writing Description String!");
    return {std::move(*desc), {}};
}

CmdArgs JGet_Cmd_Args(const Request& req) {
    const portstate::JsonStatesResult states =
        portstate::jsonStatesToStates8(stringMember(req, "STATES"));
    if (states.status != "OK") return {{}, {}, states.status};
    const ArgResult pw = JGet_Password(req);
    if (!pw.ok()) return {{}, {}, pw.error};
    return {states.states8, pw.value, {}};
}

}  // namespace console::jcmd
