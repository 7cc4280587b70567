// Any bytes through the firmware file transforms and through the update
// sequence's reply handling. The loader on the other end is played from the
// input: each reply is the right one, or one with a byte flipped, cut short
// or missing, so the fuzzer can check the verdict, not just survive: an
// update succeeds exactly when no reply that matters was spoiled.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "firmware/firmware_file.h"
#include "firmware/isp_session.h"

namespace {

using firmware::Bytes;
using firmware::Packet;

void require(bool condition) {
    if (!condition) std::abort();
}

// Takes bytes from the front of the input; zeros once it is used up.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}
    std::uint8_t byte() {
        if (rest_.empty()) return 0;
        const auto b = static_cast<std::uint8_t>(rest_.front());
        rest_.remove_prefix(1);
        return b;
    }
    Bytes bytes(std::size_t n) {
        n = std::min(n, rest_.size());
        Bytes out(rest_.begin(), rest_.begin() + static_cast<long>(n));
        rest_.remove_prefix(n);
        return out;
    }

private:
    std::string_view rest_;
};

void checkFileTransforms(const Bytes& data) {
    const std::string key = firmware::defaultKey();
    const Bytes image = firmware::unscramble(data, key);
    require(image.size() == data.size());
    require(firmware::scramble(image, key) == data);
    const auto pid = firmware::productIdOf(image);
    const Bytes marker(firmware::kPidMarker.begin(), firmware::kPidMarker.end());
    const auto at = firmware::findBytesInArray(image, marker);
    require(pid.has_value() == (at && *at + marker.size() + 2 <= image.size()));
    if (pid) require(pid->size() == 4);
}

// A loader that answers correctly unless the input spoils a reply, and
// remembers whether a spoiled reply was one the host had to notice.
class PlayedLoader final : public firmware::PacketChannel {
public:
    explicit PlayedLoader(Input& input) : input_(input) {}

    int exchange(const Packet& packet, Bytes& reply, std::chrono::milliseconds) override {
        if (ranImage_) harmful_ = true;  // nothing may follow the run packet
        reply = rightReply(packet);
        switch (input_.byte() % 5) {
            case 1: {  // cut short
                const int kept = input_.byte() % 64;
                std::fill(reply.begin() + kept, reply.end(), 0);
                harmful_ = true;
                return kept;
            }
            case 2: {  // one byte flipped
                const std::size_t at = input_.byte() % 64;
                reply[at] ^= input_.byte() | 1;
                const bool header = at < 2 || (at >= 4 && at < 8);
                harmful_ = harmful_ || header || (lastData_ && (at == 8 || at == 9));
                return 64;
            }
            case 3:
                std::fill(reply.begin(), reply.end(), 0);
                harmful_ = true;
                return 0;
            default: return 64;
        }
    }
    bool sendOnly(const Packet& packet) override {
        ranImage_ = packet[0] == 0xAB;
        return true;
    }
    std::string lastError() const override { return "played"; }
    bool harmful() const { return harmful_; }

private:
    Bytes rightReply(const Packet& packet) {
        Bytes reply(64, 0);
        const std::uint32_t sum = firmware::packetSum(packet);
        reply[0] = std::uint8_t(sum);
        reply[1] = std::uint8_t(sum >> 8);
        const std::uint32_t next = firmware::readU32(Bytes(packet.begin(), packet.end()), 4) + 1;
        for (int i = 0; i < 4; ++i) reply[4 + i] = std::uint8_t(next >> (8 * i));
        takeImage(packet);
        if (lastData_) {
            reply[8] = std::uint8_t(imageSum_);
            reply[9] = std::uint8_t(imageSum_ >> 8);
        }
        return reply;
    }
    void takeImage(const Packet& packet) {
        const Bytes p(packet.begin(), packet.end());
        std::size_t at = 0;
        if (packet[0] == 0xA0) {
            length_ = firmware::readU32(p, 12);
            written_ = 0;
            imageSum_ = 0;
            at = 16;
        } else if (packet[0] == 0x00) {
            at = 8;
        }
        lastData_ = false;
        if (at == 0) return;
        for (; at < 64 && written_ < length_; ++at, ++written_) imageSum_ += packet[at];
        lastData_ = written_ == length_ && packet[0] == 0x00;
    }

    Input& input_;
    bool harmful_ = false;
    bool ranImage_ = false;
    bool lastData_ = false;
    std::size_t length_ = 0, written_ = 0;
    std::uint32_t imageSum_ = 0;
};

void checkSequence(Input& input) {
    const firmware::ApromImage image = firmware::makeImage(input.bytes(input.byte() * 8));
    PlayedLoader loader(input);
    firmware::IspOptions options;
    options.timings.connectLimit = std::chrono::milliseconds(0);  // one connect attempt
    options.timings.connectPause = std::chrono::milliseconds(0);
    firmware::IspSession session(loader, options);
    const bool done = session.program(image);
    require(done == !loader.harmful());
    require(done == session.failure().empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    Input input(data + 1, size - 1);
    if (data[0] & 1)
        checkFileTransforms(Bytes(data + 1, data + size));
    else
        checkSequence(input);
    return 0;
}
