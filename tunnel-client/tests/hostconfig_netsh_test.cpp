#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device/host_config.h"
#include "platform/linux/netsh_command_runner.h"

namespace ostrel {
namespace {

using ::testing::ElementsAre;
using Words = std::vector<std::string>;

TEST(HostConfigNetsh, WordListsBecomeTheMatchingLinuxRuns) {
    NetshCommandRunner runner;
    auto t = [&](Words w) { return runner.translate(w).value_or(Words{"<none>"}); };
    EXPECT_THAT(t({"interface", "set", "interface", "name=vlan 0", "admin=enabled"}),
                ElementsAre("ip", "link", "set", "dev", "vlan 0", "up"));
    EXPECT_THAT(t({"interface", "set", "interface", "name=vlan0", "admin=disabled"}),
                ElementsAre("ip", "link", "set", "dev", "vlan0", "down"));
    EXPECT_THAT(t({"interface", "ipv6", "set", "subinterface", "vlan0", "mtu=1280", "store=active"}),
                ElementsAre("ip", "link", "set", "dev", "vlan0", "mtu", "1280"));

    // resolvectl keeps one list per link, so both families' servers go together.
    EXPECT_THAT(t({"interface", "ipv4", "set", "dns", "name=vlan0", "source=static", "address=1.1.1.1", "register=none"}),
                ElementsAre("resolvectl", "dns", "vlan0", "1.1.1.1"));
    EXPECT_THAT(t({"interface", "ipv6", "set", "dns", "vlan0", "static", "fd00::1", "primary"}),
                ElementsAre("resolvectl", "dns", "vlan0", "1.1.1.1", "fd00::1"));
    EXPECT_THAT(t({"interface", "ipv4", "set", "dns", "name=vlan0", "source=dhcp"}),
                ElementsAre("resolvectl", "dns", "vlan0", "fd00::1"));
    EXPECT_THAT(t({"interface", "ipv6", "delete", "dnsservers", "vlan0", "all"}),
                ElementsAre("resolvectl", "revert", "vlan0"));

    EXPECT_FALSE(runner.translate(Words{"interface", "set", "interface", "vlan0", "admin=enabled"}));
    EXPECT_FALSE(runner.translate(Words{"interface", "ipv4", "set", "dns"}));
    EXPECT_FALSE(runner.translate(Words{}));
}

TEST(HostConfigNetsh, StartFailureAndExitCodesReachTheConfigurationError) {
    // Through the real runner: a program that cannot start and one that fails.
    NetshCommandRunner runner;
    Words none{"--version"};
    auto missing = runner.run("/nonexistent/ostrel-no-such-tool", none);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error(), "No such file or directory");
    auto failing = runner.run("false", Words{});
    ASSERT_TRUE(failing);
    EXPECT_EQ(*failing, 1u);
    // Words netsh does not know end like netsh does with them: exit code 1.
    EXPECT_EQ(runner.run("netsh", Words{"firewall", "show"}), 1u);
}

}  // namespace
}  // namespace ostrel
