// The Wintun adapter over the project's packet-ring library on real TUN interfaces.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device/wintun/wintun_device.h"
#include "netns_lab.h"
#include "support/lab_namespace.h"

namespace ostrel {
namespace {

using corvana::netns::NetnsLab;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string kBin = CORVANA_BIN_DIR;

HostSettings grant(const Mac& sessionMac) {
    HostSettings s;
    s.address = {10, 77, 1, 5};
    s.netmask = {255, 255, 255, 0};
    s.mtu = 1400;
    s.addressFlags = HostSettings::kIpv4Valid | HostSettings::kIpv6Valid;
    s.address6 = {0xfd, 0x77, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 5};
    s.prefix6 = 64;
    s.sessionMac = sessionMac;
    return s;
}

using WintunReal = testing::InLabNamespace;

TEST_F(WintunReal, LibraryLoadAndBindFailuresKeepTheirTexts) {
    auto missing = WintunDevice::open(kBin + "/libwintun_incomplete.so", "vlan1", systemPlatform());
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().text(), "wintun.dll is missing WintunSendPacket");

    auto absent = WintunDevice::open(kBin + "/no-such-library.so", "vlan1", systemPlatform());
    ASSERT_FALSE(absent);
    EXPECT_THAT(absent.error().text(),
                StartsWith("failed to load wintun.dll; put wintun.dll next to ostrel-client.exe or pass "
                           "--wintun-dll: error "));
    EXPECT_EQ(show({"ip", "link", "show", "vlan1"}), "");  // nothing was created
}

TEST_F(WintunReal, CreatesConfiguresCarriesPacketsAndRemovesItsAdapter) {
    // The default library is found next to the running program.
    auto opened = WintunDevice::open(std::string("  "), " vlan1 ", systemPlatform());
    ASSERT_TRUE(opened) << opened.error().detail();
    auto device = std::move(*opened);
    EXPECT_EQ(device->name(), "vlan1");
    ASSERT_TRUE(device->configure(grant(Mac{}))) << "configure failed";
    EXPECT_THAT(show({"ip", "-4", "addr", "show", "dev", "vlan1"}), HasSubstr("inet 10.77.1.5/24"));
    EXPECT_THAT(show({"ip", "-6", "addr", "show", "dev", "vlan1"}), HasSubstr("fd77:0:0:1::5/64"));
    EXPECT_THAT(show({"ip", "link", "show", "dev", "vlan1"}), HasSubstr("mtu 1400"));

    int udp = boundUdp(4666);
    ASSERT_GE(udp, 0);

    // A datagram to a VLAN peer comes out of the ring as a whole IPv4 packet.
    ASSERT_EQ(sendUdp(udp, "10.77.1.9", 4667, "ring"), 4);
    Bytes buf(1500);
    std::optional<std::size_t> length;
    for (auto until = std::chrono::steady_clock::now() + 20s; !length && std::chrono::steady_clock::now() < until;) {
        auto got = device->receive(buf);
        ASSERT_TRUE(got);
        if (*got && buf[9] == 17 && buf[19] == 9) length = **got;
        else if (!*got) {
            ASSERT_TRUE(device->wait(udp, 100ms));
        }
    }
    ASSERT_TRUE(length) << "no packet came out of the ring";
    EXPECT_EQ(*length, 20u + 8u + 4u);
    EXPECT_EQ(buf[0], 0x45);

    // A limited broadcast from the tunnel reaches the socket as the directed one, checksum intact.
    Bytes packet{0x45, 0, 0, 32, 0, 1, 0, 0, 64, 17, 0, 0, 10, 77, 1, 9, 255, 255, 255, 255,
                 0x12, 0x3B, 0x12, 0x3A, 0, 12, 0, 0, 'p', 'o', 'n', 'g'};
    ASSERT_TRUE(device->send(packet));
    pollfd p{udp, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 20000), 1) << "the rewritten broadcast did not arrive";
    char got[16];
    ssize_t n = ::recv(udp, got, sizeof got, 0);
    EXPECT_EQ(std::string(got, static_cast<std::size_t>(n > 0 ? n : 0)), "pong");
    ::close(udp);

    device.reset();
    // The adapter this device created goes with it.
    EXPECT_EQ(show({"ip", "link", "show", "vlan1"}), "");
}

TEST_F(WintunReal, ExistingPersistentAdapterIsReusedAndKept) {
    ASSERT_EQ(NetnsLab::run(lab_->serverNs(), {"ip", "tuntap", "add", "mode", "tun", "name", "Ostrel"}), 0);
    auto opened = WintunDevice::open(std::nullopt, "", systemPlatform());
    ASSERT_TRUE(opened) << opened.error().detail();
    auto device = std::move(*opened);
    EXPECT_EQ(device->name(), "Ostrel");
    ASSERT_TRUE(device->configure(grant(Mac{})));
    device.reset();
    std::string link = show({"ip", "addr", "show", "dev", "Ostrel"});
    EXPECT_THAT(link, HasSubstr("Ostrel"));
    EXPECT_THAT(link, ::testing::Not(HasSubstr("10.77.1.5")));
    EXPECT_THAT(link, ::testing::Not(HasSubstr("fd77")));
    EXPECT_EQ(show({"ip", "route", "show", "dev", "Ostrel"}), "");

    // A TAP interface of that name is not a ring adapter.
    ASSERT_EQ(NetnsLab::run(lab_->serverNs(), {"ip", "tuntap", "add", "mode", "tap", "name", "vlantap"}), 0);
    auto wrong = WintunDevice::open(std::nullopt, "vlantap", systemPlatform());
    ASSERT_FALSE(wrong);
    EXPECT_THAT(wrong.error().text(), StartsWith("WintunCreateAdapter failed; install wintun.dll and run as Administrator: error "));
}

}  // namespace
}  // namespace ostrel
