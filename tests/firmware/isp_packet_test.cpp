// Loader packets byte by byte, and the tests applied to replies.
#include "firmware/isp_packet.h"

#include <gtest/gtest.h>

#include <numeric>

namespace firmware {
namespace {

Bytes counting(std::size_t n) {
    Bytes b(n);
    std::iota(b.begin(), b.end(), std::uint8_t{1});
    return b;
}

Bytes replyTo(const Packet& sent, std::uint32_t number) {
    Bytes reply(kPacketSize, 0);
    const std::uint32_t sum = packetSum(sent);
    reply[0] = static_cast<std::uint8_t>(sum);
    reply[1] = static_cast<std::uint8_t>(sum >> 8);
    for (int i = 0; i < 4; ++i) reply[4 + i] = static_cast<std::uint8_t>((number + 1) >> (8 * i));
    return reply;
}

TEST(Packets, ConnectAndSync) {
    Packet connect = commandPacket(IspCommand::Connect);
    setPacketNumber(connect, 1);
    Packet expected{};
    expected[0] = 0xAE;
    expected[4] = 0x01;
    EXPECT_EQ(connect, expected);
    EXPECT_EQ(packetSum(connect), 0xAFu);

    Packet sync = syncPacket(3);
    setPacketNumber(sync, 3);
    EXPECT_EQ(sync[0], 0xA4);
    EXPECT_EQ(sync[4], 3);
    EXPECT_EQ(sync[8], 3);
    EXPECT_EQ(packetSum(sync), 0xAAu);

    Packet big = commandPacket(IspCommand::ReadConfig);
    setPacketNumber(big, 0x01020304);
    EXPECT_EQ((std::vector<int>{big[4], big[5], big[6], big[7]}), (std::vector<int>{4, 3, 2, 1}));
}

TEST(Packets, ImagePieces) {
    const struct {
        std::size_t length;
        std::size_t packets;
    } counts[] = {{0, 1}, {1, 1}, {48, 1}, {49, 2}, {104, 2}, {105, 3}, {160, 3}, {161, 4},
                  {1048575, 18725}};
    for (const auto& c : counts) EXPECT_EQ(apromPacketCount(c.length), c.packets) << c.length;

    const Bytes image = counting(105);
    const Packet first = firstAprom(image);
    EXPECT_EQ(first[0], 0xA0);
    EXPECT_EQ(readU32(Bytes(first.begin(), first.end()), 8), 0u);
    EXPECT_EQ(readU32(Bytes(first.begin(), first.end()), 12), 105u);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 48, first.begin() + 16));

    const Packet second = continuationPacket(image, 48);
    EXPECT_EQ(second[0], 0x00);
    EXPECT_TRUE(std::equal(image.begin() + 48, image.begin() + 104, second.begin() + 8));
    const Packet third = continuationPacket(image, 104);
    EXPECT_EQ(third[8], image[104]);
    EXPECT_TRUE(std::all_of(third.begin() + 9, third.end(), [](auto b) { return b == 0; }));

    // 0 bytes: a length of 0 and no data; 49: the continuation carries 1 byte.
    const Packet empty = firstAprom({});
    EXPECT_TRUE(std::all_of(empty.begin() + 1, empty.end(), [](auto b) { return b == 0; }));
    const Packet tail = continuationPacket(counting(49), 48);
    EXPECT_EQ(tail[8], 49);
    EXPECT_TRUE(std::all_of(tail.begin() + 9, tail.end(), [](auto b) { return b == 0; }));
}

TEST(Replies, Tests) {
    Packet sent = syncPacket(3);
    setPacketNumber(sent, 3);
    const Bytes good = replyTo(sent, 3);
    EXPECT_TRUE(checkReply(sent, 3, good, 64).ok());

    Bytes badSum = good;
    badSum[0] ^= 1;
    Bytes badNumber = good;
    badNumber[4] = 9;
    const struct {
        const char* name;
        Bytes reply;
        std::size_t received;
        bool complete, checksumOk, numberOk;
    } cases[] = {
        {"whole and right", good, 64, true, true, true},
        {"short", good, 63, false, true, true},
        {"nothing", Bytes(64, 0), 0, false, false, false},
        {"checksum off", badSum, 64, true, false, true},
        {"number off", badNumber, 64, true, true, false},
        {"buffer too small", Bytes(good.begin(), good.begin() + 6), 64, false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ReplyCheck check = checkReply(sent, 3, c.reply, c.received);
        EXPECT_EQ(check.complete, c.complete);
        EXPECT_EQ(check.checksumOk, c.checksumOk);
        EXPECT_EQ(check.numberOk, c.numberOk);
        EXPECT_EQ(check.ok(), c.complete && c.checksumOk && c.numberOk);
    }
    EXPECT_EQ(decimalList(Bytes{174, 0, 1}), "[174, 0, 1]");
    EXPECT_EQ(decimalList(Bytes{}), "[]");
}

}  // namespace
}  // namespace firmware
