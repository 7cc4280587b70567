// Shared pieces of the update tests: a quick virtual hub, images that carry
// a product-ID marker, and what the loader received.
#pragma once

#include <sim/virtual_hub.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "firmware/firmware_file.h"

namespace fwtest {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A hub whose loader erases, listens and boots quickly.
inline sim::HubConfig quickHub(std::string productId = "0AB3") {
    sim::HubConfig config;
    config.productId = std::move(productId);
    config.eraseTime = 20ms;
    config.loaderListen = 1000ms;
    config.bootTime = 20ms;
    config.record = true;
    return config;
}

// `n` bytes of varied content with the marker for `pid` (two bytes) inside
// when the image is long enough, at the end otherwise cut.
inline firmware::Bytes imageFor(std::size_t n, std::uint8_t pid0 = 0x0A, std::uint8_t pid1 = 0xB3,
                                unsigned seed = 1) {
    std::mt19937 gen(seed);
    firmware::Bytes image(n);
    for (auto& b : image) b = static_cast<std::uint8_t>(gen());
    std::string marker(firmware::kPidMarker);
    marker += char(pid0);
    marker += char(pid1);
    if (n >= marker.size() + 20) std::copy(marker.begin(), marker.end(), image.begin() + 20);
    return image;
}

// A fault of the hub's command replies (not of its loader).
inline sim::Fault hubReply(sim::Fault::Kind kind, std::string raw = {}) {
    sim::Fault fault;
    fault.kind = kind;
    fault.raw = std::move(raw);
    return fault;
}

// The run packet may still be on its way when the update returns; the hub
// leaves its loader once it has it.
inline void awaitApplication(const sim::VirtualHub& hub) {
    const auto start = Clock::now();
    while (hub.inLoader() && secondsSince(start) < 2) std::this_thread::sleep_for(1ms);
}

struct SeenPacket {
    std::uint8_t code;
    std::uint32_t number;
};

inline std::vector<SeenPacket> seen(const sim::VirtualHub& hub) {
    std::vector<SeenPacket> out;
    for (const auto& p : hub.loaderPackets())
        out.push_back({p[0], std::uint32_t(p[4] | p[5] << 8 | p[6] << 16 | std::uint32_t(p[7]) << 24)});
    return out;
}

inline bool sent(const std::vector<SeenPacket>& packets, std::uint8_t code) {
    return std::any_of(packets.begin(), packets.end(), [&](auto p) { return p.code == code; });
}

// No image packet went out twice: numbers of 0xA0/0x00 packets are distinct.
inline bool noDataPacketResent(const std::vector<SeenPacket>& packets) {
    std::vector<std::uint32_t> numbers;
    for (auto p : packets)
        if (p.code == 0x00 || p.code == 0xA0) numbers.push_back(p.number);
    std::sort(numbers.begin(), numbers.end());
    return std::adjacent_find(numbers.begin(), numbers.end()) == numbers.end();
}

}  // namespace fwtest
