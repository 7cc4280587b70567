// How the dialogs report back to the window that opened them.
#pragma once

#include <string>

namespace panel {

// Receives the password typed into the prompt, normalised to 8 characters,
// by the operation that asked for it.
class PasswordInputViewControllerDelegate {
public:
    virtual ~PasswordInputViewControllerDelegate() = default;
    virtual void onPasswordReturn(const std::string& dataMsg) = 0;
    virtual void onSetStateReturn(const std::string& dataMsg) = 0;
    virtual void onResetDefaultReturn(const std::string& dataMsg) = 0;
    virtual void onResetHubsReturn(const std::string& dataMsg) = 0;
    virtual void onEditDescriptionReturn(const std::string& dataMsg) = 0;
    // The firmware update re-enters here (a window without one ignores it).
    virtual void onUpdateReturn(const std::string& /*dataMsg*/) {}
    virtual void AutoSearch() = 0;
};

class SetPortStateViewControllerDelegate {
public:
    virtual ~SetPortStateViewControllerDelegate() = default;
    virtual void onSetPortStateApproval(bool isContinue) = 0;
};

class ResetDefaultInputViewControllerDelegate {
public:
    virtual ~ResetDefaultInputViewControllerDelegate() = default;
    virtual void onResetDefaultApproval(bool isContinue) = 0;
};

class ResetHubViewControllerDelegate {
public:
    virtual ~ResetHubViewControllerDelegate() = default;
    virtual void onResetHubApproval(bool isContinue) = 0;
};

class DescriptionChangeViewControllerDelegate {
public:
    virtual ~DescriptionChangeViewControllerDelegate() = default;
    virtual void onDescriptionSubmit(const std::string& description) = 0;
};

}  // namespace panel
