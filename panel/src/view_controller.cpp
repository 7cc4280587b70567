#include "panel/view_controller.h"

#include <QCloseEvent>
#include <hublink/protocol.h>

#include "panel/dialogs.h"
#include "ui_ViewController.h"

namespace panel {

ViewController::ViewController(WindowServices services, QWidget* parent)
    : HubWindow(services, std::make_unique<PanelHubSource>(), std::make_unique<BridgeLink>(), parent),
      ui_(std::make_unique<Ui::ViewController>()) {
    ui_->setupUi(this);
    std::vector<QPushButton*> switches;
    for (int port = 1; port <= 16; ++port) {
        switches.push_back(findChild<QPushButton*>(QStringLiteral("switch%1").arg(port)));
    }
    switches.push_back(ui_->switchOn);
    switches.push_back(ui_->switchOff);
    WindowParts parts;
    parts.tableView = ui_->tableView;
    parts.systemMsg = ui_->systemMsg;
    parts.searchButton = ui_->searchButton;
    parts.switchButtons = std::move(switches);
    parts.setPassword = ui_->SetPassword;
    parts.setPortStates = ui_->SetPortStates;
    parts.resetDefault = ui_->ResetDefault;
    parts.resetHub = ui_->ResetHub;
    parts.moreActions = {ui_->EditDescription, ui_->UpdateFirmware};
    parts.moreBoardActions = {ui_->EditDescription, ui_->UpdateFirmware, ui_->SearchComport};
    parts.searchInputs = {ui_->SearchComport, ui_->comportInput};
    setUpWindow(std::move(parts), [](SegueRouter& router) { bindStandardSegues(router); });

    FileChooser* files = services.files;
    if (files == nullptr) {
        ownFiles_ = std::make_unique<DialogFileChooser>();
        files = ownFiles_.get();
    }
    update_ = std::make_unique<FirmwareUpdate>(state_, static_cast<UpdateHost&>(*this), *files, this);
    // As tall as the status line, so showing it does not move the layout.
    ui_->updateProgress->setMaximumHeight(ui_->systemMsg->sizeHint().height());
    ui_->updateProgress->hide();

    connect(ui_->SearchComport, &QPushButton::clicked, this, &ViewController::SearchByComport);
    connect(ui_->comportInput, &QLineEdit::returnPressed, this, &ViewController::SearchByComport);
    connect(ui_->EditDescription, &QPushButton::clicked, this, &ViewController::clickEditDescription);
    connect(ui_->UpdateFirmware, &QPushButton::clicked, this, &ViewController::updateFirmwareClicked);
    // Fixed before the window exists, so it never offers to resize.
    setFixedSize(sizeHint());
}

ViewController::~ViewController() = default;

void ViewController::SearchByComport() {
    if (busy()) return;
    const std::string typed = ui_->comportInput->text().toStdString();
    search([this, &typed] { return source().portsMatching(typed); });
}

void ViewController::drawSelection() {
    HubWindow::drawSelection();
    const bool legacy = hublink::isLegacyFirmware(state_.selectFw);
    ui_->EditDescription->setEnabled(!legacy);
    ui_->UpdateFirmware->setEnabled(!legacy);
}

void ViewController::setButtonlist(const std::string& portsperhub, const std::string& portsOn,
                                   const std::string& portsOff) {
    switches().setButtonlist(portsperhub, portsOn, portsOff);
}

void ViewController::clickEditDescription() { performSegue(segue::kEditDescription); }
void ViewController::updateFirmwareClicked() { update_->updateFirmwareClicked(); }

void ViewController::prepareMore(SceneDialog* destination) {
    if (auto* editor = qobject_cast<EditDescString*>(destination)) {
        editor->comportName = state_.selectComport;
        editor->portNumber = state_.selectPortsperhub;
        editor->firmware = state_.selectFw;
        editor->uid = state_.selectUID;
        editor->descriptionC = state_.selectDescription;
        editor->delegate = &flows_;
    }
}

void ViewController::alert(const QString& title, const QString& text, AlertIcon icon, const QString& detail) {
    alerts().showAlert(this, title, text, icon, detail);
}

// While the loader has the hub, no search, switch, dialog or other hub can
// be started.
void ViewController::setUpdating(bool updating) {
    if (!updating) ui_->updateProgress->hide();
    setControlsEnabled(!updating);
}

void ViewController::showProgress(const firmware::UpdateProgress& progress) {
    QProgressBar* bar = ui_->updateProgress;
    if (!busy()) return;  // a late report after the result
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
    if (busy()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

}  // namespace panel
