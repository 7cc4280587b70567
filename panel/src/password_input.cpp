#include <hublink/protocol.h>

#include <map>

#include "panel/alerts.h"
#include "panel/dialogs.h"
#include "panel/protected_flows.h"
#include "ui_PasswordInput.h"

namespace panel {

PasswordInput::PasswordInput(SceneContext context, QWidget* parent)
    : SceneDialog(context, parent), ui_(std::make_unique<Ui::PasswordInput>()) {
    ui_->setupUi(this);
    connect(ui_->confirmButton, &QPushButton::clicked, this, &PasswordInput::onButtonTap);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &PasswordInput::onCancelClick);
}

PasswordInput::~PasswordInput() = default;

void PasswordInput::onButtonTap() {
    const std::string password = hublink::windowPasswordField(ui_->passwordZone->text().toStdString());
    // A control character would end the command line early and send what
    // follows as a command of its own; the prompt stays open to mend it.
    if (!hublink::isSendableText(password)) {
        context_.alerts.showAlert(this, kSystemMessage, QStringLiteral("Invalid Password!"), AlertIcon::Caution,
                                  kUnsendableDetail);
        return;
    }
    close();
    if (delegate == nullptr) return;
    using Return = void (PasswordInputViewControllerDelegate::*)(const std::string&);
    static const std::map<std::string, Return> kReturns = {
        {fn::kSetPort, &PasswordInputViewControllerDelegate::onPasswordReturn},
        {fn::kSaveSetPort, &PasswordInputViewControllerDelegate::onSetStateReturn},
        {fn::kResetDefault, &PasswordInputViewControllerDelegate::onResetDefaultReturn},
        {fn::kResetHubs, &PasswordInputViewControllerDelegate::onResetHubsReturn},
        {fn::kEditDescription, &PasswordInputViewControllerDelegate::onEditDescriptionReturn},
        {fn::kUpdateFirmware, &PasswordInputViewControllerDelegate::onUpdateReturn},
    };
    const auto it = kReturns.find(selectFunction);
    if (it != kReturns.end()) (delegate->*(it->second))(password);
}

void PasswordInput::onCancelClick() {
    close();
    // An interrupted firmware update leaves the hub list stale.
    if (delegate != nullptr && selectFunction == fn::kUpdateFirmware) delegate->AutoSearch();
}

void PasswordInput::dismiss() { close(); }

}  // namespace panel
