#include "panel/alerts.h"

#include <QMessageBox>
#include <QStyle>

namespace panel {

void MessageBoxAlerts::showAlert(QWidget* parent, const QString& title, const QString& text,
                                 AlertIcon icon, const QString& detail) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    if (!detail.isEmpty()) box.setDetailedText(detail);
    if (icon == AlertIcon::CheckMark) {
        box.setIcon(QMessageBox::NoIcon);
        box.setIconPixmap(box.style()->standardIcon(QStyle::SP_DialogApplyButton).pixmap(48, 48));
    }
    box.exec();
}

}  // namespace panel
