// Choosing the firmware file. The window asks through this interface, so
// tests can hand a path in without a dialog.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace panel {

class FileChooser {
public:
    virtual ~FileChooser() = default;
    // Asks for one "*.enc" file over `parent`. Calls `chosen` with its path
    // once the user confirmed, never when the user cancelled. May return
    // before the choice is made.
    virtual void chooseFile(QWidget* parent, std::function<void(const QString& path)> chosen) = 0;
};

// A window-modal file dialog titled "Choose a file": one existing file of
// type "enc", hidden files shown, directories may be created.
class DialogFileChooser : public FileChooser {
public:
    void chooseFile(QWidget* parent, std::function<void(const QString& path)> chosen) override;
};

}  // namespace panel
