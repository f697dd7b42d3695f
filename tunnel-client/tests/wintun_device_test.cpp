#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <deque>

#include "device/wintun/wintun_device.h"
#include "platform/os_errors.h"
#include "support/fake_platform.h"

namespace ostrel {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::FakePlatform;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// The library's side, driven through the same eleven entry points the device binds.
struct FakeRing {
    testing::CallLog* log = nullptr;
    std::set<std::string> existing;
    bool createFails = false;
    bool sessionFails = false;
    bool eventFails = false;
    bool allocateFails = false;
    std::uint32_t receiveError = 0;
    std::deque<Bytes> received;
    std::vector<Bytes> sent;
    int released = 0;
    int event = 42;
    int adapterTag = 1;
    int sessionTag = 2;
    std::vector<Bytes> allocated;
};
FakeRing ring;

void* createAdapter(const char* name, const char* type, const void* guid) {
    ring.log->push_back(std::string("create ") + name + " " + type + (guid ? " guid" : ""));
    if (ring.createFails) {
        errno = 5;
        return nullptr;
    }
    ring.existing.insert(name);
    return &ring.adapterTag;
}
void* openAdapter(const char* name) {
    ring.log->push_back(std::string("open ") + name);
    if (!ring.existing.count(name)) {
        errno = 2;
        return nullptr;
    }
    return &ring.adapterTag;
}
void closeAdapter(void*) { ring.log->push_back("close-adapter"); }
void getLuid(void*, std::uint64_t* luid) { *luid = 0x2001; }
void* startSession(void*, std::uint32_t capacity) {
    ring.log->push_back("start " + std::to_string(capacity));
    if (ring.sessionFails) {
        errno = 8;
        return nullptr;
    }
    return &ring.sessionTag;
}
void endSession(void*) { ring.log->push_back("end-session"); }
void* readEvent(void*) {
    if (ring.eventFails) {
        errno = 6;
        return nullptr;
    }
    return &ring.event;
}
std::uint8_t* receivePacket(void*, std::uint32_t* size) {
    if (ring.receiveError) {
        errno = static_cast<int>(ring.receiveError);
        return nullptr;
    }
    if (ring.received.empty()) {
        errno = static_cast<int>(noMoreItemsError());
        return nullptr;
    }
    ring.allocated.push_back(std::move(ring.received.front()));
    ring.received.pop_front();
    ring.allocated.back().reserve(1);  // an empty packet still has an address
    *size = static_cast<std::uint32_t>(ring.allocated.back().size());
    return ring.allocated.back().data();
}
void releasePacket(void*, const std::uint8_t*) { ++ring.released; }
std::uint8_t* allocateSend(void*, std::uint32_t size) {
    if (ring.allocateFails) {
        errno = 111;
        return nullptr;
    }
    ring.allocated.emplace_back(size);
    return ring.allocated.back().data();
}
void sendPacket(void*, const std::uint8_t* packet) {
    for (auto& a : ring.allocated)
        if (a.data() == packet) ring.sent.push_back(a);
}

std::map<std::string, void*> fullLibrary() {
    return {{"WintunCreateAdapter", reinterpret_cast<void*>(&createAdapter)},
            {"WintunOpenAdapter", reinterpret_cast<void*>(&openAdapter)},
            {"WintunCloseAdapter", reinterpret_cast<void*>(&closeAdapter)},
            {"WintunGetAdapterLUID", reinterpret_cast<void*>(&getLuid)},
            {"WintunStartSession", reinterpret_cast<void*>(&startSession)},
            {"WintunEndSession", reinterpret_cast<void*>(&endSession)},
            {"WintunGetReadWaitEvent", reinterpret_cast<void*>(&readEvent)},
            {"WintunReceivePacket", reinterpret_cast<void*>(&receivePacket)},
            {"WintunReleaseReceivePacket", reinterpret_cast<void*>(&releasePacket)},
            {"WintunAllocateSendPacket", reinterpret_cast<void*>(&allocateSend)},
            {"WintunSendPacket", reinterpret_cast<void*>(&sendPacket)}};
}

class WintunDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ring = FakeRing{};
        ring.log = &fx.log;
        fx.libraries.libraries[defaultWintunLibrary()] = fullLibrary();
        fx.ipHelper.indexes[0x2001] = 21;
    }

    std::string openError(const std::optional<std::string>& dll, std::string_view name) {
        auto device = WintunDevice::open(dll, name, fx.platform);
        if (device) return "opened " + (*device)->name();
        EXPECT_EQ(device.error().code(), "tap_open_failed");
        EXPECT_EQ(fx.libraries.live, 0) << "a failed open leaves the library loaded";
        return device.error().text();
    }

    std::unique_ptr<WintunDevice> openDevice() {
        auto device = WintunDevice::open(std::nullopt, "vlan", fx.platform);
        EXPECT_TRUE(device);
        return device ? std::move(*device) : nullptr;
    }

    FakePlatform fx;
};

HostSettings grant(const Mac& sessionMac) {
    HostSettings s;
    s.address = {10, 8, 0, 5};
    s.netmask = {255, 255, 255, 0};
    s.mtu = 1400;
    s.addressFlags = HostSettings::kIpv4Valid;
    s.sessionMac = sessionMac;
    return s;
}

TEST_F(WintunDeviceTest, NamesAndLibraryPathFallBackOnlyWhenBlank) {
    EXPECT_EQ(openError(std::nullopt, "  \t "), "opened Ostrel");
    EXPECT_EQ(openError(std::string("   "), " Arena "), "opened Arena");
    EXPECT_THAT(fx.libraries.loaded, ElementsAre(defaultWintunLibrary(), defaultWintunLibrary()));
    // A given path goes to the loader as typed, blanks and all.
    fx.libraries.libraries[" /opt/ring.so"] = fullLibrary();
    EXPECT_EQ(openError(std::string(" /opt/ring.so"), ""), "opened Ostrel");
    EXPECT_EQ(fx.libraries.loaded.back(), " /opt/ring.so");
    EXPECT_EQ(openError(std::string("/nowhere.so"), ""),
              "failed to load wintun.dll; put wintun.dll next to ostrel-client.exe or pass --wintun-dll: error 126");
}

TEST_F(WintunDeviceTest, ExistingAdapterIsReusedAndANewOneCreatedOnlyWhenMissing) {
    {
        auto first = openDevice();
        ASSERT_TRUE(first);
        EXPECT_EQ(first->interfaceIndex(), 21u);
    }
    EXPECT_THAT(fx.log, ::testing::IsSupersetOf({"open vlan", "create vlan Ostrel", "start 4194304"}));
    fx.log.clear();
    auto second = openDevice();
    ASSERT_TRUE(second);
    EXPECT_TRUE(fx.calls("create").empty());
}

TEST_F(WintunDeviceTest, EveryOpenFailureUndoesWhatItDid) {
    auto& library = fx.libraries.libraries[defaultWintunLibrary()];
    library.erase("WintunGetReadWaitEvent");
    library.erase("WintunSendPacket");
    EXPECT_EQ(openError(std::nullopt, "vlan"), "wintun.dll is missing WintunGetReadWaitEvent");
    library = fullLibrary();

    ring.createFails = true;
    EXPECT_EQ(openError(std::nullopt, "vlan"),
              "WintunCreateAdapter failed; install wintun.dll and run as Administrator: error 5");
    ring.createFails = false;

    fx.ipHelper.indexes[0x2001] = 0;
    fx.log.clear();
    EXPECT_EQ(openError(std::nullopt, "vlan"), "ConvertInterfaceLuidToIndex failed for Wintun adapter vlan: error 0");
    EXPECT_EQ(fx.calls("close-adapter").size(), 1u);
    fx.ipHelper.indexes[0x2001] = 21;

    ring.sessionFails = true;
    fx.log.clear();
    EXPECT_EQ(openError(std::nullopt, "vlan"), "WintunStartSession failed: error 8");
    EXPECT_EQ(fx.calls("close-adapter").size(), 1u);
    ring.sessionFails = false;

    ring.eventFails = true;
    fx.log.clear();
    EXPECT_EQ(openError(std::nullopt, "vlan"), "WintunGetReadWaitEvent failed: error 6");
    EXPECT_THAT(fx.calls("end-session"), ElementsAre("end-session"));
    EXPECT_EQ(fx.calls("close-adapter").size(), 1u);
    ring.eventFails = false;

    fx.events.createFails = true;
    fx.log.clear();
    EXPECT_EQ(openError(std::nullopt, "vlan"), "failed to create socket wait event");
    EXPECT_EQ(fx.calls("end-session").size(), 1u);
    EXPECT_EQ(fx.calls("close-adapter").size(), 1u);
}

TEST_F(WintunDeviceTest, ReceiveDropsEmptyAndForeignPacketsAndReleasesEachOne) {
    auto device = openDevice();
    Bytes buffer(1500);
    ring.received = {Bytes{0x00, 1, 2}, Bytes{}, Bytes{0x50, 0, 0}, Bytes(2000, 0x45), Bytes{0x60, 1, 2, 3}};
    auto dropped = device->receive(buffer);
    ASSERT_TRUE(dropped);
    EXPECT_FALSE(*dropped);
    EXPECT_EQ(ring.released, 1);
    EXPECT_FALSE(*device->receive(buffer));
    EXPECT_FALSE(*device->receive(buffer));
    EXPECT_EQ(device->receive(buffer)->value(), 1500u);  // cut to the buffer
    EXPECT_EQ(device->receive(buffer)->value(), 4u);
    EXPECT_EQ(ring.released, 5);
    EXPECT_FALSE(*device->receive(buffer));  // empty ring

    ring.receiveError = 22;
    auto failed = device->receive(buffer);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().kind(), ClientError::Kind::Io);
}

TEST_F(WintunDeviceTest, SendFiltersVersionsAndRewritesOnlyHonestBroadcasts) {
    auto device = openDevice();
    ASSERT_TRUE(device->send(Bytes{}));
    ASSERT_TRUE(device->send(Bytes{0x50, 0, 0, 20}));
    EXPECT_TRUE(ring.sent.empty());

    Bytes broadcast{0x45, 0, 0, 28, 0, 0, 0, 0, 64, 17, 0, 0, 10, 8, 0, 7, 255, 255, 255, 255,
                    0x10, 0, 0x10, 1, 0, 8, 0, 0};
    ASSERT_TRUE(device->send(broadcast));
    EXPECT_EQ(ring.sent.back(), broadcast);  // no rewrite before configure

    ASSERT_TRUE(device->configure(grant(Mac{})));
    ASSERT_TRUE(device->send(broadcast));
    EXPECT_EQ(ring.sent.back()[19], 255);
    EXPECT_EQ(ring.sent.back()[18], 0);
    EXPECT_NE(ring.sent.back()[26] | ring.sent.back()[27], 0);
    EXPECT_EQ(broadcast[18], 255);

    Bytes lying = broadcast;
    lying[3] = 29;  // total length past the packet
    ASSERT_TRUE(device->send(lying));
    EXPECT_EQ(ring.sent.back(), lying);

    ring.allocateFails = true;
    auto failed = device->send(broadcast);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().code(), "tap_open_failed");
    EXPECT_EQ(failed.error().text(), "WintunAllocateSendPacket failed: error 111");
}

TEST_F(WintunDeviceTest, WaitUsesTheSessionEventAndTheFirstSocket) {
    auto device = openDevice();
    ASSERT_TRUE(device->wait(4, 250ms));
    ASSERT_TRUE(device->wait(8, 3s));
    EXPECT_THAT(fx.events.selectedSockets, ElementsAre(4));
    EXPECT_THAT(fx.events.timeouts, ElementsAre(250u, 3000u));
    EXPECT_EQ(fx.events.waitedDevices[0], reinterpret_cast<Waitable>(&ring.event));

    fx.events.selectError = 10038;
    auto other = openDevice();
    auto failed = other->wait(4, 1ms);
    ASSERT_FALSE(failed);
    EXPECT_THAT(failed.error().detail(), HasSubstr("os error 10038"));
}

TEST_F(WintunDeviceTest, DropTearsDownThenClosesInOrder) {
    auto unconfigured = openDevice();
    fx.log.clear();
    unconfigured.reset();
    // Never configured: no command and no address or route call, only the handles.
    EXPECT_THAT(fx.log, ElementsAre("socket-event-close", "end-session", "close-adapter",
                                    "unload " + defaultWintunLibrary()));

    auto device = openDevice();
    ASSERT_TRUE(device->configure(grant(Mac{})));
    fx.log.clear();
    device.reset();
    EXPECT_THAT(fx.log, ElementsAre("route- 10.8.0.0/24", "route- 255.255.255.255/32",
                                    "netsh interface ipv4 set dns name=vlan source=dhcp", "addr- 10.8.0.5/24@21",
                                    "netsh interface ipv4 set subinterface vlan mtu=1500 store=active",
                                    "netsh interface ipv6 set subinterface vlan mtu=1500 store=active",
                                    "socket-event-close", "end-session", "close-adapter",
                                    "unload " + defaultWintunLibrary()));
    EXPECT_TRUE(fx.ipHelper.addresses.empty());
    EXPECT_EQ(fx.libraries.live, 0);
}

}  // namespace
}  // namespace ostrel
