#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include "device/host_config.h"
#include "core/text.h"
#include "support/fake_platform.h"

namespace ostrel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::FakePlatform;

constexpr std::uint32_t kIndex = 7;
const std::string kName = "vlan0";
const Mac kMac{0x02, 0x00, 0x12, 0x34, 0x56, 0x78};

HostSettings both() {
    HostSettings s;
    s.address = {10, 8, 0, 5};
    s.netmask = {255, 255, 255, 0};
    s.dns = {10, 8, 0, 1};
    s.mtu = 1420;
    s.addressFlags = 3;
    s.address6 = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5};
    s.prefix6 = 64;
    s.dns6 = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    s.sessionMac = kMac;
    return s;
}

UnicastRow existing(AddressFamily family, std::uint8_t last, std::uint32_t index) {
    UnicastRow row;
    row.family = family;
    row.address = {10, 8, 0, last};
    row.interfaceIndex = index;
    row.onLinkPrefixLength = 24;
    return row;
}

TEST(HostConfigConfigure, TapRunsEveryStepInOrderAndTeardownUndoesExactlyThat) {
    FakePlatform fx;
    fx.ipHelper.addresses = {existing(AddressFamily::V4, 99, kIndex), existing(AddressFamily::V4, 42, kIndex + 1)};
    HostConfig host(HostConfig::Style::Tap, fx.ipHelper, fx.commands);

    ASSERT_TRUE(host.configure(kName, kIndex, both()));
    EXPECT_THAT(fx.log,
                ElementsAre("link-get 7", "netsh interface set interface name=vlan0 admin=enabled", "table v4",
                            "addr- 10.8.0.99/24@7", "table v6", "metric-get v4", "metric-set v4 5", "metric-get v6",
                            "metric-set v6 5", "ipaddr+ 10.8.0.5 mask 255.255.255.0", "metric-get v4",
                            "metric-set v4 5", "route+ 10.8.0.0/24", "route- 255.255.255.255/32",
                            "route+ 255.255.255.255/32",
                            "netsh interface ipv4 set dns name=vlan0 source=static address=10.8.0.1 register=none",
                            "addr+ fd00::5/64@7", "metric-get v6", "metric-set v6 5",
                            "netsh interface ipv6 set dns vlan0 static fd00::1 primary",
                            "netsh interface ipv4 set subinterface vlan0 mtu=1420 store=active",
                            "netsh interface ipv6 set subinterface vlan0 mtu=1420 store=active"));
    EXPECT_TRUE(host.macRewrite());
    EXPECT_EQ(host.sessionMac(), kMac);
    EXPECT_TRUE(host.broadcastRewrite());
    EXPECT_EQ(host.broadcastAddress(), (Ipv4Address{10, 8, 0, 255}));
    ASSERT_EQ(host.keptRoutes().size(), 2u);
    const RouteRow& subnet = host.keptRoutes()[0];
    EXPECT_EQ(subnet.interfaceIndex, kIndex);
    EXPECT_EQ(subnet.metric, 1u);
    EXPECT_EQ(subnet.protocol, 3u);
    EXPECT_TRUE(subnet.immortal);
    EXPECT_EQ(subnet.validLifetime, 0xFFFFFFFFu);
    EXPECT_EQ(subnet.nextHop, (Ipv4Address{0, 0, 0, 0}));

    fx.log.clear();
    host.teardown(kName, kIndex);
    EXPECT_THAT(fx.log, ElementsAre("route- 10.8.0.0/24", "route- 255.255.255.255/32",
                                    "netsh interface ipv4 set dns name=vlan0 source=dhcp",
                                    "netsh interface ipv6 delete dnsservers vlan0 all", "ipaddr- 100",
                                    "addr- fd00::5/64@7",
                                    "netsh interface ipv4 set subinterface vlan0 mtu=1500 store=active",
                                    "netsh interface ipv6 set subinterface vlan0 mtu=1500 store=active"));
    // Only the other interface's address is left, and no route.
    ASSERT_EQ(fx.ipHelper.addresses.size(), 1u);
    EXPECT_EQ(fx.ipHelper.addresses[0].interfaceIndex, kIndex + 1);
    EXPECT_THAT(fx.ipHelper.routes, IsEmpty());
}

TEST(HostConfigConfigure, ExistingSubnetRouteIsNotOursButBroadcastRouteIs) {
    FakePlatform fx;
    HostConfig probe(HostConfig::Style::Tap, fx.ipHelper, fx.commands);
    // Put the subnet route on the host first, as the system would when the address is added.
    ASSERT_TRUE(probe.addRoute(kName, kIndex, {10, 8, 0, 0}, 24, false));
    fx.log.clear();

    HostConfig host(HostConfig::Style::Tap, fx.ipHelper, fx.commands);
    ASSERT_TRUE(host.configure(kName, kIndex, both()));
    ASSERT_EQ(host.keptRoutes().size(), 1u);
    EXPECT_EQ(host.keptRoutes()[0].destination, (Ipv4Address{255, 255, 255, 255}));

    host.teardown(kName, kIndex);
    ASSERT_EQ(fx.ipHelper.routes.size(), 1u);
    EXPECT_EQ(fx.ipHelper.routes[0].destination, (Ipv4Address{10, 8, 0, 0}));
}

TEST(HostConfigConfigure, AddressAlreadyPresentIsKeptOnTapButRemovedOnWintun) {
    for (std::uint32_t code : {5010u, 1221u}) {
        FakePlatform fx;
        fx.ipHelper.addIpAddressResult = code;
        HostConfig host(HostConfig::Style::Tap, fx.ipHelper, fx.commands);
        ASSERT_TRUE(host.configure(kName, kIndex, both())) << code;
        EXPECT_FALSE(host.ipv4Added());
        host.teardown(kName, kIndex);
        EXPECT_TRUE(fx.calls("ipaddr-").empty()) << code;
    }

    FakePlatform fx;
    fx.ipHelper.unicastResults[AddressFamily::V4] = 5010;
    HostConfig host(HostConfig::Style::Wintun, fx.ipHelper, fx.commands);
    ASSERT_TRUE(host.configure(kName, kIndex, both()));
    EXPECT_TRUE(host.ipv4Added());
    EXPECT_FALSE(host.macRewrite());
    EXPECT_THAT(fx.calls("addr+ 10."), ElementsAre("addr+ 10.8.0.5/24@7"));
    // The address the host already had goes too, as the grant said it is ours.
    fx.ipHelper.addresses.push_back(existing(AddressFamily::V4, 5, kIndex));
    host.teardown(kName, kIndex);
    EXPECT_THAT(fx.calls("addr- 10."), ElementsAre("addr- 10.8.0.5/24@7"));
    EXPECT_THAT(fx.ipHelper.addresses, IsEmpty());
}

TEST(HostConfigConfigure, HostMaskGivesPrefix32AndZeroDnsGivesFallback) {
    FakePlatform fx;
    HostSettings s = both();
    s.netmask = {255, 255, 255, 255};
    s.dns = {0, 0, 0, 0};
    HostConfig host(HostConfig::Style::Wintun, fx.ipHelper, fx.commands);
    ASSERT_TRUE(host.configure(kName, kIndex, s));
    EXPECT_THAT(fx.calls("addr+ 10."), ElementsAre("addr+ 10.8.0.5/32@7"));
    EXPECT_THAT(fx.calls("route+"), ElementsAre("route+ 10.8.0.5/32", "route+ 255.255.255.255/32"));
    EXPECT_EQ(host.broadcastAddress(), (Ipv4Address{10, 8, 0, 5}));
    EXPECT_THAT(fx.calls("netsh interface ipv4 set dns"),
                ElementsAre("netsh interface ipv4 set dns name=vlan0 source=static address=1.1.1.1 register=none"));
}

TEST(HostConfigConfigure, NoAddressFamiliesStillEnablesCleansAndSetsMtu) {
    FakePlatform fx;
    fx.ipHelper.addresses = {existing(AddressFamily::V4, 3, kIndex)};
    HostSettings s = both();
    s.addressFlags = 0;
    s.mtu = 1280;
    HostConfig host(HostConfig::Style::Tap, fx.ipHelper, fx.commands);
    ASSERT_TRUE(host.configure(kName, kIndex, s));
    EXPECT_THAT(fx.calls("netsh"), ElementsAre("netsh interface set interface name=vlan0 admin=enabled",
                                               "netsh interface ipv4 set subinterface vlan0 mtu=1280 store=active",
                                               "netsh interface ipv6 set subinterface vlan0 mtu=1280 store=active"));
    EXPECT_THAT(fx.calls("metric-set"), ElementsAre("metric-set v4 5", "metric-set v6 5"));
    EXPECT_THAT(fx.ipHelper.addresses, IsEmpty());
    EXPECT_FALSE(host.broadcastRewrite());

    // IPv6 flagged valid but with prefix 0 is skipped, DNS included.
    FakePlatform fx6;
    s.addressFlags = 2;
    s.prefix6 = 0;
    HostConfig host6(HostConfig::Style::Tap, fx6.ipHelper, fx6.commands);
    ASSERT_TRUE(host6.configure(kName, kIndex, s));
    EXPECT_TRUE(fx6.calls("addr+").empty());
    EXPECT_TRUE(fx6.calls("netsh interface ipv6 set dns").empty());
    EXPECT_FALSE(host6.dns6Set());
}

TEST(HostConfigConfigure, FailingDnsAndMtuRunsDoNotFailButEnableDoes) {
    FakePlatform fx;
    fx.commands.rules = {{"set dns", std::unexpected(std::string("No such file or directory"))},
                         {"subinterface", 1u}};
    HostConfig host(HostConfig::Style::Tap, fx.ipHelper, fx.commands);
    EXPECT_TRUE(host.configure(kName, kIndex, both()));
    EXPECT_TRUE(host.dns4Set());
    EXPECT_TRUE(host.dns6Set());

    FakePlatform start;
    start.commands.rules = {{"admin=enabled", std::unexpected(std::string("No such file or directory"))}};
    HostConfig h1(HostConfig::Style::Tap, start.ipHelper, start.commands);
    auto r1 = h1.configure(kName, kIndex, both());
    ASSERT_FALSE(r1);
    EXPECT_EQ(r1.error(), "failed to run netsh: No such file or directory");
    EXPECT_EQ(start.log.size(), 2u);  // the link was only read; nothing else was touched

    for (auto [code, text] : {std::pair{1u, std::string("1")}, std::pair{0xC0000005u, std::string("0xc0000005")}}) {
        FakePlatform exit;
        exit.commands.rules = {{"admin=enabled", code}};
        HostConfig h(HostConfig::Style::Wintun, exit.ipHelper, exit.commands);
        auto r = h.configure(kName, kIndex, both());
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error(),
                  "netsh interface set interface name=vlan0 admin=enabled exited with exit code: " + text);
    }
}

TEST(HostConfigConfigure, FailuresNameTheCallAndKeepWhatWasRecorded) {
    {
        FakePlatform fx;
        fx.ipHelper.addIpAddressResult = 87;
        HostConfig host(HostConfig::Style::Tap, fx.ipHelper, fx.commands);
        auto r = host.configure(kName, kIndex, both());
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error(), "AddIPAddress failed on vlan0: error 87");
    }
    {
        FakePlatform fx;
        fx.ipHelper.unicastResults[AddressFamily::V4] = 87;
        HostConfig host(HostConfig::Style::Wintun, fx.ipHelper, fx.commands);
        EXPECT_EQ(host.configure(kName, kIndex, both()).error(),
                  "CreateUnicastIpAddressEntry(v4) failed on vlan0: error 87");
    }
    {
        FakePlatform fx;
        fx.ipHelper.unicastResults[AddressFamily::V6] = 5;
        HostConfig host(HostConfig::Style::Tap, fx.ipHelper, fx.commands);
        EXPECT_EQ(host.configure(kName, kIndex, both()).error(),
                  "CreateUnicastIpAddressEntry(v6) failed on vlan0: error 5");
        // The IPv4 half stays recorded and teardown removes it.
        host.teardown(kName, kIndex);
        EXPECT_THAT(fx.ipHelper.addresses, IsEmpty());
        EXPECT_THAT(fx.ipHelper.routes, IsEmpty());
        EXPECT_EQ(fx.calls("netsh interface ipv4 set dns name=vlan0 source=dhcp").size(), 1u);
    }
    {
        FakePlatform fx;
        fx.ipHelper.routeResults["255.255.255.255/32"] = 1;
        HostConfig host(HostConfig::Style::Tap, fx.ipHelper, fx.commands);
        EXPECT_EQ(host.configure(kName, kIndex, both()).error(),
                  "CreateIpForwardEntry2(255.255.255.255/32) failed on vlan0: error 1");
        EXPECT_EQ(host.keptRoutes().size(), 1u);
        EXPECT_FALSE(host.broadcastRewrite());
        EXPECT_FALSE(host.dns4Set());
        host.teardown(kName, kIndex);
        EXPECT_THAT(fx.ipHelper.routes, IsEmpty());
        EXPECT_THAT(fx.ipHelper.addresses, IsEmpty());
    }
}

TEST(HostConfigConfigure, SecondConfigureReplacesTheFirstAndTeardownRunsOnce) {
    FakePlatform fx;
    HostConfig host(HostConfig::Style::Wintun, fx.ipHelper, fx.commands);
    ASSERT_TRUE(host.configure(kName, kIndex, both()));
    HostSettings other = both();
    other.address = {10, 9, 0, 5};
    ASSERT_TRUE(host.configure(kName, kIndex, other));
    ASSERT_EQ(fx.ipHelper.routes.size(), 2u);
    EXPECT_EQ(fx.ipHelper.routes[0].destination, (Ipv4Address{10, 9, 0, 0}));
    EXPECT_EQ(fx.ipHelper.routes[1].destination, (Ipv4Address{255, 255, 255, 255}));
    ASSERT_EQ(fx.ipHelper.addresses.size(), 2u);  // the new IPv4 and IPv6 addresses only

    host.teardown(kName, kIndex);
    EXPECT_THAT(fx.ipHelper.addresses, IsEmpty());
    EXPECT_THAT(fx.ipHelper.routes, IsEmpty());
    fx.log.clear();
    host.teardown(kName, kIndex);
    EXPECT_THAT(fx.log, IsEmpty());
}

TEST(HostConfigConfigure, TeardownLeavesTheLinkAsItWasFound) {
    // Found disabled with another MTU: both go back, after the addresses.
    FakePlatform fx;
    fx.ipHelper.link = LinkRow{9000, false};
    HostConfig host(HostConfig::Style::Tap, fx.ipHelper, fx.commands);
    ASSERT_TRUE(host.configure(kName, kIndex, both()));
    HostSettings other = both();
    other.mtu = 1380;
    fx.ipHelper.link = LinkRow{1380, true};  // what the first configure left; not what was found
    ASSERT_TRUE(host.configure(kName, kIndex, other));
    fx.log.clear();
    host.teardown(kName, kIndex);
    ASSERT_GE(fx.log.size(), 3u);
    EXPECT_THAT(std::vector<std::string>(fx.log.end() - 3, fx.log.end()),
                ElementsAre("netsh interface ipv4 set subinterface vlan0 mtu=9000 store=active",
                            "netsh interface ipv6 set subinterface vlan0 mtu=9000 store=active",
                            "netsh interface set interface name=vlan0 admin=disabled"));
    fx.log.clear();
    host.teardown(kName, kIndex);
    EXPECT_THAT(fx.log, IsEmpty());

    // Found enabled with the granted MTU: nothing to put back.
    FakePlatform same;
    same.ipHelper.link = LinkRow{1420, true};
    HostConfig kept(HostConfig::Style::Wintun, same.ipHelper, same.commands);
    ASSERT_TRUE(kept.configure(kName, kIndex, both()));
    kept.teardown(kName, kIndex);
    EXPECT_EQ(same.calls("netsh interface ipv4 set subinterface").size(), 1u);
    EXPECT_TRUE(same.calls("netsh interface set interface name=vlan0 admin=disabled").empty());

    // A link that cannot be read is left as configure made it rather than guessed at.
    FakePlatform unread;
    unread.ipHelper.link = std::unexpected(19u);
    HostConfig blind(HostConfig::Style::Tap, unread.ipHelper, unread.commands);
    ASSERT_TRUE(blind.configure(kName, kIndex, both()));
    EXPECT_FALSE(blind.linkFound());
    blind.teardown(kName, kIndex);
    EXPECT_EQ(unread.calls("netsh interface ipv4 set subinterface").size(), 1u);
    EXPECT_TRUE(unread.calls("netsh interface set interface name=vlan0 admin=disabled").empty());
}

TEST(HostConfigText, Ipv6TextFormIsCanonical) {
    auto v6 = [](std::initializer_list<std::uint16_t> groups) {
        Ipv6Address a{};
        int i = 0;
        for (auto g : groups) {
            a[2 * i] = static_cast<std::uint8_t>(g >> 8);
            a[2 * i + 1] = static_cast<std::uint8_t>(g);
            ++i;
        }
        return ipv6CompressedText(a);
    };
    EXPECT_EQ(v6({0, 0, 0, 0, 0, 0, 0, 0}), "::");
    EXPECT_EQ(v6({0, 0, 0, 0, 0, 0, 0, 1}), "::1");
    EXPECT_EQ(v6({0x2001, 0xdb8, 0, 0, 0, 0, 0, 1}), "2001:db8::1");
    EXPECT_EQ(v6({0x2001, 0xdb8, 0, 1, 1, 1, 1, 1}), "2001:db8:0:1:1:1:1:1");  // one zero group stays
    EXPECT_EQ(v6({0x2001, 0, 0, 1, 0, 0, 0, 1}), "2001:0:0:1::1");           // the longer run wins
    EXPECT_EQ(v6({0x2001, 0xdb8, 0, 0, 1, 0, 0, 1}), "2001:db8::1:0:0:1");   // first run on a tie
    EXPECT_EQ(v6({0xfe80, 0, 0, 0, 0xABCD, 0, 0, 0}), "fe80::abcd:0:0:0");
    EXPECT_EQ(v6({1, 0, 0, 0, 0, 0, 0, 0}), "1::");

    EXPECT_EQ(prefixFromNetmask({255, 0, 255, 0}), 8u);
    EXPECT_EQ(prefixFromNetmask({255, 255, 255, 255}), 32u);
    EXPECT_EQ(prefixFromNetmask({0, 0, 0, 0}), 0u);
    EXPECT_EQ(prefixFromNetmask({255, 255, 254, 0}), 23u);
}

}  // namespace
}  // namespace ostrel
