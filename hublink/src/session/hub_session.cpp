#include "hublink/hub_session.h"

#include <algorithm>
#include <cctype>

#include "hublink/command_claim.h"
#include "hublink/discovery.h"
#include "hublink/exchange.h"
#include "hublink/hub_query.h"
#include "hublink/protocol.h"
#include "portstate/int_text.h"
#include "portstate/port_state.h"
#include "portstate/state_operand.h"

namespace hublink {
namespace {

HubError failure(HubFault fault, std::string message) { return {fault, std::move(message)}; }

std::string field(const HubInfo& record, const char* key) {
    const auto it = record.find(key);
    return it == record.end() ? std::string() : it->second;
}

std::vector<bool> statesOf(int ports, const std::string& hubStateText) {
    const portstate::StateWord word = portstate::Parse_Port_States_int64(ports, hubStateText);
    std::vector<bool> states(std::size_t(std::max(ports, 0)));
    for (int p = 0; p < ports && p < 64; ++p) states[std::size_t(p)] = (word >> p) & 1;
    return states;
}

HubDetails detailsOf(const HubInfo& record) {
    HubDetails d;
    d.port = field(record, "Port_Name");
    d.ports = int(portstate::parseInt64(field(record, "nPorts"), 10).value_or(0));
    d.firmware = field(record, "FW_Ver");
    d.pid = field(record, "PID");
    d.uid = field(record, "UID");
    d.description = field(record, "Description");
    d.states = statesOf(d.ports, field(record, "Port_States"));
    return d;
}

portstate::StateWord wordOf(const std::vector<bool>& states) {
    portstate::StateWord word = portstate::StateWord(portstate::absentPortMask(std::int64_t(states.size())));
    for (std::size_t p = 0; p < states.size() && p < 64; ++p)
        if (states[p]) word |= portstate::StateWord(1) << p;
    return word;
}

std::string portList(const std::vector<int>& ports) {
    std::string list;
    for (int p : ports) list += (list.empty() ? "" : ",") + std::to_string(p);
    return list;
}

// Why an exchange got no usable reply: a port that could not be had, or a
// hub that did not answer.
HubError exchangeFailure(const Exchange& exchange, const std::string& path, const std::string& text) {
    if (exchange.openFailure) return failure(HubFault::notFound, openFailureText(*exchange.openFailure));
    if (!exchange.sent) return failure(HubFault::notFound, "no hub answers on " + path);
    return failure(HubFault::timeout, text + " (the hub on " + path + " did not answer in time)");
}

HubError claimFailure(const CommandClaim& claim, const std::string& path) {
    if (!claim.failure()) return failure(HubFault::notFound, "no hub answers on " + path);
    const OpenFault fault = claim.failure()->fault;
    const bool waited = fault == OpenFault::held || fault == OpenFault::busy;
    return failure(waited ? HubFault::timeout : HubFault::notFound, openFailureText(*claim.failure()));
}

}  // namespace

struct HubSession::Claim {
    Claim(const std::string& path, std::chrono::milliseconds wait) : claim(path, wait) {}
    CommandClaim claim;
};

// One operation (or a hold) of the thread that calls it: waits until no
// other thread holds the session, then holds it until destroyed.
class HubSession::Use {
public:
    Use(HubSession& session, bool hold) : session_(session), error_(session.enter(hold)) {}
    ~Use() {
        if (error_.ok()) session_.leave();
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    const HubError& error() const { return error_; }

private:
    HubSession& session_;
    HubError error_;
};

HubSession::HubSession(std::string name, std::optional<std::string> password)
    : name_(std::move(name)),
      password_(password.value_or("")),
      pw8_(password ? consolePasswordField(*password) : consoleUnstatedPassword()) {}

HubSession::~HubSession() {
    std::lock_guard lock(mutex_);
    claim_.reset();
}

HubError HubSession::resolve() {
    if (!path_.empty()) return {};
    const PortLookup found = Get_COM_Port(name_);
    if (!found.valid || found.path.empty()) {
        const bool uid = name_.size() >= 3 && std::equal(name_.begin(), name_.begin() + 3, "UID",
                                                         [](char a, char b) { return std::toupper(a) == b; });
        return failure(HubFault::notFound, uid ? "no hub with " + name_ + " answers" : "Invalid Serial Port!");
    }
    path_ = found.path;
    return {};
}

namespace {
// How often a wait for the hub asks the interrupt check.
constexpr std::chrono::milliseconds kWaitSlice{100};
}  // namespace

HubError HubSession::waitForOtherThreads(std::unique_lock<std::mutex>& lock) {
    const auto self = std::this_thread::get_id();
    const auto deadline = std::chrono::steady_clock::now() + kCommandClaimTimeout;
    const auto free = [&] { return owner_ == std::thread::id{} || owner_ == self; };
    while (!free()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return failure(HubFault::timeout, "another thread held the hub on " + name_ + " too long");
        freed_.wait_for(lock, kWaitSlice, free);
        if (free() || !interrupted_) continue;
        lock.unlock();  // the check may wait for the interpreter
        const bool stop = interrupted_();
        lock.lock();
        if (stop) return failure(HubFault::interrupted, "interrupted while another thread held " + name_);
    }
    return {};
}

// The claim's wait, in slices, so that an interrupt is seen within one.
std::unique_ptr<HubSession::Claim> HubSession::claimInSlices(HubError& error) {
    const auto deadline = std::chrono::steady_clock::now() + kCommandClaimTimeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const auto wait = interrupted_ ? std::clamp(left, std::chrono::milliseconds(0), kWaitSlice) : left;
        auto claim = std::make_unique<Claim>(path_, wait);
        if (claim->claim.held()) return claim;
        const auto& why = claim->claim.failure();
        const bool busy = why && (why->fault == OpenFault::held || why->fault == OpenFault::busy);
        if (busy && left > kWaitSlice && interrupted_ && interrupted_()) {
            error = failure(HubFault::interrupted, "interrupted while waiting for the hub on " + path_);
            return nullptr;
        }
        if (!busy || left <= kWaitSlice) {
            error = claimFailure(claim->claim, path_);
            return nullptr;
        }
    }
}

// The first enter of a thread reserves the session, then waits for the
// claim without the lock, so that other threads' waits see their interrupts.
HubError HubSession::enter(bool hold) {
    std::unique_lock lock(mutex_);
    if (HubError waited = waitForOtherThreads(lock); !waited.ok()) return waited;
    if (depth_ == 0) {
        if (HubError resolved = resolve(); !resolved.ok()) return resolved;
        owner_ = std::this_thread::get_id();
        depth_ = 1;
        lock.unlock();
        HubError error;
        auto claim = claimInSlices(error);
        lock.lock();
        if (!claim) {
            depth_ = 0;
            owner_ = {};
            freed_.notify_all();
            return error;
        }
        claim_ = std::move(claim);
    } else {
        ++depth_;
    }
    if (hold) ++holds_;
    return {};
}

void HubSession::leave() {
    std::lock_guard lock(mutex_);
    if (depth_ == 0) return;
    if (--depth_ > 0) return;
    holds_ = 0;
    claim_.reset();
    known_.reset();
    owner_ = {};
    freed_.notify_all();
}

HubError HubSession::hold() { return enter(true); }

void HubSession::release() {
    {
        std::lock_guard lock(mutex_);
        if (owner_ != std::this_thread::get_id() || holds_ == 0) return;
        --holds_;
    }
    leave();
}

HubError HubSession::checkPassword() const {
    if (!pw8_) return failure(HubFault::invalidArgument, "Invalid Password!");
    return {};
}

// The console's query; while held, the identify part once.
HubResult<HubDetails> HubSession::query() {
    if (holds_ > 0 && known_) {
        const Exchange states = sendCommand(path_, getPortStatesCommand());
        const auto text = states.ok() ? portstate::hubStateTextFromReply(states.reply) : std::nullopt;
        if (!states.ok()) return {{}, exchangeFailure(states, path_, "Query Error!")};
        if (!text) return {{}, failure(HubFault::refused, "the hub on " + path_ + " sent unreadable port states")};
        HubDetails details = *known_;
        details.states = statesOf(details.ports, *text);
        return {std::move(details), {}};
    }
    const QueryResult result = queryHub(path_);
    if (result.status != "OK") {
        if (result.openFailure) return {{}, failure(HubFault::notFound, openFailureText(*result.openFailure))};
        return {{}, failure(HubFault::notFound, result.status + " (no hub answers on " + path_ + ")")};
    }
    HubDetails details = detailsOf(result.record);
    if (holds_ > 0) known_ = details;
    return {std::move(details), {}};
}

HubResult<HubDetails> HubSession::details() {
    const Use use(*this, false);
    if (!use.error().ok()) return {{}, use.error()};
    return query();
}

HubResult<std::vector<bool>> HubSession::states() {
    HubResult<HubDetails> read = details();
    return {std::move(read.value.states), std::move(read.error)};
}

HubResult<std::string> HubSession::port() {
    std::lock_guard lock(mutex_);
    HubError error = resolve();
    return {error.ok() ? path_ : std::string(), std::move(error)};
}

HubError HubSession::protectedCommand(int operation, const std::string& line, const std::string& states8) {
    const auto op = static_cast<Operation>(operation);
    const Exchange exchange = sendCommand(path_, line);
    const ConsoleOutcome outcome = consoleOutcome(op, exchange, states8);
    if (outcome.success) return {};
    if (exchange.ok() && classifyReply(exchange.reply) == ReplyClass::PasswordRejected)
        return failure(HubFault::password, outcome.text);
    if (!exchange.ok()) return exchangeFailure(exchange, path_, outcome.text);
    return failure(HubFault::refused, outcome.text);
}

// What `hubctl /S:PORT <letter>:<ports>` does, for each (letter, ports) in
// turn on the states read once.
HubError HubSession::sendStates(char letter, const std::vector<int>& ports, bool allPorts) {
    return setStatesBy({{letter, allPorts ? std::string("ALL") : portList(ports)}});
}

HubError HubSession::setStatesBy(const std::vector<std::pair<char, std::string>>& operands) {
    if (HubError bad = checkPassword(); !bad.ok()) return bad;
    const Use use(*this, false);
    if (!use.error().ok()) return use.error();
    const HubResult<HubDetails> read = query();
    if (!read.ok()) return read.error;
    portstate::StateWord word = wordOf(read.value.states);
    std::string states8 = portstate::states8Of(word);
    for (const auto& [letter, list] : operands) {
        if (list.empty()) continue;
        const portstate::StateUpdate update =
            portstate::Update_Port_State(letter, std::string(1, letter) + ":" + list, read.value.ports, word);
        if (update.status != portstate::kStatusOK) return failure(HubFault::invalidArgument, update.status);
        word = update.word;
        states8 = update.states8;
    }
    return protectedCommand(int(Operation::SetPortStates), setPortStatesCommand(*pw8_, states8), states8);
}

HubError HubSession::setStates(const std::vector<std::pair<int, bool>>& changes) {
    std::vector<int> on, off;
    for (const auto& [port, state] : changes) (state ? on : off).push_back(port);
    return setStatesBy({{'1', portList(on)}, {'0', portList(off)}});
}

HubError HubSession::toggle(const std::vector<int>& ports) { return sendStates('T', ports, false); }

HubError HubSession::setAll(bool on) { return sendStates(on ? '1' : '0', {}, true); }

HubError HubSession::saveStates() {
    if (HubError bad = checkPassword(); !bad.ok()) return bad;
    const Use use(*this, false);
    if (!use.error().ok()) return use.error();
    return protectedCommand(int(Operation::SavePortStates), consoleSavePortStatesCommand(*pw8_));
}

HubResult<std::string> HubSession::description() {
    HubResult<HubDetails> read = details();
    return {std::move(read.value.description), std::move(read.error)};
}

HubError HubSession::setDescription(const std::string& text) {
    if (HubError bad = checkPassword(); !bad.ok()) return bad;
    if (utf8Length(text) > kConsoleDescriptionChars)
        return failure(HubFault::invalidArgument, "Error: string exceeds 50 maximum characters!");
    if (!isSendableText(text)) return failure(HubFault::invalidArgument, "Error Writing Description String");
    const Use use(*this, false);
    if (!use.error().ok()) return use.error();
    HubError error = protectedCommand(int(Operation::WriteDescription), writeDescriptionCommand(*pw8_, text));
    if (error.ok() && known_) known_->description = text;
    return error;
}

HubError HubSession::changePassword(const std::string& newPassword) {
    if (HubError bad = checkPassword(); !bad.ok()) return bad;
    const auto newPw8 = consolePasswordField(newPassword);
    if (!newPw8) return failure(HubFault::invalidArgument, "Invalid New Password!");
    const Use use(*this, false);
    if (!use.error().ok()) return use.error();
    HubError error = protectedCommand(int(Operation::ChangePassword), changePasswordCommand(*pw8_, *newPw8));
    if (!error.ok()) return error;
    std::lock_guard lock(mutex_);
    password_ = newPassword;
    pw8_ = newPw8;
    return {};
}

HubError HubSession::restoreDefaults() {
    if (HubError bad = checkPassword(); !bad.ok()) return bad;
    const Use use(*this, false);
    if (!use.error().ok()) return use.error();
    known_.reset();  // the description went back too
    HubError error = protectedCommand(int(Operation::RestoreDefaults), restoreDefaultsCommand(*pw8_));
    if (!error.ok()) return error;
    std::lock_guard lock(mutex_);
    password_.clear();
    pw8_ = std::string(kDefaultPassword);
    return {};
}

HubError HubSession::reset() {
    if (HubError bad = checkPassword(); !bad.ok()) return bad;
    const Use use(*this, false);
    if (!use.error().ok()) return use.error();
    return protectedCommand(int(Operation::ResetHub), resetHubCommand(*pw8_));
}

std::vector<HubDetails> discoverHubs() {
    std::vector<HubDetails> found;
    for (const HubInfo& record : findHubs(getSerialPortList()).hubs) found.push_back(detailsOf(record));
    return found;
}

}  // namespace hublink
