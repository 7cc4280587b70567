// The programming sequence with the hub's loader: connect, synchronise the
// packet numbers, read the loader's identity, write the image, start it.
// Any reply that is missing, incomplete or fails its tests stops the
// sequence: a data packet is never sent twice (the loader would write it at
// the next address) and the run packet is sent only after a verified write,
// so an update that failed after the erase leaves the hub in its loader,
// ready for a new attempt. Before the erase the caller may send the hub back
// (sendBack). Once a connect is answered, replies to earlier attempts that
// are still on their way are dropped, so none passes for a later packet's.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "firmware/firmware_file.h"
#include "firmware/isp_packet.h"
#include "firmware/log_sink.h"
#include "firmware/packet_channel.h"

namespace firmware {

// Where an update stands, for a progress bar or line.
enum class UpdateStep {
    EnteringLoader,  // hub commands that hand the port to the loader
    Connecting,      // connect packets until the loader answers
    Reading,         // sync and the loader's identity
    Erasing,         // first APROM packet: the loader erases before it answers
    Writing,         // continuation packets
    Starting,        // run packet
    Done,
};
const char* stepName(UpdateStep step);

struct UpdateProgress {
    UpdateStep step = UpdateStep::EnteringLoader;
    std::size_t written = 0;  // image bytes the loader has confirmed
    std::size_t total = 0;    // image length
};
// Called on the updating thread; at most about 1000 times per update.
using ProgressSink = std::function<void(const UpdateProgress&)>;

// Bounds of every wait in the sequence.
struct IspTimings {
    std::chrono::milliseconds connectReply{250};   // per connect attempt
    std::chrono::milliseconds connectPause{10};    // between connect attempts
    std::chrono::milliseconds connectLimit{10000}; // all connect attempts together
    std::chrono::milliseconds reply{1000};         // any other packet
    std::chrono::milliseconds erase{30000};        // first APROM packet (erase included)
    std::chrono::milliseconds quiet{50};           // silence that ends a wait for late replies
    std::chrono::milliseconds quietLimit{300};     // the whole wait for late replies
};

struct IspOptions {
    LogSink log;                                // trace lines; empty: none
    ProgressSink progress;                      // empty: none
    IspTimings timings;
    const std::atomic<bool>* cancel = nullptr;  // checked between packets
};

struct TransferTrace;  // the trace lines of one transfer routine

class IspSession {
public:
    IspSession(PacketChannel& channel, IspOptions options);

    // The whole sequence, from the first connect packet to the run packet.
    // False when it stopped; failure() says why.
    bool program(const ApromImage& image);

    // The steps, in the order program() runs them. Each returns false when
    // the sequence must stop.
    bool UART_AUTO_DETECT();
    bool LINK_FUN();
    bool SN_FUN();
    bool READ_PID_FUN();
    bool READ_FW_FUN();
    bool READ_CONFIG_FUN();
    bool UPDATE_APROM(const ApromImage& image);
    bool RUN_APROM_FUN();

    // Transfers: write `n` into the packet, send it, test the reply. The
    // reply (64 bytes) is returned; ok() tells whether the tests passed.
    Bytes UART_TRANSFER(Packet& packet, std::uint32_t n);
    Bytes UART_TRANSFER_AUTO(Packet& packet, std::uint32_t n);
    Bytes UART_TRANSFER_START_UPDATE_APROM(Packet& packet, std::uint32_t n);
    void UART_TRANSFER_NON_ACK(Packet& packet, std::uint32_t n);

    bool ok() const { return failure_.empty(); }
    const std::string& failure() const { return failure_; }

    // Whether the first APROM packet went out: from then on the loader may
    // have erased the firmware the hub had.
    bool erased() const { return erased_; }

    // For a sequence that stopped before erased(): sends the run packet so
    // that the hub leaves its loader for the firmware it kept. True when the
    // packet went out.
    bool sendBack();

    std::uint32_t PacketNumber = 0;

private:
    int send(Packet& packet, std::uint32_t n, std::chrono::milliseconds wait,
             const TransferTrace& trace, Bytes& reply);
    ReplyCheck logChecks(const Packet& packet, std::uint32_t n, const Bytes& reply, int received);
    bool testReply(const Packet& packet, std::uint32_t n, const Bytes& reply, int received);
    Bytes simpleStep(const char* name, IspCommand command);
    bool sendImage(const ApromImage& image);
    void log(const std::string& line) const;
    void report(UpdateStep step, std::size_t written, std::size_t total);
    bool cancelled();
    void fail(std::string why);
    void dropLateReplies();

    PacketChannel& channel_;
    IspOptions options_;
    std::string failure_;
    int lastPermille_ = -1;
    bool erased_ = false;
};

}  // namespace firmware
