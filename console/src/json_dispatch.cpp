// Dispatch of `hubctl /J` and the console command that prints its reply.
#include <iostream>

#include "console/commands.h"
#include "json_commands.h"

namespace console {

namespace jcmd {

namespace {

using Handler = Answer (*)(const Request&, HubAccess&);

struct CommandEntry {
    std::string_view name;
    Handler handler;
};

constexpr CommandEntry kCommands[] = {
    {"Q", jQueryAllHubs},
    {"QH", jQueryHub},
    {"SPST", [](const Request& req, HubAccess& hubs) { return jSetPortState(req, "SP", hubs); }},
    {"SPSF", [](const Request& req, HubAccess& hubs) { return jSetPortState(req, "FP", hubs); }},
    {"CPSW", jChangePassword},
    {"GPST", jGetPortState},
    {"SVPS", jSaveState},
    {"RSDF", jRestoreDefault},
    {"RSHB", jResetHub},
    {"RDES", jRdDescr},
    {"WDES", jWrDescr},
    {"RUID", jRdUID},
};

Handler handlerFor(std::string_view name) {
    for (const CommandEntry& entry : kCommands) {
        if (entry.name == name) return entry.handler;
    }
    return nullptr;
}

Answer dispatchError(std::string_view text) {
    return {resReply(text), {Layout::Compact, OnFailure::ConvertingLine}};
}

}  // namespace

Answer jsonAnswer(std::string_view commandWord, std::string_view jsonText, HubAccess& hubs) {
    // "/J:x" reaches here too: the entry selects by the second character only.
    if (upperAscii(commandWord) != "/J") return dispatchError("Invalid Command!");
    const std::optional<Request> req = parseRequest(jsonText);
    if (!req) return dispatchError("Invalid JSON Arguments!");
    const Handler handler = handlerFor(commandName(*req));
    if (handler == nullptr) return dispatchError("Invalid Command!");
    return handler(*req, hubs);
}

}  // namespace jcmd

int doJsonCmd(const Invocation& inv) {
    jcmd::SystemHubs hubs;
    const jcmd::Answer answer = jcmd::jsonAnswer(inv.command, inv.arg2, hubs);
    std::cout << jcmd::writeReply(answer.reply, answer.form) << std::flush;
    return 0;  // callers read "RES"
}

}  // namespace console
