// The main window: the hub table, the port switches of the selected hub, the
// searches, and the buttons that open the protected operations.
#pragma once

#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "panel/alerts.h"
#include "panel/file_chooser.h"
#include "panel/firmware_update.h"
#include "panel/hub_list.h"
#include "panel/hub_operations.h"
#include "panel/protected_flows.h"
#include "panel/segue_router.h"
#include "panel/switch_board.h"
#include "panel/window_state.h"

namespace Ui {
class ViewController;
}

namespace panel {

class HubTableModel;

// How long a reset hub gets to restart before the window queries it again.
inline constexpr std::chrono::milliseconds kResetWait{8000};

// What the window talks to. Null members get hubpanel's own.
struct WindowServices {
    HubSource* source = nullptr;
    CommandLink* link = nullptr;
    AlertSink* alerts = nullptr;
    FileChooser* files = nullptr;
};

class ViewController : public QWidget, private FlowHost, private UpdateHost {
    Q_OBJECT
public:
    explicit ViewController(WindowServices services = {}, QWidget* parent = nullptr);
    ~ViewController() override;

    // The pause after a reset while the hub restarts.
    void setResetWait(std::chrono::milliseconds wait) { resetWait_ = wait; }
    std::chrono::milliseconds resetWait() const { return resetWait_; }

    const WindowState& state() const { return state_; }
    SegueRouter& router() { return router_; }
    SwitchBoard& switches() { return *board_; }
    HubTableModel& tableModel() { return *model_; }
    FirmwareUpdate& firmwareUpdate() { return *update_; }

    // Search every control port / the port typed into comportInput.
    void AutoSearch() override;
    void SearchByComport();

    void clickButtons(QObject* sender);
    void clickSetPortStateButtons();
    void clickResetDefaultButtons();
    void clickResetHubsButtons();
    void clickEditDescription();
    void updateFirmwareClicked();
    void tableViewSelectionDidChange();

    void setButtonlist(const std::string& portsperhub, const std::string& portsOn,
                       const std::string& portsOff);

private:
    void connectActions();
    void search(const std::function<std::vector<std::string>()>& candidates);
    void showHubs();
    void selectRowAndRunStep(int row);
    void prepare(SceneDialog* destination);
    void setStatus(const QString& text) override;
    // "<N> USB Hub(s) Found" for the list in data.
    void showFoundCount();
    void setActionsEnabled(bool enabled);

    // FlowHost
    void performSegue(const std::string& name) override;
    void alert(const QString& title, const QString& text) override;
    void reportFailure(const OpResult& result) override;
    void waitForHubRestart() override;
    void refreshAfterChange(PasswordAfter after, const std::string& entered) override;
    void updateReturn(const std::string& dataMsg) override;

    // UpdateHost
    void alert(const QString& title, const QString& text, AlertIcon icon) override;
    void setUpdating(bool updating) override;
    void showProgress(const firmware::UpdateProgress& progress) override;
    // No closing while the loader has the hub: it would be left half-written.
    void closeEvent(QCloseEvent* event) override;
    bool updating() const { return update_ && update_->busy(); }

    std::unique_ptr<Ui::ViewController> ui_;
    std::unique_ptr<HubSource> ownSource_;
    std::unique_ptr<CommandLink> ownLink_;
    std::unique_ptr<AlertSink> ownAlerts_;
    std::unique_ptr<FileChooser> ownFiles_;
    HubSource* source_;
    CommandLink* link_;
    AlertSink* alerts_;
    FileChooser* files_;

    WindowState state_;
    HubCommands commands_;
    ProtectedFlows flows_;
    SegueRouter router_;
    std::unique_ptr<SwitchBoard> board_;
    std::unique_ptr<FirmwareUpdate> update_;
    HubTableModel* model_ = nullptr;
    bool selecting_ = false;
    std::chrono::milliseconds resetWait_ = kResetWait;
};

}  // namespace panel
