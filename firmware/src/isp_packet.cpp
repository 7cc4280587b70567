#include "firmware/isp_packet.h"

#include <algorithm>
#include <numeric>

namespace firmware {

namespace {

void putU32(Packet& packet, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) packet[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Copies up to `room` image bytes from `offset` to packet position `at`.
void putImage(Packet& packet, std::size_t at, const Bytes& image, std::size_t offset,
              std::size_t room) {
    if (offset >= image.size()) return;
    const std::size_t count = std::min(room, image.size() - offset);
    std::copy_n(image.begin() + static_cast<long>(offset), count, packet.begin() + static_cast<long>(at));
}

}  // namespace

Packet commandPacket(IspCommand command) {
    Packet packet{};
    packet[0] = static_cast<std::uint8_t>(command);
    return packet;
}

void setPacketNumber(Packet& packet, std::uint32_t number) { putU32(packet, 4, number); }

Packet syncPacket(std::uint32_t number) {
    Packet packet = commandPacket(IspCommand::SyncPacketNumber);
    putU32(packet, 8, number);
    return packet;
}

Packet firstAprom(const Bytes& image) {
    Packet packet = commandPacket(IspCommand::UpdateAprom);
    putU32(packet, 8, 0);
    putU32(packet, 12, static_cast<std::uint32_t>(image.size()));
    putImage(packet, 16, image, 0, kFirstPacketData);
    return packet;
}

Packet continuationPacket(const Bytes& image, std::size_t offset) {
    Packet packet = commandPacket(IspCommand::Continuation);
    putImage(packet, 8, image, offset, kContinuationData);
    return packet;
}

std::size_t apromPacketCount(std::size_t length) {
    if (length <= kFirstPacketData) return 1;
    return 1 + (length - kFirstPacketData + kContinuationData - 1) / kContinuationData;
}

std::uint32_t packetSum(const Packet& packet) {
    return std::accumulate(packet.begin(), packet.end(), std::uint32_t{0});
}

std::uint16_t readU16(const Bytes& bytes, std::size_t offset) {
    if (bytes.size() < offset + 2) return 0;
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::uint32_t readU32(const Bytes& bytes, std::size_t offset) {
    if (bytes.size() < offset + 4) return 0;
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | bytes[offset + i];
    return value;
}

ReplyCheck checkReply(const Packet& sent, std::uint32_t number, const Bytes& reply,
                      std::size_t received) {
    ReplyCheck check;
    check.complete = received >= kPacketSize && reply.size() >= kPacketSize;
    check.checksumOk = readU16(reply, 0) == packetSum(sent);
    check.numberOk = readU32(reply, 4) == number + 1;
    return check;
}

}  // namespace firmware
