#pragma once
// The members of one node, forwarding like one Ethernet segment.
//   l2: frames go to the member owning the destination MAC (session MACs and
//       learned source MACs); broadcast, multicast and unknown MACs flood.
//   l3: packets go to the member owning the destination IPv4/IPv6 address;
//       broadcast and multicast reach every other member, unknown drops.

#include "account_table.h"
#include "core/addresses.h"

#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

namespace ostrel::test_server {

struct Member {
    std::uint64_t sessionId = 0;
    Mac mac{};
    Ipv4Address ip4{};
    Ipv6Address ip6{};
    bool hasIp6 = false;
};

class Segment {
public:
    explicit Segment(TunnelMode mode) : mode_(mode) {}

    void join(const Member& member);
    void leave(std::uint64_t sessionId);
    std::size_t size() const { return members_.size(); }
    const std::vector<Member>& members() const { return members_; }

    // Fills `to` with the session ids that get `packet`, sent by `from`.
    void route(std::uint64_t from, std::span<const std::uint8_t> packet, std::vector<std::uint64_t>& to);

private:
    void flood(std::uint64_t from, std::vector<std::uint64_t>& to) const;
    void routeFrame(std::uint64_t from, std::span<const std::uint8_t> frame, std::vector<std::uint64_t>& to);
    void routePacket(std::uint64_t from, std::span<const std::uint8_t> packet, std::vector<std::uint64_t>& to) const;

    TunnelMode mode_;
    std::vector<Member> members_;
    std::map<Mac, std::uint64_t> macs_;
};

}  // namespace ostrel::test_server
