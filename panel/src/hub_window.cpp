#include "panel/hub_window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>

#include "panel/dialogs.h"
#include "panel/hub_table_model.h"
#include "panel/input_blocking_wait.h"
#include "panel/registry_watch.h"

namespace panel {

HubWindow::HubWindow(WindowServices services, std::unique_ptr<HubSource> ownSource,
                     std::unique_ptr<CommandLink> ownLink, QWidget* parent)
    : QWidget(parent),
      flows_(state_, commands_, *this),
      ownSource_(services.source ? nullptr : std::move(ownSource)),
      ownLink_(services.link ? nullptr : std::move(ownLink)),
      ownAlerts_(services.alerts ? nullptr : std::make_unique<MessageBoxAlerts>()),
      source_(services.source ? services.source : ownSource_.get()),
      link_(services.link ? services.link : ownLink_.get()),
      alerts_(services.alerts ? services.alerts : ownAlerts_.get()),
      commands_(*link_) {}

// A search of new devices uses the window's source: it ends first.
HubWindow::~HubWindow() { arriving_.waitForFinished(); }

void HubWindow::setUpWindow(WindowParts parts, const std::function<void(SegueRouter&)>& bindSegues) {
    parts_ = std::move(parts);
    QTableView* table = parts_.tableView;
    const QStringList ids = table->property("columnIdentifiers").toStringList();
    model_ = new HubTableModel(ids, table->property("columnTitles").toStringList(), this);
    table->setModel(model_);
    table->horizontalHeader()->setStretchLastSection(true);

    std::vector<QWidget*> boardActions{parts_.setPassword, parts_.setPortStates, parts_.resetDefault,
                                       parts_.resetHub};
    boardActions.insert(boardActions.end(), parts_.moreBoardActions.begin(),
                        parts_.moreBoardActions.end());
    board_ = std::make_unique<SwitchBoard>(parts_.switchButtons, std::move(boardActions));
    board_->disableAll();
    setActionsEnabled(false);

    bindSegues(router_);
    router_.setContext(*alerts_, *link_);
    router_.setPrepare([this](SceneDialog* destination) { prepare(destination); });
    connectActions();
    live_ = std::make_unique<LiveReader>(
        *link_, [this] { return idleForReading(); }, [this] { return listedPorts(); },
        [this](std::vector<LiveRead> reads) { applyLiveReads(std::move(reads)); }, this);
}

void HubWindow::connectActions() {
    connect(parts_.searchButton, &QPushButton::clicked, this, &HubWindow::AutoSearch);
    for (QPushButton* button : board_->buttons()) {
        connect(button, &QPushButton::clicked, this, [this, button] { clickButtons(button); });
    }
    connect(parts_.setPortStates, &QPushButton::clicked, this, &HubWindow::clickSetPortStateButtons);
    connect(parts_.resetDefault, &QPushButton::clicked, this, &HubWindow::clickResetDefaultButtons);
    connect(parts_.resetHub, &QPushButton::clicked, this, &HubWindow::clickResetHubsButtons);
    connect(parts_.setPassword, &QPushButton::clicked, this,
            [this] { performSegue(segue::kSetPassword); });
    connect(parts_.tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!selecting_) tableViewSelectionDidChange();
    });
}

void HubWindow::setActionsEnabled(bool enabled) {
    for (QWidget* action : {static_cast<QWidget*>(parts_.setPassword), static_cast<QWidget*>(parts_.setPortStates),
                            static_cast<QWidget*>(parts_.resetDefault), static_cast<QWidget*>(parts_.resetHub)}) {
        action->setEnabled(enabled);
    }
    for (QWidget* action : parts_.moreActions) action->setEnabled(enabled);
}

// Everything that starts a hub operation or a search, for a pause in which
// nothing may reach a hub; afterwards the selected hub's buttons come back.
void HubWindow::setControlsEnabled(bool enabled) {
    setSearchInputsEnabled(enabled);
    if (!enabled) {
        board_->disableAll();
        setActionsEnabled(false);
        return;
    }
    if (rowOfPort(state_.data, state_.selectComport) == state_.selectRow) selectRowAndRunStep(state_.selectRow);
}

void HubWindow::setSearchInputsEnabled(bool enabled) {
    parts_.searchButton->setEnabled(enabled);
    parts_.tableView->setEnabled(enabled);
    for (QWidget* input : parts_.searchInputs) input->setEnabled(enabled);
}

void HubWindow::setStatus(const QString& text) { parts_.systemMsg->setText(text); }

void HubWindow::showFoundCount() {
    setStatus(QStringLiteral("%1 USB Hub(s) Found").arg(state_.data.size()));
}

void HubWindow::AutoSearch() {
    if (busy()) return;
    search([this] { return source_->allPorts(); }, true);
}

void HubWindow::search(const std::function<std::vector<std::string>()>& candidates, bool watchAll) {
    const HubWork work(*this);
    ++listVersion_;
    failedReads_.clear();
    beforeSearch();
    setControlsEnabled(false);
    setStatus(QStringLiteral("Searching Hubs..."));
    state_.data.clear();
    if (redrawBeforeSearch_) {
        showHubs();
        // Let the status and the emptied table show before the queries block.
        QElapsedTimer drawn;
        drawn.start();
        while (drawn.elapsed() < 10) QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    }
    const std::vector<std::string> ports = candidates();
    HubList found;
    runWhileRepainting([&] { found = queryPorts(*source_, ports); });
    state_.data = std::move(found);
    showHubs();
    setSearchInputsEnabled(true);
    parts_.tableView->resizeColumnsToContents();  // once per search, not per re-read
    board_->disableAll();
    // The old selection goes with the old list: nothing may act on a hub
    // that is no longer listed. Selecting the first row brings it back.
    state_.clearSelection();
    setActionsEnabled(false);
    showFoundCount();
    if (!state_.data.empty()) selectRowAndRunStep(0);
    watchRegistry(ports, watchAll);
}

void HubWindow::showHubs() { model_->setHubs(state_.data); }

void HubWindow::selectRowAndRunStep(int row) {
    // The step runs explicitly: re-selecting an unchanged row reports no
    // change, and the fields must still come from the re-read record.
    selecting_ = true;
    parts_.tableView->selectRow(row);
    selecting_ = false;
    tableViewSelectionDidChange();
}

void HubWindow::tableViewSelectionDidChange() {
    const QModelIndexList rows = parts_.tableView->selectionModel()->selectedRows();
    if (rows.isEmpty()) return;
    const int row = rows.first().row();
    if (row < 0 || row >= static_cast<int>(state_.data.size())) return;
    if (!state_.takeSelection(state_.data[static_cast<std::size_t>(row)], row)) return;
    drawSelection();
    // A hub that stopped answering keeps its switches off until it answers.
    if (model_->unanswering(state_.selectComport)) {
        board_->disableAll();
        setActionsEnabled(false);
    }
}

void HubWindow::drawSelection() {
    board_->setButtonlist(state_.selectPortsperhub, state_.selectOn, state_.selectOff);
}

void HubWindow::clickButtons(QObject* sender) {
    if (auto* button = qobject_cast<QPushButton*>(sender)) SwitchBoard::undoClickCheck(button);
    if (busy()) return;
    const std::optional<int> number = SwitchBoard::switchNumber(sender->objectName());
    if (number) flows_.clickSwitch(*number);
}

void HubWindow::clickSetPortStateButtons() { performSegue(segue::kSetPortStateAsk); }
void HubWindow::clickResetDefaultButtons() { performSegue(segue::kRestoreDefault); }
void HubWindow::clickResetHubsButtons() { performSegue(segue::kResetHub); }

}  // namespace panel
