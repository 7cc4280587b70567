#include <cerrno>
#include <cstring>

#include "firmware/packet_channel.h"

namespace firmware {

namespace {

// Bound on letting the run packet leave the driver before the port closes.
constexpr int kDrainMillis = 1000;

}  // namespace

std::string SerialChannel::open(const std::string& path) {
    std::string result = port_.open(path);
    if (result != "OK") error_ = path + ": " + result;
    return result;
}

bool SerialChannel::write(const Packet& packet) {
    if (!port_.send(packet.data(), packet.size())) {
        error_ = std::string("cannot write to the port: ") + std::strerror(errno);
        return false;
    }
    if (log_) log_("Wrote " + std::to_string(packet.size()) + " bytes to the serial port.");
    return true;
}

int SerialChannel::exchange(const Packet& packet, Bytes& reply, std::chrono::milliseconds wait) {
    reply.assign(kPacketSize, 0);
    if (!write(packet)) return -1;
    const int got = port_.receive(reply.data(), reply.size(), static_cast<int>(wait.count()));
    if (got < 0) error_ = std::string("cannot read from the port: ") + std::strerror(errno);
    return got;
}

std::size_t SerialChannel::dropLateBytes(std::chrono::milliseconds quiet,
                                         std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::size_t dropped = 0;
    Packet sink;
    while (std::chrono::steady_clock::now() < deadline) {
        const int got = port_.receive(sink.data(), sink.size(), static_cast<int>(quiet.count()));
        if (got <= 0) break;  // quiet, or a failed port that the next packet reports
        dropped += static_cast<std::size_t>(got);
    }
    return dropped;
}

bool SerialChannel::sendOnly(const Packet& packet) {
    if (!write(packet)) return false;
    if (!port_.drain(kDrainMillis)) {
        error_ = "the port did not send the packet";
        return false;
    }
    return true;
}

}  // namespace firmware
