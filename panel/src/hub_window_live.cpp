// The window's side of the background reading: when it may read, and what a
// round's reads change in the table and the switches.
#include <QApplication>

#include <hublink/hub_query.h>

#include "panel/hub_table_model.h"
#include "panel/hub_window.h"

namespace panel {

void HubWindow::setRefreshPeriod(std::chrono::milliseconds period) { live_->setPeriod(period); }

std::chrono::milliseconds HubWindow::refreshPeriod() const { return live_->period(); }

bool HubWindow::idleForReading() const {
    return hubWork_ == 0 && !busy() && QApplication::activeModalWidget() == nullptr &&
           QApplication::activePopupWidget() == nullptr;
}

std::vector<std::string> HubWindow::listedPorts() {
    roundVersion_ = listVersion_;
    std::vector<std::string> ports;
    for (const hublink::HubInfo& record : state_.data) {
        const auto port = record.find("ControlPort");
        if (port != record.end()) ports.push_back(port->second);
    }
    return ports;
}

// A round's reads apply to the list they were made for, and only while the
// window is still idle: otherwise the next round reads again.
void HubWindow::applyLiveReads(std::vector<LiveRead> reads) {
    if (roundVersion_ != listVersion_ || !idleForReading()) return;
    bool selectedChanged = false;
    for (const LiveRead& read : reads) {
        const int row = rowOfPort(state_.data, read.port);
        if (row < 0) continue;
        const bool changed = takeLiveRead(read, static_cast<std::size_t>(row));
        selectedChanged = selectedChanged || (changed && row == state_.selectRow);
    }
    showHubs();
    if (selectedChanged && state_.selectRow >= 0 && !model_->unanswering(state_.selectComport))
        selectRowAndRunStep(state_.selectRow);
}

// Whether the row's record or its mark changed.
bool HubWindow::takeLiveRead(const LiveRead& read, std::size_t row) {
    if (read.outcome == LiveRead::Outcome::held) return false;  // another program's turn
    hublink::HubInfo& record = state_.data[row];
    hublink::HubInfo fresh = record;
    if (read.outcome == LiveRead::Outcome::states && hublink::setWindowPortStates(fresh, read.reply)) {
        failedReads_.erase(read.port);
        const bool wasMarked = model_->unanswering(read.port);
        const bool changed = fresh != record;
        record = std::move(fresh);
        if (wasMarked) showAnswering(read.port, row, true, {});
        return changed || wasMarked;
    }
    const std::string reason = read.reason.empty() ? read.port + ": unreadable port states" : read.reason;
    if (++failedReads_[read.port] != kFailuresShown) return false;
    showAnswering(read.port, row, false, reason);
    return true;
}

void HubWindow::showAnswering(const std::string& port, std::size_t row, bool answering,
                              const std::string& reason) {
    model_->setUnanswering(port, answering ? QString() : QString::fromStdString(reason));
    if (static_cast<int>(row) != state_.selectRow || port != state_.selectComport) return;
    if (answering) {
        showFoundCount();
        return;
    }
    board_->disableAll();
    setActionsEnabled(false);
    setStatus(QStringLiteral("The hub on %1 does not answer (%2)")
                  .arg(QString::fromStdString(port), QString::fromStdString(reason)));
}

}  // namespace panel
