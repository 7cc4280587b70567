#include "panel/view_controller.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <hublink/protocol.h>

#include "panel/dialogs.h"
#include "panel/hub_table_model.h"
#include "ui_ViewController.h"

namespace panel {

namespace {

template <class T, class Given>
T* ownOrGiven(Given* given, std::unique_ptr<T>& own, auto make) {
    if (given != nullptr) return given;
    own = make();
    return own.get();
}

}  // namespace

ViewController::ViewController(WindowServices services, QWidget* parent)
    : QWidget(parent),
      ui_(std::make_unique<Ui::ViewController>()),
      source_(ownOrGiven(services.source, ownSource_, [] { return std::make_unique<PanelHubSource>(); })),
      link_(ownOrGiven(services.link, ownLink_, [] { return std::make_unique<BridgeLink>(); })),
      alerts_(ownOrGiven(services.alerts, ownAlerts_, [] { return std::make_unique<MessageBoxAlerts>(); })),
      files_(ownOrGiven(services.files, ownFiles_, [] { return std::make_unique<DialogFileChooser>(); })),
      commands_(*link_),
      flows_(state_, commands_, *this) {
    ui_->setupUi(this);
    const QStringList ids = ui_->tableView->property("columnIdentifiers").toStringList();
    model_ = new HubTableModel(ids, ui_->tableView->property("columnTitles").toStringList(), this);
    ui_->tableView->setModel(model_);
    ui_->tableView->horizontalHeader()->setStretchLastSection(true);

    std::vector<QPushButton*> switches;
    for (int port = 1; port <= 16; ++port) {
        switches.push_back(findChild<QPushButton*>(QStringLiteral("switch%1").arg(port)));
    }
    switches.push_back(ui_->switchOn);
    switches.push_back(ui_->switchOff);
    board_ = std::make_unique<SwitchBoard>(
        std::move(switches),
        std::vector<QWidget*>{ui_->SetPassword, ui_->SetPortStates, ui_->ResetDefault, ui_->ResetHub,
                              ui_->EditDescription, ui_->UpdateFirmware, ui_->SearchComport});
    update_ = std::make_unique<FirmwareUpdate>(state_, static_cast<UpdateHost&>(*this), *files_, this);
    // As tall as the status line, so showing it does not move the layout.
    ui_->updateProgress->setMaximumHeight(ui_->systemMsg->sizeHint().height());
    ui_->updateProgress->hide();
    board_->disableAll();
    setActionsEnabled(false);

    bindStandardSegues(router_);
    router_.setContext(*alerts_, *link_);
    router_.setPrepare([this](SceneDialog* destination) { prepare(destination); });
    connectActions();
    // Fixed before the window exists, so it never offers to resize.
    setFixedSize(sizeHint());
}

ViewController::~ViewController() = default;

void ViewController::connectActions() {
    connect(ui_->searchButton, &QPushButton::clicked, this, &ViewController::AutoSearch);
    connect(ui_->SearchComport, &QPushButton::clicked, this, &ViewController::SearchByComport);
    for (QPushButton* button : board_->buttons()) {
        connect(button, &QPushButton::clicked, this, [this, button] { clickButtons(button); });
    }
    connect(ui_->SetPortStates, &QPushButton::clicked, this, &ViewController::clickSetPortStateButtons);
    connect(ui_->ResetDefault, &QPushButton::clicked, this, &ViewController::clickResetDefaultButtons);
    connect(ui_->ResetHub, &QPushButton::clicked, this, &ViewController::clickResetHubsButtons);
    connect(ui_->EditDescription, &QPushButton::clicked, this, &ViewController::clickEditDescription);
    connect(ui_->UpdateFirmware, &QPushButton::clicked, this, &ViewController::updateFirmwareClicked);
    connect(ui_->SetPassword, &QPushButton::clicked, this,
            [this] { performSegue(segue::kSetPassword); });
    connect(ui_->tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!selecting_) tableViewSelectionDidChange();
    });
}

void ViewController::setActionsEnabled(bool enabled) {
    for (QWidget* action : {ui_->SetPassword, ui_->SetPortStates, ui_->ResetDefault, ui_->ResetHub,
                            ui_->EditDescription, ui_->UpdateFirmware}) {
        action->setEnabled(enabled);
    }
}

void ViewController::setStatus(const QString& text) { ui_->systemMsg->setText(text); }

void ViewController::showFoundCount() {
    setStatus(QStringLiteral("%1 USB Hub(s) Found").arg(state_.data.size()));
}

void ViewController::AutoSearch() {
    if (updating()) return;
    search([this] { return source_->allPorts(); });
}

void ViewController::SearchByComport() {
    if (updating()) return;
    const std::string typed = ui_->comportInput->text().toStdString();
    search([this, &typed] { return source_->portsMatching(typed); });
}

void ViewController::search(const std::function<std::vector<std::string>()>& candidates) {
    update_->abandonWaiting();
    setStatus(QStringLiteral("Searching Hubs..."));
    state_.data.clear();
    showHubs();
    // Let the status and the emptied table show before the queries block.
    QElapsedTimer drawn;
    drawn.start();
    while (drawn.elapsed() < 10) QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);

    state_.data = queryPorts(*source_, candidates());
    showHubs();
    board_->disableAll();
    showFoundCount();
    if (!state_.data.empty()) selectRowAndRunStep(0);
}

void ViewController::showHubs() {
    model_->setHubs(state_.data);
    ui_->tableView->resizeColumnsToContents();
}

void ViewController::selectRowAndRunStep(int row) {
    // The step runs explicitly: re-selecting an unchanged row reports no
    // change, and the fields must still come from the re-read record.
    selecting_ = true;
    ui_->tableView->selectRow(row);
    selecting_ = false;
    tableViewSelectionDidChange();
}

void ViewController::tableViewSelectionDidChange() {
    const QModelIndexList rows = ui_->tableView->selectionModel()->selectedRows();
    if (rows.isEmpty()) return;
    const int row = rows.first().row();
    if (row < 0 || row >= static_cast<int>(state_.data.size())) return;
    if (!state_.takeSelection(state_.data[static_cast<std::size_t>(row)], row)) return;
    setButtonlist(state_.selectPortsperhub, state_.selectOn, state_.selectOff);
    const bool legacy = hublink::isLegacyFirmware(state_.selectFw);
    ui_->EditDescription->setEnabled(!legacy);
    ui_->UpdateFirmware->setEnabled(!legacy);
}

void ViewController::setButtonlist(const std::string& portsperhub, const std::string& portsOn,
                                   const std::string& portsOff) {
    board_->setButtonlist(portsperhub, portsOn, portsOff);
}

void ViewController::clickButtons(QObject* sender) {
    if (updating()) return;
    const std::optional<int> number = SwitchBoard::switchNumber(sender->objectName());
    if (number) flows_.clickSwitch(*number);
}

void ViewController::clickSetPortStateButtons() { performSegue(segue::kSetPortStateAsk); }
void ViewController::clickResetDefaultButtons() { performSegue(segue::kRestoreDefault); }
void ViewController::clickResetHubsButtons() { performSegue(segue::kResetHub); }
void ViewController::clickEditDescription() { performSegue(segue::kEditDescription); }
void ViewController::updateFirmwareClicked() { update_->updateFirmwareClicked(); }

}  // namespace panel
