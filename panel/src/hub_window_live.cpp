// The window's side of the background reading: when it may read, and what a
// round's reads change in the table and the switches.
#include <QApplication>
#include <QFutureWatcher>
#include <QSocketNotifier>
#include <QTableView>
#include <QTimer>
#include <QtConcurrent>
#include <algorithm>

#include <hublink/hub_query.h>
#include <hublink/port_address.h>

#include "panel/hub_table_model.h"
#include "panel/hub_window.h"
#include "panel/registry_watch.h"

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
        const bool selected = !state_.selectComport.empty() && read.port == state_.selectComport;
        selectedChanged = selectedChanged || (changed && selected);
    }
    showHubs();
    const int selectedRow = rowOfPort(state_.data, state_.selectComport);
    if (selectedChanged && selectedRow >= 0 && !model_->unanswering(state_.selectComport))
        selectRowAndRunStep(selectedRow);
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
        if (wasMarked) showAnswering(read.port, true, {});
        return changed || wasMarked;
    }
    const std::string reason = read.reason.empty() ? read.port + ": unreadable port states" : read.reason;
    if (++failedReads_[read.port] != kFailuresShown) return false;
    showAnswering(read.port, false, reason);
    return true;
}

void HubWindow::showAnswering(const std::string& port, bool answering, const std::string& reason) {
    model_->setUnanswering(port, answering ? QString() : QString::fromStdString(reason));
    if (state_.selectComport.empty() || port != state_.selectComport) return;
    if (answering) {
        showFoundCount();
        return;
    }
    board_->disableAll();
    setActionsEnabled(false);
    setStatus(QStringLiteral("The hub on %1 does not answer (%2)")
                  .arg(QString::fromStdString(port), QString::fromStdString(reason)));
}

namespace {

constexpr std::chrono::milliseconds kRetryWhenBusy{200};

bool contains(const std::vector<std::string>& items, const std::string& item) {
    return std::find(items.begin(), items.end(), item) != items.end();
}

bool isUrl(const std::string& port) { return hublink::PortAddress::of(port).remote(); }

}  // namespace

// Devices come and go only while the window reads its hubs: with reading
// off it behaves as it always did.
void HubWindow::watchRegistry(std::vector<std::string> asked, bool all) {
    watched_ = std::move(asked);
    watchAll_ = all;
    registryDirty_ = false;
    if (watch_ || live_->period().count() <= 0) return;
    watch_ = std::make_unique<RegistryWatch>();
    if (watch_->fd() < 0) return;  // the window lists hubs on request only
    watchNotifier_ = new QSocketNotifier(watch_->fd(), QSocketNotifier::Read, this);
    connect(watchNotifier_, &QSocketNotifier::activated, this, [this] { registryChanged(); });
}

void HubWindow::registryChanged() {
    if (!watch_->drain() || live_->period().count() <= 0) return;
    registryDirty_ = true;
    followRegistry();
}

// What the registry lists now against the rows: gone devices lose theirs,
// new ones are asked as a search asks them. Waits while the window works.
void HubWindow::followRegistry() {
    if (!registryDirty_) return;
    if (!idleForReading() || askingArrived_) {
        QTimer::singleShot(kRetryWhenBusy, this, [this] { followRegistry(); });
        return;
    }
    registryDirty_ = false;
    std::vector<std::string> now = watchAll_ ? source_->allPorts() : watched_;
    if (!watchAll_) {
        const std::vector<std::string> listed = source_->allPorts();
        std::erase_if(now, [&](const std::string& port) { return !isUrl(port) && !contains(listed, port); });
    }
    dropGone(now);
    askArrived(now);
}

void HubWindow::dropGone(const std::vector<std::string>& now) {
    const std::size_t before = state_.data.size();
    std::erase_if(state_.data, [&](const hublink::HubInfo& record) {
        const auto port = record.find("ControlPort");
        return port != record.end() && !isUrl(port->second) && !contains(now, port->second);
    });
    if (state_.data.size() == before) return;
    ++listVersion_;
    reselect(state_.selectComport);
}

void HubWindow::askArrived(const std::vector<std::string>& now) {
    std::vector<std::string> arrived;
    for (const std::string& port : now)
        if (!isUrl(port) && rowOfPort(state_.data, port) < 0) arrived.push_back(port);
    if (arrived.empty()) return;
    askingArrived_ = true;
    const unsigned version = listVersion_;
    auto* asking = new QFutureWatcher<HubList>(this);
    connect(asking, &QFutureWatcher<HubList>::finished, this, [this, asking, version, now] {
        asking->deleteLater();
        askingArrived_ = false;
        const HubList found = asking->result();
        // A list read anew meanwhile, or work begun, makes these stale.
        if (version != listVersion_ || !idleForReading()) {
            registryDirty_ = true;
            followRegistry();
            return;
        }
        listArrived(found, now);
    });
    HubSource* source = source_;
    arriving_ = QtConcurrent::run([source, arrived] { return queryPorts(*source, arrived); });
    asking->setFuture(arriving_);
}

// New hubs take their place in candidate order.
void HubWindow::listArrived(const HubList& found, const std::vector<std::string>& order) {
    if (found.empty()) return;
    const auto rank = [&](const hublink::HubInfo& record) {
        const auto port = record.find("ControlPort");
        const auto at = port == record.end() ? order.end() : std::find(order.begin(), order.end(), port->second);
        return at - order.begin();
    };
    for (const hublink::HubInfo& record : found) {
        const auto place = std::find_if(state_.data.begin(), state_.data.end(),
                                        [&](const hublink::HubInfo& listed) { return rank(listed) > rank(record); });
        state_.data.insert(place, record);
    }
    ++listVersion_;
    reselect(state_.selectComport);
}

// After rows came or went the selected hub keeps its selection on its new
// row; gone, its switches go and nothing stays selected.
void HubWindow::reselect(const std::string& port) {
    // Rows moving under the view's selection must not select a hub.
    selecting_ = true;
    showHubs();
    selecting_ = false;
    const int row = port.empty() ? -1 : rowOfPort(state_.data, port);
    if (row >= 0) {
        selectRowAndRunStep(row);
        showFoundCount();
        return;
    }
    selecting_ = true;
    parts_.tableView->clearSelection();
    selecting_ = false;
    state_.clearSelection();
    board_->disableAll();
    setActionsEnabled(false);
    showFoundCount();
}

}  // namespace panel
