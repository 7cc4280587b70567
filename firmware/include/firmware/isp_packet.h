// Packets of the hub loader's in-system-programming protocol and the tests
// applied to its replies. Pure functions: nothing here touches a port.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "firmware/firmware_file.h"

namespace firmware {

// Every packet and every reply is exactly this long.
inline constexpr std::size_t kPacketSize = 64;
using Packet = std::array<std::uint8_t, kPacketSize>;

// Command codes (byte 0; bytes 1-3 stay 0).
enum class IspCommand : std::uint8_t {
    Continuation = 0x00,  // next piece of the image
    UpdateAprom = 0xA0,   // erase, then first piece of the image
    ReadConfig = 0xA2,
    SyncPacketNumber = 0xA4,
    ReadFirmwareVersion = 0xA6,
    RunAprom = 0xAB,
    Connect = 0xAE,
    ReadProductId = 0xB1,
};

// Image bytes carried by the first APROM packet and by each continuation.
inline constexpr std::size_t kFirstPacketData = 48;
inline constexpr std::size_t kContinuationData = 56;

// A packet of zeros with `command` in byte 0.
Packet commandPacket(IspCommand command);

// Writes `number` into bytes 4-7, little-endian.
void setPacketNumber(Packet& packet, std::uint32_t number);

// The sync packet: its own number also as payload (bytes 8-11).
Packet syncPacket(std::uint32_t number);

// First APROM packet: start address 0, image length, first <= 48 bytes.
// The image must be shorter than 4 GiB.
Packet firstAprom(const Bytes& image);

// Continuation packet with the image bytes from `offset` on (<= 56 of them).
Packet continuationPacket(const Bytes& image, std::size_t offset);

// Packets UPDATE_APROM sends for an image of `length` bytes.
std::size_t apromPacketCount(std::size_t length);

// Sum of the 64 packet bytes, as the loader computes it.
std::uint32_t packetSum(const Packet& packet);

// Little-endian fields of a reply; 0 when the reply is too short for them.
std::uint16_t readU16(const Bytes& bytes, std::size_t offset);
std::uint32_t readU32(const Bytes& bytes, std::size_t offset);

// What the tests of one reply found.
struct ReplyCheck {
    bool complete = false;    // all 64 bytes arrived
    bool checksumOk = false;  // bytes 0-1 == packetSum(sent)
    bool numberOk = false;    // bytes 4-7 == number + 1
    bool ok() const { return complete && checksumOk && numberOk; }
};
ReplyCheck checkReply(const Packet& sent, std::uint32_t number, const Bytes& reply,
                      std::size_t received);

// "[174, 0, 0, ...]": bytes as decimal numbers, as the trace prints packets.
template <typename Range>
std::string decimalList(const Range& bytes) {
    std::string text = "[";
    bool first = true;
    for (std::uint8_t b : bytes) {
        if (!first) text += ", ";
        text += std::to_string(b);
        first = false;
    }
    return text + "]";
}

}  // namespace firmware
