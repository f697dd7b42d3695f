#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/addresses.h"
#include "platform/ip_helper.h"

namespace ostrel {

// Checks and in-place rewrites of Ethernet frames and IP packets on their way
// between the tunnel and the adapter. None reads outside the span it is given.
class FrameRewrite {
public:
    // RFC 1071 sum over data (odd last byte padded with zero), folded and inverted.
    static std::uint16_t internetChecksum(std::span<const std::uint8_t> data, std::uint32_t seed = 0);

    // Turns an IPv4 packet to 255.255.255.255 into one to `to`, fixing the
    // header and UDP checksums. False, and nothing touched, when the packet
    // does not qualify (short, lying lengths, another destination).
    static bool rewriteIpv4Broadcast(std::span<std::uint8_t> ip, Ipv4Address to);

    // The same on an Ethernet frame carrying IPv4.
    static bool rewriteFrameBroadcast(std::span<std::uint8_t> frame, Ipv4Address to);

    // A frame from the tunnel worth copying for the broadcast rewrite.
    static bool isFrameBroadcastCandidate(std::span<const std::uint8_t> frame);
    // A packet from the tunnel worth copying for the broadcast rewrite.
    static bool isPacketBroadcastCandidate(std::span<const std::uint8_t> packet);

    // ARP for IPv4 over Ethernet; the caller has checked the frame length.
    static bool isArpIpv4(std::span<const std::uint8_t> frame);

    static constexpr std::size_t kArpSenderMac = 22;
    static constexpr std::size_t kArpTargetMac = 32;
};

}  // namespace ostrel
