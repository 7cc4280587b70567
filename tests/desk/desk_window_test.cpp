// portdesk's window against virtual hubs in a fake registry: what it lists,
// what it enables, and its protected operations.
#include <QElapsedTimer>
#include <mutex>

#include <hublink/cppmain.h>
#include <hublink/exchange.h>

#include "desk/desk_services.h"
#include "desk/view_controller.h"
#include "window_rig.h"

namespace {

using DeskRig = WindowRigFor<desk::ViewController>;

std::vector<std::string> changes(const sim::VirtualHub& hub) {
    std::vector<std::string> out;
    for (const std::string& line : hub.received())
        if (line != "?Q\r" && line != "GP\r") out.push_back(line);
    return out;
}

// Notes how many rows the table shows whenever a port is queried (from the
// search's threads, while the window waits for them).
struct WatchedSource : desk::DeskHubSource {
    panel::HubList query(const std::string& path) override {
        if (rowsShown) {
            std::lock_guard lock(mutex);
            rowsShown(path);
        }
        return DeskHubSource::query(path);
    }
    std::mutex mutex;
    std::function<void(const std::string&)> rowsShown;
};

}  // namespace

class DeskWindowTest : public QObject {
    Q_OBJECT
private slots:
    void listsOnlyHubsInRegistryOrder() {
        DeskRig rig;
        sim::VirtualHub& first = rig.addHub(hubWith(4, 0b0101));
        sim::VirtualHub& silent = rig.addHub(hubWith(4, 0));
        silent.setPersistentFault(fault(sim::Fault::Kind::Silent));
        sim::VirtualHub& other = rig.addHub(hubWith(4, 0));
        sim::Fault hello = fault(sim::Fault::Kind::Raw);
        hello.raw = "HELLO\n";
        other.setPersistentFault(hello);
        sim::VirtualHub& second = rig.addHub(hubWith(7, 0));
        // Placeholder UARTs of the 8250 driver: skipped without a wait.
        for (int k = 0; k < 4; ++k) rig.registry.add("ttyS" + std::to_string(k), silent.path(), "serial8250");
        const std::string pathA = rig.registry.add("ttyACM0", second.path(), "cdc_acm");
        const std::string pathB = rig.registry.add("ttyUSB0", first.path());
        rig.registry.add("ttyUSB1", silent.path());
        rig.registry.add("ttyAMA0", other.path(), "uart-pl011");

        QElapsedTimer took;
        took.start();
        rig.searchAll();
        // One silent port costs one wait of 2.1 s; the placeholders nothing.
        QVERIFY(took.elapsed() < 2 * 2100);
        QCOMPARE(rig.status(), QStringLiteral("2 USB Hub(s) Found"));
        QCOMPARE(rig.cell(0, "ControlPortShort"), QString::fromStdString(pathA));
        QCOMPARE(rig.cell(1, "ControlPortShort"), QString::fromStdString(pathB));
        const hublink::HubInfo& record = rig.window->state().data.at(0);
        for (const char* absent : {"PID", "UID", "Description"}) QVERIFY2(!record.count(absent), absent);
        QCOMPARE(record.at("Password"), std::string("kiwi    "));
        // Identify and get port states only.
        QCOMPARE(second.received(), (std::vector<std::string>{"?Q\r", "GP\r"}));
        QCOMPARE(other.received(), (std::vector<std::string>{"?Q\r"}));
    }

    void previousRowsStayDuringASearch() {
        WatchedSource source;
        DeskRig rig(&source);
        rig.listHub(rig.addHub(hubWith(4, 0)));
        rig.listHub(rig.addHub(hubWith(5, 0)));
        rig.searchAll();
        std::vector<int> rows;
        QString status;
        source.rowsShown = [&](const std::string&) {
            rows.push_back(rig.window->tableModel().rowCount());
            status = rig.status();
        };
        rig.searchAll();
        QCOMPARE(rows, (std::vector<int>{2, 2}));
        QCOMPARE(status, QStringLiteral("Searching Hubs..."));
        QCOMPARE(rig.status(), QStringLiteral("2 USB Hub(s) Found"));
    }

    void eightPortHubEnablesItsSwitchesAndActions() {
        DeskRig rig;
        rig.listHub(rig.addHub(hubWith(8, 0b10000001)));
        rig.searchAll();
        for (int i = 0; i < 18; ++i) QCOMPARE(rig.switchEnabled(i), i < 8 || i >= 16);
        for (const char* name : {"SetPassword", "SetPortStates", "ResetDefault", "ResetHub"})
            QVERIFY2(rig.child(name)->isEnabled(), name);
        rig.expectColours(0b10000001, 8);
        // None of hubpanel's extra controls exist here.
        for (const char* name : {"comportInput", "SearchComport", "EditDescription", "UpdateFirmware"})
            QVERIFY2(rig.window->findChild<QWidget*>(name) == nullptr, name);
        QCOMPARE(rig.window->tableModel().columnCount(), 5);
    }

    void replyBoundOfTwentyBytes() {
        struct Case {
            const char* name;
            std::string reply;
            std::string result, stored;
        };
        const std::vector<Case> cases = {
            {"25 bytes cut after 20", "TAVRIN0AB304V04ABCDEFGHIJ", "Error Parameters", "TAVRIN0AB304V04ABCDE"},
            {"LF within 20 taken whole", "TAVRIN0AB304V04\n", "OK", "TAVRIN0AB304V04\n"},
            {"20 bytes ending in LF", "TAVRIN0AB304V04ABCD\n", "OK", "TAVRIN0AB304V04ABCD\n"},
        };
        for (const Case& c : cases) {
            sim::VirtualHub hub;
            sim::Fault raw = fault(sim::Fault::Kind::Raw);
            raw.raw = c.reply;
            hub.pushFault(raw);
            std::uint8_t buffer[33] = {};
            QCOMPARE(hublink::CPPMain_Wrapper().Send_Command_Wrapper(hub.path(), "?Q\r", buffer, 2, 100),
                     c.result);
            QCOMPARE(std::string(reinterpret_cast<char*>(buffer)), c.stored);
        }
    }

    void clickKeepsAnotherProgramsChange() {
        DeskRig rig;
        sim::VirtualHub& hub = rig.addHub(hubWith(4, 0));
        rig.listHub(hub);
        rig.searchAll();
        QVERIFY(hublink::sendCommand(hub.path(), "SPkiwi    F8FFFFFF\r").ok());  // port 4, by another program
        hub.clearReceived();
        rig.child("switch1")->click();
        QCOMPARE(hub.received().front(), std::string("GP\r"));
        QCOMPARE(hub.received().at(1), std::string("SPkiwi    F9FFFFFF\r"));
        QCOMPARE(hub.states() & 0xFU, 0b1001U);
    }

    void protectedOperationsWithWrongThenRightPassword() {
        DeskRig rig;
        rig.window->setResetWait(std::chrono::milliseconds(50));
        sim::HubConfig config = hubWith(4, 0b0010, "secret12");
        config.resetSilence = std::chrono::milliseconds(20);
        sim::VirtualHub& hub = rig.addHub(config);
        rig.listHub(hub);
        rig.searchAll();

        rig.child("switch1")->click();
        rig.answer("passwordZone", "wrong");
        rig.answer("passwordZone", "secret12");
        rig.child("SetPortStates")->click();
        rig.confirm();
        rig.child("ResetHub")->click();
        rig.confirm();
        QCOMPARE(changes(hub), (std::vector<std::string>{"SPkiwi    F3FFFFFF\r", "SPwrong   F3FFFFFF\r",
                                                         "SPsecret12F3FFFFFF\r", "WPsecret12F3FFFFFF\r",
                                                         "RHsecret12\r"}));
        QCOMPARE(hub.powerOnStates() & 0xFU, 0b0011U);
        QVERIFY(rig.alerts.shown.empty());

        // A restore after a search (password forgotten): prompted, then factory password.
        rig.searchAll();
        hub.clearReceived();
        rig.child("ResetDefault")->click();
        rig.confirm();
        rig.answer("passwordZone", "secret12");
        QCOMPARE(changes(hub), (std::vector<std::string>{"RDkiwi    \r", "RDsecret12\r"}));
        QCOMPARE(hub.password(), std::string("kiwi    "));
    }

    void cancelledPromptStartsNoSearch() {
        DeskRig rig;
        sim::VirtualHub& hub = rig.addHub(hubWith(4, 0, "secret12"));
        rig.listHub(hub);
        rig.searchAll();
        rig.child("switch3")->click();
        QVERIFY(rig.scene<panel::PasswordInput>() != nullptr);
        hub.clearReceived();
        rig.cancel();
        QVERIFY(!rig.dialogOpen());
        QVERIFY(hub.received().empty());
        QCOMPARE(rig.status(), QStringLiteral("1 USB Hub(s) Found"));
    }

    void portCountsOutsideTheSwitches() {
        struct Case {
            std::string portsperhub;
            int enabled;  // of switch1..16
            bool allOnOff;
        };
        const std::vector<Case> cases = {{"0", 0, false}, {"", 0, false}, {"x4", 0, false},
                                         {"19", 16, true}, {"16", 16, true}, {"3", 3, true}};
        DeskRig rig;
        for (const Case& c : cases) {
            rig.window->setButtonlist(c.portsperhub, "", "", rig.window->switchButtons());
            for (int i = 0; i < 16; ++i) QCOMPARE(rig.switchEnabled(i), i < c.enabled);
            QCOMPARE(rig.switchEnabled(16), c.allOnOff);
        }
    }
};

QTEST_MAIN(DeskWindowTest)
#include "desk_window_test.moc"
