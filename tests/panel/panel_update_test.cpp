// The window's firmware update, clicked through against virtual hubs with a
// loader: the alerts and searches that end it, what the hub received, and the
// window held still while the loader has the hub.
#include <QProgressBar>
#include <firmware/firmware_file.h>
#include <firmware/temp_image.h>
#include <csignal>
#include <random>

#include <ser2net_rig.h>

#include "window_rig.h"

namespace {

using namespace std::chrono_literals;
using Kind = sim::LoaderFault::Kind;

const Alert kDone{"Firmware Update Completed", "Firmware programmed Successfully!",
                  panel::AlertIcon::CheckMark};
const Alert kIoError{"Firmware programmed Error!", "I/O Error!"};
const Alert kStateError{"System Message", "State Error"};
const Alert kInvalid{"Firmware Update Aborted", "Invalid Firmware File!"};
const Alert kIncorrect{"Firmware Update Aborted", "Incorrect Firmware File!"};

sim::HubConfig loaderHub(std::string firmware = "V04", std::string password = "kiwi    ") {
    sim::HubConfig config = hubWith(4, 0, std::move(password), std::move(firmware));
    config.eraseTime = 20ms;
    config.loaderListen = 1000ms;
    config.bootTime = 20ms;
    return config;
}

// An image of `n` bytes naming product `pid0 pid1`.
firmware::Bytes image(std::size_t n, std::uint8_t pid0 = 0x0A, std::uint8_t pid1 = 0xB3) {
    std::mt19937 gen(5);
    firmware::Bytes bytes(n);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(gen());
    std::string marker(firmware::kPidMarker);
    marker += char(pid0);
    marker += char(pid1);
    std::copy(marker.begin(), marker.end(), bytes.begin() + 10);
    return bytes;
}

bool sentUpdateCommand(const sim::VirtualHub& hub) {
    for (const std::string& line : hub.received())
        if (line.rfind("EUFW", 0) == 0) return true;
    return false;
}

// A search over the (empty) registry, as the window starts one after an update.
const QString kSearchedAgain = QStringLiteral("0 USB Hub(s) Found");

// A window with one hub selected, found by its typed path; its update quiet and quick.
struct UpdateRig : WindowRig {
    explicit UpdateRig(sim::HubConfig config = loaderHub()) : hub(selectHub(std::move(config))) {
        panel::FirmwareUpdate& update = window->firmwareUpdate();
        update.options().log = {};
        update.options().timings.connectLimit = 1500ms;
        update.options().timings.reply = 300ms;
        update.options().timings.erase = 1500ms;
    }
    QString file(const firmware::Bytes& bytes, const char* name = "fw.enc") {
        const QString path = scratch.path() + "/" + name;
        QFile out(path);
        out.open(QIODevice::WriteOnly);
        const firmware::Bytes scrambled = firmware::scramble(bytes, firmware::defaultKey());
        out.write(reinterpret_cast<const char*>(scrambled.data()), qint64(scrambled.size()));
        return path;
    }
    // Clicks UpdateFirmware with `path` chosen and waits for the first alert.
    Alert update(const QString& path) {
        files.path = path;
        hub.clearReceived();
        child("UpdateFirmware")->click();
        [&] { QTRY_VERIFY_WITH_TIMEOUT(!alerts.shown.empty() || dialogOpen(), 10000); }();
        return alerts.shown.empty() ? Alert{} : alerts.shown.front();
    }
    sim::VirtualHub& hub;
};

}  // namespace

class PanelUpdateTest : public QObject {
    Q_OBJECT
private slots:
    void updateRunsToTheEndAndSearchesAgain() {
        UpdateRig rig;
        const firmware::Bytes bytes = image(6000);
        // While the loader has the hub, nothing else may reach it.
        bool heldStill = false;
        // The bar shows the share of the image written, up to all of it.
        QProgressBar* bar = rig.child<QProgressBar>("updateProgress");
        std::vector<int> shown;
        QObject::connect(bar, &QProgressBar::valueChanged, [&](int value) {
            if (bar->maximum() == 6000) shown.push_back(value);
        });
        rig.files.path = rig.file(bytes);
        rig.hub.pushLoaderFault({Kind::SlowErase, 0, 0, 400});
        rig.hub.clearReceived();
        rig.child("UpdateFirmware")->click();
        QCOMPARE(rig.status(), panel::kProgrammingStatus);
        QTRY_VERIFY_WITH_TIMEOUT(rig.hub.inLoader(), 5000);  // erasing for 400 ms
        heldStill = !rig.child("searchButton")->isEnabled() && !rig.switchEnabled(0) &&
                    !rig.child("UpdateFirmware")->isEnabled() &&
                    !rig.child<QTableView>("tableView")->isEnabled();
        rig.window->clickButtons(rig.child("switch1"));  // ignored, not sent
        rig.window->AutoSearch();
        QVERIFY(!rig.window->close());  // the window stays open
        QTRY_VERIFY_WITH_TIMEOUT(!rig.alerts.shown.empty(), 10000);
        QVERIFY(heldStill);
        QCOMPARE(rig.alerts.take(), std::vector<Alert>{kDone});
        QCOMPARE(rig.hub.flashImage(), bytes);
        QCOMPARE(rig.files.asked, 1);
        QVERIFY(shown.size() >= 2);
        QVERIFY(std::is_sorted(shown.begin(), shown.end()));
        QCOMPARE(shown.back(), 6000);
        // Only the update's own lines reached the hub; then the new search.
        const auto received = rig.hub.received();
        QCOMPARE(received, (std::vector<std::string>{"?Q\r", "EUFWkiwi    \r"}));
        QCOMPARE(rig.status(), kSearchedAgain);
        QVERIFY(rig.child("searchButton")->isEnabled());
        QVERIFY(!rig.child<QProgressBar>("updateProgress")->isVisible());
        QVERIFY(!QFile::exists(QString::fromStdString(rig.window->firmwareUpdate().selectDestination)));
    }

    void filesThatAreNotForThisHub() {
        struct Case {
            const char* name;
            std::string hubPid;
            firmware::Bytes bytes;
            Alert alert;
            bool searched;
        };
        const std::vector<Case> cases = {
            {"another product", "0AB3", image(500, 0x12, 0x34), kIncorrect, true},
            {"letter case differs", "0ab3", image(500), kIncorrect, true},
            {"no marker", "0AB3", firmware::Bytes(500, 0x41), kIncorrect, true},
            {"1,048,576 bytes", "0AB3", image(firmware::kFirmwareSizeLimit), kInvalid, false},
        };
        for (const Case& c : cases) {
            sim::HubConfig config = loaderHub();
            config.productId = c.hubPid;
            UpdateRig rig(config);
            // Every update's image lives in a private directory of its own
            // and is gone when the update ends, refused or not.
            const QTemporaryDir runtime;
            qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
            const QString path = rig.file(c.bytes);
            rig.hub.clearReceived();
            QCOMPARE(rig.update(path), c.alert);
            QCOMPARE(rig.alerts.shown.size(), std::size_t(1));
            QVERIFY2(!sentUpdateCommand(rig.hub), c.name);
            QVERIFY(rig.hub.loaderPackets().empty());
            QCOMPARE(QDir(runtime.path() + "/hubtools").entryList(QDir::Files), QStringList());
            qunsetenv("XDG_RUNTIME_DIR");
            // A refused product lists the hubs anew; a refused size does not.
            QCOMPARE(rig.status() == kSearchedAgain, c.searched);
            QVERIFY(rig.child("searchButton")->isEnabled());
        }
    }

    void heldPasswordRefusedThenTyped() {
        UpdateRig rig(loaderHub("V04", "secret  "));
        const firmware::Bytes bytes = image(3000);
        QCOMPARE(rig.update(rig.file(bytes)), Alert{});  // no alert: the prompt
        QVERIFY(rig.scene<panel::PasswordInput>() != nullptr);
        QCOMPARE(rig.status(), panel::kProgrammingStatus);
        QVERIFY(!rig.hub.inLoader());
        rig.answer("passwordZone", "secret");
        QTRY_VERIFY_WITH_TIMEOUT(!rig.alerts.shown.empty(), 10000);
        QCOMPARE(rig.alerts.take(), std::vector<Alert>{kDone});
        QCOMPARE(rig.files.asked, 1);  // no new file choice
        QCOMPARE(rig.hub.flashImage(), bytes);
        const auto received = rig.hub.received();
        QVERIFY(std::find(received.begin(), received.end(), "EUFWsecret  \r") != received.end());
    }

    void promptCancelledSearches() {
        UpdateRig rig(loaderHub("V04", "secret  "));
        rig.update(rig.file(image(300)));
        QVERIFY(rig.scene<panel::PasswordInput>() != nullptr);
        rig.hub.clearReceived();
        rig.cancel();
        QCOMPARE(rig.status(), kSearchedAgain);
        QVERIFY(!sentUpdateCommand(rig.hub));
        QVERIFY(!QFile::exists(QString::fromStdString(rig.window->firmwareUpdate().selectDestination)));
    }

    void hubOrLoaderFailures() {
        struct Case {
            const char* name;
            std::function<void(sim::VirtualHub&)> arrange;
            Alert alert;
        };
        const std::vector<Case> cases = {
            {"update refused",
             [](sim::VirtualHub& hub) {
                 hub.pushFault(fault(sim::Fault::Kind::Delay));
                 sim::Fault refused = fault(sim::Fault::Kind::Raw);
                 refused.raw = "E00\n";
                 hub.pushFault(refused);
             },
             kStateError},
            {"update ignored",
             [](sim::VirtualHub& hub) {
                 hub.pushFault(fault(sim::Fault::Kind::Delay));
                 hub.pushFault(fault(sim::Fault::Kind::Silent));
             },
             kStateError},
            {"dropped loader reply", [](sim::VirtualHub& hub) { hub.pushLoaderFault({Kind::DropReply, 13}); },
             kIoError},
            {"image checksum", [](sim::VirtualHub& hub) { hub.pushLoaderFault({Kind::WrongImageChecksum}); },
             kIoError},
        };
        for (const Case& c : cases) {
            UpdateRig rig;
            const QString path = rig.file(image(2000));
            c.arrange(rig.hub);
            QCOMPARE(rig.update(path), c.alert);
            QCOMPARE(rig.alerts.shown.size(), std::size_t(1));
            // The status keeps its text; the window is usable again.
            QCOMPARE(rig.status(), panel::kProgrammingStatus);
            QVERIFY(rig.child("searchButton")->isEnabled());
            QVERIFY(rig.switchEnabled(0));
            QVERIFY(rig.child("UpdateFirmware")->isEnabled());
        }
    }

    // A hub found by URL: through RFC 2217 the loader's speed reaches the
    // hub's line and the image is written exactly; a raw export keeps its
    // speed, so the update is refused before the hub leaves its firmware.
    void updateByUrlThroughRfc2217NotRawTcp() {
        using testsupport::Ser2netAccepter;
        for (const Ser2netAccepter accepter : {Ser2netAccepter::rfc2217, Ser2netAccepter::raw}) {
            UpdateRig rig;
            const testsupport::Ser2netRig server({{rig.hub.path(), accepter}});
            rig.searchFor(server.url(0));
            QCOMPARE(rig.cell(0, "ControlPortShort"), QString::fromStdString(server.url(0)));
            const firmware::Bytes bytes = image(5000);
            const Alert shown = rig.update(rig.file(bytes));
            if (accepter == Ser2netAccepter::rfc2217) {
                QCOMPARE(shown, kDone);
                QCOMPARE(rig.hub.flashImage(), bytes);
            } else {
                QCOMPARE(shown, kStateError);
                QVERIFY(!sentUpdateCommand(rig.hub));
                QVERIFY(!rig.hub.inLoader());
            }
        }
    }

    void signalsWaitForTheUpdateToEnd() {
        UpdateRig rig;
        const std::vector<int> watched = {SIGHUP, SIGPIPE, SIGTERM, SIGINT};
        const auto actions = [&] {
            std::vector<void (*)(int)> out;
            for (const int signal : watched) {
                struct sigaction now {};
                sigaction(signal, nullptr, &now);
                out.push_back(now.sa_handler);
            }
            return out;
        };
        const auto before = actions();
        const firmware::Bytes bytes = image(4000);
        std::vector<int> quit;
        rig.window->firmwareUpdate().quit = [&](int status) { quit.push_back(status); };
        rig.files.path = rig.file(bytes);
        rig.hub.pushLoaderFault({Kind::SlowErase, 0, 0, 300});
        rig.child("UpdateFirmware")->click();
        QTRY_VERIFY_WITH_TIMEOUT(rig.hub.inLoader(), 5000);
        // A closed terminal, a reader gone and a request to end, mid-update.
        for (const int signal : watched) std::raise(signal);
        QTRY_VERIFY_WITH_TIMEOUT(!quit.empty(), 10000);
        QCOMPARE(quit, std::vector<int>{128 + SIGTERM});
        QCOMPARE(rig.hub.flashImage(), bytes);  // programmed to the end first
        QVERIFY(rig.alerts.shown.empty());
        // Afterwards the signals act as they did before the update.
        QVERIFY(actions() == before);
    }

    void aHubLeftInItsLoaderIsToldHowToComeBack() {
        struct Case {
            const char* name;
            sim::LoaderFault fault;
            QString detail;  // what the alert has behind its details
        };
        const std::vector<Case> cases = {
            {"stopped after the erase", {Kind::DropReply, 13}, "The hub waits in its loader. Bring it back with: hubflash --recover "},
            {"stopped before the erase", {Kind::DropReply, 3}, "Nothing was erased: the hub went back to its firmware, unchanged."},
        };
        for (const Case& c : cases) {
            UpdateRig rig;
            const QString path = rig.file(image(2000));
            rig.hub.pushLoaderFault(c.fault);
            QCOMPARE(rig.update(path), kIoError);
            QVERIFY2(rig.alerts.details.back().startsWith(c.detail), c.name);
            if (c.detail.contains("--recover")) {
                QVERIFY(rig.alerts.details.back().endsWith(QString::fromStdString(rig.hub.path()) + " " + path));
                QVERIFY(rig.hub.inLoader());
            }
        }
    }

    void olderHubsOfferNoUpdate() {
        const std::vector<std::pair<std::string, bool>> cases = {
            {"V03", false}, {"v02", false}, {"V00", false}, {"V04", true}, {"V10", true}};
        for (const auto& [firmware, offered] : cases) {
            UpdateRig rig(loaderHub(firmware));
            QCOMPARE(rig.child("UpdateFirmware")->isEnabled(), offered);
        }
    }
};

QTEST_MAIN(PanelUpdateTest)
#include "panel_update_test.moc"
