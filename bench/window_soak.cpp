// Clicks a port switch of hubpanel's window against a virtual hub, again and
// again, and prints the resident memory after a warm-up and after the
// clicks, so a window left open for hours can be checked for growth.
// With --a11y an accessibility client is active: every change the window
// reports is looked at, as a screen reader would.
//
// Usage: window_soak [--a11y] [clicks] [warm-up]   (default 1000 after 300)
// Runs offscreen unless QT_QPA_PLATFORM says otherwise.

#include <QAccessible>
#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <malloc.h>
#include <string>

#include "panel/alerts.h"
#include "panel/view_controller.h"
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

int soak(bool a11y, int clicks, int warmUp) {
    if (a11y) {
        QAccessible::installUpdateHandler(lookAt);
        QAccessible::setActive(true);
    }
    QTemporaryDir scratch;
    sim::FakeRegistry registry((scratch.path() + "/registry").toStdString());
    qputenv("HUBLINK_REGISTRY_ROOT", QByteArray::fromStdString(registry.root()));
    sim::VirtualHub hub;
    registry.add("ttyUSB0", hub.path());
    CountingAlerts alerts;
    panel::ViewController window(panel::WindowServices{nullptr, nullptr, &alerts, nullptr});
    window.show();
    window.findChild<QPushButton*>("searchButton")->click();
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
    clickTimes(warmUp);
    const long warm = residentKiB();
    const auto warmHeap = heapKiB();
    clickTimes(clicks);
    const long after = residentKiB();
    const auto afterHeap = heapKiB();
    std::printf("heap in use %ld -> %ld KiB, held from the system %ld -> %ld KiB\n", warmHeap.first,
                afterHeap.first, warmHeap.second, afterHeap.second);
    std::printf("accessibility %s: %ld KiB after %d clicks, %ld KiB after %d more: %+.1f KiB per 1000 clicks%s\n",
                a11y ? "on " : "off", warm, warmUp, after, clicks, 1000.0 * double(after - warm) / clicks,
                alerts.shown ? " (some clicks failed)" : "");
    return alerts.shown ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bool a11y = false;
    int first = 1;
    if (argc > 1 && std::strcmp(argv[1], "--a11y") == 0) {
        a11y = true;
        first = 2;
    }
    try {
        const int clicks = argc > first ? std::stoi(argv[first]) : 1000;
        const int warmUp = argc > first + 1 ? std::stoi(argv[first + 1]) : 300;
        return soak(a11y, clicks, warmUp);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "window_soak: %s\n", e.what());
        return 2;
    }
}
