#include "panel/dialogs.h"
#include "panel/segue_router.h"

namespace panel {

namespace {

template <class Scene>
SegueRouter::Factory make() {
    return [](SceneContext context, QWidget* parent) -> SceneDialog* { return new Scene(context, parent); };
}

}  // namespace

void bindStandardSegues(SegueRouter& router, bool withDescriptionEditor) {
    router.bind(segue::kPasswordPut, make<PasswordInput>());
    router.bind(segue::kSetPortStateAsk, make<SetPortStateAsk>());
    router.bind(segue::kRestoreDefault, make<RestoreAsk>());
    router.bind(segue::kResetHub, make<ResetHubAsk>());
    if (withDescriptionEditor) router.bind(segue::kEditDescription, make<EditDescString>());
    router.bind(segue::kSetPassword, make<PasswordForm>());
    router.bind(segue::kError, make<OldPasswordRefused>());
}

}  // namespace panel
