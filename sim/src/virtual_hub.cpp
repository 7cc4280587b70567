#include "sim/virtual_hub.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "hub_model.h"
#include "line_assembler.h"
#include "pty_device.h"
#include "reply_plan.h"

namespace sim {

namespace {

// Bounds how long the serving thread can take to notice a stop.
constexpr int kPollMillis = 50;
constexpr int kWriteLimitMillis = 1000;
constexpr auto kVanishWait = std::chrono::seconds(2);

}  // namespace

struct VirtualHub::Impl {
    explicit Impl(HubConfig config)
        : model(config), wireTiming(config.wireTiming), resetSilence(config.resetSilence) {}

    void serve();
    void handleBytes(std::string_view bytes);
    void handleLine(const std::string& line);
    std::optional<Fault> takeFault();  // caller holds the mutex
    void sendReply(const std::string& reply, const Fault* fault);
    bool writePiece(const std::string& piece);
    bool pause(int millis);
    bool interrupted() const { return stopRequested || vanishRequested; }
    void closeDevice();

    mutable std::mutex mutex;  // guards the members up to `deviceClosed`
    std::condition_variable closedCv;
    HubModel model;
    std::vector<std::string> received;
    std::deque<Fault> faults;
    std::optional<Fault> persistentFault;
    bool settingsOk = true;
    bool deviceClosed = false;

    const bool wireTiming;
    const std::chrono::milliseconds resetSilence;
    Pty pty = openRawPty();  // descriptors used only by the serving thread
    WakePipe wake;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> vanishRequested{false};
    std::atomic<std::size_t> bytesIn{0}, bytesOut{0};
    LineAssembler assembler;
    std::chrono::steady_clock::time_point silentUntil{};
    std::thread thread;
};

void VirtualHub::Impl::serve() {
    char buffer[512];
    while (!stopRequested) {
        if (vanishRequested) return closeDevice();
        pollfd fds[2] = {{pty.master.get(), POLLIN, 0}, {wake.readFd(), POLLIN, 0}};
        if (::poll(fds, 2, kPollMillis) <= 0) continue;
        if (fds[0].revents & POLLIN) {
            ssize_t n = ::read(pty.master.get(), buffer, sizeof buffer);
            if (n > 0) {
                bytesIn += std::size_t(n);
                handleBytes(std::string_view(buffer, std::size_t(n)));
            }
            if (!pty.master.valid()) return;
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            pause(kPollMillis);  // not expected while we hold the slave; don't spin
        }
    }
}

void VirtualHub::Impl::handleBytes(std::string_view bytes) {
    for (const std::string& line : assembler.feed(bytes)) {
        handleLine(line);
        if (interrupted() || !pty.master.valid()) return;
    }
}

void VirtualHub::Impl::handleLine(const std::string& line) {
    bool lineOk = lineIsRaw9600(pty.master.get());
    HubModel::Outcome outcome;
    std::optional<Fault> fault;
    {
        std::lock_guard lock(mutex);
        received.push_back(line + "\r");
        settingsOk = settingsOk && lineOk;
        // A restarting hub, or one handed to its loader, hears nothing.
        if (model.inFirmwareUpdate() || std::chrono::steady_clock::now() < silentUntil) return;
        outcome = model.handle(line);
        fault = takeFault();
    }
    // A pty delivers the command at once; a real line needs its character
    // times first (the line plus its CR), so a paced hub waits for them.
    if (wireTiming && !pause(static_cast<int>((wireMicros(line.size() + 1) + 999) / 1000))) return;
    sendReply(outcome.reply, fault ? &*fault : nullptr);
    if (outcome.after == HubModel::After::Reset)
        silentUntil = std::chrono::steady_clock::now() + resetSilence;
}

std::optional<Fault> VirtualHub::Impl::takeFault() {
    if (faults.empty()) return persistentFault;
    Fault fault = std::move(faults.front());
    faults.pop_front();
    return fault;
}

void VirtualHub::Impl::sendReply(const std::string& reply, const Fault* fault) {
    ReplyPlan plan = planReply(reply, fault);
    if (plan.vanish) return closeDevice();
    if (plan.delayMillis > 0 && !pause(plan.delayMillis)) return;
    for (std::size_t i = 0; i < plan.pieces.size(); ++i) {
        if (i > 0 && plan.gapMillis > 0 && !pause(plan.gapMillis)) return;
        if (!writePiece(plan.pieces[i])) return;
    }
}

bool VirtualHub::Impl::writePiece(const std::string& piece) {
    bytesOut += piece.size();
    if (wireTiming) return writePaced(pty.master.get(), piece);
    return writeAll(pty.master.get(), piece, kWriteLimitMillis);
}

// Sleeps unless asked to stop or vanish; false when cut short that way.
bool VirtualHub::Impl::pause(int millis) {
    pollfd wakeFd{wake.readFd(), POLLIN, 0};
    ::poll(&wakeFd, 1, millis);
    return !interrupted();
}

// Closing the master removes the pty's path and hangs up every client; the
// slave is ours and has no further use. Done under the lock so that vanished()
// is true for anyone who has seen the hang-up.
void VirtualHub::Impl::closeDevice() {
    {
        std::lock_guard lock(mutex);
        pty.master.reset();
        pty.slave.reset();
        deviceClosed = true;
    }
    closedCv.notify_all();
}

VirtualHub::VirtualHub(HubConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {
    impl_->thread = std::thread(&Impl::serve, impl_.get());
}

VirtualHub::~VirtualHub() {
    impl_->stopRequested = true;
    impl_->wake.signal();
    impl_->thread.join();
}

const std::string& VirtualHub::path() const { return impl_->pty.path; }

std::size_t VirtualHub::bytesExchanged() const { return impl_->bytesIn + impl_->bytesOut; }

std::vector<std::string> VirtualHub::received() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->received;
}

void VirtualHub::clearReceived() {
    std::lock_guard lock(impl_->mutex);
    impl_->received.clear();
}

void VirtualHub::pushFault(Fault fault) {
    std::lock_guard lock(impl_->mutex);
    impl_->faults.push_back(std::move(fault));
}

void VirtualHub::setPersistentFault(Fault fault) {
    std::lock_guard lock(impl_->mutex);
    impl_->persistentFault = std::move(fault);
}

void VirtualHub::clearFaults() {
    std::lock_guard lock(impl_->mutex);
    impl_->faults.clear();
    impl_->persistentFault.reset();
}

void VirtualHub::vanish() {
    impl_->vanishRequested = true;
    impl_->wake.signal();
    std::unique_lock lock(impl_->mutex);
    impl_->closedCv.wait_for(lock, kVanishWait, [this] { return impl_->deviceClosed; });
}

bool VirtualHub::vanished() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->deviceClosed;
}

std::uint32_t VirtualHub::states() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->model.states();
}

std::uint32_t VirtualHub::powerOnStates() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->model.powerOnStates();
}

std::string VirtualHub::password() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->model.password();
}

std::string VirtualHub::description() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->model.description();
}

bool VirtualHub::inFirmwareUpdate() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->model.inFirmwareUpdate();
}

bool VirtualHub::lineSettingsOk() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->settingsOk;
}

}  // namespace sim
