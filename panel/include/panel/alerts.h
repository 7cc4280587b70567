// Modal alerts of the windows. Everything the user is told in an alert goes
// through AlertSink, so tests can record alerts instead of blocking on them.
#pragma once

#include <QString>

class QWidget;

namespace panel {

inline const QString kSystemMessage = QStringLiteral("System Message");
// Behind the alert that refuses a typed text a command line cannot carry.
inline const QString kUnsendableDetail =
    QStringLiteral("Line breaks, tabs and other control characters cannot be sent to a hub.");

// Caution for failures; the check mark only for a finished firmware update.
enum class AlertIcon { Caution, CheckMark };

class AlertSink {
public:
    virtual ~AlertSink() = default;
    // Shows `text` under the window title `title`, with `detail` (why it
    // happened, possibly empty) behind the alert's details; returns once it
    // is dismissed.
    virtual void showAlert(QWidget* parent, const QString& title, const QString& text,
                           AlertIcon icon, const QString& detail) = 0;
    void showAlert(QWidget* parent, const QString& title, const QString& text,
                   AlertIcon icon = AlertIcon::Caution) {
        showAlert(parent, title, text, icon, QString());
    }
};

// The real thing: an application-modal QMessageBox with one button.
class MessageBoxAlerts : public AlertSink {
public:
    using AlertSink::showAlert;
    void showAlert(QWidget* parent, const QString& title, const QString& text, AlertIcon icon,
                   const QString& detail) override;
};

}  // namespace panel
