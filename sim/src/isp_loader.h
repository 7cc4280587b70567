// The hub's in-system-programming loader: 64-byte packets in, replies and
// actions out. Pure state, no I/O and no clock of its own; the virtual hub
// carries out the waits (erase, boot) and writes the replies.
//
// Deliberately written from the loader's side only: it shares nothing with
// the host's packet code, so a mistake on one end shows on the wire.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string_view>
#include <vector>

#include "reply_plan.h"
#include "sim/virtual_hub.h"

namespace sim {

inline constexpr std::size_t kIspPacketSize = 64;
using IspPacket = std::array<std::uint8_t, kIspPacketSize>;

std::uint32_t readLe32(const IspPacket& packet, std::size_t at);
// Sum of all 64 bytes, as the loader's checksum counts them (low 16 bits).
std::uint16_t packetSum(const IspPacket& packet);

// Cuts the loader's byte stream into packets. A part of a packet followed by
// a pause longer than kDropAfter is dropped, as the chip drops a packet that
// does not arrive whole.
class PacketAssembler {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kDropAfter{50};

    struct Fed {
        std::optional<IspPacket> packet;  // set when these bytes completed one
        std::size_t used = 0;             // bytes taken, up to the packet's end
    };

    // Takes bytes that arrived at `now` until one packet is whole; the
    // caller decides what becomes of the rest.
    Fed feed(std::string_view bytes, Clock::time_point now);
    void clear() { filled_ = 0; }
    std::size_t pending() const { return filled_; }

private:
    IspPacket buffer_{};
    std::size_t filled_ = 0;
    Clock::time_point last_{};
};

// What the hub does with one packet, in this order: erase (when `erase`),
// send `reply` (no pieces: nothing), restart the chip (when `run`).
struct LoaderStep {
    struct Written {
        std::size_t bytes = 0;
        std::uint16_t checksum = 0;
    };

    bool erase = false;
    std::optional<int> eraseMillis;  // a slow erase's time, in place of the hub's
    ReplyPlan reply;
    bool run = false;
    std::optional<Written> written;  // this packet completed the image
};

class IspLoader {
public:
    static constexpr std::size_t kFlashSize = std::size_t(1) << 20;
    static constexpr std::uint32_t kDeviceId = 0x01131000;
    static constexpr std::uint8_t kVersion = 0x2A;
    static constexpr std::uint32_t kConfig0 = 0xFFFFFF7F;
    static constexpr std::uint32_t kConfig1 = 0x0001F000;

    enum Command : std::uint32_t {
        kContinue = 0x00,
        kUpdateAprom = 0xA0,
        kReadConfig = 0xA2,
        kSync = 0xA4,
        kReadVersion = 0xA6,
        kRun = 0xAB,
        kConnect = 0xAE,
        kReadDeviceId = 0xB1,
    };

    LoaderStep handle(const IspPacket& packet);

    void pushFault(LoaderFault fault) { faults_.push_back({fault, false}); }
    // Faults that every restart() arms again, behind the pushed ones.
    void setStandingFaults(std::vector<LoaderFault> faults) { standing_ = std::move(faults); }
    // Disarms every fault, the standing ones until the next restart().
    void clearFaults() { faults_.clear(); }
    // A Silent fault is queued: nothing is answered or acted on.
    bool mute() const;

    // The chip reset: the packet counter starts afresh, the flash stays, the
    // standing faults are armed again (unused ones are not doubled).
    void restart();
    // Erases the flash and forgets the image, as a failed update leaves it.
    void eraseFlash();
    // Erased and not yet written to the image's last byte: the loader must
    // not start the application.
    bool imageIncomplete() const { return incomplete_; }
    std::vector<std::uint8_t> image() const;

private:
    struct Armed {
        LoaderFault fault;
        bool standing;
    };

    std::optional<LoaderFault> takeFault(LoaderFault::Kind kind, std::uint32_t number);
    bool ignoreConnect();
    // Writes `data` at the next address; returns the bytes as read back.
    std::vector<std::uint8_t> write(const std::uint8_t* data, std::size_t size, bool corrupt);
    std::uint16_t imageSum() const;

    std::uint32_t counter_ = 0;
    std::vector<std::uint8_t> flash_;  // empty until the first erase
    std::uint32_t start_ = 0;
    std::uint32_t length_ = 0;
    std::uint32_t written_ = 0;
    bool incomplete_ = false;
    std::deque<Armed> faults_;
    std::vector<LoaderFault> standing_;
};

}  // namespace sim
