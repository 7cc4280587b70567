// What both window programs share: the hub table, the port switches of the
// selected hub, the search, the protected operations with their dialogs and
// the refresh after a change. A program derives from it, builds its own
// user-interface definition and hands the shared widgets over.
#pragma once

#include <QFuture>
#include <QWidget>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "panel/alerts.h"
#include "panel/file_chooser.h"
#include "panel/hub_list.h"
#include "panel/hub_operations.h"
#include "panel/live_states.h"
#include "panel/protected_flows.h"
#include "panel/segue_router.h"
#include "panel/switch_board.h"
#include "panel/window_state.h"

class QLabel;
class QPushButton;
class QSocketNotifier;
class QTableView;

namespace panel {

class HubTableModel;

// How long a reset hub gets to restart before the window queries it again.
inline constexpr std::chrono::milliseconds kResetWait{8000};

// What the window talks to. Null members get the program's own.
struct WindowServices {
    HubSource* source = nullptr;
    CommandLink* link = nullptr;
    AlertSink* alerts = nullptr;
    FileChooser* files = nullptr;  // hubpanel only
};

// The widgets of a program's main window that the shared code drives.
struct WindowParts {
    QTableView* tableView = nullptr;
    QLabel* systemMsg = nullptr;
    QPushButton* searchButton = nullptr;
    std::vector<QPushButton*> switchButtons;  // switch1..switch16, switchOn, switchOff
    QPushButton* setPassword = nullptr;
    QPushButton* setPortStates = nullptr;
    QPushButton* resetDefault = nullptr;
    QPushButton* resetHub = nullptr;
    // Further actions that need a selected hub (disabled without one).
    std::vector<QWidget*> moreActions;
    // What a hub with ports makes available besides the four actions above.
    std::vector<QWidget*> moreBoardActions;
    // Further widgets that start a search (held with the search button).
    std::vector<QWidget*> searchInputs;
};

class HubWindow : public QWidget, protected FlowHost {
    Q_OBJECT
public:
    ~HubWindow() override;

    // The pause after a reset while the hub restarts.
    void setResetWait(std::chrono::milliseconds wait) { resetWait_ = wait; }
    std::chrono::milliseconds resetWait() const { return resetWait_; }

    // How often the listed hubs' port states are read while the window is
    // idle (no dialog, operation, search, reset wait or update); zero: never,
    // and the window sends nothing unasked.
    void setRefreshPeriod(std::chrono::milliseconds period);
    std::chrono::milliseconds refreshPeriod() const;

    const WindowState& state() const { return state_; }
    SegueRouter& router() { return router_; }
    SwitchBoard& switches() { return *board_; }
    HubTableModel& tableModel() { return *model_; }

    // Search every control port.
    void AutoSearch() override;

    void clickButtons(QObject* sender);
    void clickSetPortStateButtons();
    void clickResetDefaultButtons();
    void clickResetHubsButtons();
    void tableViewSelectionDidChange();

protected:
    HubWindow(WindowServices services, std::unique_ptr<HubSource> ownSource,
              std::unique_ptr<CommandLink> ownLink, QWidget* parent);

    // Called by the program once its widgets exist. `bindSegues` binds the
    // dialogs the program has.
    void setUpWindow(WindowParts parts, const std::function<void(SegueRouter&)>& bindSegues);

    // Whether the table is emptied and redrawn before a search's queries
    // (otherwise the previous rows stay until the result is shown).
    void setRedrawBeforeSearch(bool redraw) { redrawBeforeSearch_ = redraw; }

    // Queries `candidates()` and lists the hubs found. While the window
    // reads its hubs (see setRefreshPeriod), the device registry is watched
    // afterwards: for every serial device with `watchAll`, else for the
    // candidates only.
    void search(const std::function<std::vector<std::string>()>& candidates, bool watchAll = false);

    // The selection step's drawing, after the fields were taken.
    virtual void drawSelection();
    // Hands a program's own dialog classes their state.
    virtual void prepareMore(SceneDialog* /*destination*/) {}
    // While true nothing may reach a hub (a firmware update has it).
    virtual bool busy() const { return false; }
    // A search is about to start.
    virtual void beforeSearch() {}

    void selectRowAndRunStep(int row);
    void setStatus(const QString& text);
    void setActionsEnabled(bool enabled);
    // Off: nothing that reaches a hub can be used, by any kind of input (a
    // filter of mouse and keys leaves out assistive technologies). On: the
    // controls come back as the selected hub has them.
    void setControlsEnabled(bool enabled);

    HubSource& source() { return *source_; }
    AlertSink& alerts() { return *alerts_; }
    WindowState state_;
    ProtectedFlows flows_;

    // FlowHost
    void performSegue(const std::string& name) override;
    void alert(const QString& title, const QString& text) override;
    void reportFailure(const OpResult& result) override;
    void waitForHubRestart() override;
    void refreshAfterChange(PasswordAfter after, const std::string& entered) override;

private:
    // Hub work that runs the event loop (a search, the reset's wait): no
    // background read may come between its exchanges.
    class HubWork {
    public:
        explicit HubWork(HubWindow& window) : window_(window) { ++window_.hubWork_; }
        ~HubWork() { --window_.hubWork_; }
        HubWork(const HubWork&) = delete;
        HubWork& operator=(const HubWork&) = delete;

    private:
        HubWindow& window_;
    };
    bool idleForReading() const;
    std::vector<std::string> listedPorts();
    void applyLiveReads(std::vector<LiveRead> reads);
    bool takeLiveRead(const LiveRead& read, std::size_t row);
    void showAnswering(const std::string& port, bool answering, const std::string& reason);
    void watchRegistry(std::vector<std::string> asked, bool all);
    void registryChanged();
    void followRegistry();
    void dropGone(const std::vector<std::string>& now);
    void askArrived(const std::vector<std::string>& now);
    void listArrived(const HubList& found, const std::vector<std::string>& order);
    void reselect(const std::string& port);
    void connectActions();
    void setSearchInputsEnabled(bool enabled);
    void showHubs();
    void showFoundCount();
    void prepare(SceneDialog* destination);

    std::unique_ptr<HubSource> ownSource_;
    std::unique_ptr<CommandLink> ownLink_;
    std::unique_ptr<AlertSink> ownAlerts_;
    HubSource* source_;
    CommandLink* link_;
    AlertSink* alerts_;
    HubCommands commands_;
    SegueRouter router_;
    WindowParts parts_;
    std::unique_ptr<SwitchBoard> board_;
    HubTableModel* model_ = nullptr;
    bool selecting_ = false;
    bool redrawBeforeSearch_ = true;
    QString pendingDetail_;  // why the last operation failed, for its alert
    std::chrono::milliseconds resetWait_ = kResetWait;
    std::unique_ptr<LiveReader> live_;
    int hubWork_ = 0;
    unsigned listVersion_ = 0;   // changes whenever the list is read anew
    unsigned roundVersion_ = 0;  // the list a background round read
    std::map<std::string, int> failedReads_;  // in a row, by port
    std::unique_ptr<class RegistryWatch> watch_;
    QSocketNotifier* watchNotifier_ = nullptr;
    bool watchAll_ = false;
    std::vector<std::string> watched_;  // the candidates a search asked
    bool registryDirty_ = false;
    bool askingArrived_ = false;
    QFuture<HubList> arriving_;  // new devices being asked; waited for on closing
};

}  // namespace panel
