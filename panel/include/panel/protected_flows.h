// The protected operations as the user meets them: first attempt with the
// remembered password, the prompt on a rejection, the second attempt with the
// entered one, and what each success leaves remembered.
#pragma once

#include <QString>
#include <string>

#include "panel/delegates.h"
#include "panel/hub_operations.h"
#include "panel/window_state.h"

namespace panel {

// The operation names kept in selectFunction.
namespace fn {
inline constexpr const char* kSetPort = "setPort";
inline constexpr const char* kSaveSetPort = "saveSetPort";
inline constexpr const char* kResetDefault = "resetDefault";
inline constexpr const char* kResetHubs = "resetHubs";
inline constexpr const char* kEditDescription = "editDesctription";
inline constexpr const char* kUpdateFirmware = "updateFirmware";
}  // namespace fn

enum class Attempt { First, Second };

// Which password the selected hub's re-read record carries after a success.
enum class PasswordAfter {
    Carried,  // whatever the refresh carried over
    Entered,  // the password the prompt just supplied
    Default,  // the factory password (after a restore)
};

// What the window does for the flows.
class FlowHost {
public:
    virtual ~FlowHost() = default;
    virtual void performSegue(const std::string& name) = 0;
    virtual void alert(const QString& title, const QString& text) = 0;
    // Tells the status line why an operation failed.
    virtual void reportFailure(const OpResult& result) = 0;
    // The pause that lets a reset hub restart before it is queried again.
    virtual void waitForHubRestart() = 0;
    // Re-reads the hubs, gives the selected hub's record the password `after`
    // asks for, redraws and selects that hub again.
    virtual void refreshAfterChange(PasswordAfter after, const std::string& entered) = 0;
    virtual void AutoSearch() = 0;
    // The prompt confirmed a password for the firmware update.
    virtual void updateReturn(const std::string& /*dataMsg*/) {}
};

class ProtectedFlows : public PasswordInputViewControllerDelegate,
                       public SetPortStateViewControllerDelegate,
                       public ResetDefaultInputViewControllerDelegate,
                       public ResetHubViewControllerDelegate,
                       public DescriptionChangeViewControllerDelegate {
public:
    ProtectedFlows(WindowState& state, HubCommands& commands, FlowHost& host)
        : s_(state), commands_(commands), host_(host) {}

    // A port switch was clicked: changes the hub at once, no confirmation.
    void clickSwitch(int switchNumber);

    void onSetPortStateApproval(bool isContinue) override;
    void onResetDefaultApproval(bool isContinue) override;
    void onResetHubApproval(bool isContinue) override;
    void onDescriptionSubmit(const std::string& description) override;

    void onPasswordReturn(const std::string& dataMsg) override;
    void onSetStateReturn(const std::string& dataMsg) override;
    void onResetDefaultReturn(const std::string& dataMsg) override;
    void onResetHubsReturn(const std::string& dataMsg) override;
    void onEditDescriptionReturn(const std::string& dataMsg) override;
    void onUpdateReturn(const std::string& dataMsg) override { host_.updateReturn(dataMsg); }
    void AutoSearch() override { host_.AutoSearch(); }

private:
    void setPort(const std::string& password, Attempt attempt);
    void saveStates(const std::string& password, Attempt attempt);
    void restore(const std::string& password, Attempt attempt);
    void reset(const std::string& password, Attempt attempt);
    void writeDescription(const std::string& password, const std::string& text, Attempt attempt);
    void finish(const OpResult& result, const char* function, Attempt attempt,
                const std::string& password);

    WindowState& s_;
    HubCommands& commands_;
    FlowHost& host_;
};

}  // namespace panel
