// The protected hub operations of the windows, free of any widget: each builds
// one command line, runs one exchange and maps the reply to a result text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <hublink/open_failure.h>
#include <hublink/protocol.h>

namespace panel {

// What one exchange left behind: the transport's result text, the reply
// buffer read as text (LF included, empty when nothing arrived), and why the
// port could not be opened when that is worth telling.
struct LinkReply {
    std::string result;
    std::string reply;
    std::optional<hublink::OpenFailure> openFailure{};
};

// One command exchange on a control port. The windows differ only in how they
// read a reply, so the link is the one piece a window program supplies.
class CommandLink {
public:
    virtual ~CommandLink() = default;
    virtual LinkReply exchange(const std::string& port, const std::string& command,
                               const hublink::ReceiveLimits& limits) = 0;
};

// hubpanel's link: the CPPMain_Wrapper bridge with a zero-filled buffer.
class BridgeLink : public CommandLink {
public:
    LinkReply exchange(const std::string& port, const std::string& command,
                       const hublink::ReceiveLimits& limits) override;
};

// Result of an operation. `text` is what the window acts on: "OK",
// "Password Err", "State Err" or "I/O Err1" (change password: "OK",
// "Password Err" or "I/O Error"). `detail` says why a failure happened, for
// the status line: the transport's result (with the reason a port could not
// be opened, e.g. "Open Port Error! Device or resource busy"), or the
// unexpected reply. `openFailure` is that port and reason, to be told once.
struct OpResult {
    std::string text;
    std::string detail;
    std::optional<hublink::OpenFailure> openFailure{};
};

class HubCommands {
public:
    explicit HubCommands(CommandLink& link) : link_(link) {}

    // Switch 0 all off, -1 all on, 1..16 toggles that port of `state64`.
    OpResult Set_Port_State(int switchNumber, const std::vector<std::int64_t>& state64,
                            const std::string& password, const std::string& comport);
    // A switch click on a hub with `ports` ports: holds the hub's claim,
    // reads its states now (a port toggle only) and sends them with the
    // click applied, so a change another program made since the window read
    // the hub survives. "State Err" without a set command when the read fails.
    OpResult Click_Switch(int switchNumber, int ports, const std::string& password,
                          const std::string& comport);
    // The State64 list (32 entries) of the hub's states now, or none.
    std::optional<std::vector<std::int64_t>> Read_State64(int ports, const std::string& comport,
                                                         std::string& why);
    OpResult Save_Port_States(const std::vector<std::int64_t>& state64,
                              const std::string& password, const std::string& comport);
    OpResult Restore_Default(const std::string& password, const std::string& comport);
    OpResult Reset_Hubs(const std::string& password, const std::string& comport);
    OpResult Edit_Description(const std::string& password, const std::string& description,
                              const std::string& comport);
    OpResult Change_Password(const std::string& oldPassword, const std::string& newPassword,
                             const std::string& comport);

private:
    OpResult run(hublink::Operation op, const std::string& command, const std::string& comport);

    CommandLink& link_;
};

// "<port>: <why>" for a failed result, e.g. "/dev/ttyUSB0: Open Port Error!".
std::string failureLine(const std::string& comport, const OpResult& result);

}  // namespace panel
