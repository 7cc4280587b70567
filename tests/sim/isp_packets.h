// Loader packets as a host sends them, built by hand for the tests so that
// they share nothing with the loader they check.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

namespace simtest {

using Packet = std::array<std::uint8_t, 64>;

inline void putLe32(Packet& p, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) p[at + i] = std::uint8_t(v >> (8 * i));
}

// Little-endian field of a packet or a reply held as bytes.
template <typename Bytes>
std::uint32_t le(const Bytes& bytes, std::size_t at, std::size_t width = 4) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < width && at + i < bytes.size(); ++i)
        v |= std::uint32_t(std::uint8_t(bytes[at + i])) << (8 * i);
    return v;
}

inline Packet packet(std::uint8_t code, std::uint32_t number) {
    Packet p{};
    p[0] = code;
    putLe32(p, 4, number);
    return p;
}

inline Packet sync(std::uint32_t number) {
    Packet p = packet(0xA4, number);
    putLe32(p, 8, number);
    return p;
}

inline unsigned byteSum(const auto& bytes) {
    return std::accumulate(bytes.begin(), bytes.end(), 0u,
                           [](unsigned sum, auto b) { return sum + std::uint8_t(b); });
}

inline std::string text(const Packet& p) { return {p.begin(), p.end()}; }

// Bytes whose sum passes 0xFFFF once there are a few hundred.
inline std::vector<std::uint8_t> image(std::size_t size, unsigned seed = 11) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = std::uint8_t(i * 37 + seed);
    return bytes;
}

// The write of `bytes`: the first APROM packet numbered `number` carrying up
// to 48 bytes, then continuations of 56, numbered on by 2.
inline std::vector<Packet> writePackets(const std::vector<std::uint8_t>& bytes, std::uint32_t number) {
    Packet first = packet(0xA0, number);
    putLe32(first, 12, std::uint32_t(bytes.size()));
    std::size_t offset = std::min<std::size_t>(bytes.size(), 48);
    std::copy(bytes.begin(), bytes.begin() + offset, first.begin() + 16);
    std::vector<Packet> packets{first};
    for (; offset < bytes.size(); offset += 56) {
        Packet next = packet(0x00, number += 2);
        const std::size_t size = std::min<std::size_t>(bytes.size() - offset, 56);
        std::copy(bytes.begin() + offset, bytes.begin() + offset + size, next.begin() + 8);
        packets.push_back(next);
    }
    return packets;
}

}  // namespace simtest
