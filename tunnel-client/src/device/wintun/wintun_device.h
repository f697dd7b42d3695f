#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/host_config.h"
#include "device/packet_device.h"
#include "platform/platform.h"
#include "platform/wintun_abi.h"

namespace ostrel {

// The layer-3 adapter: a packet-ring library loaded at run time, one adapter
// opened or created by name, one session whose rings carry IPv4/IPv6 packets.
class WintunDevice : public PacketDevice {
public:
    static constexpr std::string_view kDefaultAdapterName = "Ostrel";
    static constexpr std::string_view kTunnelType = "Ostrel";
    static constexpr std::uint32_t kRingCapacity = 0x400000;

    // The functions, bound by name in this order.
    struct Api {
        WintunCreateAdapterFn createAdapter = nullptr;
        WintunOpenAdapterFn openAdapter = nullptr;
        WintunCloseAdapterFn closeAdapter = nullptr;
        WintunGetAdapterLuidFn getAdapterLuid = nullptr;
        WintunStartSessionFn startSession = nullptr;
        WintunEndSessionFn endSession = nullptr;
        WintunGetReadWaitEventFn getReadWaitEvent = nullptr;
        WintunReceivePacketFn receivePacket = nullptr;
        WintunReleaseReceivePacketFn releaseReceivePacket = nullptr;
        WintunAllocateSendPacketFn allocateSendPacket = nullptr;
        WintunSendPacketFn sendPacket = nullptr;
    };

    static std::expected<std::unique_ptr<WintunDevice>, ClientError> open(const std::optional<std::string>& libraryPath,
                                                                         std::string_view adapterName,
                                                                         Platform& platform);
    ~WintunDevice() override;

    std::string name() const override { return name_; }
    std::expected<void, ClientError> configure(const AuthOk& settings, const Mac& mac) override;
    std::expected<std::optional<std::size_t>, ClientError> receive(std::span<std::uint8_t> buffer) override;
    std::expected<void, ClientError> send(std::span<const std::uint8_t> packet) override;
    std::expected<void, ClientError> wait(int socket, std::chrono::nanoseconds timeout) override;

    std::uint32_t interfaceIndex() const { return index_; }
    const HostConfig& hostConfig() const { return host_; }

    WintunDevice(const WintunDevice&) = delete;
    WintunDevice& operator=(const WintunDevice&) = delete;

private:
    WintunDevice(Platform& platform, LibraryLoader::Handle library, const Api& api, void* adapter, void* session,
                 void* readEvent, EventWait::SocketEvent socketEvent, std::string name, std::uint32_t index);
    void close();

    Platform& platform_;
    LibraryLoader::Handle library_;
    Api api_;
    void* adapter_;
    void* session_;
    void* readEvent_;
    EventWait::SocketEvent socketEvent_;
    bool socketEventOpen_ = true;
    std::string name_;
    std::uint32_t index_;
    HostConfig host_;
    bool closed_ = false;
    bool socketAssociated_ = false;
    std::vector<std::uint8_t> sendCopy_;
};

}  // namespace ostrel
