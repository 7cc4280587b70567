// Dispatch of `hubctl /J` and the console command that prints its reply.
#include <unistd.h>

#include <cerrno>
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

namespace {

// No request is near this long; more is refused as bad input is.
constexpr std::size_t kRequestLimit = 64 * 1024;

// "/J -": the request from standard input, so that its password stands in no
// argument list; empty (a bad request) when it is longer than the limit or
// cannot be read.
std::string requestFromStandardInput() {
    std::string text;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return {};
        if (n == 0) return text;
        if (text.size() + std::size_t(n) > kRequestLimit) return {};
        text.append(buf, std::size_t(n));
    }
}

}  // namespace

int doJsonCmd(const Invocation& inv) {
    jcmd::SystemHubs hubs;
    const std::string request = inv.arg2 == "-" ? requestFromStandardInput() : inv.arg2;
    const jcmd::Answer answer = jcmd::jsonAnswer(inv.command, request, hubs);
    std::cout << jcmd::writeReply(answer.reply, answer.form) << std::flush;
    return 0;  // callers read "RES"
}

}  // namespace console
