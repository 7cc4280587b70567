#include "panel/file_chooser.h"

#include <QFileDialog>

namespace panel {

void DialogFileChooser::chooseFile(QWidget* parent, std::function<void(const QString& path)> chosen) {
    auto* dialog = new QFileDialog(parent, QStringLiteral("Choose a file"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilter(QStringLiteral("Firmware (*.enc)"));
    dialog->setFilter(dialog->filter() | QDir::Hidden);
    dialog->setSizeGripEnabled(true);
    QObject::connect(dialog, &QFileDialog::filesSelected, dialog,
                     [chosen = std::move(chosen)](const QStringList& files) {
                         if (!files.isEmpty()) chosen(files.first());
                     });
    dialog->open();
}

}  // namespace panel
