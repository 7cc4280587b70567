// The dialogs of the protected operations. Each is one view controller with
// its own user-interface definition; texts and layout live in the .ui files.
#pragma once

#include <memory>
#include <string>

#include "panel/delegates.h"
#include "panel/scene.h"

namespace Ui {
class PasswordInput;
class SetPortStateAsk;
class RestoreAsk;
class ResetHubAsk;
class EditDescString;
class PasswordForm;
class OldPasswordRefused;
}  // namespace Ui

namespace panel {

namespace segue {
inline constexpr const char* kPasswordPut = "PasswordPut";
inline constexpr const char* kSetPortStateAsk = "SetPortStateAsk";
inline constexpr const char* kRestoreDefault = "restoreDefaultsegue";
inline constexpr const char* kResetHub = "ResetHubSegue";
inline constexpr const char* kEditDescription = "EditDecriptionSegue";
inline constexpr const char* kError = "errorSegue";
// The change-password form's segue, which carries no name of its own elsewhere.
inline constexpr const char* kSetPassword = "SetPasswordSegue";
}  // namespace segue

// Asks for the password the hub rejected and hands it, normalised to 8
// characters, to the operation named by selectFunction.
class PasswordInput : public SceneDialog {
    Q_OBJECT
public:
    PasswordInput(SceneContext context, QWidget* parent);
    ~PasswordInput() override;

    std::string selectFunction;
    PasswordInputViewControllerDelegate* delegate = nullptr;

    void onButtonTap();
    void onCancelClick();
    void dismiss();

private:
    std::unique_ptr<Ui::PasswordInput> ui_;
};

class SetPortStateAsk : public SceneDialog {
    Q_OBJECT
public:
    SetPortStateAsk(SceneContext context, QWidget* parent);
    ~SetPortStateAsk() override;

    SetPortStateViewControllerDelegate* delegate = nullptr;

    void OnButtonDo();
    void dismiss();

private:
    std::unique_ptr<Ui::SetPortStateAsk> ui_;
};

class RestoreAsk : public SceneDialog {
    Q_OBJECT
public:
    RestoreAsk(SceneContext context, QWidget* parent);
    ~RestoreAsk() override;

    ResetDefaultInputViewControllerDelegate* delegate = nullptr;

    void onButtonTap2();
    void dismiss();

private:
    std::unique_ptr<Ui::RestoreAsk> ui_;
};

class ResetHubAsk : public SceneDialog {
    Q_OBJECT
public:
    ResetHubAsk(SceneContext context, QWidget* parent);
    ~ResetHubAsk() override;

    ResetHubViewControllerDelegate* delegate = nullptr;

    void onButtonTap2();
    void dismiss();

private:
    std::unique_ptr<Ui::ResetHubAsk> ui_;
};

// Shows the selected hub and lets the user write a new description.
class EditDescString : public SceneDialog {
    Q_OBJECT
public:
    EditDescString(SceneContext context, QWidget* parent);
    ~EditDescString() override;

    std::string comportName;
    std::string portNumber;
    std::string firmware;
    std::string uid;
    std::string descriptionC;
    DescriptionChangeViewControllerDelegate* delegate = nullptr;

    void onSubmit();
    void dismiss();

protected:
    void viewDidLoad() override;

private:
    std::unique_ptr<Ui::EditDescString> ui_;
};

// Changes the hub password; talks to the hub itself and stays open until the
// hub accepts the change or the user closes it.
class PasswordForm : public SceneDialog {
    Q_OBJECT
public:
    PasswordForm(SceneContext context, QWidget* parent);
    ~PasswordForm() override;

    std::string selectComport;

    void changePassword();
    void dismiss();

    // The check's message lines, each followed by two line feeds, or "OK".
    static std::string checkPassword(const std::string& oldPassword, const std::string& newPassword,
                                     const std::string& confirmPassword);

protected:
    void viewDidLoad() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<Ui::PasswordForm> ui_;
};

// The scene of "errorSegue": the hub did not accept the original password.
class OldPasswordRefused : public SceneDialog {
    Q_OBJECT
public:
    OldPasswordRefused(SceneContext context, QWidget* parent);
    ~OldPasswordRefused() override;

private:
    std::unique_ptr<Ui::OldPasswordRefused> ui_;
};

// Binds every segue name of the windows to its dialog class.
void bindStandardSegues(SegueRouter& router, bool withDescriptionEditor = true);

}  // namespace panel
