#include <hublink/protocol.h>

#include "panel/alerts.h"
#include "panel/dialogs.h"
#include "panel/window_state.h"
#include "ui_EditDescString.h"

namespace panel {

namespace {
// The hub keeps at most 64 characters of description.
constexpr std::size_t kDescriptionLimit = 64;
}  // namespace

EditDescString::EditDescString(SceneContext context, QWidget* parent)
    : SceneDialog(context, parent), ui_(std::make_unique<Ui::EditDescString>()) {
    ui_->setupUi(this);
    connect(ui_->confirmButton, &QPushButton::clicked, this, &EditDescString::onSubmit);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &EditDescString::dismiss);
}

EditDescString::~EditDescString() = default;

void EditDescString::viewDidLoad() {
    // The hub ends its identify reply with CR LF and the record keeps the CR;
    // sent back, it would end the command line in the middle.
    ui_->EditDesctription->setText(QString::fromStdString(withoutLineEnds(descriptionC)));
    ui_->ControlPortName->setText(QString::fromStdString(comportName));
    ui_->PortNumbers->setText(QString::fromStdString(portNumber));
    ui_->firmwareVersion->setText(QString::fromStdString(firmware));
    ui_->UID->setText(QString::fromStdString(uid));
}

void EditDescString::onSubmit() {
    close();
    if (delegate == nullptr) return;
    const std::string text = ui_->EditDesctription->text().toStdString();
    const bool sendable = hublink::isSendableText(text);
    if (!sendable || hublink::utf8Length(text) > kDescriptionLimit) {
        context_.alerts.showAlert(parentWidget(), kSystemMessage,
                                  QStringLiteral("Description must have less than 64 characters."),
                                  AlertIcon::Caution, sendable ? QString() : kUnsendableDetail);
        return;
    }
    delegate->onDescriptionSubmit(text);
}

void EditDescString::dismiss() { close(); }

}  // namespace panel
