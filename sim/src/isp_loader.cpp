#include "isp_loader.h"

#include <algorithm>
#include <numeric>

namespace sim {

namespace {

using Kind = LoaderFault::Kind;

void putLe16(IspPacket& packet, std::size_t at, std::uint16_t value) {
    packet[at] = std::uint8_t(value);
    packet[at + 1] = std::uint8_t(value >> 8);
}

void putLe32(IspPacket& packet, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) packet[at + i] = std::uint8_t(value >> (8 * i));
}

// Faults that wait for a particular packet number; the others take the next
// packet they fit.
bool waitsForNumber(Kind kind) {
    return kind == Kind::DropReply || kind == Kind::WrongChecksum || kind == Kind::WrongNumber ||
           kind == Kind::SplitReply || kind == Kind::CorruptWrite;
}

}  // namespace

std::uint32_t readLe32(const IspPacket& packet, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value |= std::uint32_t(packet[at + i]) << (8 * i);
    return value;
}

std::uint16_t packetSum(const IspPacket& packet) {
    return std::uint16_t(std::accumulate(packet.begin(), packet.end(), 0u));
}

PacketAssembler::Fed PacketAssembler::feed(std::string_view bytes, Clock::time_point now) {
    Fed fed;
    if (bytes.empty()) return fed;
    if (filled_ > 0 && now - last_ > kDropAfter) filled_ = 0;
    last_ = now;
    while (fed.used < bytes.size() && filled_ < kIspPacketSize)
        buffer_[filled_++] = std::uint8_t(bytes[fed.used++]);
    if (filled_ == kIspPacketSize) {
        fed.packet = buffer_;
        filled_ = 0;
    }
    return fed;
}

bool IspLoader::mute() const {
    return std::any_of(faults_.begin(), faults_.end(),
                       [](const Armed& a) { return a.fault.kind == Kind::Silent; });
}

void IspLoader::restart() {
    counter_ = 0;
    std::erase_if(faults_, [](const Armed& a) { return a.standing; });
    for (const LoaderFault& fault : standing_) faults_.push_back({fault, true});
}

std::optional<LoaderFault> IspLoader::takeFault(Kind kind, std::uint32_t number) {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        const LoaderFault& f = it->fault;
        if (f.kind != kind || (waitsForNumber(kind) && f.packet != number)) continue;
        LoaderFault fault = it->fault;
        faults_.erase(it);
        return fault;
    }
    return std::nullopt;
}

bool IspLoader::ignoreConnect() {
    auto it = std::find_if(faults_.begin(), faults_.end(), [](const Armed& a) {
        return a.fault.kind == Kind::AnswerAfterConnects;
    });
    if (it == faults_.end()) return false;
    const bool ignore = it->fault.count > 0;
    if (--it->fault.count <= 0) faults_.erase(it);
    return ignore;
}

void IspLoader::eraseFlash() {
    flash_.assign(kFlashSize, 0xFF);
    start_ = length_ = written_ = 0;
    incomplete_ = true;
}

std::vector<std::uint8_t> IspLoader::write(const std::uint8_t* data, std::size_t size,
                                           bool corrupt) {
    std::vector<std::uint8_t> readBack(data, data + size);
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint64_t address = std::uint64_t(start_) + written_ + i;
        if (address >= flash_.size()) continue;  // off the end: nothing to read back
        flash_[address] = std::uint8_t(data[i] ^ (corrupt && i == 0 ? 0x01 : 0x00));
        readBack[i] = flash_[address];
    }
    written_ += std::uint32_t(size);
    return readBack;
}

std::uint16_t IspLoader::imageSum() const {
    const std::size_t from = std::min<std::size_t>(start_, flash_.size());
    const std::size_t to = std::min<std::size_t>(std::size_t(start_) + length_, flash_.size());
    return std::uint16_t(std::accumulate(flash_.begin() + from, flash_.begin() + to, 0u));
}

std::vector<std::uint8_t> IspLoader::image() const {
    const std::size_t size = std::min<std::size_t>(length_, flash_.size());
    return {flash_.begin(), flash_.begin() + size};
}

LoaderStep IspLoader::handle(const IspPacket& packet) {
    LoaderStep step;
    const std::uint32_t code = readLe32(packet, 0);
    const std::uint32_t number = readLe32(packet, 4);
    if (mute() || (code == kConnect && ignoreConnect())) return step;

    IspPacket summed = packet;  // data bytes replaced by what the flash reads back
    IspPacket reply{};
    std::size_t dataAt = 0;     // where this packet's image bytes start, 0: none
    switch (code) {
        case kConnect: counter_ = 1; break;
        case kSync: counter_ = readLe32(packet, 8); break;
        case kReadDeviceId: putLe32(reply, 8, kDeviceId); break;
        case kReadVersion: reply[8] = kVersion; break;
        case kReadConfig:
            putLe32(reply, 8, kConfig0);
            putLe32(reply, 12, kConfig1);
            break;
        case kUpdateAprom:
            if (auto slow = takeFault(Kind::SlowErase, number)) step.eraseMillis = std::max(slow->millis, 0);
            step.erase = true;
            eraseFlash();
            start_ = readLe32(packet, 8);
            length_ = readLe32(packet, 12);
            dataAt = 16;
            break;
        case kContinue: dataAt = 8; break;
        case kRun: step.run = true; return step;
        default: break;  // unknown: answered, nothing done
    }

    if (dataAt > 0) {
        const std::size_t size = std::min<std::size_t>(length_ - written_, kIspPacketSize - dataAt);
        if (size > 0) {
            const bool corrupt = takeFault(Kind::CorruptWrite, number).has_value();
            const auto readBack = write(&packet[dataAt], size, corrupt);
            std::copy(readBack.begin(), readBack.end(), summed.begin() + dataAt);
        }
        // A zero-length image is complete with its first packet.
        if (incomplete_ && written_ == length_ && (size > 0 || code == kUpdateAprom)) {
            incomplete_ = false;
            const std::uint16_t sum = imageSum();
            const bool wrong = takeFault(Kind::WrongImageChecksum, number).has_value();
            putLe16(reply, 8, std::uint16_t(sum + (wrong ? 1 : 0)));
            step.written = LoaderStep::Written{length_, sum};
        }
    }

    const bool wrongSum = takeFault(Kind::WrongChecksum, number).has_value();
    putLe16(reply, 0, std::uint16_t(packetSum(summed) + (wrongSum ? 1 : 0)));
    const bool wrongNumber = takeFault(Kind::WrongNumber, number).has_value();
    putLe32(reply, 4, wrongNumber ? counter_ : counter_ + 1);
    counter_ += 2;

    if (takeFault(Kind::DropReply, number)) return step;
    const std::string bytes(reply.begin(), reply.end());
    if (auto split = takeFault(Kind::SplitReply, number)) {
        const std::size_t cut = std::size_t(std::clamp(split->count, 0, int(kIspPacketSize)));
        step.reply.pieces = {bytes.substr(0, cut), bytes.substr(cut)};
        step.reply.gapMillis = std::max(split->millis, 0);
    } else {
        step.reply.pieces = {bytes};
    }
    return step;
}

}  // namespace sim
