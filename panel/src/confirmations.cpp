#include "panel/dialogs.h"
#include "ui_OldPasswordRefused.h"
#include "ui_ResetHubAsk.h"
#include "ui_RestoreAsk.h"
#include "ui_SetPortStateAsk.h"

namespace panel {

SetPortStateAsk::SetPortStateAsk(SceneContext context, QWidget* parent)
    : SceneDialog(context, parent), ui_(std::make_unique<Ui::SetPortStateAsk>()) {
    ui_->setupUi(this);
    connect(ui_->confirmButton, &QPushButton::clicked, this, &SetPortStateAsk::OnButtonDo);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &SetPortStateAsk::dismiss);
}

SetPortStateAsk::~SetPortStateAsk() = default;

void SetPortStateAsk::OnButtonDo() {
    close();
    if (delegate != nullptr) delegate->onSetPortStateApproval(true);
}

void SetPortStateAsk::dismiss() { close(); }

RestoreAsk::RestoreAsk(SceneContext context, QWidget* parent)
    : SceneDialog(context, parent), ui_(std::make_unique<Ui::RestoreAsk>()) {
    ui_->setupUi(this);
    connect(ui_->confirmButton, &QPushButton::clicked, this, &RestoreAsk::onButtonTap2);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &RestoreAsk::dismiss);
}

RestoreAsk::~RestoreAsk() = default;

void RestoreAsk::onButtonTap2() {
    close();
    if (delegate != nullptr) delegate->onResetDefaultApproval(true);
}

void RestoreAsk::dismiss() { close(); }

ResetHubAsk::ResetHubAsk(SceneContext context, QWidget* parent)
    : SceneDialog(context, parent), ui_(std::make_unique<Ui::ResetHubAsk>()) {
    ui_->setupUi(this);
    connect(ui_->confirmButton, &QPushButton::clicked, this, &ResetHubAsk::onButtonTap2);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &ResetHubAsk::dismiss);
}

ResetHubAsk::~ResetHubAsk() = default;

void ResetHubAsk::onButtonTap2() {
    close();
    if (delegate != nullptr) delegate->onResetHubApproval(true);
}

void ResetHubAsk::dismiss() { close(); }

OldPasswordRefused::OldPasswordRefused(SceneContext context, QWidget* parent)
    : SceneDialog(context, parent), ui_(std::make_unique<Ui::OldPasswordRefused>()) {
    ui_->setupUi(this);
    connect(ui_->confirmButton, &QPushButton::clicked, this, &QDialog::close);
}

OldPasswordRefused::~OldPasswordRefused() = default;

}  // namespace panel
