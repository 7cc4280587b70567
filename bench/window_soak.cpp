// Clicks a port switch of hubpanel's window against a virtual hub, again and
// again, and prints the resident memory after a warm-up and after the
// clicks, so a window left open for hours can be checked for growth.
// With --a11y an accessibility client is active: every change the window
// reports is looked at, as a screen reader would. With --remote the hub is
// exported by ser2net on loopback and found by its URL: every click then
// makes and closes a network connection.
//
// With --live nothing is clicked: the window reads 4 virtual hubs in the
// background, round after round (an hour of its 2-s rounds in 1,800), and
// the figures are per round; open descriptors are counted too.
//
// Usage: window_soak [--a11y] [--remote | --live] [clicks|rounds] [warm-up]
//        (default 1000 after 300; --live: 1800 after 300)
// Runs offscreen unless QT_QPA_PLATFORM says otherwise.

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <exception>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <string>

#include "panel/alerts.h"
#include "panel/hub_table_model.h"
#include "hublink/exchange.h"
#include "panel/view_controller.h"
#include "ser2net_rig.h"
#include "sim/fake_registry.h"
#include "sim/virtual_hub.h"

namespace {

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Bytes malloc hands out now, and what it holds from the system.
std::pair<long, long> heapKiB() {
    const struct mallinfo2 info = mallinfo2();
    return {long((info.uordblks + info.hblkhd) / 1024), long((info.arena + info.hblkhd) / 1024)};
}

struct CountingAlerts : panel::AlertSink {
    using panel::AlertSink::showAlert;
    void showAlert(QWidget*, const QString&, const QString&, panel::AlertIcon, const QString&) override {
        ++shown;
    }
    int shown = 0;
};

// What an assistive technology does with each change: asks for the object,
// its name and state, and for a table's cells.
void lookAt(QAccessibleEvent* event) {
    QAccessibleInterface* iface = event->accessibleInterface();
    if (iface == nullptr) return;
    (void)iface->text(QAccessible::Name);
    (void)iface->state();
    for (int i = 0; i < iface->childCount(); ++i) {
        if (QAccessibleInterface* child = iface->child(i)) (void)child->text(QAccessible::Name);
    }
}

struct SoakOptions {
    bool a11y = false;
    bool remote = false;
    bool live = false;
    int clicks = 1000;
    int warmUp = 300;
};

long openDescriptors() {
    long n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// A get-port-states exchange: "GP" CR, then 8 state digits and LF.
constexpr std::size_t kReadBytes = 3 + 9;

// The window's background reading, rounds back to back, against 4 hubs.
int soakLive(const SoakOptions& options) {
    if (options.a11y) {
        QAccessible::installUpdateHandler(lookAt);
        QAccessible::setActive(true);
    }
    QTemporaryDir scratch;
    sim::FakeRegistry registry((scratch.path() + "/registry").toStdString());
    qputenv("HUBLINK_REGISTRY_ROOT", QByteArray::fromStdString(registry.root()));
    std::vector<std::unique_ptr<sim::VirtualHub>> hubs;
    for (int i = 0; i < 4; ++i) {
        hubs.push_back(std::make_unique<sim::VirtualHub>());
        registry.add("ttyUSB" + std::to_string(i), hubs.back()->path());
    }
    CountingAlerts alerts;
    panel::ViewController window(panel::WindowServices{nullptr, nullptr, &alerts, nullptr});
    window.show();
    window.findChild<QPushButton*>("searchButton")->click();
    if (window.tableModel().rowCount() != 4) {
        std::fprintf(stderr, "window_soak: the search found %d of 4 hubs\n", window.tableModel().rowCount());
        return 1;
    }
    const auto readsOf = [&](std::size_t base) { return (hubs[0]->bytesExchanged() - base) / kReadBytes; };
    window.setRefreshPeriod(std::chrono::milliseconds(1));
    // Another program switches a port of the last hub every 10 rounds, so
    // that rows and switches are redrawn (hub 0 counts the rounds).
    std::size_t changes = 0;
    const auto roundsOf = [&](std::size_t rounds) {
        const std::size_t base = hubs[0]->bytesExchanged();
        const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(60) + rounds * std::chrono::milliseconds(50);
        std::size_t nextChange = 10;
        while (readsOf(base) < rounds && std::chrono::steady_clock::now() < bound) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (readsOf(base) < nextChange) continue;
            const char* line = ++changes % 2 ? "SPkiwi    F1FFFFFF\r" : "SPkiwi    F0FFFFFF\r";
            hublink::sendCommand(hubs[3]->path(), line);
            nextChange = readsOf(base) + 10;
        }
        return readsOf(base);
    };
    const auto warmUp = std::size_t(options.warmUp);
    const auto rounds = std::size_t(options.clicks);
    if (roundsOf(warmUp) < warmUp) {
        std::fprintf(stderr, "window_soak: the window did not read the hubs\n");
        return 1;
    }
    const long warm = residentKiB();
    const long fdsWarm = openDescriptors();
    const auto start = std::chrono::steady_clock::now();
    const std::size_t done = roundsOf(rounds);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long after = residentKiB();
    const long fdsAfter = openDescriptors();
    const bool failed = done < rounds || alerts.shown != 0;
    const bool shown = window.tableModel().rowCount() == 4;
    std::printf("live reading of 4 hubs, accessibility %s: %ld KiB after %zu rounds, %ld KiB after %zu more"
                " (%+ld KiB), descriptors %ld -> %ld, %.1f ms a round, %zu changes by another program%s\n",
                options.a11y ? "on" : "off", warm, warmUp, after, done, after - warm, fdsWarm, fdsAfter,
                1000.0 * seconds / double(done), changes, failed || !shown ? " (rounds missing)" : "");
    return failed ? 1 : 0;
}

int soak(const SoakOptions& options) {
    const bool a11y = options.a11y;
    const int clicks = options.clicks;
    const int warmUp = options.warmUp;
    if (a11y) {
        QAccessible::installUpdateHandler(lookAt);
        QAccessible::setActive(true);
    }
    QTemporaryDir scratch;
    sim::FakeRegistry registry((scratch.path() + "/registry").toStdString());
    qputenv("HUBLINK_REGISTRY_ROOT", QByteArray::fromStdString(registry.root()));
    sim::VirtualHub hub;
    // Through ser2net only: a search must not find it on its own device too.
    if (!options.remote) registry.add("ttyUSB0", hub.path());
    CountingAlerts alerts;
    panel::ViewController window(panel::WindowServices{nullptr, nullptr, &alerts, nullptr});
    window.show();
    std::unique_ptr<testsupport::Ser2netRig> server;
    if (options.remote) {
        server = std::make_unique<testsupport::Ser2netRig>(
            std::vector<testsupport::Ser2netExport>{{hub.path()}});
        window.findChild<QLineEdit*>("comportInput")->setText(QString::fromStdString(server->url(0)));
        window.findChild<QPushButton*>("SearchComport")->click();
    } else {
        window.findChild<QPushButton*>("searchButton")->click();
    }
    QPushButton* button = window.findChild<QPushButton*>("switch1");
    if (!button->isEnabled()) {
        std::fprintf(stderr, "window_soak: the virtual hub was not found\n");
        return 1;
    }
    const auto clickTimes = [&](int n) {
        for (int i = 0; i < n; ++i) {
            button->click();
            QCoreApplication::processEvents();
        }
    };
    const std::size_t bytesBefore = hub.bytesExchanged();
    clickTimes(warmUp);
    if (hub.bytesExchanged() == bytesBefore) {
        std::fprintf(stderr, "window_soak: the clicks did not reach the hub\n");
        return 1;
    }
    const long warm = residentKiB();
    const auto warmHeap = heapKiB();
    const std::size_t bytesWarm = hub.bytesExchanged();
    clickTimes(clicks);
    // A click the window dropped is no click: each must reach the hub.
    const double perClick = double(hub.bytesExchanged() - bytesWarm) / clicks;
    const long after = residentKiB();
    const auto afterHeap = heapKiB();
    std::printf("heap in use %ld -> %ld KiB, held from the system %ld -> %ld KiB\n", warmHeap.first,
                afterHeap.first, warmHeap.second, afterHeap.second);
    const bool failed = alerts.shown != 0 || perClick < 1.0;
    std::printf("%saccessibility %s: %ld KiB after %d clicks, %ld KiB after %d more: %+.1f KiB per 1000 clicks"
                " (%.0f bytes exchanged per click)%s\n",
                options.remote ? "through ser2net, " : "", a11y ? "on " : "off", warm, warmUp, after, clicks,
                1000.0 * double(after - warm) / clicks, perClick, failed ? " (some clicks failed)" : "");
    return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SoakOptions options;
    int first = 1;
    for (; first < argc && argv[first][0] == '-'; ++first) {
        if (std::strcmp(argv[first], "--a11y") == 0) options.a11y = true;
        else if (std::strcmp(argv[first], "--remote") == 0) options.remote = true;
        else if (std::strcmp(argv[first], "--live") == 0) options.live = true;
        else {
            std::fprintf(stderr, "window_soak: unknown option %s\n", argv[first]);
            return 2;
        }
    }
    try {
        if (options.live) options.clicks = 1800;
        if (argc > first) options.clicks = std::stoi(argv[first]);
        if (argc > first + 1) options.warmUp = std::stoi(argv[first + 1]);
        return options.live ? soakLive(options) : soak(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "window_soak: %s\n", e.what());
        return 2;
    }
}
