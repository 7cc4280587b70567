// The window reading its hubs while idle: what other programs change shows,
// a hub that stops answering is marked, and no read comes while the window
// or another program works with a hub.
#include <QAccessible>
#include <hublink/command_claim.h>
#include <hublink/exchange.h>
#include <filesystem>
#include <thread>

#include "panel/app_shell.h"
#include "window_rig.h"

namespace {

using namespace std::chrono_literals;

// Whether a screen reader hears the switch of `port` as pressed (on).
bool heardOn(WindowRig& rig, int port) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(rig.window->switches().buttons().at(port - 1));
    return iface != nullptr && iface->state().checked;
}

std::size_t readsOf(const sim::VirtualHub& hub) {
    std::size_t reads = 0;
    for (const std::string& line : hub.received()) reads += line == "GP\r";
    return reads;
}

}  // namespace

class PanelLiveTest : public QObject {
    Q_OBJECT
private slots:
    void anotherProgramsChangeShowsInCellsSwitchesAndAccessibleState() {
        WindowRig rig;
        rig.window->setRefreshPeriod(200ms);
        sim::VirtualHub& hub = rig.selectHub(hubWith(4, 0b0001));
        QVERIFY(heardOn(rig, 1) && !heardOn(rig, 2));
        QVERIFY(hublink::sendCommand(hub.path(), "SPkiwi    F2FFFFFF\r").ok());
        QTRY_COMPARE_WITH_TIMEOUT(rig.cell(0, "On"), QStringLiteral("2"), 3000);
        QCOMPARE(rig.cell(0, "Off"), QStringLiteral("1,3,4"));
        rig.expectColours(0b0010, 4);
        QVERIFY(heardOn(rig, 2) && !heardOn(rig, 1));
        // A click then toggles what the hub has now.
        rig.child("switch3")->click();
        QCOMPARE(hub.states() & 0xFU, 0b0110U);
        QVERIFY(heardOn(rig, 3));
    }

    void aHubThatStopsAnsweringIsMarkedUntilItAnswers() {
        WindowRig rig;
        rig.window->setRefreshPeriod(100ms);
        sim::VirtualHub& hub = rig.selectHub(hubWith(4, 0));
        const std::string port = rig.window->state().selectComport;
        sim::Fault silent = fault(sim::Fault::Kind::Silent);
        silent.command = "GP";
        hub.setPersistentFault(silent);
        QTRY_VERIFY_WITH_TIMEOUT(rig.window->tableModel().unanswering(port), 6000);
        QVERIFY(!rig.switchEnabled(0));
        QVERIFY(!rig.child("ResetHub")->isEnabled());
        QVERIFY2(rig.status().contains(QStringLiteral("does not answer")), qPrintable(rig.status()));
        QVERIFY(rig.window->tableModel()
                    .data(rig.window->tableModel().index(0, 0), Qt::AccessibleDescriptionRole)
                    .toString()
                    .startsWith(QStringLiteral("not answering")));
        hub.clearFaults();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.window->tableModel().unanswering(port), 3000);
        QVERIFY(rig.switchEnabled(0));
        QVERIFY(rig.child("ResetHub")->isEnabled());
        QCOMPARE(rig.status(), QStringLiteral("1 USB Hub(s) Found"));
    }

    // A read never comes between an operation's exchanges: not while its
    // password prompt is open, not during the reset's wait.
    void noReadInsideAnOperation() {
        WindowRig rig;
        rig.window->setRefreshPeriod(50ms);
        sim::HubConfig config = hubWith(4, 0, "secret12");
        config.resetSilence = 100ms;
        sim::VirtualHub& hub = rig.selectHub(config);
        rig.window->setResetWait(600ms);
        hub.clearReceived();
        rig.child("switch1")->click();  // refused: the prompt opens
        QVERIFY(rig.scene<panel::PasswordInput>() != nullptr);
        QTest::qWait(300);
        QCOMPARE(hub.received(), (std::vector<std::string>{"GP\r", "SPkiwi    F1FFFFFF\r"}));
        rig.answer("passwordZone", "secret12");
        QTest::qWait(150);
        std::vector<std::string> lines = hub.received();
        // The operation's own lines, as without reading, and nothing between.
        QVERIFY(lines.size() >= 7);
        QCOMPARE(std::vector<std::string>(lines.begin(), lines.begin() + 7),
                 (std::vector<std::string>{"GP\r", "SPkiwi    F1FFFFFF\r", "GP\r", "SPsecret12F1FFFFFF\r",
                                           "?Q\r", "GP\r", "E?Q2\r"}));
        hub.clearReceived();
        rig.child("ResetHub")->click();
        rig.confirm();
        lines = hub.received();
        QVERIFY(lines.size() >= 4);
        QCOMPARE(std::vector<std::string>(lines.begin(), lines.begin() + 4),
                 (std::vector<std::string>{"RHsecret12\r", "?Q\r", "GP\r", "E?Q2\r"}));
    }

    void aHubAnotherProgramHoldsIsLeftAlone() {
        WindowRig rig;
        rig.window->setRefreshPeriod(50ms);
        sim::VirtualHub& hub = rig.selectHub(hubWith(4, 0));
        const std::string port = rig.window->state().selectComport;
        QTest::qWait(200);
        std::atomic<bool> release{false};
        std::thread other([&] {
            const hublink::CommandClaim claim(port);
            hub.clearReceived();
            while (!release) std::this_thread::sleep_for(5ms);
        });
        QTest::qWait(600);
        QCOMPARE(readsOf(hub), std::size_t(0));
        QVERIFY(!rig.window->tableModel().unanswering(port));
        release = true;
        other.join();
        QTRY_VERIFY_WITH_TIMEOUT(readsOf(hub) > 0, 2000);
    }

    void nothingIsSentUnaskedWithoutAPeriod() {
        WindowRig rig;
        rig.window->setRefreshPeriod(50ms);
        sim::VirtualHub& hub = rig.selectHub(hubWith(4, 0));
        rig.window->setRefreshPeriod(0ms);
        QTest::qWait(100);  // a round under way ends
        hub.clearReceived();
        QTest::qWait(500);
        QVERIFY(hub.received().empty());
    }

    // After Search All Hubs a device that appears gets its row at its place
    // in candidate order; one that goes takes its row, and a selection, along.
    void hubsThatComeAndGo() {
        WindowRig rig;
        rig.window->setRefreshPeriod(200ms);
        sim::VirtualHub& first = rig.addHub(hubWith(4, 0));
        const std::string firstPath = rig.registry.add("ttyUSB5", first.path());
        rig.searchAll();
        QCOMPARE(rig.window->tableModel().rowCount(), 1);
        sim::VirtualHub& second = rig.addHub(hubWith(8, 0b1));
        const std::string secondPath = rig.registry.add("ttyUSB2", second.path());
        QTRY_COMPARE_WITH_TIMEOUT(rig.window->tableModel().rowCount(), 2, 3000);
        QCOMPARE(rig.cell(0, "ControlPortShort"), QString::fromStdString(secondPath));
        QCOMPARE(rig.window->state().selectComport, firstPath);  // still the hub it was
        QCOMPARE(rig.window->state().selectRow, 1);
        QCOMPARE(rig.status(), QStringLiteral("2 USB Hub(s) Found"));
        std::filesystem::remove(rig.registry.devDir() + "/ttyUSB5");
        std::filesystem::remove_all(rig.registry.sysRoot() + "/class/tty/ttyUSB5");
        QTRY_COMPARE_WITH_TIMEOUT(rig.window->tableModel().rowCount(), 1, 3000);
        QCOMPARE(rig.cell(0, "ControlPortShort"), QString::fromStdString(secondPath));
        QVERIFY2(rig.window->state().selectComport.empty(), rig.window->state().selectComport.c_str());
        QVERIFY(!rig.switchEnabled(0));
        QVERIFY(!rig.child("ResetHub")->isEnabled());
    }

    void refreshOptionTable() {
        const struct {
            QStringList args;
            std::optional<std::chrono::milliseconds> period;
        } cases[] = {
            {{"hubpanel"}, panel::kRefreshPeriod},
            {{"hubpanel", "--refresh", "0"}, 0ms},
            {{"hubpanel", "--refresh", "5"}, 5000ms},
            {{"hubpanel", "--refresh=0.5"}, 500ms},
            {{"hubpanel", "--refresh", "-1"}, std::nullopt},
            {{"hubpanel", "--refresh", "soon"}, std::nullopt},
            {{"hubpanel", "--refresh"}, std::nullopt},
            {{"hubpanel", "--refresh", "inf"}, std::nullopt},
        };
        for (const auto& c : cases) QCOMPARE(panel::refreshOption(c.args), c.period);
    }
};

QTEST_MAIN(PanelLiveTest)
#include "panel_live_test.moc"
