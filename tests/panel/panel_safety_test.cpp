// What must never reach a hub from the window: typed text that would become
// a second command, a click that reverts another program's change, another
// window's firmware image, and input of any kind while the window waits.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QTimer>
#include <firmware/firmware_file.h>
#include <hublink/exchange.h>
#include <random>

#include "window_rig.h"

namespace {

using namespace std::chrono_literals;

bool anyLineStartsWith(const sim::VirtualHub& hub, const std::string& prefix) {
    for (const std::string& line : hub.received())
        if (line.rfind(prefix, 0) == 0) return true;
    return false;
}

// Presses a widget the way a screen reader or a switch device does.
void pressAccessibly(QWidget* widget) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(iface != nullptr && iface->actionInterface() != nullptr);
    iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
}

firmware::Bytes image(std::size_t n, const char pid[2], unsigned seed) {
    std::mt19937 gen(seed);
    firmware::Bytes bytes(n);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(gen());
    const std::string marker = std::string(firmware::kPidMarker) + pid[0] + pid[1];
    std::copy(marker.begin(), marker.end(), bytes.begin() + 10);
    return bytes;
}

sim::HubConfig loaderHub(const char* productId, std::string password) {
    sim::HubConfig config = hubWith(4, 0, std::move(password));
    config.productId = productId;
    config.eraseTime = 20ms;
    config.loaderListen = 1000ms;
    config.bootTime = 20ms;
    return config;
}

QString scrambledFile(const QString& dir, const char* name, const firmware::Bytes& bytes) {
    const QString path = dir + "/" + name;
    QFile out(path);
    out.open(QIODevice::WriteOnly);
    const firmware::Bytes scrambled = firmware::scramble(bytes, firmware::defaultKey());
    out.write(reinterpret_cast<const char*>(scrambled.data()), qint64(scrambled.size()));
    return path;
}

const QString kTyped = QStringLiteral("rack 1\rRHkiwi    ");

}  // namespace

class PanelSafetyTest : public QObject {
    Q_OBJECT
private slots:
    void textsThatCannotTravelAreRefusedBeforeSending() {
        // Each would cut the command line or reach the hub as raw control bytes.
        const std::vector<QString> unsendable = {kTyped, "a\nb", "tab\there", QStringLiteral("del\x7f"),
                                                 QString(QChar(0x85)) + "c1"};
        for (const QString& text : unsendable) {
            WindowRig rig;
            sim::VirtualHub& hub = rig.selectHub(hubWith(4, 0, "secret12"));
            // The description editor: refused with its message, nothing sent.
            hub.clearReceived();
            rig.child("EditDescription")->click();
            rig.answer("EditDesctription", text);
            QCOMPARE(rig.alerts.take(), (std::vector<Alert>{{"System Message",
                                                             "Description must have less than 64 characters."}}));
            QVERIFY(hub.received().empty());

            // The password prompt of a click: stays open, sends nothing more.
            rig.child("switch1")->click();
            QVERIFY(rig.scene<panel::PasswordInput>() != nullptr);
            hub.clearReceived();
            rig.answer("passwordZone", text.left(8));
            QCOMPARE(rig.alerts.take(), (std::vector<Alert>{{"System Message", "Invalid Password!"}}));
            QVERIFY(rig.scene<panel::PasswordInput>() != nullptr);
            QVERIFY(hub.received().empty());
            rig.cancel();

            // The change-password form: each field, with the form's own lines.
            rig.child("SetPassword")->click();
            QVERIFY(rig.scene<panel::PasswordForm>() != nullptr);
            rig.scene<panel::PasswordForm>()->findChild<QLineEdit*>("OldPassword")->setText("secret12");
            rig.scene<panel::PasswordForm>()->findChild<QLineEdit*>("NewPassword")->setText(text.left(8));
            rig.answer("ConfirmPassword", text.left(8));
            const std::vector<Alert> shown = rig.alerts.take();
            QCOMPARE(shown.size(), std::size_t(1));
            QVERIFY(shown[0].text.startsWith("New password must have 8 characters.\n\n"
                                             "Confirm password must have 8 characters."));
            QVERIFY(rig.scene<panel::PasswordForm>() != nullptr);
            QCOMPARE(rig.alerts.details.back(), panel::kUnsendableDetail);
            rig.cancel();
            QVERIFY(hub.received().empty());
            QCOMPARE(hub.password(), std::string("secret12"));
        }
    }

    void clickKeepsAnotherProgramsChange() {
        WindowRig rig;
        sim::VirtualHub& hub = rig.selectHub(hubWith(4, 0));
        // Another program switches port 2 on after the window read the hub.
        QVERIFY(hublink::sendCommand(hub.path(), "SPkiwi    F2FFFFFF\r").ok());
        hub.clearReceived();
        rig.child("switch1")->click();
        QCOMPARE(hub.received(),
                 (std::vector<std::string>{"GP\r", "SPkiwi    F3FFFFFF\r", "?Q\r", "GP\r", "E?Q2\r"}));
        QCOMPARE(hub.states() & 0xFU, 0b0011U);
        rig.expectColours(0b0011, 4);
        // A toggle of the port the other program switched turns it off.
        QVERIFY(hublink::sendCommand(hub.path(), "SPkiwi    F7FFFFFF\r").ok());
        rig.child("switch2")->click();
        QCOMPARE(hub.states() & 0xFU, 0b0101U);
    }

    void twoWindowsUpdateTwoHubsEachWithItsImage() {
        WindowRig a;
        WindowRig b;
        sim::VirtualHub& hubA = a.selectHub(loaderHub("0AB3", "secret  "));
        sim::VirtualHub& hubB = b.selectHub(loaderHub("0AB4", "kiwi    "));
        const firmware::Bytes imageA = image(5000, "\x0A\xB3", 1);
        const firmware::Bytes imageB = image(7000, "\x0A\xB4", 2);
        for (WindowRig* rig : {&a, &b}) {
            panel::FirmwareUpdate& update = rig->window->firmwareUpdate();
            update.options().log = {};
            update.options().timings.connectLimit = 1500ms;
        }
        // A waits at its password prompt while B picks its file and programs.
        a.files.path = scrambledFile(a.scratch.path(), "a.enc", imageA);
        a.child("UpdateFirmware")->click();
        QTRY_VERIFY_WITH_TIMEOUT(a.scene<panel::PasswordInput>() != nullptr, 5000);
        b.files.path = scrambledFile(b.scratch.path(), "b.enc", imageB);
        b.child("UpdateFirmware")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!b.alerts.shown.empty(), 15000);
        QCOMPARE(b.alerts.shown.front().text, QStringLiteral("Firmware programmed Successfully!"));
        a.answer("passwordZone", "secret");
        QTRY_VERIFY_WITH_TIMEOUT(!a.alerts.shown.empty(), 15000);
        QCOMPARE(a.alerts.shown.front().text, QStringLiteral("Firmware programmed Successfully!"));
        QCOMPARE(hubA.flashImage(), imageA);
        QCOMPARE(hubB.flashImage(), imageB);
    }

    void pressDuringResetWaitSendsNothing() {
        WindowRig rig;
        sim::HubConfig config = hubWith(4, 0);
        config.resetSilence = 100ms;
        sim::VirtualHub& hub = rig.selectHub(config);
        rig.window->setResetWait(600ms);
        std::vector<std::pair<const char*, bool>> enabledDuringWait;
        QTimer::singleShot(150ms, [&] {
            for (const char* name : {"switch1", "switchOn", "searchButton", "SearchComport", "ResetHub",
                                     "EditDescription", "UpdateFirmware", "SetPassword"}) {
                enabledDuringWait.emplace_back(name, rig.child(name)->isEnabled());
            }
            enabledDuringWait.emplace_back("comportInput", rig.child<QLineEdit>("comportInput")->isEnabled());
            pressAccessibly(rig.child("switch1"));
            pressAccessibly(rig.child("searchButton"));
        });
        hub.clearReceived();
        rig.child("ResetHub")->click();
        rig.confirm();
        for (const auto& [name, enabled] : enabledDuringWait) QVERIFY2(!enabled, name);
        QCOMPARE(enabledDuringWait.size(), std::size_t(9));
        // The reset, then one re-read once the wait is over; no switch press.
        QVERIFY(!anyLineStartsWith(hub, "SP"));
        QCOMPARE(hub.received().front(), std::string("RHkiwi    \r"));
        // Afterwards every control is back as the selected hub has it.
        for (const char* name : {"switch1", "switchOn", "searchButton", "SearchComport", "ResetHub",
                                 "EditDescription", "UpdateFirmware"}) {
            QVERIFY2(rig.child(name)->isEnabled(), name);
        }
        QVERIFY(!rig.switchEnabled(4));  // a four-port hub
    }
};

QTEST_MAIN(PanelSafetyTest)
#include "panel_safety_test.moc"
