// The TAP adapter on a real persistent TAP interface inside a namespace of its own.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "device/windows_tap/tap_device.h"
#include "netns_lab.h"
#include "support/lab_namespace.h"
#include "platform/linux/interface_guid.h"

namespace ostrel {
namespace {

using corvana::netns::NetnsLab;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;
using ::testing::HasSubstr;

const Mac kSessionMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x05};
const Mac kPeerMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x09};

HostSettings grant(const Mac& sessionMac) {
    HostSettings s;
    s.address = {10, 77, 0, 5};
    s.netmask = {255, 255, 255, 0};
    s.mtu = 1380;
    s.addressFlags = HostSettings::kIpv4Valid | HostSettings::kIpv6Valid;
    s.address6 = {0xfd, 0x77, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5};
    s.prefix6 = 64;
    s.sessionMac = sessionMac;
    return s;
}

// Reads frames until one passes `want`, or gives up after the limit.
std::optional<Bytes> nextFrame(TapDevice& device, int socket, const std::function<bool(const Bytes&)>& want) {
    auto deadline = std::chrono::steady_clock::now() + 20s;
    Bytes buf(1500);
    while (std::chrono::steady_clock::now() < deadline) {
        auto got = device.receive(buf);
        if (!got) return std::nullopt;
        if (*got) {
            Bytes frame(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(**got));
            if (want(frame)) return frame;
            continue;
        }
        if (!device.wait(socket, 100ms)) return std::nullopt;
    }
    return std::nullopt;
}

class TapReal : public testing::InLabNamespace {
protected:
    void SetUp() override {
        InLabNamespace::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_EQ(NetnsLab::run(lab_->serverNs(), {"ip", "tuntap", "add", "mode", "tap", "name", "vlantap0"}), 0);
    }
};

TEST_F(TapReal, OpensConfiguresCarriesFramesAndUndoesEverything) {
    auto opened = TapDevice::open("VLANTAP0", systemPlatform());
    ASSERT_TRUE(opened) << opened.error().detail();
    auto device = std::move(*opened);
    EXPECT_EQ(device->name(), "vlantap0");

    // The interface is held: a second open finds it but cannot have it, and one that
    // may take any adapter gets one made for it instead.
    auto second = TapDevice::open("vlantap0", systemPlatform());
    ASSERT_FALSE(second);
    EXPECT_THAT(second.error().text(), HasSubstr("matching TAP adapter could not be opened"));
    auto other = TapDevice::open("", systemPlatform());
    ASSERT_TRUE(other) << other.error().detail();
    EXPECT_EQ((*other)->name(), "ostrel0");
    other->reset();

    ASSERT_TRUE(device->configure(grant(kSessionMac))) << "configure failed";
    EXPECT_THAT(show({"ip", "-4", "addr", "show", "dev", "vlantap0"}), HasSubstr("inet 10.77.0.5/24 brd 10.77.0.255"));
    EXPECT_THAT(show({"ip", "-6", "addr", "show", "dev", "vlantap0"}), HasSubstr("inet6 fd77::5/64"));
    EXPECT_THAT(show({"ip", "link", "show", "dev", "vlantap0"}), HasSubstr("mtu 1380"));
    std::string routes = show({"ip", "route", "show", "dev", "vlantap0"});
    EXPECT_THAT(routes, HasSubstr("10.77.0.0/24 proto static scope link metric 1"));
    EXPECT_THAT(routes, HasSubstr("255.255.255.255 proto static scope link metric 1"));

    int udp = boundUdp(4555, true);
    ASSERT_GE(udp, 0);

    // The kernel asks for a peer's MAC; the request leaves with the session MAC in both places.
    ASSERT_EQ(sendUdp(udp, "10.77.0.9", 4556, "hi"), 2);
    auto request = nextFrame(*device, udp, [](const Bytes& f) { return FrameRewrite::isArpIpv4(f) && f[21] == 1; });
    ASSERT_TRUE(request);
    EXPECT_TRUE(std::equal(kSessionMac.begin(), kSessionMac.end(), request->begin() + 6));
    EXPECT_TRUE(std::equal(kSessionMac.begin(), kSessionMac.end(), request->begin() + 22));
    ASSERT_TRUE(device->adapterMacLearned());

    // The reply comes back to the session MAC and must reach the kernel under its own MAC.
    Bytes reply(42, 0);
    std::copy(kSessionMac.begin(), kSessionMac.end(), reply.begin());
    std::copy(kPeerMac.begin(), kPeerMac.end(), reply.begin() + 6);
    Bytes arpBody{0x08, 0x06, 0x00, 0x01, 0x08, 0x00, 6, 4, 0x00, 0x02};
    std::copy(arpBody.begin(), arpBody.end(), reply.begin() + 12);
    std::copy(kPeerMac.begin(), kPeerMac.end(), reply.begin() + 22);
    Bytes peerIp{10, 77, 0, 9}, ourIp{10, 77, 0, 5};
    std::copy(peerIp.begin(), peerIp.end(), reply.begin() + 28);
    std::copy(kSessionMac.begin(), kSessionMac.end(), reply.begin() + 32);
    std::copy(ourIp.begin(), ourIp.end(), reply.begin() + 38);
    ASSERT_TRUE(device->send(reply));
    bool resolved = false;
    for (auto until = std::chrono::steady_clock::now() + 20s; !resolved && std::chrono::steady_clock::now() < until;) {
        resolved = show({"ip", "neigh", "show", "10.77.0.9"}).find("02:00:00:00:00:09") != std::string::npos;
        if (!resolved) ::usleep(20000);
    }
    EXPECT_TRUE(resolved) << "the kernel did not take the rewritten ARP reply";

    // A limited broadcast from the tunnel arrives as the directed one; the kernel
    // drops a datagram whose checksum is wrong, so arriving proves it right.
    Bytes frame(14 + 20 + 8 + 5, 0);
    std::fill_n(frame.begin(), 6, 0xFF);
    std::copy(kPeerMac.begin(), kPeerMac.end(), frame.begin() + 6);
    frame[12] = 0x08;
    Bytes ip{0x45, 0, 0, 33, 0, 1, 0, 0, 64, 17, 0, 0, 10, 77, 0, 9, 255, 255, 255, 255};
    std::copy(ip.begin(), ip.end(), frame.begin() + 14);
    Bytes udpHeader{0x11, 0xCC, 0x11, 0xCB, 0, 13, 0, 0, 'h', 'e', 'l', 'l', 'o'};
    std::copy(udpHeader.begin(), udpHeader.end(), frame.begin() + 34);
    ASSERT_TRUE(device->send(frame));
    ASSERT_TRUE(device->flush());  // a datagram may wait there for others of its flow
    pollfd p{udp, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 20000), 1) << "the rewritten broadcast did not arrive";
    char got[64];
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    ssize_t n = ::recvfrom(udp, got, sizeof got, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
    EXPECT_EQ(std::string(got, static_cast<std::size_t>(n > 0 ? n : 0)), "hello");
    ::close(udp);

    device.reset();
    EXPECT_THAT(show({"ip", "-4", "addr", "show", "dev", "vlantap0"}), ::testing::Not(HasSubstr("10.77.0.5")));
    EXPECT_EQ(show({"ip", "route", "show", "dev", "vlantap0"}), "");
    EXPECT_THAT(show({"ip", "-6", "addr", "show", "dev", "vlantap0"}), ::testing::Not(HasSubstr("fd77")));
    // The persistent interface itself stays, disabled and with the MTU it had when found.
    const std::string link = show({"ip", "link", "show", "dev", "vlantap0"});
    EXPECT_THAT(link, HasSubstr(" mtu 1500 "));
    EXPECT_THAT(link, HasSubstr("state DOWN"));
    EXPECT_THAT(link, ::testing::Not(::testing::ContainsRegex("[<,]UP[,>]")));
}

// A machine on which no one has made a TAP interface: the client makes its own for
// the session, never takes one another program holds, and leaves nothing behind.
using FreshMachine = testing::InLabNamespace;

TEST_F(FreshMachine, AnyAdapterMakesOneForTheSessionThatGoesWithIt) {
    ASSERT_TRUE(InterfaceGuid::tapInterfaces().empty());
    auto named = TapDevice::open("gamelan0", systemPlatform());
    ASSERT_FALSE(named);
    EXPECT_THAT(named.error().text(), HasSubstr("no matching TAP-Windows6 adapter found"));
    EXPECT_TRUE(InterfaceGuid::tapInterfaces().empty()) << "a named adapter was made up";

    auto first = TapDevice::open("", systemPlatform());
    ASSERT_TRUE(first) << first.error().detail();
    EXPECT_EQ((*first)->name(), "ostrel0");
    ASSERT_TRUE((*first)->configure(grant(kSessionMac))) << "configure failed";
    EXPECT_THAT(show({"ip", "-4", "addr", "show", "dev", "ostrel0"}), HasSubstr("inet 10.77.0.5/24"));

    // Held by the first session, it is not taken: the next one gets an adapter of its own.
    auto second = TapDevice::open("ostrel0", systemPlatform());
    ASSERT_TRUE(second) << second.error().detail();
    EXPECT_EQ((*second)->name(), "ostrel1");
    EXPECT_EQ(InterfaceGuid::tapInterfaces(), (std::vector<std::string>{"ostrel0", "ostrel1"}));

    first->reset();
    second->reset();
    EXPECT_TRUE(InterfaceGuid::tapInterfaces().empty());
    EXPECT_THAT(show({"ip", "-4", "addr"}), ::testing::Not(HasSubstr("10.77.")));
}

TEST_F(TapReal, RegistryViewListsTheTapWithItsDerivedGuid) {
    auto taps = InterfaceGuid::tapInterfaces();
    ASSERT_EQ(taps.size(), 1u);
    EXPECT_EQ(taps[0], "vlantap0");
    Guid guid = InterfaceGuid::forName("vlantap0");
    EXPECT_EQ(InterfaceGuid::findName(guid), "vlantap0");
    EXPECT_NE(guid, InterfaceGuid::forName("vlantap1"));
    RegistryView& registry = systemPlatform().registry;
    auto connection = registry.openKey(std::string(kConnectionsKey) + "\\" + guid.toString() + "\\Connection");
    ASSERT_TRUE(connection);
    EXPECT_EQ(registry.queryValue(*connection, "Name"), std::string("vlantap0", 9));
    registry.closeKey(*connection);
    // A TUN interface is not an adapter entry.
    ASSERT_EQ(NetnsLab::run(lab_->serverNs(), {"ip", "tuntap", "add", "mode", "tun", "name", "vlantun0"}), 0);
    EXPECT_EQ(InterfaceGuid::tapInterfaces().size(), 1u);
}

}  // namespace
}  // namespace ostrel

namespace ostrel {
namespace {

std::uint16_t be16At(const Bytes& f, std::size_t at) { return static_cast<std::uint16_t>(f[at] << 8 | f[at + 1]); }

// The UDP checksum of a whole IPv4 frame with no VLAN tag verifies (or is absent).
bool udpChecksumVerifies(const Bytes& f) {
    if (be16At(f, 40) == 0) return true;
    std::uint32_t sum = 17 + static_cast<std::uint32_t>(f.size() - 34);
    for (std::size_t i = 26; i < 34; i += 2) sum += be16At(f, i);
    for (std::size_t i = 34; i < f.size(); i += 2) sum += i + 1 < f.size() ? be16At(f, i) : static_cast<std::uint32_t>(f[i] << 8);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return sum == 0xFFFF;
}

}  // namespace

TEST_F(TapReal, RunsOfSmallDatagramsCrossTheTapIntactBothWays) {
    auto opened = TapDevice::open("vlantap0", systemPlatform());
    ASSERT_TRUE(opened) << opened.error().detail();
    auto device = std::move(*opened);
    ASSERT_TRUE(device->configure(grant(kSessionMac))) << "configure failed";
    const std::string link = show({"ip", "link", "show", "dev", "vlantap0"});
    const auto at = link.find("link/ether ");
    ASSERT_NE(at, std::string::npos) << link;
    Mac tapMac{};
    for (std::size_t i = 0; i < 6; ++i)
        tapMac[i] = static_cast<std::uint8_t>(std::stoi(link.substr(at + 11 + 3 * i, 2), nullptr, 16));

    int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(udp, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(4560);
    inet_pton(AF_INET, "10.77.0.5", &local.sin_addr);
    ASSERT_EQ(::bind(udp, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);

    // Into the kernel: a run of one flow's datagrams, the last one shorter, written as the
    // run loop writes them. Each must arrive whole and in order (the kernel drops a
    // datagram whose checksum is wrong).
    std::vector<std::string> payloads;
    for (int i = 0; i < 12; ++i) payloads.push_back(std::string(i < 11 ? 64 : 30, static_cast<char>('a' + i)));
    std::uint16_t id = 500;
    for (const std::string& payload : payloads) {
        Bytes frame(42 + payload.size(), 0);
        std::copy(tapMac.begin(), tapMac.end(), frame.begin());
        std::copy(kPeerMac.begin(), kPeerMac.end(), frame.begin() + 6);
        frame[12] = 0x08;
        const auto total = static_cast<std::uint16_t>(28 + payload.size());
        Bytes ip{0x45, 0, static_cast<std::uint8_t>(total >> 8), static_cast<std::uint8_t>(total),
                 static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id), 0x40, 0, 64, 17, 0, 0,
                 10, 77, 0, 9, 10, 77, 0, 5};
        ++id;
        std::uint32_t sum = 0;
        for (std::size_t i = 0; i < 20; i += 2) sum += static_cast<std::uint32_t>(ip[i] << 8 | ip[i + 1]);
        while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
        ip[10] = static_cast<std::uint8_t>(~sum >> 8);
        ip[11] = static_cast<std::uint8_t>(~sum);
        std::copy(ip.begin(), ip.end(), frame.begin() + 14);
        const auto udpLength = static_cast<std::uint16_t>(8 + payload.size());
        Bytes header{0x11, 0xD1, 0x11, 0xD0, static_cast<std::uint8_t>(udpLength >> 8), static_cast<std::uint8_t>(udpLength), 0, 0};
        std::copy(header.begin(), header.end(), frame.begin() + 34);
        std::copy(payload.begin(), payload.end(), frame.begin() + 42);
        ASSERT_TRUE(device->send(frame));
    }
    ASSERT_TRUE(device->flush());
    for (const std::string& payload : payloads) {
        pollfd p{udp, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 20000), 1) << "datagram '" << payload[0] << "' did not arrive";
        char got[128];
        ssize_t n = ::recv(udp, got, sizeof got, 0);
        EXPECT_EQ(std::string(got, static_cast<std::size_t>(n > 0 ? n : 0)), payload);
    }

    // Out of the kernel: one send of several datagrams in one segmentation request comes
    // out of the adapter as the separate datagrams, each valid.
    ASSERT_EQ(NetnsLab::run(lab_->serverNs(), {"ip", "neigh", "replace", "10.77.0.9", "lladdr", "02:00:00:00:00:09",
                                              "dev", "vlantap0"}),
              0);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(4561);
    inet_pton(AF_INET, "10.77.0.9", &peer.sin_addr);
    std::string burst;
    for (int i = 0; i < 5; ++i) burst += std::string(100, static_cast<char>('A' + i));
    burst += std::string(40, 'Z');
    iovec iov{burst.data(), burst.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(std::uint16_t))] = {};
    msghdr m{};
    m.msg_name = &peer;
    m.msg_namelen = sizeof peer;
    m.msg_iov = &iov;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&m);
    c->cmsg_level = SOL_UDP;
    c->cmsg_type = UDP_SEGMENT;
    c->cmsg_len = CMSG_LEN(sizeof(std::uint16_t));
    const std::uint16_t segment = 100;
    std::memcpy(CMSG_DATA(c), &segment, sizeof segment);
    ASSERT_EQ(::sendmsg(udp, &m, 0), static_cast<ssize_t>(burst.size())) << "errno " << errno;
    std::string joined;
    for (int i = 0; i < 6; ++i) {
        auto frame = nextFrame(*device, udp, [](const Bytes& f) {
            return f.size() > 42 && f[12] == 0x08 && f[13] == 0 && f[23] == 17 && be16At(f, 36) == 4561;
        });
        ASSERT_TRUE(frame) << "datagram " << i << " did not come out";
        EXPECT_EQ(frame->size(), 42u + (i < 5 ? 100 : 40)) << "datagram " << i;
        EXPECT_EQ(be16At(*frame, 38), frame->size() - 34) << "UDP length of datagram " << i;
        EXPECT_EQ(be16At(*frame, 16), frame->size() - 14) << "IP length of datagram " << i;
        EXPECT_TRUE(udpChecksumVerifies(*frame)) << "datagram " << i;
        joined.append(frame->begin() + 42, frame->end());
    }
    EXPECT_EQ(joined, burst);
    ::close(udp);
}

}  // namespace ostrel
