// The main window and its dialogs, driven through their buttons against
// virtual hubs; what the hubs received is checked line by line.
#include <QElapsedTimer>
#include <QTimer>
#include <map>

#include "window_rig.h"

namespace {

const std::string kiwi = "kiwi    ";

// Command lines that change something; the queries of a search are left out.
std::vector<std::string> changes(const sim::VirtualHub& hub) {
    std::vector<std::string> out;
    for (const std::string& line : hub.received()) {
        if (line != "?Q\r" && line != "GP\r" && line != "E?Q2\r") out.push_back(line);
    }
    return out;
}

// Records which delegate method the prompt chose, and with what.
struct PromptReturns : panel::PasswordInputViewControllerDelegate {
    void onPasswordReturn(const std::string& pw) override { got = "onPasswordReturn " + pw; }
    void onSetStateReturn(const std::string& pw) override { got = "onSetStateReturn " + pw; }
    void onResetDefaultReturn(const std::string& pw) override { got = "onResetDefaultReturn " + pw; }
    void onResetHubsReturn(const std::string& pw) override { got = "onResetHubsReturn " + pw; }
    void onEditDescriptionReturn(const std::string& pw) override { got = "onEditDescriptionReturn " + pw; }
    void onUpdateReturn(const std::string& pw) override { got = "onUpdateReturn " + pw; }
    void AutoSearch() override { got = "AutoSearch"; }
    std::string got;
};

}  // namespace

class PanelWindowTest : public QObject {
    Q_OBJECT
private slots:
    void searchesFindTheHubs() {
        WindowRig rig;
        sim::VirtualHub& a = rig.addHub(hubWith(4, 0));
        sim::VirtualHub& b = rig.addHub(hubWith(7, 0));
        const std::string listedA = rig.listHub(a);
        rig.listHub(b);
        // Nothing is searched or enabled before the user asks.
        QCOMPARE(rig.window->tableModel().rowCount(), 0);
        for (const char* name :
             {"switch1", "switchOn", "switchOff", "SetPassword", "ResetHub", "EditDescription"}) {
            QVERIFY2(!rig.child(name)->isEnabled(), name);
        }
        QVERIFY(a.received().empty());

        struct Case {
            std::string typed;
            int found;
            std::string firstPort;
        };
        const std::vector<Case> cases = {
            {a.path(), 1, a.path()},    // a pty the registry does not list
            {"ttyUSB", 2, listedA},     // registry paths that contain the text
            {"ttyUSB1", 1, ""},
            {"/dev/null", 0, ""},       // exists, but is no terminal
        };
        for (const Case& c : cases) {
            rig.searchFor(c.typed);
            QCOMPARE(rig.status(), QStringLiteral("%1 USB Hub(s) Found").arg(c.found));
            QCOMPARE(rig.window->tableModel().rowCount(), c.found);
            QCOMPARE(rig.window->state().data.size(), std::size_t(c.found));
            if (!c.firstPort.empty()) QCOMPARE(rig.window->state().selectComport, c.firstPort);
            QCOMPARE(rig.switchEnabled(0), c.found > 0);
        }
        // The automatic search keeps USB adapters, judged by their names inside
        // the registry (DIR/dev/ttyUSB0 is the registry's /dev/ttyUSB0).
        rig.child("searchButton")->click();
        QCOMPARE(rig.status(), QStringLiteral("2 USB Hub(s) Found"));
        QCOMPARE(rig.window->state().selectComport, listedA);
        QVERIFY(rig.switchEnabled(0));
    }

    void selectionDrawsSwitches() {
        struct Case {
            int ports;
            std::uint32_t states;
            const char* firmware;
            bool descriptionEditable;
        };
        const std::vector<Case> cases = {
            {4, 0b0101, "V04", true},
            {16, 0x8001, "V03", false},
            {1, 1, "V10", true},
        };
        for (const Case& c : cases) {
            WindowRig rig;
            const sim::VirtualHub& hub = rig.selectHub(hubWith(c.ports, c.states, kiwi, c.firmware));
            for (int i = 0; i < 18; ++i) QCOMPARE(rig.switchEnabled(i), i < c.ports || i >= 16);
            rig.expectColours(c.states, c.ports);
            for (const char* action : {"SetPassword", "SetPortStates", "ResetDefault", "ResetHub"}) {
                QVERIFY2(rig.child(action)->isEnabled(), action);
            }
            QCOMPARE(rig.child("EditDescription")->isEnabled(), c.descriptionEditable);
            QCOMPARE(rig.cell(0, "ControlPortShort"), QString::fromStdString(hub.path()));
            QCOMPARE(rig.cell(0, "PortsperHubShort"), QString::number(c.ports));
            // Older hubs have no UID field: an empty cell, as for any unknown field.
            QCOMPARE(rig.cell(0, "UID").isEmpty(), !c.descriptionEditable);
        }
    }

    void switchDisplaySteps() {
        QWidget holder;
        std::vector<QPushButton*> buttons;
        for (int i = 1; i <= 18; ++i) {
            buttons.push_back(new QPushButton(QString::number(i), &holder));
            QPalette palette = buttons.back()->palette();
            palette.setColor(QPalette::ButtonText, Qt::blue);  // not drawn by the board yet
            buttons.back()->setPalette(palette);
        }
        auto* action = new QPushButton(&holder);
        panel::SwitchBoard board(buttons, {action});

        struct Step {
            const char *ports, *on, *off;
            int n;
            const char* colours;  // ports 1-16: G on, B off, . never drawn
        };
        // One board through all steps: each starts from what the last one left.
        const std::vector<Step> steps = {
            {"16", "1,2,16", "3,4", 16, "GGBB...........G"},
            {"04", "3", "1", 4, "BGGB...........G"},  // unlisted ports keep their colour
            {"0", "", "", 0, "BGGB...........G"},
            {"x4", "", "2", 0, "BBGB...........G"},
            {"", "5", "", 0, "BBGBG..........G"},
        };
        const std::map<char, QColor> colour = {{'G', panel::kOnColour}, {'B', Qt::black}, {'.', Qt::blue}};
        for (const Step& step : steps) {
            // Without ports the display leaves the action buttons as they were.
            for (const bool before : {false, true}) {
                action->setEnabled(before);
                QCOMPARE(board.setButtonlist(step.ports, step.on, step.off), step.n);
                QVERIFY2(action->isEnabled() == (step.n > 0 || before), step.ports);
            }
            for (int i = 0; i < 18; ++i) {
                QVERIFY2(buttons[i]->isEnabled() == (i < step.n || (i >= 16 && step.n > 0)), step.ports);
                QCOMPARE(buttons[i]->text(), QString::number(i + 1));
            }
            for (int i = 0; i < 16; ++i) {
                const QPalette& palette = buttons[i]->palette();
                QCOMPARE(palette.color(QPalette::Active, QPalette::ButtonText), colour.at(step.colours[i]));
                QCOMPARE(palette.color(QPalette::Inactive, QPalette::ButtonText), colour.at(step.colours[i]));
                // A disabled switch keeps the disabled look, whatever its port's state.
                QCOMPARE(palette.color(QPalette::Disabled, QPalette::ButtonText), QColor(Qt::blue));
            }
        }
    }

    void switchClickSendsOneLineAndRereads() {
        WindowRig rig;
        sim::VirtualHub& hub = rig.selectHub(hubWith(4, 0b0100));
        struct Step {
            const char* button;
            std::string line;
            std::uint32_t states;  // of ports 1-4 afterwards
        };
        // Each toggle starts from what the hub reported after the previous one.
        const std::vector<Step> steps = {
            {"switch3", "SPkiwi    F0FFFFFF\r", 0b0000},
            {"switch3", "SPkiwi    F4FFFFFF\r", 0b0100},
            {"switch1", "SPkiwi    F5FFFFFF\r", 0b0101},
            {"switchOff", "SPkiwi    00000000\r", 0b0000},
            {"switchOn", "SPkiwi    FFFFFFFF\r", 0b1111},
        };
        for (const Step& step : steps) {
            hub.clearReceived();
            rig.child(step.button)->click();
            // A port's toggle reads the states first; all on and all off need not.
            std::vector<std::string> lines{step.line, "?Q\r", "GP\r", "E?Q2\r"};
            if (std::string(step.button).size() < 8) lines.insert(lines.begin(), "GP\r");
            // The one change, then the hubs read again once.
            QCOMPARE(hub.received(), lines);
            QCOMPARE(hub.states() & 0xFU, step.states);
            rig.expectColours(step.states, 4);
        }
        QVERIFY(rig.alerts.shown.empty());

        // A refused change is told, and nothing is re-read.
        hub.clearReceived();
        hub.pushFault(fault(sim::Fault::Kind::Delay));
        hub.pushFault(fault(sim::Fault::Kind::Garble));
        rig.child("switch1")->click();
        QCOMPARE(rig.alerts.shown, (std::vector<Alert>{{"System Message", "State Error"}}));
        QCOMPARE(hub.received().size(), std::size_t(2));
        // Why, behind the alert; the status line keeps the search's outcome.
        QVERIFY(rig.alerts.details.back().contains("unexpected reply"));
        QCOMPARE(rig.status(), QStringLiteral("1 USB Hub(s) Found"));

        // States that cannot be read send no change at all.
        hub.clearReceived();
        hub.pushFault(fault(sim::Fault::Kind::Garble));
        rig.child("switch1")->click();
        QCOMPARE(hub.received(), (std::vector<std::string>{"GP\r"}));
        QVERIFY(rig.alerts.details.back().contains("port states could not be read"));
    }

    void wrongRememberedPasswordPrompts() {
        WindowRig rig;
        sim::VirtualHub& hub = rig.selectHub(hubWith(4, 0, "secret12"));
        rig.child("switch1")->click();
        QCOMPARE(rig.window->router().lastSegue(), std::string("PasswordPut"));
        // Wrong entries: padded to 8, cut to 8, and the prompt comes back.
        for (const char* entry : {"abc", "0123456789", "secret12"}) {
            QVERIFY2(rig.scene<panel::PasswordInput>() != nullptr, entry);
            rig.answer("passwordZone", entry);
        }
        QVERIFY(!rig.dialogOpen());
        QCOMPARE(changes(hub), (std::vector<std::string>{"SPkiwi    F1FFFFFF\r", "SPabc     F1FFFFFF\r",
                                                         "SP01234567F1FFFFFF\r", "SPsecret12F1FFFFFF\r"}));
        QCOMPARE(hub.states() & 0xFU, 0b0001U);
        QCOMPARE(rig.window->state().selectPassword, std::string("secret12"));

        // Remembered through later refreshes: no more prompts.
        hub.clearReceived();
        rig.child("switch2")->click();
        rig.child("switch2")->click();
        QVERIFY(!rig.dialogOpen());
        QCOMPARE(changes(hub), (std::vector<std::string>{"SPsecret12F3FFFFFF\r", "SPsecret12F1FFFFFF\r"}));

        // A search forgets it again; cancelling the prompt changes nothing.
        rig.searchFor(hub.path());
        QCOMPARE(rig.window->state().selectPassword, kiwi);
        hub.clearReceived();
        rig.child("switch2")->click();
        QVERIFY(rig.scene<panel::PasswordInput>() != nullptr);
        rig.cancel();
        QVERIFY(!rig.dialogOpen());
        QCOMPARE(hub.received(), (std::vector<std::string>{"GP\r", "SPkiwi    F3FFFFFF\r"}));
        QCOMPARE(hub.states() & 0xFU, 0b0001U);
        QVERIFY(rig.alerts.shown.empty());
    }

    void restoreBringsBackDefaultPassword() {
        WindowRig rig;
        sim::VirtualHub& hub = rig.selectHub(hubWith(4, 0, "secret12"));
        rig.child("switch1")->click();
        rig.answer("passwordZone", "secret12");
        QCOMPARE(rig.window->state().selectPassword, std::string("secret12"));

        // First with the remembered password, then prompted after the form changed
        // it behind the window's back (the form does not touch what it remembers).
        for (const bool prompted : {false, true}) {
            if (prompted) {
                rig.child("SetPassword")->click();
                rig.window->router().currentScene()->findChild<QLineEdit*>("NewPassword")->setText("secret12");
                rig.answer("ConfirmPassword", "secret12");
                QCOMPARE(hub.password(), std::string("secret12"));
                QCOMPARE(rig.window->state().selectPassword, kiwi);
            }
            rig.child("ResetDefault")->click();
            QVERIFY(rig.scene<panel::RestoreAsk>() != nullptr);
            rig.confirm();
            QCOMPARE(rig.scene<panel::PasswordInput>() != nullptr, prompted);
            if (prompted) rig.answer("passwordZone", "secret12");
            QCOMPARE(changes(hub).back(), "RDsecret12\r");
            QCOMPARE(hub.password(), kiwi);
            QCOMPARE(rig.window->state().selectPassword, kiwi);
            QCOMPARE(rig.window->state().data.at(0).at("Password"), kiwi);
        }
    }

    void saveAsksThenStoresStates() {
        WindowRig rig;
        sim::VirtualHub& hub = rig.selectHub(hubWith(4, 0b0110, "secret12"));
        rig.child("SetPortStates")->click();
        QVERIFY(rig.scene<panel::SetPortStateAsk>() != nullptr);
        rig.cancel();
        QVERIFY(changes(hub).empty());

        // A refused first attempt is told once; only a prompted one prompts again.
        rig.child("SetPortStates")->click();
        hub.pushFault(fault(sim::Fault::Kind::Garble));
        rig.confirm();
        QCOMPARE(rig.alerts.take(), (std::vector<Alert>{{"System Message", "State Error"}}));
        QVERIFY(!rig.dialogOpen());
        hub.clearReceived();

        rig.child("SetPortStates")->click();
        rig.confirm();
        rig.answer("passwordZone", "secret12");
        QCOMPARE(changes(hub), (std::vector<std::string>{"WPkiwi    F6FFFFFF\r", "WPsecret12F6FFFFFF\r"}));
        QCOMPARE(hub.powerOnStates() & 0xFU, 0b0110U);
        QCOMPARE(rig.window->state().selectPassword, std::string("secret12"));

        // A refused second attempt: the alert, then the prompt again.
        hub.clearReceived();
        rig.searchFor(hub.path());
        rig.child("SetPortStates")->click();
        rig.confirm();
        hub.pushFault(fault(sim::Fault::Kind::Garble));
        rig.answer("passwordZone", "secret12");
        QCOMPARE(rig.alerts.shown, (std::vector<Alert>{{"System Message", "State Error"}}));
        QVERIFY(rig.scene<panel::PasswordInput>() != nullptr);
    }

    void descriptionLimitAndFailures() {
        WindowRig rig;
        sim::HubConfig config = hubWith(4, 0, "secret12");
        config.description = "Old text";
        sim::VirtualHub& hub = rig.selectHub(config);
        rig.child("EditDescription")->click();
        auto* editor = rig.scene<panel::EditDescString>();
        QVERIFY(editor != nullptr);
        QCOMPARE(editor->findChild<QLineEdit*>("EditDesctription")->text(), QStringLiteral("Old text"));
        QCOMPARE(editor->findChild<QLabel*>("ControlPortName")->text(), QString::fromStdString(hub.path()));
        QCOMPARE(editor->findChild<QLabel*>("UID")->text(), QStringLiteral("0123456789AB"));

        // 65 characters are refused before anything is sent.
        rig.answer("EditDesctription", QString(65, 'x'));
        QCOMPARE(rig.alerts.take(),
                 (std::vector<Alert>{{"System Message", "Description must have less than 64 characters."}}));
        QVERIFY(changes(hub).empty());

        // 64 are sent; the prompted password is used but not remembered.
        const std::string text64(64, 'y');
        rig.child("EditDescription")->click();
        rig.answer("EditDesctription", QString::fromStdString(text64));
        rig.answer("passwordZone", "secret12");
        QCOMPARE(changes(hub), (std::vector<std::string>{"ESDDkiwi    " + text64 + "\r",
                                                         "ESDDsecret12" + text64 + "\r"}));
        QCOMPARE(hub.description(), text64);
        QCOMPARE(rig.cell(0, "Description"), QString::fromStdString(text64));
        QCOMPARE(rig.window->state().selectPassword, kiwi);

        // A write the hub refuses is an error, not a success.
        hub.clearReceived();
        rig.child("EditDescription")->click();
        hub.pushFault(fault(sim::Fault::Kind::Garble));
        rig.answer("EditDesctription", "New text");
        QCOMPARE(rig.alerts.shown, (std::vector<Alert>{{"System Message", "I/O Error"}}));
        QCOMPARE(hub.received(), (std::vector<std::string>{"ESDDkiwi    New text\r"}));
        QVERIFY(rig.alerts.details.back().startsWith(QString::fromStdString(hub.path())));
        QCOMPARE(rig.status(), QStringLiteral("1 USB Hub(s) Found"));
        QVERIFY(!rig.dialogOpen());
    }

    void changePasswordForm() {
        struct Case {
            const char* name;
            std::string hubPassword;
            QString newPw, confirm;  // the old one is typed as "kiwi"
            std::optional<sim::Fault> fault;
            std::vector<Alert> alerts;
            bool sent, formOpen, refusedScene;
        };
        const std::vector<Alert> changed = {{"Success", "Your password has been changed successfully!"}};
        const QString mismatch = "Please check your new password is same with confirm password.\n\n";
        const std::vector<Case> cases = {
            {"changed", kiwi, "secret12", "secret12", {}, changed, true, false, false},
            {"mismatch", kiwi, "secret12", "secret13", {}, {{"System Message", mismatch}}, false, true, false},
            {"long entries cut alike", kiwi, "secret12345", "secret12", {}, changed, true, false, false},
            {"old refused", "other123", "secret12", "secret12", {}, {}, true, true, true},
            {"garbage", kiwi, "secret12", "secret12", fault(sim::Fault::Kind::Garble),
             {{"System Message", "I/O Error"}}, true, true, false},
        };
        for (const Case& c : cases) {
            WindowRig rig;
            sim::VirtualHub& hub = rig.selectHub(hubWith(4, 0, c.hubPassword));
            hub.clearReceived();
            if (c.fault) hub.pushFault(*c.fault);
            rig.child("SetPassword")->click();
            auto* form = rig.scene<panel::PasswordForm>();
            QVERIFY2(form != nullptr, c.name);
            QCOMPARE(form->findChild<QLineEdit*>("OldPassword")->text(), QString::fromStdString(kiwi));
            form->findChild<QLineEdit*>("OldPassword")->setText("kiwi");
            form->findChild<QLineEdit*>("NewPassword")->setText(c.newPw);
            rig.answer("ConfirmPassword", c.confirm);
            QVERIFY2(rig.alerts.shown == c.alerts, c.name);
            QVERIFY2(hub.received() == std::vector<std::string>(c.sent ? 1 : 0, "CPkiwi    secret12\r"), c.name);
            QVERIFY2(form->isVisible() == c.formOpen, c.name);
            QVERIFY2((rig.scene<panel::OldPasswordRefused>() != nullptr) == c.refusedScene, c.name);
        }
    }

    void resetWaitsWithoutInput() {
        struct Case {
            const char* name;
            std::optional<sim::Fault> fault;
            bool prompted;
        };
        const std::vector<Case> cases = {
            {"answered", {}, false},
            {"silent hub counts as reset", fault(sim::Fault::Kind::Silent), false},
            {"prompted password is remembered", {}, true},
        };
        for (const Case& c : cases) {
            WindowRig rig;
            const std::string pw = c.prompted ? "secret12" : kiwi;
            sim::HubConfig config = hubWith(4, 0b0011, pw);
            config.resetSilence = std::chrono::milliseconds(150);
            sim::VirtualHub& hub = rig.selectHub(config);
            QCOMPARE(rig.window->resetWait(), std::chrono::milliseconds(8000));
            const auto wait = std::chrono::milliseconds(400);
            rig.window->setResetWait(wait);

            rig.child("ResetHub")->click();
            QVERIFY(rig.scene<panel::ResetHubAsk>() != nullptr);
            // A click during the pause must be dropped, not run afterwards.
            QTimer::singleShot(100, [&rig] { QTest::mouseClick(rig.child("switch4"), Qt::LeftButton); });
            if (c.prompted) {
                rig.confirm();  // the remembered password is refused at once
                QVERIFY(rig.scene<panel::PasswordInput>() != nullptr);
            }
            if (c.fault) hub.pushFault(*c.fault);
            QElapsedTimer clock;
            clock.start();
            c.prompted ? rig.answer("passwordZone", "secret12") : rig.confirm();
            QVERIFY2(clock.elapsed() >= wait.count(), c.name);
            QTest::qWait(150);
            std::vector<std::string> sent = {"RHkiwi    \r"};
            if (c.prompted) sent.push_back("RHsecret12\r");
            QVERIFY2(changes(hub) == sent, c.name);
            // Re-read after the restart: listed and selected again, no alert.
            QCOMPARE(rig.status(), QStringLiteral("1 USB Hub(s) Found"));
            QCOMPARE(rig.window->state().selectComport, hub.path());
            QCOMPARE(rig.window->state().selectPassword, pw);
            QVERIFY(rig.switchEnabled(0));
            QVERIFY(rig.alerts.shown.empty());
        }
    }

    void promptHandsPasswordToItsOperation() {
        RecordingAlerts alerts;
        panel::BridgeLink link;
        panel::SegueRouter router;
        const auto press = [&](const char* function, const char* button) {
            PromptReturns delegate;
            panel::PasswordInput prompt(panel::SceneContext{alerts, link, router}, nullptr);
            prompt.setAttribute(Qt::WA_DeleteOnClose, false);
            prompt.selectFunction = function;
            prompt.delegate = &delegate;
            prompt.findChild<QLineEdit*>("passwordZone")->setText("pw");
            prompt.findChild<QPushButton*>(button)->click();
            return delegate.got;
        };
        // The window's own flows reach the other returns through their prompts.
        QCOMPARE(press("updateFirmware", "confirmButton"), std::string("onUpdateReturn pw      "));
        QCOMPARE(press("somethingElse", "confirmButton"), std::string());
        QCOMPARE(press("updateFirmware", "cancelButton"), std::string("AutoSearch"));  // the list went stale
        QCOMPARE(press("setPort", "cancelButton"), std::string());
    }

    void vanishedAndGarbledHubs() {
        WindowRig rig;
        sim::HubConfig config = hubWith(4, 0);
        config.uid = "VANISHED0001";
        sim::VirtualHub& hub = rig.selectHub(config);
        hub.vanish();
        rig.child("switch1")->click();
        QCOMPARE(rig.alerts.shown, (std::vector<Alert>{{"System Message", "State Error"}}));
        QCOMPARE(rig.alerts.details.back(), QString::fromStdString(hub.path() + ": port states could not be read: Open Port Error!"));
        QCOMPARE(rig.status(), QStringLiteral("1 USB Hub(s) Found"));

        // The window goes on: a new search finds it no more (the pty's number
        // may already serve another test's hub, so it is told by its UID), and
        // a garbling hub gets no usable switches.
        rig.searchFor(hub.path());
        for (const hublink::HubInfo& record : rig.window->state().data) {
            QVERIFY(!record.count("UID") || record.at("UID") != "VANISHED0001");
        }
        rig.addHub(hubWith(4, 0)).setPersistentFault(fault(sim::Fault::Kind::Garble));
        rig.searchFor(rig.hubs.back()->path());
        QVERIFY(rig.status().endsWith("USB Hub(s) Found"));
        for (int i = 0; i < 18; ++i) QVERIFY(!rig.switchEnabled(i));
    }

    void shortListAfterRefresh() {
        // The selected hub disappears right after accepting a change.
        for (const int selected : {1, 0}) {  // the row of the hub that vanishes
            WindowRig rig;
            sim::VirtualHub& a = rig.addHub(hubWith(4, 0, "secret12"));
            sim::VirtualHub& b = rig.addHub(hubWith(4, 0, "secret12"));
            rig.listHub(a);
            rig.listHub(b);
            rig.searchFor("ttyUSB");
            sim::VirtualHub& gone = selected == 0 ? a : b;
            sim::VirtualHub& stays = selected == 0 ? b : a;
            rig.window->findChild<QTableView*>("tableView")->selectRow(selected);
            rig.child("switch1")->click();
            gone.pushFault(fault(sim::Fault::Kind::Delay));  // the prompted attempt reads
            gone.pushFault(fault(sim::Fault::Kind::Delay));  // and succeeds
            gone.pushFault(fault(sim::Fault::Kind::Vanish));    // then the re-read finds nothing
            stays.clearReceived();
            rig.answer("passwordZone", "secret12");

            QCOMPARE(rig.window->state().data.size(), std::size_t(1));
            QCOMPARE(rig.window->state().data[0].at("Password"), kiwi);  // not given to the other hub
            QCOMPARE(rig.window->state().selectComport, std::string());
            for (int i = 0; i < 18; ++i) QVERIFY(!rig.switchEnabled(i));
            QVERIFY(!rig.child("ResetHub")->isEnabled());
            QVERIFY(rig.status().contains("no longer answers"));
            QVERIFY(changes(stays).empty());
            QVERIFY(rig.alerts.shown.empty());
        }
    }
};

QTEST_MAIN(PanelWindowTest)
#include "panel_window_test.moc"
