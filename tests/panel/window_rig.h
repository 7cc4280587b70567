// A real main window against virtual hubs, with alerts recorded instead of
// shown and a throw-away device registry so no host port is ever touched.
#pragma once

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <sim/fake_registry.h>
#include <sim/virtual_hub.h>

#include "panel/alerts.h"
#include "panel/dialogs.h"
#include "panel/hub_table_model.h"
#include "panel/view_controller.h"

struct Alert {
    QString title;
    QString text;
    panel::AlertIcon icon = panel::AlertIcon::Caution;
    bool operator==(const Alert& other) const {
        return title == other.title && text == other.text && icon == other.icon;
    }
};

class RecordingAlerts : public panel::AlertSink {
public:
    using panel::AlertSink::showAlert;
    void showAlert(QWidget*, const QString& title, const QString& text, panel::AlertIcon icon,
                   const QString& detail) override {
        shown.push_back({title, text, icon});
        details.push_back(detail);
        if (onAlert) onAlert();
    }
    std::vector<QString> details;  // what each alert had behind its details
    std::function<void()> onAlert;  // runs while the alert would be open
    std::vector<Alert> take() { return std::exchange(shown, {}); }
    std::vector<Alert> shown;
};

// Hands the window the file a test chose, without a dialog.
struct ChosenFile : panel::FileChooser {
    void chooseFile(QWidget*, std::function<void(const QString& path)> chosen) override {
        ++asked;
        if (!path.isEmpty()) chosen(path);
    }
    QString path;  // empty: the user cancels
    int asked = 0;
};

// One main window (hubpanel's or portdesk's) and what it talks to.
template <class Window>
struct WindowRigFor {
    explicit WindowRigFor(panel::HubSource* source = nullptr)
        : registry((scratch.path() + "/registry").toStdString()) {
        qputenv("HUBLINK_REGISTRY_ROOT", QByteArray::fromStdString(registry.root()));
        window = std::make_unique<Window>(panel::WindowServices{source, nullptr, &alerts, &files});
        window->show();
    }
    ~WindowRigFor() {
        window.reset();
        qunsetenv("HUBLINK_REGISTRY_ROOT");
    }

    sim::VirtualHub& addHub(sim::HubConfig config = {}) {
        config.record = true;  // the window tests check what reached the hub
        hubs.push_back(std::make_unique<sim::VirtualHub>(std::move(config)));
        return *hubs.back();
    }
    // Lists a hub in the registry as a USB serial adapter; returns its path there.
    std::string listHub(const sim::VirtualHub& hub) {
        return registry.add("ttyUSB" + std::to_string(listed++), hub.path());
    }
    // Presses Search All Hubs.
    void searchAll() { child("searchButton")->click(); }

    template <class W = QPushButton>
    W* child(const char* name) const {
        W* w = window->template findChild<W*>(QString::fromLatin1(name));
        if (w == nullptr) qFatal("no widget %s", name);
        return w;
    }
    void searchFor(const std::string& text) {
        child<QLineEdit>("comportInput")->setText(QString::fromStdString(text));
        child("SearchComport")->click();
    }
    // Adds a hub and searches for its path, which selects it.
    sim::VirtualHub& selectHub(sim::HubConfig config) {
        sim::VirtualHub& hub = addHub(std::move(config));
        searchFor(hub.path());
        return hub;
    }
    QString status() const { return child<QLabel>("systemMsg")->text(); }
    QString cell(int row, const char* field) const {
        panel::HubTableModel& model = window->tableModel();
        const int column = model.identifiers().indexOf(QString::fromLatin1(field));
        return model.data(model.index(row, column)).toString();
    }
    bool switchEnabled(int index) const { return window->switches().buttons().at(index)->isEnabled(); }
    QColor switchColour(int port) const {
        return window->switches().buttons().at(port - 1)->palette().color(QPalette::ButtonText);
    }
    // Ports 1..`ports` drawn on or off as the bits of `states` say.
    void expectColours(std::uint32_t states, int ports) const {
        for (int port = 1; port <= ports; ++port) {
            QCOMPARE(switchColour(port), ((states >> (port - 1)) & 1U) ? panel::kOnColour : QColor(Qt::black));
        }
    }

    // The dialog open now, as the class the test expects (null otherwise).
    template <class D>
    D* scene() const {
        return qobject_cast<D*>(window->router().currentScene());
    }
    bool dialogOpen() const { return window->router().currentScene() != nullptr; }
    // Presses a button of the open dialog, after typing `text` into `field`.
    void press(const char* button, const char* field = nullptr, const QString& text = {}) {
        panel::SceneDialog* dialog = window->router().currentScene();
        QVERIFY(dialog != nullptr);
        if (field != nullptr) dialog->findChild<QLineEdit*>(QString::fromLatin1(field))->setText(text);
        dialog->findChild<QPushButton*>(QString::fromLatin1(button))->click();
    }
    void answer(const char* field, const QString& text) { press("confirmButton", field, text); }
    void confirm() { press("confirmButton"); }
    void cancel() { press("cancelButton"); }

    QTemporaryDir scratch;
    sim::FakeRegistry registry;
    RecordingAlerts alerts;
    ChosenFile files;
    std::vector<std::unique_ptr<sim::VirtualHub>> hubs;
    std::unique_ptr<Window> window;
    int listed = 0;
};

using WindowRig = WindowRigFor<panel::ViewController>;

inline sim::Fault fault(sim::Fault::Kind kind) {
    sim::Fault f;
    f.kind = kind;
    return f;
}

inline sim::HubConfig hubWith(int ports, std::uint32_t states, std::string password = "kiwi    ",
                              std::string firmware = "V04") {
    sim::HubConfig config;
    config.ports = ports;
    config.states = states;
    config.password = std::move(password);
    config.firmware = std::move(firmware);
    return config;
}
