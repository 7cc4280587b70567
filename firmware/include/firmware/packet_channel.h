// The line between the update sequence and the loader: one packet out, one
// reply in. The sequence sees only this interface.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "firmware/isp_packet.h"
#include "firmware/log_sink.h"
#include "hublink/loader_port.h"

namespace firmware {

class PacketChannel {
public:
    virtual ~PacketChannel() = default;

    // Sends `packet` and waits at most `wait` for its reply. `reply` becomes
    // 64 bytes: what arrived, zeros after it. Returns how many bytes arrived
    // (fewer than 64 when the time ran out), or -1 when the port failed
    // (lastError() says why).
    virtual int exchange(const Packet& packet, Bytes& reply, std::chrono::milliseconds wait) = 0;

    // Sends a packet that gets no reply and lets it leave before returning.
    // False when the port failed.
    virtual bool sendOnly(const Packet& packet) = 0;

    virtual std::string lastError() const = 0;

    // Reads and drops input until none came for `quiet`, or `limit` passed:
    // a reply that arrives late must not pass for the next packet's. Returns
    // the bytes dropped. A channel without such input has nothing to drop.
    virtual std::size_t dropLateBytes(std::chrono::milliseconds /*quiet*/,
                                      std::chrono::milliseconds /*limit*/) {
        return 0;
    }
};

// The loader on a control port, held open and claimed from open() until the
// channel is destroyed. Logs "Wrote 64 bytes to the serial port." per packet.
class SerialChannel : public PacketChannel {
public:
    explicit SerialChannel(LogSink log = {}) : log_(std::move(log)) {}

    // "OK", "Open Port Error!" or "Set Port Option Error!".
    std::string open(const std::string& path);

    int exchange(const Packet& packet, Bytes& reply, std::chrono::milliseconds wait) override;
    bool sendOnly(const Packet& packet) override;
    std::string lastError() const override { return error_; }
    std::size_t dropLateBytes(std::chrono::milliseconds quiet,
                              std::chrono::milliseconds limit) override;

private:
    bool write(const Packet& packet);

    hublink::LoaderPort port_;
    LogSink log_;
    std::string error_;
};

}  // namespace firmware
