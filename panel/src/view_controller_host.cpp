// The main window's side of the protected operations: opening and preparing
// dialogs, alerts, the pause after a reset, and the refresh after a change.
#include <hublink/protocol.h>

#include "panel/dialogs.h"
#include "panel/hub_table_model.h"
#include "panel/input_blocking_wait.h"
#include <QCloseEvent>
#include <QProgressBar>
#include "panel/view_controller.h"
#include "ui_ViewController.h"

namespace panel {

void ViewController::performSegue(const std::string& name) {
    if (!updating()) router_.performSegue(name, this);
}

// Hands each destination what it needs, chosen by its class.
void ViewController::prepare(SceneDialog* destination) {
    if (auto* prompt = qobject_cast<PasswordInput*>(destination)) {
        prompt->selectFunction = state_.selectFunction;
        prompt->delegate = &flows_;
    } else if (auto* save = qobject_cast<SetPortStateAsk*>(destination)) {
        save->delegate = &flows_;
    } else if (auto* restore = qobject_cast<RestoreAsk*>(destination)) {
        restore->delegate = &flows_;
    } else if (auto* reset = qobject_cast<ResetHubAsk*>(destination)) {
        reset->delegate = &flows_;
    } else if (auto* editor = qobject_cast<EditDescString*>(destination)) {
        editor->comportName = state_.selectComport;
        editor->portNumber = state_.selectPortsperhub;
        editor->firmware = state_.selectFw;
        editor->uid = state_.selectUID;
        editor->descriptionC = state_.selectDescription;
        editor->delegate = &flows_;
    } else if (auto* form = qobject_cast<PasswordForm*>(destination)) {
        form->selectComport = state_.selectComport;
    }
}

void ViewController::alert(const QString& title, const QString& text) {
    alerts_->showAlert(this, title, text);
}

void ViewController::alert(const QString& title, const QString& text, AlertIcon icon) {
    alerts_->showAlert(this, title, text, icon);
}

void ViewController::updateReturn(const std::string& dataMsg) { update_->onUpdateReturn(dataMsg); }

void ViewController::reportFailure(const OpResult& result) {
    setStatus(QString::fromStdString(failureLine(state_.selectComport, result)));
}

void ViewController::waitForHubRestart() { waitWithoutInput(resetWait_); }

void ViewController::refreshAfterChange(PasswordAfter after, const std::string& entered) {
    state_.data = refreshHubs(*source_, state_.data);
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

// While the loader has the hub, no search, switch, dialog or other hub can
// be started; afterwards the selected hub's buttons come back as they were.
void ViewController::setUpdating(bool updating) {
    for (QWidget* control : std::initializer_list<QWidget*>{ui_->searchButton, ui_->SearchComport,
                                                            ui_->comportInput, ui_->tableView}) {
        control->setEnabled(!updating);
    }
    if (updating) {
        board_->disableAll();
        setActionsEnabled(false);
        return;
    }
    ui_->updateProgress->hide();
    if (rowOfPort(state_.data, state_.selectComport) == state_.selectRow) selectRowAndRunStep(state_.selectRow);
}

void ViewController::showProgress(const firmware::UpdateProgress& progress) {
    QProgressBar* bar = ui_->updateProgress;
    if (!updating()) return;  // a late report after the result
    bar->show();
    const QString step = QString::fromUtf8(firmware::stepName(progress.step));
    if (progress.step == firmware::UpdateStep::Writing) {
        bar->setRange(0, static_cast<int>(progress.total));
        bar->setValue(static_cast<int>(progress.written));
        bar->setFormat(QStringLiteral("%1 %p%").arg(step));
    } else {
        bar->setRange(0, 0);  // no share to show yet: a busy bar
        bar->setFormat(step);
    }
}

void ViewController::closeEvent(QCloseEvent* event) {
    if (updating()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

}  // namespace panel
