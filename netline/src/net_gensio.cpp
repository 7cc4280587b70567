#include "net_gensio.h"

#include <gensio/gensio.h>
#include <gensio/gensio_unix.h>
#include <gensio/sergensio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include "net_cert.h"
#include "net_socket.h"

namespace hublink::net {
namespace {

using Clock = GensioLink::Clock;

constexpr auto kCloseBound = std::chrono::milliseconds(500);
constexpr std::size_t kEarlyKept = 256;
constexpr std::size_t kFirstCertificateGuess = 4096;
constexpr int kReadyTurns = 20;  // turns of the event loop without waiting

// gensio loads its layers as plug-ins on first use; allocations take turns.
std::mutex& allocationMutex() {
    static std::mutex mutex;
    return mutex;
}

gensio_time timeLeft(Clock::time_point deadline) {
    const auto left = std::max(deadline - Clock::now(), Clock::duration::zero());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    return {ns / 1'000'000'000, static_cast<int32_t>(ns % 1'000'000'000)};
}

LinkStatus statusOf(int err) {
    switch (err) {
        case 0: return LinkStatus::ok;
        case GE_TIMEDOUT: return LinkStatus::timedOut;
        case GE_CONNREFUSE: return LinkStatus::refused;
        case GE_REMCLOSE:
        case GE_SHUTDOWN: return LinkStatus::hungUp;
        case GE_CERTNOTFOUND:
        case GE_CERTREVOKED:
        case GE_CERTEXPIRED:
        case GE_CERTINVALID:
        case GE_KEYINVALID:
        case GE_AUTHREJECT: return LinkStatus::badCertificate;
        case GE_NOTSUP: return LinkStatus::noSerialControl;
        case GE_INCONSISTENT: return LinkStatus::settingRefused;
        default: return LinkStatus::failed;
    }
}

// gensio 2.6 goes on using the first os handler a process gave it after that
// one is freed (its classes' data: invalid reads under valgrind from the
// second connection on, a crash after a few hundred). Os handlers are never
// freed: the one a link lets go of serves the next link, so a process holds
// as many (an epoll descriptor each) as it ever had links at once, and each
// is used by one thread at a time, so that gensio needs no wake signal.
class EventLoops {
public:
    GensioLink::EventLoop take() {
        std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            const GensioLink::EventLoop loop = idle_.back();
            idle_.pop_back();
            return loop;
        }
        return made();
    }
    void giveBack(GensioLink::EventLoop loop) {
        std::lock_guard lock(mutex_);
        idle_.push_back(loop);
    }

private:
    static GensioLink::EventLoop made() {
        std::lock_guard lock(allocationMutex());
        gensio_os_funcs* os = nullptr;
        if (gensio_unix_funcs_alloc(nullptr, 0, &os) != 0) return {};
        gensio_waiter* waiter = gensio_os_funcs_alloc_waiter(os);
        if (waiter == nullptr) return {};  // the handler stays: gensio may know it already
        askQuickAcks(os, [](gensio_os_funcs* sender) {
            if (auto* link = static_cast<GensioLink*>(gensio_os_funcs_get_data(sender))) link->onSent();
        });
        return {os, waiter};
    }
    std::mutex mutex_;
    std::vector<GensioLink::EventLoop> idle_;
};

EventLoops& eventLoops() {
    static auto* loops = new EventLoops;  // never destroyed: threads may still give back
    return *loops;
}

GensioLink* linkOf(void* data) { return static_cast<GensioLink*>(data); }

int eventCallback(gensio*, void* user, int event, int err, unsigned char* buf, gensiods* len,
                  const char* const* aux) {
    return linkOf(user)->onEvent({event, err, buf, len, aux});
}

void openedCallback(gensio*, int err, void* user) { linkOf(user)->onOpened(err); }

void closedCallback(gensio*, void* user) { linkOf(user)->onClosed(); }

void settingCallback(sergensio*, int err, unsigned value, void* data) {
    auto* setting = static_cast<GensioLink::Setting*>(data);
    setting->answered = true;
    setting->err = err;
    setting->value = value;
    setting->link->wake();
}

void logCallback(gensio_os_funcs* os, gensio_log_levels, const char* format, va_list args) {
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    if (auto* link = linkOf(gensio_os_funcs_get_data(os))) link->onLog(line);
}

}  // namespace

GensioLink::GensioLink() {
    const EventLoop loop = eventLoops().take();
    if (loop.os == nullptr) return;
    os_ = loop.os;
    waiter_ = loop.waiter;
    gensio_os_funcs_set_vlog(os_, logCallback);
    gensio_os_funcs_set_data(os_, this);
}

GensioLink::~GensioLink() {
    close();
    if (os_ == nullptr) return;
    gensio_os_funcs_set_data(os_, nullptr);
    eventLoops().giveBack({os_, waiter_});
}

template <typename Done>
bool GensioLink::waitUntil(Done done, Clock::time_point deadline) {
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        gensio_time left = timeLeft(deadline);
        gensio_os_funcs_wait(os_, waiter_, 1, &left);
    }
    return true;
}

void GensioLink::wake() { gensio_os_funcs_wake(os_, waiter_); }

int GensioLink::allocate(const std::string& telnet, const std::string& lower) {
    std::lock_guard lock(allocationMutex());
    io_ = nullptr;
    agreement_ = nullptr;
    if (telnet.empty()) return str_to_gensio(lower.c_str(), os_, eventCallback, this, &io_);
    gensio* bottom = nullptr;
    if (const int err = str_to_gensio(lower.c_str(), os_, nullptr, nullptr, &bottom); err != 0)
        return err;
    agreement_ = std::make_shared<BinaryAgreement>();
    gensio* middle = withBinaryAsked(os_, bottom, agreement_);
    if (middle == nullptr) return GE_NOMEM;
    const int err = str_to_gensio_child(middle, telnet.c_str(), os_, eventCallback, this, &io_);
    if (err != 0) {
        gensio_free(middle);
        io_ = nullptr;
    }
    return err;
}

LinkStatus GensioLink::conclude(int err) {
    lastError_ = err;
    if (err == 0) detail_.clear();
    return statusOf(err);
}

std::string GensioLink::failureText() const {
    return detail_.empty() ? gensio_err_to_str(lastError_) : detail_;
}

LinkStatus GensioLink::connect(const std::string& telnet, const std::string& lower,
                               const std::string& tlsHost, Clock::time_point deadline) {
    if (!usable()) return conclude(GE_NOMEM);
    close();
    resetState(tlsHost);
    int err = allocate(telnet, lower);
    if (err == 0) err = gensio_open(io_, openedCallback, this);
    if (err == 0) err = waitUntil([this] { return opened_; }, deadline) ? openError_ : GE_TIMEDOUT;
    if (err != 0) abandon();
    if (err == 0) gensio_set_read_callback_enable(io_, true);
    return conclude(err);
}

void GensioLink::resetState(const std::string& tlsHost) {
    opened_ = false;
    openError_ = 0;
    hungUp_ = false;
    early_.clear();
    detail_.clear();
    lastError_ = 0;
    tlsHost_ = tlsHost;
    lineRoundTrip_ = Clock::duration::max();
    firstConfirmation_ = {};
    certificateChecked_ = false;
    reachedServer_ = false;
    nvt_.reset();
}

void GensioLink::onOpened(int err) {
    opened_ = true;
    openError_ = err;
    wake();
}

void GensioLink::onSent() { reachedServer_ = true; }

void GensioLink::onClosed() {
    closed_ = true;
    wake();
}

// Kept only when nothing more precise was said.
void GensioLink::onLog(const std::string& line) {
    if (detail_.empty()) detail_ = line;
}

int GensioLink::onEvent(const Event& event) {
    switch (event.kind) {
        case GENSIO_EVENT_READ: return onRead(event);
        case GENSIO_EVENT_POSTCERT_VERIFY:
            return checkCertificate(event.err, event.aux != nullptr ? event.aux[0] : nullptr);
        default: return GE_NOTSUP;
    }
}

int GensioLink::onRead(const Event& event) {
    if (event.err != 0) hungUp_ = true;
    const std::size_t room = kEarlyKept - std::min(kEarlyKept, early_.size());
    if (event.err == 0 && *event.len > 0) lastInput_ = Clock::now();
    if (event.err == 0)
        early_.append(reinterpret_cast<const char*>(event.buf),
                      std::min<std::size_t>(*event.len, room));
    wake();
    return 0;  // every byte taken
}

std::string GensioLink::peerCertificate() {
    std::string pem(kFirstCertificateGuess, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        gensiods len = pem.size();
        if (gensio_control(io_, GENSIO_CONTROL_DEPTH_FIRST, GENSIO_CONTROL_GET, GENSIO_CONTROL_CERT,
                           pem.data(), &len) != 0)
            return {};
        if (len < pem.size()) return pem.substr(0, len);
        pem.assign(len + 1, '\0');
    }
    return {};
}

int GensioLink::checkCertificate(int err, const char* why) {
    if (err != 0) {
        detail_ = std::string("the certificate is not trusted: ") +
                  (why != nullptr ? why : gensio_err_to_str(err));
        return GE_NOTSUP;  // gensio fails the connection
    }
    if (!certificateNamesHost(peerCertificate(), tlsHost_)) {
        detail_ = "the certificate is not made out to " + tlsHost_;
        return GE_CERTINVALID;
    }
    certificateChecked_ = true;
    return GE_NOTSUP;
}

// Asks for setting `index`; its answer comes through settingCallback.
int GensioLink::askSetting(std::size_t index) {
    using Request = int (*)(sergensio*, unsigned, sergensio_done, void*);
    constexpr Request kRequests[] = {sergensio_baud, sergensio_datasize, sergensio_parity,
                                     sergensio_stopbits};
    Setting& setting = settings_.at(index);
    return kRequests[index](gensio_to_sergensio(io_), setting.wanted, settingCallback, &setting);
}

// Waits until the server answered settings [0, count), noting how soon the
// first answer came.
int GensioLink::awaitSettings(std::size_t count, Clock::time_point asked, Clock::time_point deadline) {
    const auto answered = [&] {
        return std::all_of(settings_.begin(), settings_.begin() + count,
                           [](const Setting& s) { return s.answered; });
    };
    const auto first = [&] { return hungUp_ || settings_[0].answered; };
    if (!waitUntil(first, deadline)) return GE_TIMEDOUT;
    if (!hungUp_) {
        lineRoundTrip_ = std::min(lineRoundTrip_, Clock::now() - asked);
        if (firstConfirmation_ == Clock::time_point{}) firstConfirmation_ = Clock::now();
    }
    if (!waitUntil([&] { return hungUp_ || answered(); }, deadline)) return GE_TIMEDOUT;
    return hungUp_ ? GE_REMCLOSE : 0;
}

int GensioLink::settingsVerdict() {
    for (const Setting& s : settings_) {
        if (s.err != 0)
            detail_ =
                std::string("the server refused the ") + s.name + ": " + gensio_err_to_str(s.err);
        else if (s.value != s.wanted)
            detail_ = std::string("the server set ") + s.name + " " + std::to_string(s.value) +
                      " instead of " + std::to_string(s.wanted);
        if (s.err != 0 || s.value != s.wanted) return GE_INCONSISTENT;
    }
    return 0;
}

// The purge goes first: the server takes requests in order, so by its
// answers to the settings it has dropped what the device had sent, and what
// it had passed on already came before those answers. All in one go: with
// quick acknowledgements (see net_socket.h) the server's Nagle holds none of
// its answers.
LinkStatus GensioLink::setLine(unsigned baud, Clock::time_point deadline) {
    sergensio* serial = gensio_to_sergensio(io_);
    if (serial == nullptr) return conclude(GE_NOTSUP);
    settings_ = {{{this, "speed", baud},
                  {this, "data bits", 8},
                  {this, "parity", SERGENSIO_PARITY_NONE},
                  {this, "stop bits", 1}}};
    const auto asked = Clock::now();
    int err = sergensio_flush(serial, SERGIO_FLUSH_RCV_BUFFER);
    for (std::size_t i = 0; err == 0 && i < settings_.size(); ++i) err = askSetting(i);
    if (err == 0) err = awaitSettings(settings_.size(), asked, deadline);
    return conclude(err != 0 ? err : settingsVerdict());
}

// Outside synchronous mode: there an answer is taken in only while a read
// waits, and a read would take the input too.
LinkStatus GensioLink::changeSpeed(unsigned baud, Clock::time_point deadline) {
    if (gensio_to_sergensio(io_) == nullptr) return conclude(GE_NOTSUP);
    leaveSync();
    settings_[0] = {this, "speed", baud};
    const auto asked = Clock::now();
    int err = askSetting(0);
    if (err == 0) err = awaitSettings(1, asked, deadline);
    if (err == 0) err = settingsVerdict();
    if (err != 0) return conclude(err);
    return enterSync();
}

void GensioLink::leaveSync() {
    if (sync_) gensio_clear_sync(io_);
    sync_ = false;
    gensio_set_read_callback_enable(io_, true);
}

bool GensioLink::hangsUpBefore(Clock::time_point until) {
    waitUntil([this] { return hungUp_; }, until);
    return hungUp_;
}

LinkStatus GensioLink::enterSync() {
    gensio_set_read_callback_enable(io_, false);
    const int err = gensio_set_sync(io_);
    sync_ = err == 0;
    return conclude(err);
}

LinkStatus GensioLink::readSome(std::uint8_t* buf, std::size_t len, std::size_t& got,
                                Clock::time_point deadline) {
    gensiods count = 0;
    gensio_time left = timeLeft(deadline);
    const int err = gensio_read_s(io_, &count, buf, len, &left);
    const bool nvt = agreement_ != nullptr && !agreement_->receiving;
    got = nvt ? nvt_.decode(buf, count) : count;
    if (got > 0) lastInput_ = Clock::now();
    return conclude(err);
}

LinkStatus GensioLink::writeAll(const std::uint8_t* data, std::size_t len, std::size_t& written,
                                Clock::time_point deadline) {
    std::vector<std::uint8_t> encoded;
    const std::size_t asked = len;
    if (agreement_ != nullptr && !agreement_->sending) {
        encoded = nvtEncoded({data, len});
        data = encoded.data();
        len = encoded.size();
    }
    gensiods count = 0;
    gensio_time left = timeLeft(deadline);
    const int err = gensio_write_s(io_, &count, data, len, &left);
    written = std::min<std::size_t>(count, asked);
    return conclude(err == 0 && count < len ? GE_TIMEDOUT : err);
}

LinkStatus GensioLink::dropArrived(std::size_t& dropped) {
    std::uint8_t sink[256];
    dropped = 0;
    for (;;) {
        std::size_t got = 0;
        const LinkStatus status = readSome(sink, sizeof sink, got, Clock::now());
        dropped += got;
        const bool none = status == LinkStatus::timedOut || (status == LinkStatus::ok && got == 0);
        if (none) return conclude(0);
        if (status != LinkStatus::ok) return status;
    }
}

// Reads at least once, so that a server that hung up is noticed.
LinkStatus GensioLink::dropUntilQuiet(Clock::duration quiet, Clock::time_point since,
                                      Clock::time_point deadline) {
    std::uint8_t sink[256];
    for (;;) {
        const Clock::time_point quietAt = std::max(since, lastInput_) + quiet;
        std::size_t got = 0;
        const LinkStatus status = readSome(sink, sizeof sink, got, std::min(deadline, quietAt));
        if (status != LinkStatus::ok && status != LinkStatus::timedOut) return status;
        const Clock::time_point now = Clock::now();
        if (now >= deadline || (got == 0 && now >= quietAt)) return conclude(0);
    }
}

void GensioLink::idle(Clock::time_point until) {
    waitUntil([] { return false; }, until);
}

void GensioLink::abandon() {
    if (io_ == nullptr) return;
    closed_ = false;
    if (gensio_close(io_, closedCallback, this) == 0)
        waitUntil([this] { return closed_; }, Clock::now() + kCloseBound);
    gensio_free(io_);
    io_ = nullptr;
    finishFrees();
}

// gensio_free of a stack whose open failed (a TLS one, say) completes on the
// event loop: without a few more turns of it, the whole stack leaked.
void GensioLink::finishFrees() {
    runReady([] { return false; });
}

template <typename Done>
void GensioLink::runReady(Done done) {
    for (int turn = 0; turn < kReadyTurns && !done(); ++turn) {
        gensio_time none{0, 0};
        if (gensio_os_funcs_service(os_, &none) != 0) return;  // nothing left to run
    }
}

void GensioLink::close() {
    if (io_ != nullptr && sync_) gensio_clear_sync(io_);
    if (io_ != nullptr) gensio_set_read_callback_enable(io_, false);
    sync_ = false;
    abandon();
}

}  // namespace hublink::net
