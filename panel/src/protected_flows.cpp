#include "panel/protected_flows.h"

#include <portstate/gui_state.h>
#include <portstate/int_text.h>

#include "panel/alerts.h"
#include "panel/dialogs.h"

namespace panel {

namespace {

std::vector<std::int64_t> state64List(const std::string& text) {
    // An unreadable list becomes empty; the operation then refuses to send.
    return portstate::get_numbers(text).value_or(std::vector<std::int64_t>{});
}

int portCount(const std::string& text) {
    return static_cast<int>(portstate::parseInt64(text, 10).value_or(0));
}

struct SuccessPlan {
    bool waitForRestart;
    PasswordAfter password;
};

// What a success leaves remembered: a prompted password is kept by the
// operations that prove it (set, save, reset), a restore brings back the
// factory password, and a description change remembers nothing.
SuccessPlan successPlan(const std::string& function, Attempt attempt) {
    const bool second = attempt == Attempt::Second;
    if (function == fn::kResetDefault) return {false, PasswordAfter::Default};
    if (function == fn::kResetHubs) return {true, second ? PasswordAfter::Entered : PasswordAfter::Carried};
    if (function == fn::kEditDescription) return {false, PasswordAfter::Carried};
    return {false, second ? PasswordAfter::Entered : PasswordAfter::Carried};
}

}  // namespace

void ProtectedFlows::clickSwitch(int switchNumber) {
    s_.switchNumberG = switchNumber;
    s_.selectFunction = fn::kSetPort;
    setPort(s_.selectPassword, Attempt::First);
}

void ProtectedFlows::onSetPortStateApproval(bool isContinue) {
    if (!isContinue) return;
    s_.selectFunction = fn::kSaveSetPort;
    saveStates(s_.selectPassword, Attempt::First);
}

void ProtectedFlows::onResetDefaultApproval(bool isContinue) {
    if (!isContinue) return;
    s_.selectFunction = fn::kResetDefault;
    restore(s_.selectPassword, Attempt::First);
}

void ProtectedFlows::onResetHubApproval(bool isContinue) {
    if (!isContinue) return;
    s_.selectFunction = fn::kResetHubs;
    reset(s_.selectPassword, Attempt::First);
}

void ProtectedFlows::onDescriptionSubmit(const std::string& description) {
    s_.selectFunction = fn::kEditDescription;
    writeDescription(s_.selectPassword, description, Attempt::First);
}

void ProtectedFlows::onPasswordReturn(const std::string& dataMsg) { setPort(dataMsg, Attempt::Second); }
void ProtectedFlows::onSetStateReturn(const std::string& dataMsg) { saveStates(dataMsg, Attempt::Second); }
void ProtectedFlows::onResetDefaultReturn(const std::string& dataMsg) { restore(dataMsg, Attempt::Second); }
void ProtectedFlows::onResetHubsReturn(const std::string& dataMsg) { reset(dataMsg, Attempt::Second); }

void ProtectedFlows::onEditDescriptionReturn(const std::string& dataMsg) {
    s_.selectFunction = fn::kEditDescription;
    writeDescription(dataMsg, s_.selectDescription, Attempt::Second);
}

void ProtectedFlows::setPort(const std::string& password, Attempt attempt) {
    const OpResult r = commands_.Click_Switch(s_.switchNumberG, portCount(s_.selectPortsperhub), password,
                                              s_.selectComport);
    finish(r, fn::kSetPort, attempt, password);
}

void ProtectedFlows::saveStates(const std::string& password, Attempt attempt) {
    const OpResult r =
        commands_.Save_Port_States(state64List(s_.selectState64), password, s_.selectComport);
    finish(r, fn::kSaveSetPort, attempt, password);
}

void ProtectedFlows::restore(const std::string& password, Attempt attempt) {
    finish(commands_.Restore_Default(password, s_.selectComport), fn::kResetDefault, attempt, password);
}

void ProtectedFlows::reset(const std::string& password, Attempt attempt) {
    finish(commands_.Reset_Hubs(password, s_.selectComport), fn::kResetHubs, attempt, password);
}

void ProtectedFlows::writeDescription(const std::string& password, const std::string& text,
                                      Attempt attempt) {
    const OpResult r = commands_.Edit_Description(password, text, s_.selectComport);
    // Kept so the prompted second attempt writes the same text.
    if (r.text == "Password Err") s_.selectDescription = text;
    finish(r, fn::kEditDescription, attempt, password);
}

void ProtectedFlows::finish(const OpResult& result, const char* function, Attempt attempt,
                            const std::string& password) {
    if (result.text == "Password Err") {
        host_.performSegue(segue::kPasswordPut);
        return;
    }
    if (result.text == "OK") {
        const SuccessPlan plan = successPlan(function, attempt);
        if (plan.waitForRestart) host_.waitForHubRestart();
        host_.refreshAfterChange(plan.password, password);
        return;
    }
    host_.reportFailure(result);
    // A refused description write is a failure too, not a silent success.
    const bool description = std::string(function) == fn::kEditDescription;
    host_.alert(kSystemMessage, description ? QStringLiteral("I/O Error") : QStringLiteral("State Error"));
    if (std::string(function) == fn::kSaveSetPort && attempt == Attempt::Second) {
        host_.performSegue(segue::kPasswordPut);
    }
}

}  // namespace panel
