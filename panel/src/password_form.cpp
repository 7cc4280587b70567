#include <QEvent>
#include <QTimer>
#include <hublink/protocol.h>

#include "panel/alerts.h"
#include "panel/dialogs.h"
#include "panel/hub_operations.h"
#include "panel/segue_router.h"
#include "ui_PasswordForm.h"

namespace panel {

PasswordForm::PasswordForm(SceneContext context, QWidget* parent)
    : SceneDialog(context, parent), ui_(std::make_unique<Ui::PasswordForm>()) {
    ui_->setupUi(this);
    connect(ui_->confirmButton, &QPushButton::clicked, this, &PasswordForm::changePassword);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &PasswordForm::dismiss);
}

PasswordForm::~PasswordForm() = default;

void PasswordForm::viewDidLoad() {
    ui_->OldPassword->setText(QString::fromUtf8(hublink::kDefaultPassword.data(),
                                                static_cast<qsizetype>(hublink::kDefaultPassword.size())));
    // The pre-filled default is selected whenever the field takes the focus,
    // so typing the real old password replaces it instead of adding to it.
    ui_->OldPassword->installEventFilter(this);
    ui_->OldPassword->selectAll();
}

bool PasswordForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->OldPassword && event->type() == QEvent::FocusIn) {
        // After the click that gave the focus has placed the cursor.
        QTimer::singleShot(0, ui_->OldPassword, &QLineEdit::selectAll);
    }
    return SceneDialog::eventFilter(watched, event);
}

std::string PasswordForm::checkPassword(const std::string& oldPassword, const std::string& newPassword,
                                        const std::string& confirmPassword) {
    std::string message;
    // A password a command line cannot carry is no 8-character password.
    const auto eight = [](const std::string& pw) {
        return hublink::utf8Length(pw) == 8 && hublink::isSendableText(pw);
    };
    if (!eight(oldPassword)) message += "Original password must have 8 characters.\n\n";
    if (!eight(newPassword)) message += "New password must have 8 characters.\n\n";
    if (!eight(confirmPassword)) message += "Confirm password must have 8 characters.\n\n";
    if (newPassword != confirmPassword) {
        message += "Please check your new password is same with confirm password.\n\n";
    }
    return message.empty() ? "OK" : message;
}

void PasswordForm::changePassword() {
    const auto field = [](const QLineEdit* edit) {
        return hublink::windowPasswordField(edit->text().toStdString());
    };
    const std::string oldPw = field(ui_->OldPassword);
    const std::string newPw = field(ui_->NewPassword);
    const std::string confirmPw = field(ui_->ConfirmPassword);
    const std::string check = checkPassword(oldPw, newPw, confirmPw);
    if (check != "OK") {
        const bool sendable = hublink::isSendableText(oldPw + newPw + confirmPw);
        context_.alerts.showAlert(this, kSystemMessage, QString::fromStdString(check), AlertIcon::Caution,
                                  sendable ? QString() : kUnsendableDetail);
        return;
    }
    // The form stays open while the hub answers.
    const OpResult result = HubCommands(context_.link).Change_Password(oldPw, newPw, selectComport);
    if (result.text == "OK") {
        context_.alerts.showAlert(this, QStringLiteral("Success"),
                                  QStringLiteral("Your password has been changed successfully!"));
        close();
    } else if (result.text == "Password Err") {
        context_.router.performSegue(segue::kError, this);
    } else {
        context_.alerts.showAlert(this, kSystemMessage, QStringLiteral("I/O Error"));
    }
}

void PasswordForm::dismiss() { close(); }

}  // namespace panel
