// Measures a firmware update against a virtual hub whose loader paces every
// byte at 115200 baud, and compares it with the wire time of the packets and
// replies plus the loader's erase time. A ratio near 1.0 means the update
// adds almost nothing to what the line and the flash need.
//
// A second table compares the cost of one packet on the port held for the
// whole update with a port opened, configured and closed for each packet and
// a reply polled for every 25 ms.
//
// Usage: firmware_bench [runs]   (default 3 for 64 KiB, 1 for 1,000,000 bytes)

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

#include "bench_stats.h"
#include "firmware/packet_channel.h"
#include "firmware/update_flow.h"
#include "hublink/cppmain.h"
#include "sim/virtual_hub.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kBitsPerByte = 10.0;  // start + 8 data + stop
constexpr double kBaud = 115200.0;
constexpr auto kErase = 400ms;

double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

using bench::median;

double wireMillis(std::size_t bytes) { return double(bytes) * kBitsPerByte / kBaud * 1000.0; }

sim::HubConfig pacedHub() {
    sim::HubConfig config;
    config.wireTiming = true;
    config.eraseTime = kErase;
    config.record = true;  // the packet count sets the wire time
    return config;
}

bool updateCase(std::size_t length, int runs) {
    firmware::Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = std::uint8_t(i * 31 + 7);
    const firmware::ApromImage image = firmware::makeImage(bytes);
    std::vector<double> wall;
    double wire = 0;
    for (int i = 0; i < runs; ++i) {
        sim::VirtualHub hub(pacedHub());
        hub.enterLoader();  // the sequence alone: hub commands are hubctl_bench's matter
        firmware::UpdateOptions options;
        options.hubInLoader = true;
        const auto start = Clock::now();
        const auto outcome = firmware::runUpdate(hub.path(), "", image, options);
        wall.push_back(millisSince(start));
        if (!outcome.ok() || hub.flashImage() != bytes) {
            std::fprintf(stderr, "update of %zu bytes failed: %s\n", length, outcome.detail.c_str());
            return false;
        }
        // Every packet but the run packet gets a 64-byte reply.
        const std::size_t packets = hub.loaderPackets().size();
        wire = wireMillis(packets * 128 - 64) + double(kErase.count());
    }
    const double med = median(wall);
    std::printf("update %8zu bytes  runs=%d  wire+erase=%9.1f ms  median=%9.1f ms  ratio=%5.3f\n",
                length, runs, wire, med, med / wire);
    return true;
}

// Connect packets, one after the other, through `exchange`.
template <typename Exchange>
double perPacketMillis(int packets, Exchange exchange) {
    const auto start = Clock::now();
    for (int i = 0; i < packets; ++i)
        if (!exchange()) return -1;
    return millisSince(start) / packets;
}

bool packetCostCase() {
    constexpr int kPackets = 100;
    sim::VirtualHub hub(pacedHub());
    hub.enterLoader();
    firmware::Packet connect = firmware::commandPacket(firmware::IspCommand::Connect);
    firmware::setPacketNumber(connect, 1);

    double held = -1;
    {
        firmware::SerialChannel channel;
        if (channel.open(hub.path()) != "OK") return false;
        firmware::Bytes reply;
        held = perPacketMillis(kPackets, [&] {
            return channel.exchange(connect, reply, 250ms) == 64;
        });
    }

    // Open, configure, write, poll every 25 ms for the first piece, close.
    hublink::CPPMain transport;
    const double reopened = perPacketMillis(kPackets, [&] {
        const int fd = transport.openPort(hub.path());
        if (fd < 0) return false;
        std::uint8_t buffer[64] = {};
        const bool ok = transport.Set_Opt(fd, 115200, 8, 'N', 1, 0) == 0 &&
                        transport.UART_Send(fd, connect.data(), connect.size()) == 64 &&
                        transport.read_with_timeout(fd, buffer, sizeof buffer, 0.25) > 0;
        ::close(fd);
        return ok;
    });
    const double wire = wireMillis(128);
    std::printf("packet, port held      wire=%6.2f ms  per packet=%7.2f ms  ratio=%5.2f\n", wire,
                held, held / wire);
    std::printf("packet, port reopened  wire=%6.2f ms  per packet=%7.2f ms  ratio=%5.2f\n", wire,
                reopened, reopened / wire);
    return held > 0 && reopened > 0;
}

}  // namespace

int main(int argc, char** argv) try {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    bool ok = packetCostCase();
    ok = updateCase(64 * 1024, runs) && ok;
    ok = updateCase(1000000, argc > 1 ? runs : 1) && ok;
    return ok ? 0 : 1;
} catch (const std::exception& e) {
    std::fprintf(stderr, "firmware_bench: %s\n", e.what());
    return 1;
}
