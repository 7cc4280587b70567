#include "sim/virtual_hub.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "hub_model.h"
#include "isp_loader.h"
#include "line_assembler.h"
#include "pty_device.h"
#include "reply_plan.h"

namespace sim {

namespace {

// Bounds how long the serving thread can take to notice a stop.
constexpr int kPollMillis = 50;
constexpr int kWriteLimitMillis = 1000;
constexpr auto kVanishWait = std::chrono::seconds(2);
constexpr int kCommandBaud = 9600;
constexpr int kLoaderBaud = 115200;

using Clock = std::chrono::steady_clock;
using WriteListener = std::function<void(std::size_t, std::uint16_t)>;

// Whether `fault` strikes a line of `command`; a fitting line it lets pass
// counts down its `after`.
bool strikes(Fault& fault, std::string_view command) {
    if (!fault.command.empty() && fault.command != command) return false;
    if (fault.after <= 0) return true;
    --fault.after;
    return false;
}

void requireRecord(bool record) {
    if (!record)
        throw std::logic_error("VirtualHub: the record is kept only with HubConfig::record");
}

}  // namespace

struct VirtualHub::Impl {
    explicit Impl(HubConfig config)
        : model(config),
          persistentFaults(config.faults),
          record(config.record),
          wireTiming(config.wireTiming),
          resetSilence(config.resetSilence),
          eraseTime(config.eraseTime),
          loaderListen(config.loaderListen),
          bootTime(config.bootTime) {
        loader.setStandingFaults(config.loaderFaults);
    }

    void serve();
    int pollMillis();
    void handleBytes(std::string_view bytes);
    void handleLine(const std::string& line);
    bool loaderOwnsPort();
    void handleLoaderBytes(std::string_view bytes);
    void carryOut(const LoaderStep& step, const WriteListener& listener, Clock::time_point arrived);
    void expireTimers();
    void restartChip();       // caller holds the mutex
    void startApplication();  // caller holds the mutex
    std::optional<Fault> takeFault(std::string_view command);  // caller holds the mutex
    void sendPlan(const ReplyPlan& plan, int baud);
    bool writePiece(const std::string& piece, int baud);
    bool pause(int millis);
    // Sleeps until `bytes` characters sent at `baud` would have arrived, had
    // they started at `from`; to the microsecond, not the millisecond.
    bool pauseForWire(Clock::time_point from, std::size_t bytes, int baud);
    bool interrupted() const { return stopRequested || vanishRequested; }
    void closeDevice();

    mutable std::mutex mutex;  // guards the members up to `writeListener`
    std::condition_variable closedCv;
    HubModel model;
    std::vector<std::string> received;
    std::deque<Fault> faults;
    std::vector<Fault> persistentFaults;
    bool settingsOk = true;
    bool deviceClosed = false;
    Clock::time_point silentUntil{};
    bool loaderActive = false;
    std::optional<Clock::time_point> listenUntil;  // the loader's wait for a first byte
    std::optional<Clock::time_point> bootUntil;    // the application starts then
    IspLoader loader;
    PacketAssembler packets;
    std::vector<IspPacket> loaderPackets;
    int completedWrites = 0;
    bool loaderSettingsOk = true;
    WriteListener writeListener;

    const bool record;
    const bool wireTiming;
    const std::chrono::milliseconds resetSilence, eraseTime, loaderListen, bootTime;
    Pty pty = openRawPty();  // descriptors used only by the serving thread
    WakePipe wake;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> vanishRequested{false};
    std::atomic<std::size_t> bytesIn{0}, bytesOut{0};
    LineAssembler assembler;  // serving thread only
    std::thread thread;
};

void VirtualHub::Impl::serve() {
    char buffer[512];
    while (!stopRequested) {
        if (vanishRequested) return closeDevice();
        pollfd fds[2] = {{pty.master.get(), POLLIN, 0}, {wake.readFd(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, pollMillis());
        expireTimers();
        if (ready <= 0) continue;
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

// Wakes in time for the end of the listen window or of the boot.
int VirtualHub::Impl::pollMillis() {
    std::lock_guard lock(mutex);
    int millis = kPollMillis;
    for (const auto& due : {listenUntil, bootUntil}) {
        if (!due) continue;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now());
        millis = std::clamp(int(left.count()), 0, millis);
    }
    return millis;
}

// Lines go one at a time: the line that hands the port to the loader leaves
// the bytes behind it to the loader.
void VirtualHub::Impl::handleBytes(std::string_view bytes) {
    while (!bytes.empty() && !interrupted() && pty.master.valid()) {
        if (loaderOwnsPort()) return handleLoaderBytes(bytes);
        const std::size_t cr = bytes.find('\r');
        const std::size_t take = cr == std::string_view::npos ? bytes.size() : cr + 1;
        for (const std::string& line : assembler.feed(bytes.substr(0, take))) handleLine(line);
        bytes.remove_prefix(take);
    }
}

void VirtualHub::Impl::handleLine(const std::string& line) {
    const Clock::time_point arrived = Clock::now();
    bool lineOk = lineIsRaw(pty.master.get(), kCommandBaud);
    HubModel::Outcome outcome;
    std::optional<Fault> fault;
    {
        std::lock_guard lock(mutex);
        if (record) received.push_back(line + "\r");
        settingsOk = settingsOk && lineOk;
        if (Clock::now() < silentUntil) return;  // a restarting hub hears nothing
        outcome = model.handle(line);
        fault = takeFault(HubModel::commandOf(line));
        if (outcome.after == HubModel::After::Loader) {
            loaderActive = true;
            loader.restart();
            packets.clear();
        }
    }
    // A pty delivers the command at once; a real line needs its character
    // times first (the line plus its CR), so a paced hub waits for them.
    if (wireTiming && !pauseForWire(arrived, line.size() + 1, kCommandBaud)) return;
    sendPlan(planReply(outcome.reply, fault ? &*fault : nullptr), kCommandBaud);
    std::lock_guard lock(mutex);
    if (outcome.after == HubModel::After::Reset) silentUntil = Clock::now() + resetSilence;
    // The loader's listen window opens once the host has been told to go on.
    if (outcome.after == HubModel::After::Loader && loaderActive)
        listenUntil = Clock::now() + loaderListen;
}

bool VirtualHub::Impl::loaderOwnsPort() {
    std::lock_guard lock(mutex);
    return loaderActive;
}

void VirtualHub::Impl::handleLoaderBytes(std::string_view bytes) {
    const auto now = Clock::now();
    const bool lineOk = lineIsRaw(pty.master.get(), kLoaderBaud);
    LoaderStep step;
    WriteListener listener;
    {
        std::lock_guard lock(mutex);
        if (now < silentUntil) return;  // the chip is still starting
        listenUntil.reset();            // a byte came: the loader stays
        // Bytes behind a whole packet came before its reply could have:
        // the chip handles one packet at a time and loses them.
        const auto fed = packets.feed(bytes, now);
        if (!fed.packet) return;
        if (record) loaderPackets.push_back(*fed.packet);
        loaderSettingsOk = loaderSettingsOk && lineOk;
        step = loader.handle(*fed.packet);
        if (step.written) {
            ++completedWrites;
            listener = writeListener;
        }
    }
    carryOut(step, listener, now);
}

void VirtualHub::Impl::carryOut(const LoaderStep& step, const WriteListener& listener,
                                Clock::time_point arrived) {
    if (wireTiming && !pauseForWire(arrived, kIspPacketSize, kLoaderBaud)) return;
    if (step.erase && !pause(step.eraseMillis.value_or(int(eraseTime.count())))) return;
    if (step.written && listener) listener(step.written->bytes, step.written->checksum);
    bytesIn += discardInput(pty.master.get());  // whatever came while the chip was busy
    sendPlan(step.reply, kLoaderBaud);
    if (!step.run) return;
    std::lock_guard lock(mutex);
    restartChip();
}

void VirtualHub::Impl::expireTimers() {
    std::lock_guard lock(mutex);
    const auto now = Clock::now();
    if (bootUntil && now >= *bootUntil) startApplication();
    if (!listenUntil || now < *listenUntil) return;
    listenUntil.reset();
    if (!loader.imageIncomplete() && !loader.mute()) startApplication();
}

// Until the application runs, the port stays the loader's and every byte is
// lost. A chip whose flash holds no whole image comes back into its loader.
void VirtualHub::Impl::restartChip() {
    silentUntil = Clock::now() + bootTime;
    packets.clear();
    loader.restart();
    if (!loader.imageIncomplete()) bootUntil = silentUntil;
}

void VirtualHub::Impl::startApplication() {
    loaderActive = false;
    listenUntil.reset();
    bootUntil.reset();
    assembler = LineAssembler();
    model.powerUp();
}

std::optional<Fault> VirtualHub::Impl::takeFault(std::string_view command) {
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (!strikes(*it, command)) continue;
        Fault fault = std::move(*it);
        faults.erase(it);
        return fault;
    }
    for (Fault& fault : persistentFaults)
        if (strikes(fault, command)) return fault;
    return std::nullopt;
}

void VirtualHub::Impl::sendPlan(const ReplyPlan& plan, int baud) {
    if (plan.vanish) return closeDevice();
    if (plan.delayMillis > 0 && !pause(plan.delayMillis)) return;
    for (std::size_t i = 0; i < plan.pieces.size(); ++i) {
        if (i > 0 && plan.gapMillis > 0 && !pause(plan.gapMillis)) return;
        if (!writePiece(plan.pieces[i], baud)) return;
    }
}

bool VirtualHub::Impl::writePiece(const std::string& piece, int baud) {
    bytesOut += piece.size();
    if (wireTiming) return writePaced(pty.master.get(), piece, baud);
    return writeAll(pty.master.get(), piece, kWriteLimitMillis);
}

bool VirtualHub::Impl::pauseForWire(Clock::time_point from, std::size_t bytes, int baud) {
    const Clock::time_point due = from + std::chrono::microseconds(wireMicros(bytes, baud));
    const auto whole = std::chrono::floor<std::chrono::milliseconds>(due - Clock::now());
    if (whole.count() > 0 && !pause(int(whole.count()))) return false;
    std::this_thread::sleep_until(due);
    return !interrupted();
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
    requireRecord(impl_->record);
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
    impl_->persistentFaults = {std::move(fault)};
}

void VirtualHub::clearFaults() {
    std::lock_guard lock(impl_->mutex);
    impl_->faults.clear();
    impl_->persistentFaults.clear();
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

bool VirtualHub::lineSettingsOk() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->settingsOk;
}

bool VirtualHub::inLoader() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->loaderActive;
}

void VirtualHub::pushLoaderFault(LoaderFault fault) {
    std::lock_guard lock(impl_->mutex);
    impl_->loader.pushFault(fault);
}

void VirtualHub::clearLoaderFaults() {
    std::lock_guard lock(impl_->mutex);
    impl_->loader.clearFaults();
}

std::vector<std::uint8_t> VirtualHub::flashImage() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->loader.image();
}

std::vector<std::array<std::uint8_t, 64>> VirtualHub::loaderPackets() const {
    requireRecord(impl_->record);
    std::lock_guard lock(impl_->mutex);
    return impl_->loaderPackets;
}

void VirtualHub::clearLoaderPackets() {
    std::lock_guard lock(impl_->mutex);
    impl_->loaderPackets.clear();
}

int VirtualHub::completedWrites() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->completedWrites;
}

bool VirtualHub::loaderLineSettingsOk() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->loaderSettingsOk;
}

void VirtualHub::enterLoader() {
    std::lock_guard lock(impl_->mutex);
    impl_->loader.eraseFlash();
    impl_->loader.restart();
    impl_->packets.clear();
    impl_->loaderActive = true;
    impl_->listenUntil.reset();
    impl_->bootUntil.reset();
    impl_->silentUntil = {};
}

void VirtualHub::setWriteListener(std::function<void(std::size_t, std::uint16_t)> listener) {
    std::lock_guard lock(impl_->mutex);
    impl_->writeListener = std::move(listener);
}

}  // namespace sim
