// The one place that knows gensio: one client connection on an event loop
// of its own while it lives (an os handler and selector that no other link
// uses meanwhile), so that lines used on different threads never share one
// and gensio never needs a wake signal.
// gensio's error numbers become a LinkStatus here and nowhere else; the words
// for a failure are in failureText(). Every wait ends by the caller's
// deadline.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "net_telnet_binary.h"

struct gensio;
struct gensio_os_funcs;
struct gensio_waiter;

namespace hublink::net {

enum class LinkStatus {
    ok,
    timedOut,
    refused,          // nothing listens there
    hungUp,           // the other end closed the connection
    badCertificate,   // not trusted, or not made out to the host
    noSerialControl,  // the stack has no RFC 2217 (setLine)
    settingRefused,   // the server refused or changed a line setting
    failed,           // anything else; failureText() says what
};

class GensioLink {
public:
    using Clock = std::chrono::steady_clock;

    GensioLink();
    ~GensioLink();  // closes (bounded) and frees everything
    GensioLink(const GensioLink&) = delete;
    GensioLink& operator=(const GensioLink&) = delete;

    // False when no os handler could be had; nothing else works then.
    bool usable() const { return waiter_ != nullptr; }

    // Allocates the gensio stack `lower` ("tcp,..." or "ssl,tcp,..."), with
    // `telnet` ("telnet(rfc2217)") on it unless that is empty, and opens it.
    // Telnet asks for BINARY both ways (see net_telnet_binary.h); where the
    // server refused it, reads and writes follow NVT's rule for CR.
    // `tlsHost`, when not empty, is the name the server's certificate must
    // carry. On failure nothing stays allocated.
    LinkStatus connect(const std::string& telnet, const std::string& lower,
                       const std::string& tlsHost, Clock::time_point deadline);

    // Whether every byte value crosses unchanged both ways: a raw stack, or
    // telnet with BINARY agreed in both directions.
    bool carriesBinary() const { return agreement_ == nullptr || agreement_->both(); }

    // Whether the server sent anything over a telnet stack (inside TLS:
    // after the handshake), telnet's negotiation included.
    bool serverSpoke() const { return agreement_ != nullptr && agreement_->heard > 0; }

    // Asks an RFC 2217 server to purge what the device sent so far and to
    // set `baud` 8N1, and waits until it confirmed all four settings.
    LinkStatus setLine(unsigned baud, Clock::time_point deadline);

    // The quickest answer to a line setting: a network round trip through
    // the server (max() before setLine).
    Clock::duration lineRoundTrip() const { return lineRoundTrip_; }

    // When the server first confirmed a line setting: it had opened the
    // device by then (the epoch before setLine).
    Clock::time_point firstConfirmation() const { return firstConfirmation_; }

    // Asks an RFC 2217 server on an open, synchronous line for another
    // speed and waits until it confirmed it. Input not yet read is dropped.
    LinkStatus changeSpeed(unsigned baud, Clock::time_point deadline);

    // Whether the server hung up before `until` (waits no longer).
    bool hangsUpBefore(Clock::time_point until);

    // Whether anything went out to the server on this connection: a connect
    // that timed out had reached it, and its handshake did not finish.
    bool reachedServer() const { return reachedServer_; }

    // Whether a TLS connection's certificate named the host (see connect).
    bool certificateChecked() const { return certificateChecked_; }

    // Bytes received before synchronous mode, kept for error messages.
    const std::string& earlyBytes() const { return early_; }

    // From here on reads and writes are synchronous; earlier input is gone.
    LinkStatus enterSync();

    // One read of whatever has arrived (at most `len`), waiting until the
    // deadline for the first byte; a passed deadline still takes what is
    // there. timedOut with `got` 0 when nothing came.
    LinkStatus readSome(std::uint8_t* buf, std::size_t len, std::size_t& got,
                        Clock::time_point deadline);

    // Writes all of `len` unless the deadline passes first; `written` counts.
    LinkStatus writeAll(const std::uint8_t* data, std::size_t len, std::size_t& written,
                        Clock::time_point deadline);

    // Drops the input that has arrived, without waiting; `dropped` counts it.
    LinkStatus dropArrived(std::size_t& dropped);

    // Drops input until none came for `quiet`, counted from the last input
    // (or `since`, when that is later), or until the deadline (ok then too).
    LinkStatus dropUntilQuiet(Clock::duration quiet, Clock::time_point since,
                              Clock::time_point deadline);

    // Runs the event loop until `until` without reading input.
    void idle(Clock::time_point until);

    bool isOpen() const { return io_ != nullptr; }
    void close();

    // Why the last failure happened: a setting the server refused, a
    // certificate problem, gensio's log line, or gensio's error text.
    std::string failureText() const;

    // An os handler and its waiter, kept for the process's life.
    struct EventLoop {
        gensio_os_funcs* os = nullptr;
        gensio_waiter* waiter = nullptr;
    };

    // Called by the C callbacks.
    struct Event {
        int kind;
        int err;
        const unsigned char* buf;
        unsigned long* len;
        const char* const* aux;
    };
    int onEvent(const Event& event);
    void wake();
    void onOpened(int err);
    void onClosed();
    void onSent();
    void onLog(const std::string& line);

    // One RFC 2217 setting asked of the server and its answer.
    struct Setting {
        GensioLink* link = nullptr;
        const char* name = "";
        unsigned wanted = 0;
        bool answered = false;
        int err = 0;
        unsigned value = 0;
    };

private:
    template <typename Done>
    bool waitUntil(Done done, Clock::time_point deadline);
    int onRead(const Event& event);
    int allocate(const std::string& telnet, const std::string& lower);
    std::string peerCertificate();
    int askSetting(std::size_t index);
    int awaitSettings(std::size_t count, Clock::time_point asked, Clock::time_point deadline);

    int settingsVerdict();
    int checkCertificate(int err, const char* why);
    void abandon();
    void leaveSync();
    void finishFrees();
    // Runs what the event loop has ready, without waiting, until `done`.
    template <typename Done>
    void runReady(Done done);
    void resetState(const std::string& tlsHost);
    LinkStatus conclude(int err);

    gensio_os_funcs* os_ = nullptr;
    gensio_waiter* waiter_ = nullptr;
    gensio* io_ = nullptr;
    bool opened_ = false;
    int openError_ = 0;
    bool closed_ = false;
    bool hungUp_ = false;
    bool sync_ = false;
    std::string early_;
    std::string tlsHost_;
    bool certificateChecked_ = false;
    bool reachedServer_ = false;
    std::array<Setting, 4> settings_{};
    Clock::duration lineRoundTrip_ = Clock::duration::max();
    Clock::time_point firstConfirmation_{};
    Clock::time_point lastInput_{};
    std::string detail_;
    int lastError_ = 0;
    std::shared_ptr<BinaryAgreement> agreement_;  // null on a raw stack
    NvtReader nvt_;
};

}  // namespace hublink::net
