// Modal alerts of the windows. Everything the user is told in an alert goes
// through AlertSink, so tests can record alerts instead of blocking on them.
#pragma once

#include <QString>

class QWidget;

namespace panel {

inline const QString kSystemMessage = QStringLiteral("System Message");

class AlertSink {
public:
    virtual ~AlertSink() = default;
    // Shows `text` under the window title `title` with the caution icon.
    virtual void showAlert(QWidget* parent, const QString& title, const QString& text) = 0;
};

// The real thing: an application-modal QMessageBox::Warning with one button.
class MessageBoxAlerts : public AlertSink {
public:
    void showAlert(QWidget* parent, const QString& title, const QString& text) override;
};

}  // namespace panel
