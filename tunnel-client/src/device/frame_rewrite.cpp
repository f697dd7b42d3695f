#include "device/frame_rewrite.h"

#include "core/internet_checksum.h"

namespace ostrel {

namespace {


std::uint16_t be16(std::span<const std::uint8_t> d, std::size_t at) {
    return static_cast<std::uint16_t>((d[at] << 8) | d[at + 1]);
}

void putBe16(std::span<std::uint8_t> d, std::size_t at, std::uint16_t v) {
    d[at] = static_cast<std::uint8_t>(v >> 8);
    d[at + 1] = static_cast<std::uint8_t>(v);
}

bool isLimitedBroadcast(std::span<const std::uint8_t> d, std::size_t at) {
    return d[at] == 255 && d[at + 1] == 255 && d[at + 2] == 255 && d[at + 3] == 255;
}

}  // namespace

std::uint16_t FrameRewrite::internetChecksum(std::span<const std::uint8_t> data, std::uint32_t seed) {
    return InternetChecksum::of(data, seed);
}

bool FrameRewrite::rewriteIpv4Broadcast(std::span<std::uint8_t> ip, Ipv4Address to) {
    if (ip.size() < 20) return false;
    std::uint8_t versionIhl = ip[0];
    if ((versionIhl >> 4) != 4) return false;
    std::size_t h = 4u * (versionIhl & 0x0F);
    if (h < 20 || ip.size() < h) return false;
    if (!isLimitedBroadcast(ip, 16)) return false;
    std::size_t total = be16(ip, 2);
    if (total > ip.size() || total < h) return false;

    std::copy(to.begin(), to.end(), ip.begin() + 16);
    putBe16(ip, 10, 0);
    putBe16(ip, 10, internetChecksum(ip.first(h)));

    bool unfragmented = (ip[6] & 0x3F) == 0 && ip[7] == 0;
    if (ip[9] == 17 && unfragmented && total - h >= 8) {
        std::span<std::uint8_t> udp = ip.subspan(h, total - h);
        std::size_t length = be16(udp, 4);
        if (length >= 8 && length <= udp.size()) {
            std::uint32_t pseudo = 0;
            pseudo = InternetChecksum::sum(ip.subspan(12, 8), pseudo);
            pseudo += 17;
            pseudo += static_cast<std::uint32_t>(length);
            putBe16(udp, 6, 0);
            std::uint16_t sum = internetChecksum(udp.first(length), pseudo);
            // Zero means "no checksum" in UDP, so a computed zero goes out as all ones.
            putBe16(udp, 6, sum == 0 ? 0xFFFF : sum);
        }
    }
    return true;
}

bool FrameRewrite::rewriteFrameBroadcast(std::span<std::uint8_t> frame, Ipv4Address to) {
    if (frame.size() < 34 || be16(frame, 12) != 0x0800) return false;
    if (frame[14] < 0x45 || frame[14] > 0x4F) return false;
    return rewriteIpv4Broadcast(frame.subspan(14), to);
}

bool FrameRewrite::isFrameBroadcastCandidate(std::span<const std::uint8_t> frame) {
    if (frame.size() <= 33 || be16(frame, 12) != 0x0800) return false;
    if (frame[14] < 0x45 || frame[14] > 0x4F) return false;
    if (frame.size() < 14u + 4u * (frame[14] & 0x0F)) return false;
    return isLimitedBroadcast(frame, 30);
}

bool FrameRewrite::isPacketBroadcastCandidate(std::span<const std::uint8_t> packet) {
    if (packet.size() < 20 || (packet[0] >> 4) != 4) return false;
    std::size_t h = 4u * (packet[0] & 0x0F);
    if (h < 20 || packet.size() < h) return false;
    return isLimitedBroadcast(packet, 16);
}

bool FrameRewrite::isArpIpv4(std::span<const std::uint8_t> frame) {
    return frame.size() >= 42 && be16(frame, 12) == 0x0806 && be16(frame, 14) == 1 && be16(frame, 16) == 0x0800 &&
           frame[18] == 6 && frame[19] == 4;
}

}  // namespace ostrel
