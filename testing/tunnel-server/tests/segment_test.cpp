#include "segment.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace ostrel;
using namespace ostrel::test_server;

namespace {

Member member(std::uint64_t id, std::uint8_t host) {
    Member m;
    m.sessionId = id;
    m.mac = {0x02, 0x00, 0, 0, 0, static_cast<std::uint8_t>(id)};
    m.ip4 = {10, 77, 0, host};
    m.ip6 = {0xfd, 0x77, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, host};
    m.hasIp6 = true;
    return m;
}

std::vector<std::uint8_t> frame(const Mac& dest, const Mac& source) {
    std::vector<std::uint8_t> f(60, 0);
    std::copy(dest.begin(), dest.end(), f.begin());
    std::copy(source.begin(), source.end(), f.begin() + 6);
    f[12] = 0x08;
    return f;
}

std::vector<std::uint8_t> ipv4To(std::array<std::uint8_t, 4> dest) {
    std::vector<std::uint8_t> p(28, 0);
    p[0] = 0x45;
    std::copy(dest.begin(), dest.end(), p.begin() + 16);
    return p;
}

std::vector<std::uint64_t> sorted(std::vector<std::uint64_t> v) {
    std::sort(v.begin(), v.end());
    return v;
}

}  // namespace

TEST(Segment, L2DeliversUnicastByMacAndFloodsTheRest) {
    Segment seg(TunnelMode::l2);
    seg.join(member(1, 2));
    seg.join(member(2, 3));
    seg.join(member(3, 4));
    std::vector<std::uint64_t> to;

    seg.route(1, frame(member(2, 3).mac, member(1, 2).mac), to);
    EXPECT_EQ(to, (std::vector<std::uint64_t>{2}));

    Mac broadcast{0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    seg.route(1, frame(broadcast, member(1, 2).mac), to);
    EXPECT_EQ(sorted(to), (std::vector<std::uint64_t>{2, 3}));

    Mac unknown{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    seg.route(2, frame(unknown, member(2, 3).mac), to);
    EXPECT_EQ(sorted(to), (std::vector<std::uint64_t>{1, 3}));

    // A host bridged behind member 3 is learned from its source MAC.
    Mac bridged{0x52, 0x54, 0, 0, 0, 9};
    seg.route(3, frame(broadcast, bridged), to);
    seg.route(1, frame(bridged, member(1, 2).mac), to);
    EXPECT_EQ(to, (std::vector<std::uint64_t>{3}));

    // A frame to the sender's own MAC goes nowhere; short frames are dropped.
    seg.route(1, frame(member(1, 2).mac, member(1, 2).mac), to);
    EXPECT_TRUE(to.empty());
    seg.route(1, std::vector<std::uint8_t>(13, 0xff), to);
    EXPECT_TRUE(to.empty());

    // A member that leaves takes its learned MACs along.
    seg.leave(3);
    seg.route(1, frame(bridged, member(1, 2).mac), to);
    EXPECT_EQ(to, (std::vector<std::uint64_t>{2}));
}

TEST(Segment, L3RoutesByDestinationAddress) {
    Segment seg(TunnelMode::l3);
    seg.join(member(1, 2));
    seg.join(member(2, 3));
    seg.join(member(3, 4));
    std::vector<std::uint64_t> to;

    seg.route(1, ipv4To({10, 77, 0, 4}), to);
    EXPECT_EQ(to, (std::vector<std::uint64_t>{3}));
    seg.route(1, ipv4To({10, 77, 0, 255}), to);
    EXPECT_EQ(sorted(to), (std::vector<std::uint64_t>{2, 3}));
    seg.route(1, ipv4To({224, 0, 0, 251}), to);
    EXPECT_EQ(sorted(to), (std::vector<std::uint64_t>{2, 3}));
    seg.route(1, ipv4To({10, 77, 0, 99}), to);
    EXPECT_TRUE(to.empty());

    std::vector<std::uint8_t> v6(48, 0);
    v6[0] = 0x60;
    auto dest = member(2, 3).ip6;
    std::copy(dest.begin(), dest.end(), v6.begin() + 24);
    seg.route(3, v6, to);
    EXPECT_EQ(to, (std::vector<std::uint64_t>{2}));
    v6[24] = 0xff;
    seg.route(3, v6, to);
    EXPECT_EQ(sorted(to), (std::vector<std::uint64_t>{1, 2}));

    // Truncated headers are not routed.
    seg.route(1, std::vector<std::uint8_t>{0x45, 0, 0}, to);
    EXPECT_TRUE(to.empty());
}
