#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "device/frame_rewrite.h"

namespace ostrel {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr Ipv4Address kDirected{10, 8, 0, 255};

std::uint16_t be16(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]); }

// A UDP datagram inside IPv4, to 255.255.255.255, with both checksums zero.
Bytes udpPacket(std::size_t payload, std::uint8_t ihl = 5) {
    std::size_t h = 4u * ihl;
    Bytes p(h + 8 + payload, 0);
    p[0] = static_cast<std::uint8_t>(0x40 | ihl);
    std::size_t total = p.size();
    p[2] = static_cast<std::uint8_t>(total >> 8);
    p[3] = static_cast<std::uint8_t>(total);
    p[8] = 64;
    p[9] = 17;
    p[12] = 10; p[13] = 8; p[14] = 0; p[15] = 5;
    p[16] = p[17] = p[18] = p[19] = 255;
    p[h] = 0x1F; p[h + 1] = 0x90;      // source port 8080
    p[h + 2] = 0x1F; p[h + 3] = 0x91;  // destination port 8081
    std::size_t udpLength = 8 + payload;
    p[h + 4] = static_cast<std::uint8_t>(udpLength >> 8);
    p[h + 5] = static_cast<std::uint8_t>(udpLength);
    for (std::size_t i = 0; i < payload; ++i) p[h + 8 + i] = static_cast<std::uint8_t>(i * 7 + 1);
    return p;
}

Bytes inFrame(const Bytes& packet, std::uint16_t etherType = 0x0800) {
    Bytes f(14 + packet.size(), 0);
    for (int i = 0; i < 6; ++i) f[i] = 0xFF;
    f[6] = 0x02;
    f[12] = static_cast<std::uint8_t>(etherType >> 8);
    f[13] = static_cast<std::uint8_t>(etherType);
    std::copy(packet.begin(), packet.end(), f.begin() + 14);
    return f;
}

// Checks the sums the way a receiver does: the data with its checksum sums to all ones.
bool headerValid(const Bytes& ip) {
    std::size_t h = 4u * (ip[0] & 0x0F);
    return FrameRewrite::internetChecksum(std::span(ip).first(h)) == 0;
}

bool udpValid(const Bytes& ip) {
    std::size_t h = 4u * (ip[0] & 0x0F);
    std::size_t length = be16(ip, h + 4);
    std::uint32_t pseudo = be16(ip, 12) + be16(ip, 14) + be16(ip, 16) + be16(ip, 18) + 17u +
                           static_cast<std::uint32_t>(length);
    return FrameRewrite::internetChecksum(std::span(ip).subspan(h, length), pseudo) == 0;
}

TEST(DeviceFrameRewrite, ChecksumMatchesKnownHeader) {
    Bytes header{0x45, 0x00, 0x00, 0x73, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11,
                 0x00, 0x00, 0xc0, 0xa8, 0x00, 0x01, 0xc0, 0xa8, 0x00, 0xc7};
    EXPECT_EQ(FrameRewrite::internetChecksum(header), 0xb861);
    Bytes odd{0x01, 0x02, 0x03};  // the last byte counts as 0x0300
    EXPECT_EQ(FrameRewrite::internetChecksum(odd), static_cast<std::uint16_t>(~(0x0102 + 0x0300)));
}

TEST(DeviceFrameRewrite, LimitedBroadcastBecomesDirectedWithValidSums) {
    for (std::uint8_t ihl : {5, 6}) {
        Bytes frame = inFrame(udpPacket(13, ihl));  // odd UDP length exercises the padding
        ASSERT_TRUE(FrameRewrite::isFrameBroadcastCandidate(frame));
        ASSERT_TRUE(FrameRewrite::rewriteFrameBroadcast(frame, kDirected));
        Bytes ip(frame.begin() + 14, frame.end());
        EXPECT_EQ(ip[16], 10);
        EXPECT_EQ(ip[19], 255);
        EXPECT_TRUE(headerValid(ip));
        std::size_t h = 4u * ihl;
        EXPECT_NE(be16(ip, h + 6), 0) << "a zero UDP checksum must be computed";
        EXPECT_TRUE(udpValid(ip));
    }
}

TEST(DeviceFrameRewrite, ComputedZeroUdpChecksumIsSentAsAllOnes) {
    Bytes ip = udpPacket(2);
    // Choose the payload word so that the one's complement sum is all ones.
    ASSERT_TRUE(FrameRewrite::rewriteIpv4Broadcast(ip, kDirected));
    ip[20 + 8] = 0;
    ip[20 + 9] = 0;
    ip[26] = ip[27] = 0;
    std::uint16_t partial = static_cast<std::uint16_t>(~FrameRewrite::internetChecksum(
        std::span(ip).subspan(20, 10), be16(ip, 12) + be16(ip, 14) + be16(ip, 16) + be16(ip, 18) + 17u + 10u));
    std::uint16_t word = static_cast<std::uint16_t>(0xFFFF - partial);
    ip[28] = static_cast<std::uint8_t>(word >> 8);
    ip[29] = static_cast<std::uint8_t>(word);
    ip[16] = ip[17] = ip[18] = ip[19] = 255;
    ASSERT_TRUE(FrameRewrite::rewriteIpv4Broadcast(ip, kDirected));
    EXPECT_EQ(be16(ip, 26), 0xFFFF);
}

TEST(DeviceFrameRewrite, LyingLengthsLeaveWhatTheyMust) {
    // Total length past the data: nothing changes at all.
    Bytes longer = udpPacket(8);
    longer[3] = static_cast<std::uint8_t>(longer[3] + 1);
    Bytes before = longer;
    EXPECT_FALSE(FrameRewrite::rewriteIpv4Broadcast(longer, kDirected));
    EXPECT_EQ(longer, before);

    // Total length below the header length: nothing changes.
    Bytes shorter = udpPacket(8);
    shorter[2] = 0;
    shorter[3] = 19;
    before = shorter;
    EXPECT_FALSE(FrameRewrite::rewriteIpv4Broadcast(shorter, kDirected));
    EXPECT_EQ(shorter, before);

    // UDP length past the datagram: address and header sum change, the UDP sum does not.
    Bytes udp = udpPacket(8);
    udp[25] = 17;
    ASSERT_TRUE(FrameRewrite::rewriteIpv4Broadcast(udp, kDirected));
    EXPECT_TRUE(headerValid(udp));
    EXPECT_EQ(be16(udp, 26), 0);

    // A UDP length below 8 is as bad.
    Bytes tiny = udpPacket(8);
    tiny[25] = 7;
    ASSERT_TRUE(FrameRewrite::rewriteIpv4Broadcast(tiny, kDirected));
    EXPECT_EQ(be16(tiny, 26), 0);

    // A fragment's UDP header does not cover the whole datagram.
    Bytes fragment = udpPacket(8);
    fragment[6] = 0x20;  // more fragments
    ASSERT_TRUE(FrameRewrite::rewriteIpv4Broadcast(fragment, kDirected));
    EXPECT_EQ(be16(fragment, 26), 0);
    EXPECT_TRUE(headerValid(fragment));

    // Shorter total length than the data (trailing padding) is fine and uses T.
    Bytes padded = udpPacket(8);
    padded.push_back(0xAA);
    padded.push_back(0xBB);
    ASSERT_TRUE(FrameRewrite::rewriteIpv4Broadcast(padded, kDirected));
    padded.resize(padded.size() - 2);
    EXPECT_TRUE(udpValid(padded));
}

TEST(DeviceFrameRewrite, OtherTrafficIsLeftAlone) {
    Bytes unicast = udpPacket(8);
    unicast[19] = 7;
    EXPECT_FALSE(FrameRewrite::isPacketBroadcastCandidate(unicast));
    EXPECT_FALSE(FrameRewrite::rewriteIpv4Broadcast(unicast, kDirected));

    Bytes v6frame = inFrame(udpPacket(8), 0x86DD);
    EXPECT_FALSE(FrameRewrite::isFrameBroadcastCandidate(v6frame));
    EXPECT_FALSE(FrameRewrite::rewriteFrameBroadcast(v6frame, kDirected));

    Bytes smallIhl = udpPacket(8);
    smallIhl[0] = 0x44;  // a header length below 20
    EXPECT_FALSE(FrameRewrite::isPacketBroadcastCandidate(smallIhl));
    EXPECT_FALSE(FrameRewrite::rewriteIpv4Broadcast(smallIhl, kDirected));
    Bytes smallIhlFrame = inFrame(smallIhl);
    EXPECT_FALSE(FrameRewrite::rewriteFrameBroadcast(smallIhlFrame, kDirected));

    // A TCP broadcast gets the new address and header sum only.
    Bytes tcp = udpPacket(8);
    tcp[9] = 6;
    ASSERT_TRUE(FrameRewrite::rewriteIpv4Broadcast(tcp, kDirected));
    EXPECT_EQ(be16(tcp, 26), 0);
}

TEST(DeviceFrameRewrite, TruncatedInputNeverReadsPastItsEnd) {
    // Every prefix is handed over in a buffer of exactly its size, so the
    // sanitizer catches any read beyond it.
    Bytes fullFrame = inFrame(udpPacket(8, 6));
    for (std::size_t n = 0; n <= fullFrame.size(); ++n) {
        Bytes cut(fullFrame.begin(), fullFrame.begin() + static_cast<std::ptrdiff_t>(n));
        bool candidate = FrameRewrite::isFrameBroadcastCandidate(cut);
        bool rewritten = FrameRewrite::rewriteFrameBroadcast(cut, kDirected);
        (void)FrameRewrite::isArpIpv4(cut);
        EXPECT_EQ(candidate, n >= 38) << n;
        EXPECT_EQ(rewritten, n == fullFrame.size()) << n;
    }
    Bytes fullPacket = udpPacket(8);
    for (std::size_t n = 0; n <= fullPacket.size(); ++n) {
        Bytes cut(fullPacket.begin(), fullPacket.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_EQ(FrameRewrite::isPacketBroadcastCandidate(cut), n >= 20) << n;
        EXPECT_EQ(FrameRewrite::rewriteIpv4Broadcast(cut, kDirected), n == fullPacket.size()) << n;
    }
}

}  // namespace
}  // namespace ostrel
