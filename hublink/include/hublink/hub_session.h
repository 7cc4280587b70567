// One hub, held by a program for as many operations as it likes, with typed
// results: what a library (the Python package) builds on, where hubctl
// prints texts. Each operation sends the command lines hubctl sends for it,
// with the same password field and the state digits computed from states
// read under the same claim. Errors are values; nothing here throws or
// prints.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace hublink {

enum class HubFault {
    none,
    notFound,         // no hub answers there, or the name resolves to nothing
    password,         // the hub refused the password ("E01")
    timeout,          // the hub did not answer in time, or another program held it too long
    invalidArgument,  // a port number, password or description the hub cannot take
    refused,          // the hub answered, but not as the operation needs
    interrupted,      // the interrupt check said stop while the hub was waited for
};

struct HubError {
    HubFault fault = HubFault::none;
    std::string message;  // hubctl's text where it has one, e.g. "Invalid Password!"
    bool ok() const { return fault == HubFault::none; }
};

template <typename T>
struct HubResult {
    T value{};
    HubError error{};
    bool ok() const { return error.ok(); }
};

struct HubDetails {
    std::string port;         // the device path or URL the hub answered on
    int ports = 0;
    std::string firmware;     // e.g. "V04"
    std::string pid;          // product ID, 4 characters
    std::string uid;          // 12 characters; empty below firmware 4
    std::string description;  // empty below firmware 4
    std::vector<bool> states; // port 1 first: true is on
};

// Every hub a search finds, local ports first, then the remotes.
std::vector<HubDetails> discoverHubs();

class HubSession {
public:
    // `name`: a device path or name ("ttyUSB0"), "UID" and 12 characters,
    // or a port URL; resolved at the first operation. `password` as the user
    // gives it; none: HUBLINK_PASSWORD's, else the hub's default.
    HubSession(std::string name, std::optional<std::string> password);
    ~HubSession();  // releases a hold left open
    HubSession(const HubSession&) = delete;
    HubSession& operator=(const HubSession&) = delete;

    // Holds the hub for this thread until release() (holds nest): its claim,
    // and for a URL one connection. Other threads' operations on this
    // session wait, other programs' exchanges too; what was read while held
    // and cannot change meanwhile (port count, firmware) is not asked again.
    HubError hold();
    void release();

    HubResult<HubDetails> details();
    HubResult<std::vector<bool>> states();
    // Ports numbered from 1; the others keep their states.
    HubError setStates(const std::vector<std::pair<int, bool>>& changes);
    HubError toggle(const std::vector<int>& ports);
    HubError setAll(bool on);
    HubError saveStates();  // the live states become the power-on states
    HubResult<std::string> description();
    HubError setDescription(const std::string& text);
    // On success the session goes on with the new password.
    HubError changePassword(const std::string& newPassword);
    // On success the session goes on with the hub's default password.
    HubError restoreDefaults();
    HubError reset();

    // Asked about every 100 ms while an operation waits for the hub (another
    // program or thread holds it); true stops the wait with `interrupted`.
    // Exchanges themselves are not cut short: each is bounded.
    void setInterruptCheck(std::function<bool()> check) { interrupted_ = std::move(check); }

    // The port the name resolved to (resolving it now if need be).
    HubResult<std::string> port();
    const std::string& name() const { return name_; }
    // The password field sent (8 characters), none when the password given
    // cannot be sent.
    const std::optional<std::string>& passwordField() const { return pw8_; }

private:
    class Use;
    struct Claim;
    HubError resolve();
    HubError waitForOtherThreads(std::unique_lock<std::mutex>& lock);
    std::unique_ptr<Claim> claimInSlices(HubError& error);
    HubError enter(bool hold);
    void leave();
    HubResult<HubDetails> query();
    HubError protectedCommand(int operation, const std::string& line, const std::string& states8 = {});
    HubError sendStates(char letter, const std::vector<int>& ports, bool allPorts);
    // hubctl's state operands ("1:3,4"), each applied in turn to the states read once.
    HubError setStatesBy(const std::vector<std::pair<char, std::string>>& operands);
    HubError checkPassword() const;

    std::string name_;
    std::string password_;
    std::optional<std::string> pw8_;
    std::string path_;  // resolved

    std::mutex mutex_;
    std::condition_variable freed_;
    std::thread::id owner_{};
    int depth_ = 0;  // nested enter()s of the owner
    int holds_ = 0;  // of them, hold()s
    std::unique_ptr<Claim> claim_;
    std::optional<HubDetails> known_;  // identify read while held
    std::function<bool()> interrupted_;
};

}  // namespace hublink
