// hubpanel's main window: the shared hub window plus search by typed port,
// description editing and the firmware update.
#pragma once

#include <memory>
#include <string>

#include "panel/file_chooser.h"
#include "panel/firmware_update.h"
#include "panel/hub_window.h"

class QCloseEvent;

namespace Ui {
class ViewController;
}

namespace panel {

class ViewController : public HubWindow, private UpdateHost {
    Q_OBJECT
public:
    explicit ViewController(WindowServices services = {}, QWidget* parent = nullptr);
    ~ViewController() override;

    FirmwareUpdate& firmwareUpdate() { return *update_; }

    void AutoSearch() override { HubWindow::AutoSearch(); }
    // Search the port typed into comportInput.
    void SearchByComport();
    void clickEditDescription();
    void updateFirmwareClicked();

    void setButtonlist(const std::string& portsperhub, const std::string& portsOn,
                       const std::string& portsOff);

private:
    // HubWindow
    void drawSelection() override;
    void prepareMore(SceneDialog* destination) override;
    bool busy() const override { return update_ && update_->busy(); }
    void beforeSearch() override { update_->abandonWaiting(); }
    void updateReturn(const std::string& dataMsg) override { update_->onUpdateReturn(dataMsg); }

    // UpdateHost
    void alert(const QString& title, const QString& text, AlertIcon icon, const QString& detail) override;
    void setStatus(const QString& text) override { HubWindow::setStatus(text); }
    void performSegue(const std::string& name) override { HubWindow::performSegue(name); }
    void setUpdating(bool updating) override;
    void showProgress(const firmware::UpdateProgress& progress) override;

    // No closing while the loader has the hub: it would be left half-written.
    void closeEvent(QCloseEvent* event) override;

    std::unique_ptr<Ui::ViewController> ui_;
    std::unique_ptr<FileChooser> ownFiles_;
    std::unique_ptr<FirmwareUpdate> update_;
};

}  // namespace panel
