// Search All Hubs in both windows with hubs on other hosts configured: the
// remote hubs are listed after the local ones, by their URLs.
#include <stdlib.h>

#include <ser2net_rig.h>

#include "desk/view_controller.h"
#include "window_rig.h"

namespace {

sim::HubConfig named(const std::string& uid, std::uint32_t states) {
    sim::HubConfig config = hubWith(4, states);
    config.uid = uid;
    return config;
}

// The remotes as HUBLINK_REMOTES for the rig's lifetime.
struct RemotesSet {
    explicit RemotesSet(const std::string& value) { ::setenv("HUBLINK_REMOTES", value.c_str(), 1); }
    ~RemotesSet() { ::unsetenv("HUBLINK_REMOTES"); }
};

// One local hub, one remote hub, one silent remote; the remote hub comes
// after the local one and the silent remote adds no row.
template <class Rig>
void listsRemoteHubAfterLocal() {
    Rig rig;
    const std::string local = rig.listHub(rig.addHub(named("LOCAL0000001", 0b0001)));
    sim::VirtualHub& remote = rig.addHub(named("REMOTE000001", 0b0110));
    sim::VirtualHub& silent = rig.addHub(named("SILENT000001", 0));
    silent.setPersistentFault(fault(sim::Fault::Kind::Silent));
    testsupport::Ser2netRig server({{silent.path()}, {remote.path()}});
    const RemotesSet remotes(server.url(0) + " " + server.url(1));

    rig.searchAll();
    QTRY_COMPARE_WITH_TIMEOUT(rig.status(), QStringLiteral("2 USB Hub(s) Found"), 10000);
    QCOMPARE(rig.cell(0, "ControlPortShort"), QString::fromStdString(local));
    QCOMPARE(rig.cell(1, "ControlPortShort"), QString::fromStdString(server.url(1)));
    QCOMPARE(rig.cell(1, "On"), QStringLiteral("2,3"));
    QVERIFY(!remote.received().empty());
    QVERIFY(!silent.received().empty());  // asked, and no row for it
}

}  // namespace

class PanelRemoteTest : public QObject {
    Q_OBJECT
private slots:
    // A URL typed into the control-port field: the hub is listed by it, and
    // a switch click reaches it through ser2net.
    void searchPortByUrlAndSwitch() {
        WindowRig rig;
        sim::VirtualHub& remote = rig.addHub(named("REMOTE000002", 0b0001));
        testsupport::Ser2netRig server({{remote.path()}});
        rig.searchFor(server.url(0));
        QCOMPARE(rig.status(), QStringLiteral("1 USB Hub(s) Found"));
        QCOMPARE(rig.cell(0, "ControlPortShort"), QString::fromStdString(server.url(0)));
        remote.clearReceived();
        rig.child("switch2")->click();
        QCOMPARE(remote.states() & 0xFU, 0b0011U);
        QCOMPARE(remote.received().at(1), std::string("SPkiwi    F3FFFFFF\r"));
        rig.expectColours(0b0011, 4);
        QVERIFY(rig.alerts.shown.empty());
    }

    void panelSearchAllListsRemoteHubs() { listsRemoteHubAfterLocal<WindowRig>(); }
    void deskSearchAllListsRemoteHubs() { listsRemoteHubAfterLocal<WindowRigFor<desk::ViewController>>(); }
};

QTEST_MAIN(PanelRemoteTest)
#include "panel_remote_test.moc"
