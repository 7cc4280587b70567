// The window's rough edges, each as the user meets it against virtual hubs.
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTimer>
#include <malloc.h>

#include "window_rig.h"

class PanelEdgesTest : public QObject {
    Q_OBJECT
private slots:
    void aSearchWithoutTheHubForgetsIt() {
        WindowRig rig;
        sim::VirtualHub& hub = rig.selectHub(hubWith(4, 0));
        QVERIFY(rig.child("SetPortStates")->isEnabled());
        rig.searchFor("/dev/null");  // finds nothing
        QCOMPARE(rig.status(), QStringLiteral("0 USB Hub(s) Found"));
        QVERIFY(rig.window->state().selectComport.empty());
        for (const char* name : {"SetPortStates", "ResetDefault", "ResetHub", "SetPassword",
                                 "EditDescription", "UpdateFirmware"})
            QVERIFY2(!rig.child(name)->isEnabled(), name);
        hub.clearReceived();
        rig.window->clickSetPortStateButtons();
        if (rig.dialogOpen()) rig.confirm();
        QVERIFY(hub.received().empty());
    }

    void disabledSwitchesLookDisabled() {
        WindowRig rig;
        rig.selectHub(hubWith(16, 0xFFFF));
        rig.selectHub(hubWith(4, 0));
        const QColor disabled = QApplication::palette().color(QPalette::Disabled, QPalette::ButtonText);
        for (int port = 5; port <= 16; ++port) {
            QPushButton* button = rig.window->switches().buttons().at(port - 1);
            QVERIFY(!button->isEnabled());
            QCOMPARE(button->palette().color(QPalette::Disabled, QPalette::ButtonText), disabled);
        }
    }

    void oldPasswordIsSelectedSoTypingReplacesIt() {
        WindowRig rig;
        rig.selectHub(hubWith(4, 0));
        rig.child("SetPassword")->click();
        auto* old = rig.window->router().currentScene()->findChild<QLineEdit*>("OldPassword");
        QVERIFY(old != nullptr);
        QCOMPARE(old->selectedText(), QStringLiteral("kiwi    "));
        old->deselect();
        old->clearFocus();
        old->setFocus();
        QTRY_COMPARE(old->selectedText(), QStringLiteral("kiwi    "));
        QTest::keyClicks(old, "secret");
        QCOMPARE(old->text(), QStringLiteral("secret"));
    }

    void enterSearchesAndSwitchesTakeTheKeyboard() {
        WindowRig rig;
        sim::VirtualHub& hub = rig.addHub(hubWith(4, 0));
        auto* input = rig.child<QLineEdit>("comportInput");
        input->setText(QString::fromStdString(hub.path()));
        QTest::keyClick(input, Qt::Key_Return);
        QCOMPARE(rig.status(), QStringLiteral("1 USB Hub(s) Found"));
        QPushButton* first = rig.child("switch1");
        QVERIFY(first->focusPolicy() & Qt::TabFocus);
        first->setFocus();
        QTest::keyClick(first, Qt::Key_Space);
        QCOMPARE(hub.states() & 1U, 1U);
    }

    void resetWaitShowsTheBusyCursor() {
        WindowRig rig;
        rig.window->setResetWait(std::chrono::milliseconds(200));
        sim::HubConfig config = hubWith(4, 0);
        config.resetSilence = std::chrono::milliseconds(50);
        rig.selectHub(config);
        bool busyDuringWait = false;
        QTimer::singleShot(100, [&] {
            busyDuringWait = QApplication::overrideCursor() != nullptr &&
                             QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        });
        rig.child("ResetHub")->click();
        rig.confirm();
        QVERIFY(busyDuringWait);
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void columnsKeepTheirWidthsWhenHubsAreReread() {
        WindowRig rig;
        rig.selectHub(hubWith(16, 0));
        auto* table = rig.child<QTableView>("tableView");
        const int offColumn = rig.window->tableModel().identifiers().indexOf("Off");
        const int before = table->columnWidth(offColumn);
        rig.child("switch1")->click();  // the hub is re-read: "Off" is shorter now
        QCOMPARE(rig.cell(0, "Off").left(2), QStringLiteral("2,"));
        QCOMPARE(table->columnWidth(offColumn), before);
        QVERIFY(table->horizontalHeader()->stretchLastSection());
    }

    // A search waits for silent ports: the window keeps painting meanwhile,
    // with every control that reaches a hub held.
    void aSearchKeepsTheWindowPainting() {
        WindowRig rig;
        sim::VirtualHub& hub = rig.addHub(hubWith(4, 0));
        hub.setPersistentFault(fault(sim::Fault::Kind::Silent));
        QString statusMeanwhile;
        bool searchHeld = false;
        QTimer::singleShot(150, [&] {
            statusMeanwhile = rig.status();
            searchHeld = !rig.child("searchButton")->isEnabled() && !rig.child("SearchComport")->isEnabled();
        });
        QElapsedTimer took;
        took.start();
        rig.searchFor(hub.path());
        QVERIFY(took.elapsed() >= 400);  // the silent port's timeout
        QCOMPARE(statusMeanwhile, QStringLiteral("Searching Hubs..."));
        QVERIFY(searchHeld);
        QCOMPARE(rig.status(), QStringLiteral("0 USB Hub(s) Found"));
        QVERIFY(rig.child("searchButton")->isEnabled());
    }

    // A window left open for hours: clicks must not pile up memory. Each
    // click toggles a switch's title colour and re-reads the hub.
    void clicksKeepTheHeapFlat() {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the sanitizer's allocator does not report to mallinfo2");
#endif
        WindowRig rig;
        sim::VirtualHub& hub = rig.selectHub(hubWith(4, 0));
        int resets = 0;
        connect(&rig.window->tableModel(), &QAbstractItemModel::modelReset, [&] { ++resets; });
        QPushButton* button = rig.child("switch1");
        const auto clicks = [&](int n) {
            for (int i = 0; i < n; ++i) {
                button->click();
                button->repaint();  // drawn as on screen, through the style's caches
            }
        };
        clicks(100);
        hub.clearReceived();  // the hub lives in this process and records its lines
        const std::size_t before = mallinfo2().uordblks;
        clicks(400);
        hub.clearReceived();
        const std::size_t after = mallinfo2().uordblks;
        QVERIFY2(after < before + 100 * 1024, qPrintable(QStringLiteral("%1 -> %2 bytes").arg(before).arg(after)));
        // Rows change in place: an assistive technology keeps its cells.
        QCOMPARE(resets, 0);
    }
};

QTEST_MAIN(PanelEdgesTest)
#include "panel_edges_test.moc"
