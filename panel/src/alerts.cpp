#include "panel/alerts.h"

#include <QMessageBox>

namespace panel {

void MessageBoxAlerts::showAlert(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace panel
