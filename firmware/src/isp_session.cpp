#include "firmware/isp_session.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace firmware {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kPortFailed = "Failed to modify UInt8 array in C++.";

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

}  // namespace

const char* stepName(UpdateStep step) {
    switch (step) {
        case UpdateStep::EnteringLoader: return "Entering the loader";
        case UpdateStep::Connecting: return "Connecting";
        case UpdateStep::Reading: return "Reading the loader";
        case UpdateStep::Erasing: return "Erasing";
        case UpdateStep::Writing: return "Writing";
        case UpdateStep::Starting: return "Starting the firmware";
        case UpdateStep::Done: return "Done";
    }
    return "";
}

IspSession::IspSession(PacketChannel& channel, IspOptions options)
    : channel_(channel), options_(std::move(options)) {}

void IspSession::log(const std::string& line) const {
    if (options_.log) options_.log(line);
}

void IspSession::report(UpdateStep step, std::size_t written, std::size_t total) {
    if (!options_.progress) return;
    // Writing reports only when the share written moves by 0.1 %.
    if (step == UpdateStep::Writing) {
        const int permille = total ? static_cast<int>(written * 1000 / total) : 1000;
        if (permille == lastPermille_) return;
        lastPermille_ = permille;
    }
    options_.progress({step, written, total});
}

bool IspSession::cancelled() {
    if (!options_.cancel || !options_.cancel->load()) return false;
    fail("cancelled");
    return true;
}

void IspSession::fail(std::string why) {
    if (failure_.empty()) failure_ = std::move(why);
}

struct TransferTrace {
    const char* write;   // "<write> writeByte start" / "... End"
    const char* read;    // logged before the reply; may be null
    const char* reply;   // label of the reply
    bool noteSilence;    // log an empty reply as a failed exchange
};

namespace {

const TransferTrace kTransferTrace{"UART_TRANSFER", "UART_TRANSFER read start", "returnBuffer",
                                       false};
const TransferTrace kAutoTrace{"UART_TRANSFER_AUTO", "UART_TRANSFER_AUTO read start",
                                   "returnBuffer", false};
const TransferTrace kStartTrace{"UART_TRANSFER_START_UPDATE_APROM", nullptr,
                                    "UART_TRANSFER_START_UPDATE_APROM returnBuffer", true};

}  // namespace

int IspSession::send(Packet& packet, std::uint32_t n, std::chrono::milliseconds wait,
                     const TransferTrace& trace, Bytes& reply) {
    setPacketNumber(packet, n);
    const std::string name(trace.write);
    log(name + " writeByte start");
    const int received = channel_.exchange(packet, reply, wait);
    log(name + " writeByte End");
    if (received < 0) {
        log(kPortFailed);
        fail(channel_.lastError());
        return received;
    }
    if (trace.read) log(trace.read);
    log(trace.reply);
    if (options_.log) log(decimalList(reply));
    if (received == 0 && trace.noteSilence) log(kPortFailed);
    return received;
}

ReplyCheck IspSession::logChecks(const Packet& packet, std::uint32_t n, const Bytes& reply,
                                 int received) {
    const ReplyCheck check = checkReply(packet, n, reply, static_cast<std::size_t>(received));
    if (!check.checksumOk) log("checksum error");
    if (!check.numberOk) log("package number error");
    return check;
}

bool IspSession::testReply(const Packet& packet, std::uint32_t n, const Bytes& reply,
                           int received) {
    const ReplyCheck check = logChecks(packet, n, reply, received);
    if (received == 0)
        fail("no reply to packet " + std::to_string(n));
    else if (!check.complete)
        fail("incomplete reply to packet " + std::to_string(n) + " (" + std::to_string(received) +
             " of 64 bytes)");
    else if (!check.checksumOk)
        fail("wrong checksum in the reply to packet " + std::to_string(n) + ": " +
             hex(readU16(reply, 0)) + ", expected " + hex(packetSum(packet)));
    else if (!check.numberOk)
        fail("wrong packet number in the reply to packet " + std::to_string(n) + ": " +
             std::to_string(readU32(reply, 4)) + ", expected " + std::to_string(n + 1));
    return check.ok();
}

Bytes IspSession::UART_TRANSFER(Packet& packet, std::uint32_t n) {
    Bytes reply;
    const int received = send(packet, n, options_.timings.reply, kTransferTrace, reply);
    if (received >= 0) testReply(packet, n, reply, received);
    return reply;
}

Bytes IspSession::UART_TRANSFER_AUTO(Packet& packet, std::uint32_t n) {
    setPacketNumber(packet, n);
    if (options_.log) {
        log("thelist");
        log(decimalList(packet));
    }
    const auto deadline = Clock::now() + options_.timings.connectLimit;
    Bytes reply;
    for (;;) {
        if (cancelled()) return reply;
        const int received = send(packet, n, options_.timings.connectReply, kAutoTrace, reply);
        if (received < 0) return reply;
        // A connect packet may be repeated freely; anything short of a
        // clean reply is another attempt.
        if (logChecks(packet, n, reply, received).ok()) return reply;
        if (Clock::now() + options_.timings.connectPause >= deadline) {
            char text[80];
            std::snprintf(text, sizeof text,
                          "the loader did not answer the connect packet within %.1f s",
                          static_cast<double>(options_.timings.connectLimit.count()) / 1000);
            fail(text);
            return reply;
        }
        std::this_thread::sleep_for(options_.timings.connectPause);
    }
}

Bytes IspSession::UART_TRANSFER_START_UPDATE_APROM(Packet& packet, std::uint32_t n) {
    log("UART_TRANSFER_START_UPDATE_APROM Start");
    Bytes reply;
    // The loader erases its flash before it answers: wait for that, not longer.
    const int received = send(packet, n, options_.timings.erase, kStartTrace, reply);
    if (received >= 0) testReply(packet, n, reply, received);
    return reply;
}

void IspSession::UART_TRANSFER_NON_ACK(Packet& packet, std::uint32_t n) {
    log("UART_TRANSFER_NON_ACK Start");
    setPacketNumber(packet, n);
    log("UART_TRANSFER_NON_ACK writeByte start");
    if (!channel_.sendOnly(packet)) fail(channel_.lastError());
    log("UART_TRANSFER_NON_ACK writeByte End");
}

bool IspSession::UART_AUTO_DETECT() {
    log("UART_AUTO_DETECT Start");
    report(UpdateStep::Connecting, 0, 0);
    PacketNumber = 1;
    Packet packet = commandPacket(IspCommand::Connect);
    UART_TRANSFER_AUTO(packet, PacketNumber);
    if (ok()) dropLateReplies();
    return ok();
}

// An attempt that timed out may still be answered, behind the reply taken.
void IspSession::dropLateReplies() {
    const std::size_t dropped =
        channel_.dropLateBytes(options_.timings.quiet, options_.timings.quietLimit);
    if (dropped > 0) log("dropped " + std::to_string(dropped) + " late bytes");
}

bool IspSession::LINK_FUN() {
    log("LINK_FUN Start");
    PacketNumber = 1;
    Packet packet = commandPacket(IspCommand::Connect);
    UART_TRANSFER(packet, PacketNumber);
    return ok();
}

bool IspSession::SN_FUN() {
    log("SN_FUN Start");
    report(UpdateStep::Reading, 0, 0);
    PacketNumber += 2;
    Packet packet = syncPacket(PacketNumber);
    UART_TRANSFER(packet, PacketNumber);
    return ok();
}

Bytes IspSession::simpleStep(const char* name, IspCommand command) {
    log(std::string(name) + " Start");
    PacketNumber += 2;
    Packet packet = commandPacket(command);
    return UART_TRANSFER(packet, PacketNumber);
}

bool IspSession::READ_PID_FUN() {
    simpleStep("READ_PID_FUN", IspCommand::ReadProductId);
    return ok();
}

bool IspSession::READ_FW_FUN() {
    const Bytes reply = simpleStep("READ_FW_FUN", IspCommand::ReadFirmwareVersion);
    if (!ok()) return false;
    char text[32];
    std::snprintf(text, sizeof text, "FW_VERSION=0x%X", reply[8]);
    log(text);
    return true;
}

bool IspSession::READ_CONFIG_FUN() {
    const Bytes reply = simpleStep("READ_CONFIG_FUN", IspCommand::ReadConfig);
    if (!ok()) return false;
    char text[32];
    std::snprintf(text, sizeof text, "CONFIG0=0x%X", readU32(reply, 8));
    log(text);
    std::snprintf(text, sizeof text, "CONFIG1=0x%X", readU32(reply, 12));
    log(text);
    return true;
}

bool IspSession::UPDATE_APROM(const ApromImage& image) {
    log("UPDATE_APROM Start");
    const Bytes& data = image.AP_FILE;
    if (static_cast<std::int64_t>(data.size()) >= kFirmwareSizeLimit) {
        fail("the image is too large: " + std::to_string(data.size()) + " bytes");
        return false;
    }
    // The last point where a cancel keeps the hub's firmware.
    if (cancelled()) return false;
    PacketNumber += 2;
    report(UpdateStep::Erasing, 0, data.size());
    erased_ = true;
    Packet first = firstAprom(data);
    UART_TRANSFER_START_UPDATE_APROM(first, PacketNumber);
    if (!ok()) return false;
    report(UpdateStep::Writing, std::min(data.size(), kFirstPacketData), data.size());
    return sendImage(image);
}

// The continuation packets; the last reply carries the loader's sum of the
// image as written, which must match ours.
bool IspSession::sendImage(const ApromImage& image) {
    const Bytes& data = image.AP_FILE;
    for (std::size_t offset = kFirstPacketData; offset < data.size();
         offset += kContinuationData) {
        if (cancelled()) return false;
        PacketNumber += 2;
        Packet packet = continuationPacket(data, offset);
        const Bytes reply = UART_TRANSFER(packet, PacketNumber);
        if (!ok()) return false;
        const bool last = data.size() - offset <= kContinuationData;
        if (last) {
            const std::uint16_t loaderSum = readU16(reply, 8);
            const auto expected = static_cast<std::uint16_t>(image.AP_CHECKSUM & 0xFFFF);
            if (loaderSum != expected) {
                fail("the loader reports image checksum " + hex(loaderSum) + ", expected " +
                     hex(expected));
                return false;
            }
            log("checksum pass");
        }
        report(UpdateStep::Writing, std::min(offset + kContinuationData, data.size()),
               data.size());
    }
    return true;
}

bool IspSession::RUN_APROM_FUN() {
    log("RUN_APROM_FUN Start");
    report(UpdateStep::Starting, 0, 0);
    PacketNumber = 1;
    Packet packet = commandPacket(IspCommand::RunAprom);
    UART_TRANSFER_NON_ACK(packet, PacketNumber);
    return ok();
}

bool IspSession::sendBack() {
    dropLateReplies();  // the run packet must not meet a reply on its way
    log("RUN_APROM_FUN Start");
    PacketNumber = 1;
    Packet packet = commandPacket(IspCommand::RunAprom);
    setPacketNumber(packet, PacketNumber);
    return channel_.sendOnly(packet);
}

bool IspSession::program(const ApromImage& image) {
    const bool done = UART_AUTO_DETECT() && LINK_FUN() && SN_FUN() && READ_PID_FUN() &&
                      READ_FW_FUN() && READ_CONFIG_FUN() && UPDATE_APROM(image) &&
                      RUN_APROM_FUN();
    if (done) report(UpdateStep::Done, image.AP_FILE.size(), image.AP_FILE.size());
    return done;
}

}  // namespace firmware
