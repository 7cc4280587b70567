// The loader's logic without a wire: packet assembly, its own counter, the
// checksums, the flash and each fault's effect on one reply.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "isp_loader.h"
#include "isp_packets.h"

namespace {

using namespace std::chrono_literals;
using sim::IspLoader;
using sim::LoaderFault;
using sim::LoaderStep;
using sim::PacketAssembler;
using simtest::le;
using simtest::Packet;
using simtest::packet;
using Kind = LoaderFault::Kind;

std::string replyOf(const LoaderStep& step) {
    std::string bytes;
    for (const std::string& piece : step.reply.pieces) bytes += piece;
    return bytes;
}

TEST(PacketAssembly, PartsArePacketsUnlessAPauseCutsThem) {
    struct Piece {
        std::size_t size;
        std::chrono::milliseconds at;
    };
    struct Case {
        const char* what;
        std::vector<Piece> pieces;
        std::vector<unsigned> firstBytes;  // of each packet, bytes being numbered 0, 1, 2, ...
    };
    const Case cases[] = {
        {"whole", {{64, 0ms}}, {0}},
        {"two parts, 50 ms apart", {{10, 0ms}, {54, 50ms}}, {0}},
        {"part dropped after 51 ms", {{10, 0ms}, {64, 51ms}}, {10}},
        {"two packets and a part at once", {{140, 0ms}}, {0, 64}},
        {"a part after a packet waits", {{70, 0ms}, {58, 20ms}}, {0, 64}},
        {"nothing whole", {{63, 0ms}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PacketAssembler assembler;
        const auto start = PacketAssembler::Clock::now();
        std::vector<unsigned> firstBytes;
        unsigned next = 0;
        for (const Piece& piece : c.pieces) {
            std::string bytes;
            for (std::size_t i = 0; i < piece.size; ++i) bytes += char(next++);
            // The assembler stops at each packet's end; hand it the rest again.
            for (std::string_view rest = bytes; !rest.empty();) {
                const auto fed = assembler.feed(rest, start + piece.at);
                ASSERT_GT(fed.used, 0u);
                if (fed.packet) firstBytes.push_back((*fed.packet)[0]);
                rest.remove_prefix(fed.used);
            }
        }
        EXPECT_EQ(firstBytes, c.firstBytes);
    }
}

// The host's usual reading sequence, then the loader's counter against a host
// that numbers on its own.
TEST(LoaderReplies, CounterChecksumAndDataOfEachCommand) {
    struct Row {
        const char* what;
        Packet sent;
        unsigned sum;          // reply bytes 0-1
        std::uint32_t number;  // reply bytes 4-7
        std::vector<std::uint8_t> data;  // reply bytes from 8 on; the rest must be 0
    };
    Packet syncTo40 = simtest::sync(3);
    simtest::putLe32(syncTo40, 8, 40);
    const Row rows[] = {
        {"connect", packet(0xAE, 1), 0xAF, 2, {}},
        {"connect again", packet(0xAE, 1), 0xAF, 2, {}},
        {"sync", simtest::sync(3), 0xAA, 4, {}},
        {"device id", packet(0xB1, 5), 0xB6, 6, {0x00, 0x10, 0x13, 0x01}},
        {"loader version", packet(0xA6, 7), 0xAD, 8, {0x2A}},
        {"config", packet(0xA2, 9), 0xAB, 10, {0x7F, 0xFF, 0xFF, 0xFF, 0x00, 0xF0, 0x01, 0x00}},
        {"unknown code", packet(0x55, 11), 0x60, 12, {}},
        {"host number ignored", packet(0xB1, 99), 0x114, 14, {0x00, 0x10, 0x13, 0x01}},
        {"sync to 40", syncTo40, 0xCF, 41, {}},
        {"after that sync", packet(0xA6, 5), 0xAB, 43, {0x2A}},
    };
    IspLoader loader;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string reply = replyOf(loader.handle(row.sent));
        ASSERT_EQ(reply.size(), 64u);
        EXPECT_EQ(le(reply, 0, 2), row.sum);
        EXPECT_EQ(le(reply, 2, 2), 0u);
        EXPECT_EQ(le(reply, 4), row.number);
        std::vector<std::uint8_t> data(64 - 8, 0);
        std::copy(row.data.begin(), row.data.end(), data.begin());
        EXPECT_EQ(std::string(reply.begin() + 8, reply.end()), std::string(data.begin(), data.end()));
    }
}

TEST(LoaderWrites, ImagesOfEverySizeLandInFlash) {
    for (const std::size_t size : {0, 1, 48, 49, 104, 105, 1000}) {
        SCOPED_TRACE(size);
        const auto bytes = simtest::image(size);
        const auto packets = simtest::writePackets(bytes, 11);
        EXPECT_EQ(packets.size(), size <= 48 ? 1 : 1 + (size - 48 + 55) / 56);
        IspLoader loader;
        loader.handle(packet(0xAE, 1));
        for (std::size_t k = 0; k < packets.size(); ++k) {
            const LoaderStep step = loader.handle(packets[k]);
            const std::string reply = replyOf(step);
            EXPECT_EQ(step.erase, k == 0);
            EXPECT_EQ(le(reply, 0, 2), simtest::byteSum(packets[k]));  // read back as sent
            EXPECT_EQ(le(reply, 4), 4 + 2 * k);
            const bool last = k + 1 == packets.size();
            ASSERT_EQ(step.written.has_value(), last);
            EXPECT_EQ(loader.imageIncomplete(), !last);
            if (!last) continue;
            const unsigned sum = simtest::byteSum(bytes) & 0xFFFF;
            EXPECT_EQ(step.written->bytes, size);
            EXPECT_EQ(step.written->checksum, sum);
            EXPECT_EQ(le(reply, 8, 2), sum);
        }
        EXPECT_EQ(loader.image(), bytes);
        EXPECT_TRUE(loader.handle(packet(0xAB, 1)).run);
    }
    EXPECT_GT(simtest::byteSum(simtest::image(1000)), 0xFFFFu);  // the sum above was cut to 16 bits
}

TEST(LoaderWrites, ResentPacketShiftsTheImageAndExtraPacketsWriteNothing) {
    const auto bytes = simtest::image(200);
    auto packets = simtest::writePackets(bytes, 11);  // 48 + 56 + 56 + 40
    IspLoader loader;
    loader.handle(packets[0]);
    loader.handle(packets[1]);
    loader.handle(packets[1]);  // resent: lands at 104
    const LoaderStep filled = loader.handle(packets[2]);  // 40 of its 56 bytes fit
    const LoaderStep extra = loader.handle(packets[3]);
    auto shifted = bytes;
    std::copy(bytes.begin() + 48, bytes.begin() + 104, shifted.begin() + 104);
    std::copy(bytes.begin() + 104, bytes.begin() + 144, shifted.begin() + 160);
    EXPECT_EQ(loader.image(), shifted);
    ASSERT_TRUE(filled.written.has_value());
    EXPECT_EQ(filled.written->checksum, simtest::byteSum(shifted) & 0xFFFF);
    EXPECT_FALSE(extra.written.has_value());
    EXPECT_EQ(le(replyOf(extra), 0, 2), simtest::byteSum(packets[3]));  // still answered

    IspLoader erased;  // as a failed update leaves it: a continuation finishes nothing
    erased.eraseFlash();
    EXPECT_EQ(replyOf(erased.handle(packets[1])).size(), 64u);
    EXPECT_FALSE(erased.handle(packets[1]).written.has_value());
    EXPECT_TRUE(erased.imageIncomplete());
    EXPECT_TRUE(erased.image().empty());
}

// The script: connect, connect, sync 3, first APROM packet 5 and its one
// continuation 7 (a 60-byte image). Each fault changes the step named and no
// other.
TEST(LoaderFaults, EachChangesItsOwnReplyOnly) {
    const auto bytes = simtest::image(60);
    std::vector<Packet> script = {packet(0xAE, 1), packet(0xAE, 1), simtest::sync(3)};
    for (const Packet& p : simtest::writePackets(bytes, 5)) script.push_back(p);
    auto run = [&](std::vector<LoaderFault> faults, std::vector<std::uint8_t>* flash = nullptr) {
        IspLoader loader;
        for (const LoaderFault& f : faults) loader.pushFault(f);
        std::vector<LoaderStep> steps;
        for (const Packet& p : script) steps.push_back(loader.handle(p));
        if (flash) *flash = loader.image();
        return steps;
    };
    const std::vector<LoaderStep> normal = run({});
    using Check = std::function<void(const LoaderStep& normal, const LoaderStep& faulty)>;
    auto silent = [](const LoaderStep&, const LoaderStep& f) { EXPECT_TRUE(f.reply.pieces.empty()); };
    auto wordOff = [](std::size_t at, std::size_t width, int by) {
        return [=](const LoaderStep& n, const LoaderStep& f) {
            EXPECT_EQ(le(replyOf(f), at, width), le(replyOf(n), at, width) + by);
        };
    };
    struct Case {
        const char* what;
        std::vector<LoaderFault> faults;
        std::vector<std::size_t> changed;  // steps that differ
        Check check;
    };
    const Case cases[] = {
        {"first connect ignored", {{Kind::AnswerAfterConnects, 0, 1}}, {0}, silent},
        {"two connects ignored", {{Kind::AnswerAfterConnects, 0, 2}}, {0, 1}, silent},
        {"reply dropped, counter moves on", {{Kind::DropReply, 3}}, {2}, silent},
        {"checksum off", {{Kind::WrongChecksum, 5}}, {3}, wordOff(0, 2, 1)},
        {"number wrong", {{Kind::WrongNumber, 7}}, {4}, wordOff(4, 4, -1)},
        {"image checksum off", {{Kind::WrongImageChecksum}}, {4}, wordOff(8, 2, 1)},
        {"split once, though two packets carry 1", {{Kind::SplitReply, 1, 10, 25}}, {0},
         [](const LoaderStep& n, const LoaderStep& f) {
             EXPECT_EQ(f.reply.pieces, (std::vector<std::string>{replyOf(n).substr(0, 10),
                                                                 replyOf(n).substr(10)}));
             EXPECT_EQ(f.reply.gapMillis, 25);
         }},
        {"slow erase", {{Kind::SlowErase, 0, 0, 70}}, {3},
         [](const LoaderStep& n, const LoaderStep& f) {
             EXPECT_FALSE(n.eraseMillis.has_value());
             EXPECT_EQ(f.eraseMillis, 70);
             EXPECT_EQ(replyOf(f), replyOf(n));
         }},
        {"fault for a packet never sent stays unused", {{Kind::DropReply, 9}}, {}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<LoaderStep> faulty = run(c.faults);
        for (std::size_t k = 0; k < script.size(); ++k) {
            if (std::find(c.changed.begin(), c.changed.end(), k) != c.changed.end()) {
                c.check(normal[k], faulty[k]);
            } else {
                EXPECT_EQ(replyOf(faulty[k]), replyOf(normal[k])) << "step " << k;
                EXPECT_EQ(faulty[k].reply.pieces.size(), 1u) << "step " << k;
            }
        }
    }

    // A corrupt write shows in the packet's checksum, the image and its sum.
    std::vector<std::uint8_t> flash;
    const auto corrupt = run({{Kind::CorruptWrite, 7}}, &flash);
    EXPECT_NE(le(replyOf(corrupt[4]), 0, 2), le(replyOf(normal[4]), 0, 2));
    EXPECT_NE(corrupt[4].written->checksum, normal[4].written->checksum);
    EXPECT_EQ(le(replyOf(corrupt[4]), 8, 2), corrupt[4].written->checksum);
    std::size_t differing = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) differing += flash[i] != bytes[i];
    EXPECT_EQ(differing, 1u);
}

// Standing faults come back with each restart, never twice over; pushed ones
// are not touched by it.
TEST(LoaderFaults, StandingOnesArmAtEachRestart) {
    auto silent = [](const LoaderStep& step) { return step.reply.pieces.empty(); };
    IspLoader loader;
    loader.setStandingFaults({{Kind::AnswerAfterConnects, 0, 1}});
    loader.pushFault({Kind::DropReply, 3});
    loader.restart();
    loader.restart();
    EXPECT_TRUE(silent(loader.handle(packet(0xAE, 1))));
    EXPECT_FALSE(silent(loader.handle(packet(0xAE, 1))));
    loader.restart();
    EXPECT_TRUE(silent(loader.handle(packet(0xAE, 1))));
    EXPECT_TRUE(silent(loader.handle(simtest::sync(3))));
    loader.clearFaults();
    EXPECT_FALSE(silent(loader.handle(packet(0xAE, 1))));
    loader.restart();
    EXPECT_TRUE(silent(loader.handle(packet(0xAE, 1))));
}

}  // namespace
