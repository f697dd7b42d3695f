#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device/windows_tap/registry.h"
#include "device/windows_tap/tap_device.h"
#include "support/fake_platform.h"

namespace ostrel {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::FakePlatform;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

const std::string kG1 = "{11111111-2222-3333-4444-555555555555}";
const std::string kG2 = "{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}";
const Mac kSessionMac{0x02, 0x00, 0x12, 0x34, 0x56, 0x78};
const Mac kAdapterMac{0x5a, 0x11, 0x22, 0x33, 0x44, 0x55};

std::string pathOf(const std::string& guid) { return "\\\\.\\Global\\" + guid + ".tap"; }

// Two TAP adapters behind an entry of another kind, each with its interface index.
void twoAdapters(FakePlatform& fx, bool secondNamed = true) {
    fx.registry.addAdapter("0000", "other_nic", "{99999999-2222-3333-4444-555555555555}", "Wired");
    fx.registry.addAdapter("0001", "TAP0901", kG1, "Ethernet 3");
    fx.registry.addAdapter("0002", "root\\tap0901", kG2, secondNamed ? std::optional<std::string>("Gaming  ")
                                                                      : std::nullopt);
    fx.ipHelper.luids[*Guid::parse(kG1)] = 0x1001;
    fx.ipHelper.luids[*Guid::parse(kG2)] = 0x1002;
    fx.ipHelper.indexes[0x1001] = 11;
    fx.ipHelper.indexes[0x1002] = 12;
}

std::string openError(FakePlatform& fx, std::string_view filter) {
    auto device = TapDevice::open(filter, fx.platform);
    if (device) return "opened " + (*device)->name();
    EXPECT_EQ(device.error().code(), "tap_open_failed");
    return device.error().text();
}

HostSettings grant(const Mac& sessionMac) {
    HostSettings s;
    s.address = {10, 8, 0, 5};
    s.netmask = {255, 255, 255, 0};
    s.mtu = 1400;
    s.addressFlags = HostSettings::kIpv4Valid;
    s.sessionMac = sessionMac;
    return s;
}

Bytes frameFrom(const Mac& dst, const Mac& src, std::uint16_t etherType, std::size_t size) {
    Bytes f(size, 0);
    std::copy(dst.begin(), dst.end(), f.begin());
    std::copy(src.begin(), src.end(), f.begin() + 6);
    f[12] = static_cast<std::uint8_t>(etherType >> 8);
    f[13] = static_cast<std::uint8_t>(etherType);
    return f;
}

Bytes arp(const Mac& dst, const Mac& src, const Mac& sender, const Mac& target) {
    Bytes f = frameFrom(dst, src, 0x0806, 42);
    Bytes body{0x00, 0x01, 0x08, 0x00, 6, 4, 0x00, 0x02};
    std::copy(body.begin(), body.end(), f.begin() + 14);
    std::copy(sender.begin(), sender.end(), f.begin() + 22);
    std::copy(target.begin(), target.end(), f.begin() + 32);
    return f;
}

Mac macAt(const Bytes& f, std::size_t at) {
    Mac m;
    std::copy_n(f.begin() + static_cast<std::ptrdiff_t>(at), 6, m.begin());
    return m;
}

TEST(TapDeviceOpen, FilterSelectsTheAdapter) {
    FakePlatform fx;
    twoAdapters(fx);
    EXPECT_EQ(openError(fx, ""), "opened Ethernet 3");
    EXPECT_EQ(openError(fx, "  OsTrEl0 "), "opened Ethernet 3");
    EXPECT_EQ(openError(fx, "gaming"), "opened Gaming");  // the stored name is trimmed too
    EXPECT_EQ(openError(fx, "{aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee}"), "opened Gaming");
    EXPECT_THAT(openError(fx, "AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE"), HasSubstr("no matching TAP-Windows6 adapter"));
    EXPECT_EQ(openError(fx, "Wired"),
              "no matching TAP-Windows6 adapter found; install tap-windows6/OpenVPN or pass --tap <adapter-name>");
    EXPECT_EQ(fx.registry.openKeys(), 0);

    // A device file that does not open moves on to the next candidate.
    fx.tapFiles.failing.insert(pathOf(kG1));
    auto device = TapDevice::open("", fx.platform);
    ASSERT_TRUE(device);
    EXPECT_EQ((*device)->name(), "Gaming");
    EXPECT_EQ((*device)->interfaceIndex(), 12u);
    EXPECT_EQ(fx.tapFiles.opened.back(), pathOf(kG2));
    EXPECT_EQ(fx.log.back(), "media on");
}

TEST(TapDeviceOpen, RegistryTextsEndAtNulAndCarryOnlyUtf8) {
    using namespace std::string_view_literals;
    EXPECT_EQ(Registry::decode(" Gam\xffing \0junk"sv), "Gam\xEF\xBF\xBDing");
    EXPECT_EQ(Registry::decode("\xe2\x82"sv), "\xEF\xBF\xBD");  // cut short: one replacement
    EXPECT_EQ(Registry::decode("Spiel\xc3\xa9"sv), "Spiel\xc3\xa9");
}

TEST(TapDeviceOpen, AdapterWithoutConnectionIsNamedByGuid) {
    FakePlatform fx;
    twoAdapters(fx, false);
    EXPECT_EQ(openError(fx, "tap-" + kG2), "opened TAP-" + kG2);
}

TEST(TapDeviceOpen, BadEntriesEndTheWholeOpen) {
    FakePlatform fx;
    fx.registry.addAdapter("0100", "tap0901", "{1234-5678}", "Broken");
    twoAdapters(fx);
    EXPECT_EQ(openError(fx, ""), "invalid TAP adapter GUID {1234-5678}");
    EXPECT_TRUE(fx.tapFiles.opened.empty());
    EXPECT_EQ(openError(fx, "Gaming"), "opened Gaming");  // the broken one does not match this filter

    FakePlatform luid;
    twoAdapters(luid);
    luid.ipHelper.luidError = 1168;
    EXPECT_EQ(openError(luid, ""), "ConvertInterfaceGuidToLuid failed for " + kG1 + ": error 1168");

    FakePlatform index;
    twoAdapters(index);
    index.ipHelper.indexes[0x1001] = 0;
    EXPECT_EQ(openError(index, ""), "ConvertInterfaceLuidToIndex failed for " + kG1 + ": error 0");
    index.ipHelper.indexes.erase(0x1001);
    EXPECT_EQ(openError(index, ""), "ConvertInterfaceLuidToIndex failed for " + kG1 + ": error 1168");
    EXPECT_TRUE(index.tapFiles.opened.empty());
}

TEST(TapDeviceOpen, FinalFailuresTellMissingFromBusy) {
    FakePlatform fx;
    twoAdapters(fx);
    fx.tapFiles.failing = {pathOf(kG1), pathOf(kG2)};
    EXPECT_EQ(openError(fx, ""),
              "matching TAP adapter could not be opened; run as Administrator and ensure it is not in use");

    FakePlatform none;
    EXPECT_EQ(openError(none, ""), "cannot read TAP adapter registry; install tap-windows6/OpenVPN");
    none.registry.addKey(std::string(kAdapterClassKey));
    EXPECT_THAT(openError(none, ""), HasSubstr("no matching TAP-Windows6 adapter found"));

    FakePlatform events;
    twoAdapters(events);
    events.tapFiles.eventsFailing.insert(pathOf(kG1));
    EXPECT_EQ(openError(events, ""), "failed to create TAP/socket wait events");

    FakePlatform socket;
    twoAdapters(socket);
    socket.events.createFails = true;
    EXPECT_EQ(openError(socket, ""), "failed to create TAP/socket wait events");
    EXPECT_EQ(socket.log.back(), "tap-close");  // the opened file is not left behind
}

// Where no installed adapter can be had and the client may take any, the system makes
// one for the session; a named adapter is never stood in for, and the texts stay.
TEST(TapDeviceOpen, SessionAdapterStandsInOnlyForAnyAdapter) {
    using Make = std::optional<TapFiles::MakeFailure>;
    const std::string busy = "matching TAP adapter could not be opened; run as Administrator and ensure it is not in use";
    const std::string missing =
        "no matching TAP-Windows6 adapter found; install tap-windows6/OpenVPN or pass --tap <adapter-name>";
    struct Case {
        const char* what;
        bool installed;      // the two adapters of twoAdapters are there
        bool allBusy;        // and another program holds both
        std::string filter;
        Make make;           // what making one gives
        std::string result;
        int made;            // session adapters made
    };
    const Case cases[] = {
        {"fresh machine", false, false, "", std::nullopt, "opened ostrel0", 1},
        {"fresh machine, default name", false, false, " OSTREL0 ", std::nullopt, "opened ostrel0", 1},
        {"installed one is free", true, false, "", std::nullopt, "opened Ethernet 3", 0},
        {"installed ones are held", true, true, "", std::nullopt, "opened ostrel0", 1},
        {"named adapter missing", false, false, "gamelan0", std::nullopt, missing, 0},
        {"named adapter held", true, true, "Gaming", std::nullopt, busy, 0},
        {"making refused", false, false, "", TapFiles::MakeFailure::Refused, busy, 0},
        {"held, making refused", true, true, "", TapFiles::MakeFailure::Refused, busy, 0},
        {"nothing to make", false, false, "", TapFiles::MakeFailure::Unsupported, missing, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakePlatform fx;
        fx.registry.addKey(std::string(kAdapterClassKey));
        if (c.installed) twoAdapters(fx);
        if (c.allBusy) fx.tapFiles.failing = {pathOf(kG1), pathOf(kG2)};
        fx.tapFiles.makeFailure = c.make;
        EXPECT_EQ(openError(fx, c.filter), c.result);
        EXPECT_EQ(fx.tapFiles.sessionAdaptersMade, c.made);
    }

    // The made adapter is used like an installed one: carrier on, configured by its index.
    FakePlatform fx;
    fx.registry.addKey(std::string(kAdapterClassKey));
    fx.tapFiles.makeFailure = std::nullopt;
    auto device = TapDevice::open("", fx.platform);
    ASSERT_TRUE(device);
    EXPECT_EQ((*device)->interfaceIndex(), 40u);
    EXPECT_EQ(fx.log.back(), "media on");
    ASSERT_TRUE((*device)->configure(grant(kSessionMac)));
    ASSERT_EQ(fx.ipHelper.contexts.size(), 1u);
    EXPECT_EQ(fx.ipHelper.contexts.begin()->second.interfaceIndex, 40u);
    device->reset();
    EXPECT_TRUE(fx.ipHelper.contexts.empty());
    EXPECT_EQ(fx.log.back(), "tap-close");
}

TEST(TapDeviceFrames, ReadStateMachineKeepsOneReadAndCutsLongFrames) {
    FakePlatform fx;
    twoAdapters(fx);
    auto device = std::move(*TapDevice::open("", fx.platform));
    testing::FakeTapFile& file = *fx.tapFiles.last;
    Bytes buffer(1500);

    // Nothing there: wait starts a read that stays pending, then waits on its event.
    ASSERT_TRUE(device->wait(5, 250ms));
    EXPECT_EQ(file.startedReads, 1);
    EXPECT_THAT(fx.events.waitedDevices, ElementsAre(77));
    auto none = device->receive(buffer);
    ASSERT_TRUE(none);
    EXPECT_FALSE(*none);
    EXPECT_EQ(file.startedReads, 1);

    // The pending read completes later and is collected by receive.
    file.incoming.push_back({frameFrom(kSessionMac, kAdapterMac, 0x0800, 60), false});
    auto got = device->receive(buffer);
    ASSERT_TRUE(got && *got);
    EXPECT_EQ(**got, 60u);

    // A read that completes at once inside wait is handed out by the next receive, without waiting.
    file.incoming.push_back({frameFrom(kSessionMac, kAdapterMac, 0x0800, 1600), true});
    fx.events.waitedDevices.clear();
    ASSERT_TRUE(device->wait(5, 250ms));
    ASSERT_TRUE(device->wait(5, 250ms));
    EXPECT_TRUE(fx.events.waitedDevices.empty());
    Bytes small(100);
    got = device->receive(small);
    ASSERT_TRUE(got && *got);
    EXPECT_EQ(**got, 100u);  // cut to the caller's buffer
    EXPECT_EQ(file.startedReads, 2);

    // Read errors are I/O errors with the number.
    file.readError = 22;
    auto failed = device->receive(buffer);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().code(), "internal_error");
    EXPECT_THAT(failed.error().detail(), HasSubstr("(os error 22)"));
}

TEST(TapDeviceFrames, WaitWatchesTheFirstSocketAndConvertsTimeouts) {
    FakePlatform fx;
    twoAdapters(fx);
    auto device = std::move(*TapDevice::open("", fx.platform));
    fx.events.results = {EventWait::Woken::Socket, EventWait::Woken::Device, EventWait::Woken::Timeout,
                         EventWait::Woken::Timeout};
    ASSERT_TRUE(device->wait(5, 0ns));
    ASSERT_TRUE(device->wait(9, std::chrono::seconds(1) + 999'999ns));
    ASSERT_TRUE(device->wait(9, std::chrono::hours(24 * 60)));
    ASSERT_TRUE(device->wait(9, 4'294'967'294ms));
    EXPECT_THAT(fx.events.selectedSockets, ElementsAre(5));
    EXPECT_THAT(fx.events.timeouts, ElementsAre(0u, 1000u, 0xFFFFFFFFu, 4'294'967'294u));
    EXPECT_EQ(fx.events.resets, 1);

    fx.events.results = {std::unexpected(6u)};
    auto failed = device->wait(5, 1ms);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().kind(), ClientError::Kind::Io);
}

TEST(TapDeviceFrames, MacRewritingLearnsOnlyRealAdapterAddresses) {
    FakePlatform fx;
    twoAdapters(fx);
    auto device = std::move(*TapDevice::open("", fx.platform));
    testing::FakeTapFile& file = *fx.tapFiles.last;
    ASSERT_TRUE(device->configure(grant(kSessionMac)));
    Bytes buffer(1500);

    // Before anything was learned a frame to the session MAC goes to the adapter as it is.
    Bytes toUs = frameFrom(kSessionMac, {0x02, 0, 0, 0, 0, 9}, 0x0800, 60);
    ASSERT_TRUE(device->send(toUs));
    EXPECT_EQ(file.written.back(), toUs);

    // Multicast and zero sources are replaced but never learned.
    for (Mac source : {Mac{0x33, 0x33, 0, 0, 0, 1}, Mac{}}) {
        file.incoming.push_back({frameFrom({0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, source, 0x86DD, 60)});
        auto got = device->receive(buffer);
        ASSERT_TRUE(got && *got);
        EXPECT_EQ(macAt(buffer, 6), kSessionMac);
        EXPECT_FALSE(device->adapterMacLearned());
    }
    // A frame of 13 bytes is too short to touch.
    file.incoming.push_back({Bytes(13, 0x5a)});
    auto cut = device->receive(buffer);
    ASSERT_TRUE(cut && *cut);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 13), Bytes(13, 0x5a));

    // An ARP request from the adapter teaches its MAC and carries the session MAC outward.
    file.incoming.push_back({arp({0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, kAdapterMac, kAdapterMac, Mac{})});
    auto got = device->receive(buffer);
    ASSERT_TRUE(got && *got);
    EXPECT_TRUE(device->adapterMacLearned());
    EXPECT_EQ(device->adapterMac(), kAdapterMac);
    EXPECT_EQ(macAt(buffer, 6), kSessionMac);
    EXPECT_EQ(macAt(buffer, 22), kSessionMac);

    // The reply from the tunnel is addressed back to the adapter's own MAC.
    Mac peer{0x02, 0x00, 0, 0, 0, 7};
    Bytes reply = arp(kSessionMac, peer, peer, kSessionMac);
    ASSERT_TRUE(device->send(reply));
    EXPECT_EQ(macAt(file.written.back(), 0), kAdapterMac);
    EXPECT_EQ(macAt(file.written.back(), 32), kAdapterMac);
    EXPECT_EQ(macAt(reply, 0), kSessionMac);  // the caller's frame is not touched

    // A frame to someone else is written unchanged.
    Bytes other = frameFrom(peer, peer, 0x0800, 60);
    ASSERT_TRUE(device->send(other));
    EXPECT_EQ(file.written.back(), other);
}

TEST(TapDeviceFrames, LimitedBroadcastFromTunnelGetsDirectedAddressAndChecksum) {
    FakePlatform fx;
    twoAdapters(fx);
    auto device = std::move(*TapDevice::open("", fx.platform));
    testing::FakeTapFile& file = *fx.tapFiles.last;

    Bytes frame = frameFrom({0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, {0x02, 0, 0, 0, 0, 7}, 0x0800, 14 + 20 + 8 + 4);
    Bytes ip{0x45, 0, 0, 32, 0, 0, 0, 0, 64, 17, 0, 0, 10, 8, 0, 7, 255, 255, 255, 255};
    std::copy(ip.begin(), ip.end(), frame.begin() + 14);
    Bytes udp{0x10, 0x00, 0x10, 0x01, 0, 12, 0, 0, 'p', 'i', 'n', 'g'};
    std::copy(udp.begin(), udp.end(), frame.begin() + 34);

    // Before configure there is no rewrite address.
    ASSERT_TRUE(device->send(frame));
    EXPECT_EQ(file.written.back(), frame);

    ASSERT_TRUE(device->configure(grant(kSessionMac)));
    ASSERT_TRUE(device->send(frame));
    const Bytes& out = file.written.back();
    EXPECT_EQ(Bytes(out.begin() + 30, out.begin() + 34), (Bytes{10, 8, 0, 255}));
    EXPECT_EQ(FrameRewrite::internetChecksum(std::span(out).subspan(14, 20)), 0);
    EXPECT_NE(out[40] | out[41], 0);
    std::uint32_t pseudo = (10 << 8 | 8) + 7 + (10 << 8 | 8) + 255 + 17 + 12;
    EXPECT_EQ(FrameRewrite::internetChecksum(std::span(out).subspan(34, 12), pseudo), 0);
}

TEST(TapDeviceClose, DropUndoesConfigurationThenReleasesTheAdapter) {
    {
        FakePlatform fx;
        twoAdapters(fx);
        auto device = std::move(*TapDevice::open("", fx.platform));
        fx.log.clear();
        device.reset();
        // Never configured: no host change at all, only the handles.
        EXPECT_THAT(fx.log, ElementsAre("media off", "socket-event-close", "tap-close"));
    }
    FakePlatform fx;
    twoAdapters(fx);
    auto device = std::move(*TapDevice::open("", fx.platform));
    ASSERT_TRUE(device->configure(grant(kSessionMac)));
    ASSERT_TRUE(device->wait(5, 1ms));  // leaves a read pending
    // A frame held back for joining (a run ended by an error never flushed it) goes out first.
    fx.tapFiles.last->holdWrites = true;
    ASSERT_TRUE(device->send(std::vector<std::uint8_t>(60, 0x11)));
    fx.log.clear();
    device.reset();
    EXPECT_THAT(fx.log, ElementsAre("tap-write-held", "route- 10.8.0.0/24", "route- 255.255.255.255/32",
                                    "netsh interface ipv4 set dns name=Ethernet 3 source=dhcp", "ipaddr- 100",
                                    "netsh interface ipv4 set subinterface Ethernet 3 mtu=1500 store=active",
                                    "netsh interface ipv6 set subinterface Ethernet 3 mtu=1500 store=active",
                                    "media off", "tap-cancel", "socket-event-close", "tap-close"));
    EXPECT_TRUE(fx.ipHelper.addresses.empty());
    EXPECT_TRUE(fx.ipHelper.routes.empty());
}

TEST(TapDeviceConfigure, FailureIsAConfigurationError) {
    FakePlatform fx;
    twoAdapters(fx);
    auto device = std::move(*TapDevice::open("Gaming", fx.platform));
    fx.commands.rules = {{"admin=enabled", 1u}};
    auto r = device->configure(grant(kSessionMac));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().code(), "tap_config_failed");
    EXPECT_EQ(r.error().text(), "netsh interface set interface name=Gaming admin=enabled exited with exit code: 1");
}

}  // namespace
}  // namespace ostrel
