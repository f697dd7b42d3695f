#include "segment.h"

#include <algorithm>
#include <cstring>

namespace ostrel::test_server {

void Segment::join(const Member& member) {
    leave(member.sessionId);
    members_.push_back(member);
    macs_[member.mac] = member.sessionId;
}

void Segment::leave(std::uint64_t sessionId) {
    std::erase_if(members_, [&](const Member& m) { return m.sessionId == sessionId; });
    std::erase_if(macs_, [&](const auto& entry) { return entry.second == sessionId; });
}

void Segment::route(std::uint64_t from, std::span<const std::uint8_t> packet, std::vector<std::uint64_t>& to) {
    to.clear();
    if (mode_ == TunnelMode::l2) {
        routeFrame(from, packet, to);
    } else {
        routePacket(from, packet, to);
    }
}

void Segment::flood(std::uint64_t from, std::vector<std::uint64_t>& to) const {
    for (const auto& m : members_)
        if (m.sessionId != from) to.push_back(m.sessionId);
}

void Segment::routeFrame(std::uint64_t from, std::span<const std::uint8_t> frame, std::vector<std::uint64_t>& to) {
    if (frame.size() < 14) return;
    Mac source;
    std::memcpy(source.data(), frame.data() + 6, 6);
    // Learn unicast sources so bridged hosts behind a member are reachable.
    if ((source[0] & 1) == 0) {
        auto it = macs_.find(source);
        if (it == macs_.end() || it->second != from) {
            bool member = std::any_of(members_.begin(), members_.end(),
                                      [&](const Member& m) { return m.sessionId == from; });
            if (member) macs_[source] = from;
        }
    }
    Mac dest;
    std::memcpy(dest.data(), frame.data(), 6);
    if ((dest[0] & 1) == 0) {
        auto it = macs_.find(dest);
        if (it != macs_.end()) {
            if (it->second != from) to.push_back(it->second);
            return;
        }
    }
    flood(from, to);
}

void Segment::routePacket(std::uint64_t from, std::span<const std::uint8_t> packet,
                          std::vector<std::uint64_t>& to) const {
    if (packet.empty()) return;
    unsigned version = packet[0] >> 4;
    if (version == 4 && packet.size() >= 20) {
        const std::uint8_t* dest = packet.data() + 16;
        bool broadcast = dest[3] == 255 || (dest[0] >= 224 && dest[0] <= 239);
        if (broadcast) {
            flood(from, to);
            return;
        }
        for (const auto& m : members_)
            if (m.sessionId != from && std::memcmp(m.ip4.data(), dest, 4) == 0) to.push_back(m.sessionId);
    } else if (version == 6 && packet.size() >= 40) {
        const std::uint8_t* dest = packet.data() + 24;
        if (dest[0] == 0xff) {
            flood(from, to);
            return;
        }
        for (const auto& m : members_)
            if (m.sessionId != from && m.hasIp6 && std::memcmp(m.ip6.data(), dest, 16) == 0)
                to.push_back(m.sessionId);
    }
}

}  // namespace ostrel::test_server
