// The window's side of the protected operations: opening and preparing
// dialogs, alerts, the pause after a reset, and the refresh after a change.
#include <hublink/protocol.h>

#include <cstdio>
#include <utility>

#include "panel/dialogs.h"
#include "panel/hub_table_model.h"
#include "panel/hub_window.h"
#include "panel/input_blocking_wait.h"

namespace panel {

void HubWindow::performSegue(const std::string& name) {
    if (!busy()) router_.performSegue(name, this);
}

// Hands each destination what it needs, chosen by its class.
void HubWindow::prepare(SceneDialog* destination) {
    if (auto* prompt = qobject_cast<PasswordInput*>(destination)) {
        prompt->selectFunction = state_.selectFunction;
        prompt->delegate = &flows_;
    } else if (auto* save = qobject_cast<SetPortStateAsk*>(destination)) {
        save->delegate = &flows_;
    } else if (auto* restore = qobject_cast<RestoreAsk*>(destination)) {
        restore->delegate = &flows_;
    } else if (auto* reset = qobject_cast<ResetHubAsk*>(destination)) {
        reset->delegate = &flows_;
    } else if (auto* form = qobject_cast<PasswordForm*>(destination)) {
        form->selectComport = state_.selectComport;
    } else {
        prepareMore(destination);
    }
}

void HubWindow::alert(const QString& title, const QString& text) {
    alerts_->showAlert(this, title, text, AlertIcon::Caution, std::exchange(pendingDetail_, {}));
}

// The status line keeps the outcome of the last search: why an operation
// failed goes to standard output and behind the alert that tells it.
void HubWindow::reportFailure(const OpResult& result) {
    const std::string line = failureLine(state_.selectComport, result);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    tellUnopened(result.openFailure);
    pendingDetail_ = QString::fromStdString(line);
}

void HubWindow::waitForHubRestart() {
    const HubWork work(*this);
    setControlsEnabled(false);
    waitWithoutInput(resetWait_);
    // The refresh that follows brings the selected hub's controls back.
    setSearchInputsEnabled(true);
}

void HubWindow::refreshAfterChange(PasswordAfter after, const std::string& entered) {
    {
        const BusyCursor busy;
        state_.data = refreshHubs(*source_, state_.data);
        ++listVersion_;
    }
    // The selected hub is found again by its port: after a hub vanished its
    // old row may be past the end or hold another hub.
    const int row = rowOfPort(state_.data, state_.selectComport);
    if (row >= 0) {
        hublink::HubInfo& record = state_.data[static_cast<std::size_t>(row)];
        if (after == PasswordAfter::Entered) record["Password"] = entered;
        if (after == PasswordAfter::Default) record["Password"] = std::string(hublink::kDefaultPassword);
    }
    showHubs();
    if (row >= 0) {
        // A reason left by an earlier failure no longer holds.
        showFoundCount();
        selectRowAndRunStep(row);
        return;
    }
    const QString lost = QString::fromStdString(state_.selectComport);
    state_.clearSelection();
    board_->disableAll();
    setActionsEnabled(false);
    setStatus(QStringLiteral("The hub on %1 no longer answers; %2 USB Hub(s) Found")
                  .arg(lost)
                  .arg(state_.data.size()));
}

}  // namespace panel
