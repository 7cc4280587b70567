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

sim::Fault fault(sim::Fault::Kind kind) {
    sim::Fault f;
    f.kind = kind;
    return f;
}

// State64 entries of a hub whose live states are `states`; entries past the
// port count read as on, as the hub reports absent ports.
std::vector<std::int64_t> state64(std::uint32_t states, int ports) {
    std::vector<std::int64_t> list;
    for (int bit = 0; bit < 32; ++bit) list.push_back(bit >= ports || ((states >> bit) & 1U) ? 1 : 0);
    return list;
}

}  // namespace

class PanelLogicTest : public QObject {
    Q_OBJECT
private slots:
    void carryPasswordsFollowsControlPort();
    void refreshKeepsHubsReachedByTypedPath();
    void typedPathIsSearchedOnlyWhenItIsAnUnlistedTerminal();
    void switchNumbersComeFromObjectNames();
    void changePasswordCheck();
    void operationsSendOneLineAndMapTheReply();
    void selectionNeedsEveryRequiredField();
};

void PanelLogicTest::carryPasswordsFollowsControlPort() {
    struct Case {
        const char* name;
        HubInfo fresh;
        HubList old;
        std::optional<std::string> password;  // of the fresh record afterwards
    };
    const std::vector<Case> cases = {
        {"same port carries", {{"ControlPort", "/a"}, {"Password", "kiwi    "}},
         {{{"ControlPort", "/a"}, {"Password", "secret12"}}}, "secret12"},
        {"other port leaves default", {{"ControlPort", "/a"}, {"Password", "kiwi    "}},
         {{{"ControlPort", "/b"}, {"Password", "secret12"}}}, "kiwi    "},
        {"old without password removes it", {{"ControlPort", "/a"}, {"Password", "kiwi    "}},
         {{{"ControlPort", "/a"}}}, std::nullopt},
        {"both without port count as equal", {{"Password", "kiwi    "}},
         {{{"Password", "x1234567"}}}, "x1234567"},
        {"only one without port differs", {{"ControlPort", "/a"}, {"Password", "kiwi    "}},
         {{{"Password", "x1234567"}}}, "kiwi    "},
        {"picks the matching one of several", {{"ControlPort", "/b"}, {"Password", "kiwi    "}},
         {{{"ControlPort", "/a"}, {"Password", "aaaaaaaa"}}, {{"ControlPort", "/b"}, {"Password", "bbbbbbbb"}}},
         "bbbbbbbb"},
    };
    for (const Case& c : cases) {
        HubList fresh{c.fresh};
        panel::carryPasswords(fresh, c.old);
        const auto it = fresh[0].find("Password");
        const std::optional<std::string> got =
            it == fresh[0].end() ? std::nullopt : std::optional<std::string>(it->second);
        QVERIFY2(got == c.password, c.name);
    }
}

void PanelLogicTest::refreshKeepsHubsReachedByTypedPath() {
    const HubList old = {{{"ControlPort", "/dev/pts/4"}}, {{"ControlPort", "/dev/ttyUSB0"}},
                         {{"ControlPort", "/dev/pts/9"}}, {{"PID", "no port"}}};
    const std::vector<std::string> expected = {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/pts/4", "/dev/pts/9"};
    QCOMPARE(panel::refreshPorts({"/dev/ttyUSB0", "/dev/ttyUSB1"}, old), expected);
}

void PanelLogicTest::typedPathIsSearchedOnlyWhenItIsAnUnlistedTerminal() {
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

void PanelLogicTest::switchNumbersComeFromObjectNames() {
    const std::vector<std::pair<const char*, std::optional<int>>> cases = {
        {"switch1", 1}, {"switch16", 16}, {"switchOn", -1}, {"switchOff", 0},
        {"switch17", std::nullopt}, {"switch0", std::nullopt}, {"switchX", std::nullopt},
        {"SetPassword", std::nullopt}, {"switch", std::nullopt},
    };
    for (const auto& [name, number] : cases) {
        QVERIFY2(panel::SwitchBoard::switchNumber(QString::fromLatin1(name)) == number, name);
    }
}

void PanelLogicTest::changePasswordCheck() {
    const std::string mismatch = "Please check your new password is same with confirm password.\n\n";
    struct Case {
        std::string oldPw, newPw, confirm, expected;
    };
    const std::vector<Case> cases = {
        {"kiwi    ", "secret12", "secret12", "OK"},
        {"kiwi    ", "secret12", "secret13", mismatch},
        {"kiwi", "secret12", "secret12", "Original password must have 8 characters.\n\n"},
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

namespace {

// An operation and the receive limits it must ask the link for.
struct Op {
    std::function<panel::OpResult(panel::HubCommands&, const std::string&)> run;
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

struct OpCase {
    const char* name;
    std::string hubPassword;
    std::optional<sim::Fault> fault;
    Op op;
    std::string text;
    std::vector<std::string> lines;
};

std::vector<OpCase> operationCases() {
    const std::string kiwi = "kiwi    ";
    const sim::Fault garble = fault(sim::Fault::Kind::Garble);
    // Buffer, bound, seconds, milliseconds: short replies are bounded at 10.
    const hublink::ReceiveLimits full{32, 32, 2, 100}, brief{32, 10, 2, 100};
    const auto set = [=](int sw) {
        return Op{[=](panel::HubCommands& c, const std::string& p) {
                      return c.Set_Port_State(sw, state64(0b0001, 4), kiwi, p);
                  },
                  full};
    };
    const Op save{[kiwi](auto& c, auto& p) { return c.Save_Port_States(state64(0b0101, 4), kiwi, p); }, full};
    const Op restore{[kiwi](auto& c, auto& p) { return c.Restore_Default(kiwi, p); }, brief};
    const Op reset{[kiwi](auto& c, auto& p) { return c.Reset_Hubs(kiwi, p); }, brief};
    const Op describe{[kiwi](auto& c, auto& p) { return c.Edit_Description(kiwi, "Bench", p); }, brief};
    const Op change{[kiwi](auto& c, auto& p) { return c.Change_Password(kiwi, "secret12", p); }, full};
    return {
        {"toggle port 3", kiwi, {}, set(3), "OK", {"SPkiwi    F5FFFFFF\r"}},
        {"toggle port 1 off", kiwi, {}, set(1), "OK", {"SPkiwi    F0FFFFFF\r"}},
        {"all on", kiwi, {}, set(-1), "OK", {"SPkiwi    FFFFFFFF\r"}},
        {"all off", kiwi, {}, set(0), "OK", {"SPkiwi    00000000\r"}},
        {"set, wrong password", "secret12", {}, set(3), "Password Err", {"SPkiwi    F5FFFFFF\r"}},
        {"set, garbage", kiwi, garble, set(3), "State Err", {"SPkiwi    F5FFFFFF\r"}},
        {"save", kiwi, {}, save, "OK", {"WPkiwi    F5FFFFFF\r"}},
        {"save, garbage", kiwi, garble, save, "State Err", {"WPkiwi    F5FFFFFF\r"}},
        {"restore", kiwi, {}, restore, "OK", {"RDkiwi    \r"}},
        {"restore, wrong password", "secret12", {}, restore, "Password Err", {"RDkiwi    \r"}},
        {"restore, garbage", kiwi, garble, restore, "State Err", {"RDkiwi    \r"}},
        {"reset", kiwi, {}, reset, "OK", {"RHkiwi    \r"}},
        {"reset, garbage counts as done", kiwi, garble, reset, "OK", {"RHkiwi    \r"}},
        {"reset, wrong password", "secret12", {}, reset, "Password Err", {"RHkiwi    \r"}},
        {"description", kiwi, {}, describe, "OK", {"ESDDkiwi    Bench\r"}},
        {"description, garbage", kiwi, garble, describe, "I/O Err1", {"ESDDkiwi    Bench\r"}},
        {"change password", kiwi, {}, change, "OK", {"CPkiwi    secret12\r"}},
        {"change password, old wrong", "secret12", {}, change, "Password Err", {"CPkiwi    secret12\r"}},
        {"change password, garbage", kiwi, garble, change, "I/O Error", {"CPkiwi    secret12\r"}},
    };
}

}  // namespace

void PanelLogicTest::operationsSendOneLineAndMapTheReply() {
    const std::string kiwi = "kiwi    ";
    const std::vector<OpCase> cases = operationCases();
    RecordingLink link;
    panel::HubCommands commands(link);
    for (const OpCase& c : cases) {
        sim::HubConfig config;
        config.password = c.hubPassword;
        sim::VirtualHub hub(config);
        if (c.fault) hub.pushFault(*c.fault);
        link.asked.clear();
        const panel::OpResult result = c.op.run(commands, hub.path());
        QVERIFY2(result.text == c.text, (std::string(c.name) + ": got " + result.text).c_str());
        QVERIFY2(hub.received() == c.lines, c.name);
        QVERIFY2(link.asked == decltype(link.asked){fields(c.op.limits)}, c.name);
        if (c.fault) QVERIFY2(result.detail.find("unexpected reply") != std::string::npos, c.name);
    }

    // A port that cannot be opened says so; a broken State64 list sends nothing.
    link.asked.clear();
    const panel::OpResult gone = commands.Set_Port_State(3, state64(0, 4), kiwi, "/dev/pts/no-such");
    QCOMPARE(gone.text, std::string("State Err"));
    QCOMPARE(panel::failureLine("/dev/pts/no-such", gone), std::string("/dev/pts/no-such: Open Port Error!"));
    sim::VirtualHub hub;
    QCOMPARE(commands.Set_Port_State(3, {0, 1, 0}, kiwi, hub.path()).text, std::string("State Err"));
    QCOMPARE(commands.Save_Port_States({0, 1, 0}, kiwi, hub.path()).text, std::string("State Err"));
    QVERIFY(hub.received().empty());
    QCOMPARE(link.asked.size(), std::size_t(1));  // only the unopenable port was tried
}

void PanelLogicTest::selectionNeedsEveryRequiredField() {
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
        partial.erase(key);
        partial["ControlPort"] = key == "ControlPort" ? "" : "/dev/other";
        if (key == "ControlPort") partial.erase("ControlPort");
        QVERIFY2(!state.takeSelection(partial, 5), key.c_str());
        QCOMPARE(state.selectComport, std::string("/dev/ttyUSB3"));  // left as it was
        QCOMPARE(state.selectRow, 2);
    }
}

QTEST_GUILESS_MAIN(PanelLogicTest)
#include "panel_logic_test.moc"
