// The window's non-widget pieces: hub list bookkeeping, switch names, the
// change-password check, and the hub operations against a virtual hub.
#include <QtTest>
#include <functional>
#include <tuple>
#include <sim/virtual_hub.h>

#include "panel/dialogs.h"
#include "panel/hub_list.h"
#include "panel/hub_operations.h"
#include "panel/switch_board.h"
#include "panel/window_state.h"

using hublink::HubInfo;
using panel::HubList;

namespace {

// State64 entries of a hub whose live states are `states`; entries past the
// port count read as on, as the hub reports absent ports.
std::vector<std::int64_t> state64(std::uint32_t states, int ports) {
    std::vector<std::int64_t> list;
    for (int bit = 0; bit < 32; ++bit) list.push_back(bit >= ports || ((states >> bit) & 1U) ? 1 : 0);
    return list;
}

// An operation, the line it must send and the receive limits it must ask for.
struct Op {
    std::function<panel::OpResult(panel::HubCommands&, const std::string&)> run;
    std::string line;
    hublink::ReceiveLimits limits;
};

auto fields(const hublink::ReceiveLimits& l) {
    return std::tuple(l.bufferSize, l.bound, l.seconds, l.milliseconds);
}

// The bridge, keeping what each exchange asked for.
struct RecordingLink : panel::CommandLink {
    panel::LinkReply exchange(const std::string& port, const std::string& command,
                              const hublink::ReceiveLimits& limits) override {
        asked.push_back(fields(limits));
        return bridge.exchange(port, command, limits);
    }
    panel::BridgeLink bridge;
    std::vector<std::tuple<int, int, int, int>> asked;
};

}  // namespace

class PanelLogicTest : public QObject {
    Q_OBJECT
private slots:
    void carryPasswordsFollowsControlPort() {
        struct Case {
            const char* name;
            const char* port;  // of the fresh record, which has the default password
            HubList old;
            std::optional<std::string> password;  // of the fresh record afterwards
        };
        const std::vector<Case> cases = {
            {"same port carries", "/a", {{{"ControlPort", "/a"}, {"Password", "secret12"}}}, "secret12"},
            {"other port leaves default", "/a", {{{"ControlPort", "/b"}, {"Password", "secret12"}}}, "kiwi    "},
            {"old without password removes it", "/a", {{{"ControlPort", "/a"}}}, std::nullopt},
            {"both without port count as equal", nullptr, {{{"Password", "x1234567"}}}, "x1234567"},
            {"only one without port differs", "/a", {{{"Password", "x1234567"}}}, "kiwi    "},
            {"picks the matching one of several", "/b",
             {{{"ControlPort", "/a"}, {"Password", "aaaaaaaa"}},
              {{"ControlPort", "/b"}, {"Password", "bbbbbbbb"}}},
             "bbbbbbbb"},
        };
        for (const Case& c : cases) {
            HubList fresh{{{"Password", "kiwi    "}}};
            if (c.port != nullptr) fresh[0]["ControlPort"] = c.port;
            panel::carryPasswords(fresh, c.old);
            const auto it = fresh[0].find("Password");
            const std::optional<std::string> got =
                it == fresh[0].end() ? std::nullopt : std::optional<std::string>(it->second);
            QVERIFY2(got == c.password, c.name);
        }
    }

    void typedPathIsSearchedWhenAnUnlistedTerminalAndKept() {
        // A refresh searches the listed ports and those of the hubs it had.
        const HubList old = {{{"ControlPort", "/dev/pts/4"}}, {{"ControlPort", "/dev/ttyUSB0"}},
                             {{"ControlPort", "/dev/pts/9"}}, {{"PID", "no port"}}};
        const std::vector<std::string> expected = {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/pts/4", "/dev/pts/9"};
        QCOMPARE(panel::refreshPorts({"/dev/ttyUSB0", "/dev/ttyUSB1"}, old), expected);

        sim::VirtualHub hub;
        struct Case {
            std::string typed;
            std::vector<std::string> listed;
            std::vector<std::string> expected;
        };
        const std::vector<Case> cases = {
            {hub.path(), {}, {hub.path()}},
            {hub.path(), {hub.path()}, {hub.path()}},          // not twice
            {"pts", {"/r/dev/ttyUSB0"}, {"/r/dev/ttyUSB0"}},  // not a full path
            {"/dev/null", {}, {}},                            // a device, but no terminal
            {"/dev/pts/no-such", {}, {}},
            {QDir::tempPath().toStdString(), {}, {}},
        };
        for (const Case& c : cases) {
            QCOMPARE(panel::withTypedTerminal(c.listed, c.typed, panel::isTerminalDevice), c.expected);
        }
    }

    void switchNumbersComeFromObjectNames() {
        const std::vector<std::pair<const char*, std::optional<int>>> cases = {
            {"switch1", 1}, {"switch16", 16}, {"switchOn", -1}, {"switchOff", 0},
            {"switch17", std::nullopt}, {"switch0", std::nullopt}, {"switchX", std::nullopt},
            {"SetPassword", std::nullopt}, {"switch", std::nullopt},
        };
        for (const auto& [name, number] : cases) {
            QVERIFY2(panel::SwitchBoard::switchNumber(QString::fromLatin1(name)) == number, name);
        }
    }

    void changePasswordCheck() {
        const std::string mismatch = "Please check your new password is same with confirm password.\n\n";
        struct Case {
            std::string oldPw, newPw, confirm, expected;
        };
        const std::vector<Case> cases = {
            {"kiwi    ", "secret12", "secret12", "OK"},
            {"kiwi    ", "secret12", "secret13", mismatch},
            {"kiwi    ", "abc", "abc",
             "New password must have 8 characters.\n\nConfirm password must have 8 characters.\n\n"},
            {"kiwi    ", "secret12", "abc",
             "Confirm password must have 8 characters.\n\n" + mismatch},
            {"", "", "x", "Original password must have 8 characters.\n\nNew password must have 8 "
                          "characters.\n\nConfirm password must have 8 characters.\n\n" + mismatch},
            // Lengths are counted in characters, not bytes.
            {"kiwi    ", "p\xC3\xA4sswort", "p\xC3\xA4sswort", "OK"},
        };
        for (const Case& c : cases) {
            QCOMPARE(QString::fromStdString(panel::PasswordForm::checkPassword(c.oldPw, c.newPw, c.confirm)),
                     QString::fromStdString(c.expected));
        }
    }

    void operationsSendOneLineAndMapTheReply() {
        const std::string kiwi = "kiwi    ";
        sim::Fault garble;
        garble.kind = sim::Fault::Kind::Garble;
        // Buffer, bound, seconds, milliseconds: short replies are bounded at 10.
        const hublink::ReceiveLimits full{32, 32, 2, 100}, brief{32, 10, 2, 100};
        const Op set{[&](auto& c, auto& p) { return c.Set_Port_State(3, state64(0b0001, 4), kiwi, p); },
                     "SPkiwi    F5FFFFFF\r", full};
        const Op save{[&](auto& c, auto& p) { return c.Save_Port_States(state64(0b0101, 4), kiwi, p); },
                      "WPkiwi    F5FFFFFF\r", full};
        const Op restore{[&](auto& c, auto& p) { return c.Restore_Default(kiwi, p); }, "RDkiwi    \r", brief};
        const Op reset{[&](auto& c, auto& p) { return c.Reset_Hubs(kiwi, p); }, "RHkiwi    \r", brief};
        const Op describe{[&](auto& c, auto& p) { return c.Edit_Description(kiwi, "Bench", p); },
                          "ESDDkiwi    Bench\r", brief};
        const Op change{[&](auto& c, auto& p) { return c.Change_Password(kiwi, "secret12", p); },
                        "CPkiwi    secret12\r", full};
        struct Case {
            const char* name;
            const Op& op;
            std::string hubPassword;
            std::optional<sim::Fault> fault;
            std::string text;
        };
        // Every operation once; how each one classes a reply is the protocol's
        // business, so only each way of mapping a class is repeated here.
        const std::vector<Case> cases = {
            {"set", set, kiwi, {}, "OK"},
            {"set, wrong password", set, "secret12", {}, "Password Err"},
            {"set, garbage", set, kiwi, garble, "State Err"},
            {"save", save, kiwi, {}, "OK"},
            {"restore", restore, kiwi, {}, "OK"},
            {"reset", reset, kiwi, {}, "OK"},
            {"reset, garbage counts as done", reset, kiwi, garble, "OK"},
            {"reset, wrong password", reset, "secret12", {}, "Password Err"},
            {"description", describe, kiwi, {}, "OK"},
            {"description, garbage", describe, kiwi, garble, "I/O Err1"},
            {"change password", change, kiwi, {}, "OK"},
        };
        RecordingLink link;
        panel::HubCommands commands(link);
        for (const Case& c : cases) {
            sim::HubConfig config;
            config.password = c.hubPassword;
            config.record = true;
            sim::VirtualHub hub(config);
            if (c.fault) hub.pushFault(*c.fault);
            link.asked.clear();
            const panel::OpResult result = c.op.run(commands, hub.path());
            QVERIFY2(result.text == c.text, (std::string(c.name) + ": got " + result.text).c_str());
            QVERIFY2(hub.received() == std::vector<std::string>{c.op.line}, c.name);
            QVERIFY2(link.asked == decltype(link.asked){fields(c.op.limits)}, c.name);
            if (c.fault) QVERIFY2(result.detail.find("unexpected reply") != std::string::npos, c.name);
        }
        // A port that cannot be opened says so; a broken State64 list sends nothing.
        link.asked.clear();
        const panel::OpResult gone = commands.Set_Port_State(3, state64(0, 4), kiwi, "/dev/pts/no-such");
        QCOMPARE(gone.text, std::string("State Err"));
        QCOMPARE(panel::failureLine("/dev/pts/no-such", gone),
                 std::string("/dev/pts/no-such: Open Port Error!"));
        sim::VirtualHub hub({.record = true});
        QCOMPARE(commands.Set_Port_State(3, {0, 1, 0}, kiwi, hub.path()).text, std::string("State Err"));
        QCOMPARE(commands.Save_Port_States({0, 1, 0}, kiwi, hub.path()).text, std::string("State Err"));
        QVERIFY(hub.received().empty());
        QCOMPARE(link.asked.size(), std::size_t(1));  // only the unopenable port was tried
    }

    void selectionNeedsEveryRequiredField() {
        const HubInfo full = {{"ControlPort", "/dev/ttyUSB3"}, {"PortsperHub", "04"}, {"On", "1"},
                              {"Off", "2,3,4"}, {"FW", "V03"}, {"Password", "secret12"},
                              {"State64", "1,0,0,0"}, {"PID", "M031"}};
        panel::WindowState state;
        QVERIFY(state.takeSelection(full, 2));
        QCOMPARE(state.selectRow, 2);
        QCOMPARE(state.selectPassword, std::string("secret12"));
        QCOMPARE(state.selectUID, std::string());  // optional fields may be absent
        for (const auto& [key, value] : full) {
            HubInfo partial = full;
            partial["ControlPort"] = "/dev/other";
            partial.erase(key);
            QVERIFY2(!state.takeSelection(partial, 5), key.c_str());
            QCOMPARE(state.selectComport, std::string("/dev/ttyUSB3"));  // left as it was
            QCOMPARE(state.selectRow, 2);
        }
    }
};

QTEST_GUILESS_MAIN(PanelLogicTest)
#include "panel_logic_test.moc"
