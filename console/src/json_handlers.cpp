// One handler per JSON command. Each resolves its port first, reads its
// arguments in their fixed order and only then talks to the hub.
#include <array>
#include <functional>
#include <optional>

#include "hublink/protocol.h"
#include "json_commands.h"

namespace console::jcmd {

namespace {

using hublink::Exchange;
using hublink::HubInfo;

constexpr std::string_view kInvalidPortName = "Invalid Serial Port Name!";
constexpr std::string_view kPasswordError = "Password Error!";

constexpr ReplyForm kErrorForm{Layout::Compact, OnFailure::FixedRes};
constexpr ReplyForm kPlainForm{Layout::Compact, OnFailure::FixedRes};
constexpr ReplyForm kSetForm{Layout::Compact, OnFailure::Nothing};
constexpr ReplyForm kStatesForm{Layout::Compact, OnFailure::EncodingLine};
constexpr ReplyForm kQueryForm{Layout::Pretty, OnFailure::SerializingLine};
constexpr ReplyForm kQueryErrorForm{Layout::Compact, OnFailure::ConvertingLine};

Answer failure(std::string_view text, ReplyForm form = kErrorForm) {
    return {resReply(text), form};
}

Answer success(ReplyForm form) { return {resReply("OK"), form}; }

// "COM" through the resolver of every command but "QH".
std::optional<std::string> commandPort(const Request& req, HubAccess& hubs) {
    const std::optional<std::string> com = comOperand(req);
    if (!com) return std::nullopt;
    hublink::PortLookup lookup = hubs.Get_COM_Port(*com);
    if (!lookup.valid) return std::nullopt;
    return std::move(lookup.path);
}

// The record's fields in the order users read them; unknown ones after.
Reply recordJson(const HubInfo& record) {
    static constexpr std::array<const char*, 7> kOrder = {
        "Port_Name", "PID", "nPorts", "FW_Ver", "UID", "Description", "Port_States"};
    Reply out = Reply::object();
    for (const char* key : kOrder) {
        if (const auto it = record.find(key); it != record.end()) out[key] = it->second;
    }
    for (const auto& [key, value] : record) {
        if (!out.contains(key)) out[key] = value;
    }
    return out;
}

// Copies `field` of the record to `member`; a record without it adds nothing.
void copyField(const HubInfo& record, const char* field, Reply& reply, const char* member) {
    if (const auto it = record.find(field); it != record.end()) reply[member] = it->second;
}

// Port, then the hub query: the record, or the error answer.
struct Queried {
    std::string path;
    HubInfo record;
    std::optional<Answer> error;
    std::shared_ptr<void> hold;  // the hub stays ours while this lives
};

// The hub's record, read under a claim that the caller keeps for what it
// sends next, so no other process changes the hub in between.
Queried queriedRecord(const Request& req, HubAccess& hubs, std::string_view queryFailure) {
    const std::optional<std::string> path = commandPort(req, hubs);
    if (!path) return {{}, {}, failure(kInvalidPortName), {}};
    std::shared_ptr<void> hold = hubs.holdHub(*path);
    if (!hold) return {{}, {}, failure(queryFailure), {}};
    hublink::QueryResult result = hubs.queryHub(*path);
    if (result.status != "OK") return {{}, {}, failure(queryFailure), {}};
    return {*path, std::move(result.record), std::nullopt, std::move(hold)};
}

// Replies to "CP", "WP", "RD" and "ESDD".
Answer protectedAnswer(const Exchange& exchange, std::string_view refused) {
    if (!exchange.ok()) return failure(exchange.status);
    switch (hublink::classifyReply(exchange.reply)) {
        case hublink::ReplyClass::PasswordRejected: return failure(kPasswordError);
        case hublink::ReplyClass::Accepted: return success(kPlainForm);
        case hublink::ReplyClass::Refused: break;
    }
    return failure(refused);
}

// The hub confirms a set by echoing the states now in force after its "G".
Answer setAnswer(const Exchange& exchange, std::string_view states8) {
    if (!exchange.ok()) return failure(exchange.status);
    const std::string_view reply = exchange.reply;
    if (hublink::classifyReply(reply) == hublink::ReplyClass::PasswordRejected) {
        return failure(kPasswordError);
    }
    if (reply.starts_with('G') && reply.substr(1, states8.size()) == states8) {
        return success(kSetForm);
    }
    return failure("Set Port State: Failed!");
}

// A reset hub restarts and may stay silent: only a password error counts.
Answer resetAnswer(const Exchange& exchange) {
    // Silence after a sent reset is a restarting hub; a reset never sent is not.
    if (!exchange.ok() && !exchange.sent) return failure(exchange.status);
    if (hublink::classifyReply(exchange.reply) == hublink::ReplyClass::PasswordRejected) {
        return failure(kPasswordError);
    }
    return success(kPlainForm);
}

using Evaluate = std::function<Answer(const Exchange&)>;

// Port, then "PSW", then `code` + pw8 sent and its reply evaluated.
Answer sendWithPassword(const Request& req, HubAccess& hubs, std::string_view code,
                        const Evaluate& evaluate) {
    const std::optional<std::string> path = commandPort(req, hubs);
    if (!path) return failure(kInvalidPortName);
    const ArgResult pw = JGet_Password(req);
    if (!pw.ok()) return failure(pw.error);
    return evaluate(hubs.sendCommand(*path, hublink::commandLine(code, pw.value)));
}

Evaluate refusedAs(std::string_view refused) {
    return [refused](const Exchange& exchange) { return protectedAnswer(exchange, refused); };
}

}  // namespace

Answer jQueryAllHubs(const Request&, HubAccess& hubs) {
    const std::vector<HubInfo> found = hubs.searchHubs();
    Reply info = Reply::array();
    for (const HubInfo& record : found) info.push_back(recordJson(record));
    Answer answer = success(kQueryForm);
    answer.reply["HUBS"] = std::to_string(found.size());
    answer.reply["INFO"] = std::move(info);
    return answer;
}

Answer jQueryHub(const Request& req, HubAccess& hubs) {
    const std::optional<std::string> com = comOperand(req);
    if (!com) return failure(kInvalidPortName, kQueryErrorForm);
    const hublink::PortLookup lookup = hubs.getCOMPort(*com);
    if (!lookup.valid) return failure(kInvalidPortName, kQueryErrorForm);
    const hublink::QueryResult result = hubs.queryHub(lookup.path);
    if (result.status != "OK") return failure("Query Hub Error!", kQueryErrorForm);
    Answer answer = success(kQueryForm);
    answer.reply["INFO"] = recordJson(result.record);
    return answer;
}

Answer jSetPortState(const Request& req, std::string_view code, HubAccess& hubs) {
    // The query only proves that a hub answers; its record is not used.
    const Queried queried = queriedRecord(req, hubs, "Set Port State Error!");
    if (queried.error) return *queried.error;
    const CmdArgs args = JGet_Cmd_Args(req);
    if (!args.error.empty()) return failure(args.error);
    const Exchange exchange =
        hubs.sendCommand(queried.path, hublink::commandLine(code, args.pw8, args.states8));
    return setAnswer(exchange, args.states8);
}

Answer jChangePassword(const Request& req, HubAccess& hubs) {
    const std::optional<std::string> path = commandPort(req, hubs);
    if (!path) return failure("Invalid Serial Port!");
    const ArgResult oldPw = JGet_Password(req);
    if (!oldPw.ok()) return failure(oldPw.error);
    const ArgResult newPw = JGet_Passwords(req);
    if (!newPw.ok()) return failure(newPw.error);
    const Exchange exchange =
        hubs.sendCommand(*path, hublink::changePasswordCommand(oldPw.value, newPw.value));
    return protectedAnswer(exchange, "Change Password Failed!");
}

Answer jGetPortState(const Request& req, HubAccess& hubs) {
    const Queried queried = queriedRecord(req, hubs, "Get Port State Error!");
    if (queried.error) return *queried.error;
    Answer answer = success(kStatesForm);
    copyField(queried.record, "Port_States", answer.reply, "STATES");
    return answer;
}

Answer jSaveState(const Request& req, HubAccess& hubs) {
    return sendWithPassword(req, hubs, "WP", refusedAs("Error Saving Port States!"));
}

Answer jRestoreDefault(const Request& req, HubAccess& hubs) {
    return sendWithPassword(req, hubs, "RD", refusedAs("Error Restoring Default!"));
}

Answer jResetHub(const Request& req, HubAccess& hubs) {
    return sendWithPassword(req, hubs, "RH", resetAnswer);
}

Answer jRdDescr(const Request& req, HubAccess& hubs) {
    const Queried queried = queriedRecord(req, hubs, "Read Description Error!");
    if (queried.error) return *queried.error;
    Answer answer = success(kPlainForm);
    copyField(queried.record, "Description", answer.reply, "DESC");
    return answer;
}

Answer jWrDescr(const Request& req, HubAccess& hubs) {
    const std::optional<std::string> path = commandPort(req, hubs);
    if (!path) return failure(kInvalidPortName);
    const ArgResult pw = JGet_Password(req);
    if (!pw.ok()) return failure(pw.error);
    const ArgResult desc = JGet_Description(req);
    if (!desc.ok()) return failure(desc.error);
    const Exchange exchange =
        hubs.sendCommand(*path, hublink::writeDescriptionCommand(pw.value, desc.value));
    return protectedAnswer(exchange, "Error Writing Description String!");
}

Answer jRdUID(const Request& req, HubAccess& hubs) {
    const std::optional<std::string> path = commandPort(req, hubs);
    if (!path) return failure(kInvalidPortName);
    const hublink::UidReading reading = hubs.GetUID_M031(*path);
    if (reading.status != "OK") return failure("Read UID Error!");
    Answer answer = success(kPlainForm);
    answer.reply["UID"] = reading.uid;
    return answer;
}

}  // namespace console::jcmd
