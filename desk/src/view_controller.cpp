#include "desk/view_controller.h"

#include <panel/dialogs.h>
#include <panel/switch_board.h>

#include "desk/desk_services.h"
#include "ui_DeskViewController.h"

namespace desk {

ViewController::ViewController(panel::WindowServices services, QWidget* parent)
    : HubWindow(services, std::make_unique<DeskHubSource>(), std::make_unique<DeskLink>(), parent),
      ui_(std::make_unique<Ui::DeskViewController>()) {
    ui_->setupUi(this);
    for (int port = 1; port <= 16; ++port) {
        switchButtons_.push_back(findChild<QPushButton*>(QStringLiteral("switch%1").arg(port)));
    }
    switchButtons_.push_back(ui_->switchOn);
    switchButtons_.push_back(ui_->switchOff);
    // Its records carry no product ID; the rest is as in hubpanel.
    state_.requiredFields = {"ControlPort", "PortsperHub", "On", "Off", "FW", "Password", "State64"};

    panel::WindowParts parts;
    parts.tableView = ui_->tableView;
    parts.systemMsg = ui_->systemMsg;
    parts.searchButton = ui_->searchButton;
    parts.switchButtons = switchButtons_;
    parts.setPassword = ui_->SetPassword;
    parts.setPortStates = ui_->SetPortStates;
    parts.resetDefault = ui_->ResetDefault;
    parts.resetHub = ui_->ResetHub;
    setUpWindow(std::move(parts), [](panel::SegueRouter& router) {
        panel::bindStandardSegues(router, /*withDescriptionEditor=*/false);
    });
    // The previous rows stay on screen until a search has its result.
    setRedrawBeforeSearch(false);
    setFixedSize(sizeHint());
}

ViewController::~ViewController() = default;

void ViewController::setButtonlist(const std::string& portsperhub, const std::string& portsOn,
                                   const std::string& portsOff,
                                   const std::vector<QPushButton*>& buttonList) {
    panel::SwitchBoard board(buttonList, {ui_->SetPassword, ui_->SetPortStates, ui_->ResetDefault,
                                          ui_->ResetHub});
    board.setButtonlist(portsperhub, portsOn, portsOff);
}

void ViewController::drawSelection() {
    setButtonlist(state_.selectPortsperhub, state_.selectOn, state_.selectOff, switchButtons_);
}

}  // namespace desk
