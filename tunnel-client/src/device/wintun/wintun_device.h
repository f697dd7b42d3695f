#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/adapter_device.h"
#include "platform/wintun_abi.h"

namespace ostrel {

// The layer-3 adapter: a packet-ring library loaded at run time, one adapter
// opened or created by name, one session whose rings carry IPv4/IPv6 packets.
class WintunDevice : public AdapterDevice {
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

    std::expected<std::optional<std::size_t>, ClientError> receive(std::span<std::uint8_t> buffer) override;
    std::expected<void, ClientError> send(std::span<const std::uint8_t> packet) override;
    std::expected<void, ClientError> wait(int socket, std::chrono::nanoseconds timeout) override;

private:
    WintunDevice(Platform& platform, LibraryLoader::Handle library, const Api& api, void* adapter, void* session,
                 void* readEvent, EventWait::SocketEvent socketEvent, std::string name, std::uint32_t index);
    void close();

    LibraryLoader::Handle library_;
    Api api_;
    void* adapter_;
    void* session_;
    void* readEvent_;
    bool closed_ = false;
    std::vector<std::uint8_t> sendCopy_;
};

}  // namespace ostrel
