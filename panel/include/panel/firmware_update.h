// The window's firmware update: the file, its product-ID match, the update
// on a worker thread with its progress, and the alert that ends it. While an
// update runs nothing else of the window may reach the hub's port.
#pragma once

#include <QCoreApplication>
#include <QFuture>
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <firmware/update_flow.h>
#include <string>

#include "panel/alerts.h"
#include "panel/file_chooser.h"
#include "panel/update_signals.h"
#include "panel/window_state.h"

class QWidget;

namespace panel {

inline const QString kProgrammingStatus =
    QStringLiteral("Programming firmware. Please wait for approximately 10 seconds...");

// What the update asks of the window.
class UpdateHost {
public:
    virtual ~UpdateHost() = default;
    virtual void alert(const QString& title, const QString& text, AlertIcon icon,
                       const QString& detail = {}) = 0;
    virtual void setStatus(const QString& text) = 0;
    virtual void AutoSearch() = 0;
    virtual void performSegue(const std::string& name) = 0;
    // True from the file's preparation to the result: the window's other hub
    // operations must be unavailable meanwhile.
    virtual void setUpdating(bool updating) = 0;
    virtual void showProgress(const firmware::UpdateProgress& progress) = 0;
};

class FirmwareUpdate : public QObject {
    Q_OBJECT
public:
    FirmwareUpdate(WindowState& state, UpdateHost& host, FileChooser& files, QWidget* window);
    // Waits for a running update after asking it to stop between packets.
    ~FirmwareUpdate() override;

    // The UpdateFirmware button.
    void updateFirmwareClicked();
    // Main-thread entry for a chosen file.
    void handleSelectedFile(const QString& path);
    // The password prompt confirmed during an update.
    void onUpdateReturn(const std::string& dataMsg);
    // A search is starting: an update waiting for its password is over.
    void abandonWaiting();

    // Between the chosen file and the result handler (the prompt excluded).
    bool busy() const { return phase_ == Phase::Preparing || phase_ == Phase::Programming; }

    std::string selectDestination;  // this update's own temporary image, until it ends

    // Bounds and trace of the update; tests shorten the bounds.
    firmware::UpdateOptions& options() { return options_; }

    // The result handler, on the main thread.
    void handleResult(const firmware::UpdateOutcome& outcome);

    // Ends the program with a status once a signal held during the update
    // may act; tests watch it instead.
    std::function<void(int status)> quit = [](int status) { QCoreApplication::exit(status); };

private:
    enum class Phase { Idle, Preparing, Programming, AskingPassword };

    void matchProduct(const QString& path);
    void proceed(const std::string& password);
    void end();
    void refuse(const QString& text, bool search);
    std::string afterFailure(const firmware::UpdateOutcome& outcome) const;
    void quitAfter(const firmware::UpdateOutcome& outcome, int signal);

    WindowState& s_;
    UpdateHost& host_;
    FileChooser& files_;
    QWidget* window_;
    firmware::UpdateOptions options_;
    std::atomic<bool> cancel_{false};
    Phase phase_ = Phase::Idle;
    UpdateSignals signals_;
    QString chosenFile_;
    std::string comport_;
    std::string productId_;
    int row_ = 0;
    QFuture<void> running_;
};

}  // namespace panel
