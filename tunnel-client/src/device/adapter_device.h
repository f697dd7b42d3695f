#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "device/host_config.h"
#include "device/packet_device.h"
#include "platform/platform.h"

namespace ostrel {

// What both adapters share: the name and index the host knows them by, the host
// configuration on them, and the socket event that lets one wait cover the adapter
// and the UDP socket.
class AdapterDevice : public PacketDevice {
public:
    std::string name() const override { return name_; }
    std::expected<void, ClientError> configure(const HostSettings& settings) override;

    std::uint32_t interfaceIndex() const { return index_; }
    const HostConfig& hostConfig() const { return host_; }

    AdapterDevice(const AdapterDevice&) = delete;
    AdapterDevice& operator=(const AdapterDevice&) = delete;

protected:
    AdapterDevice(Platform& platform, HostConfig::Style style, EventWait::SocketEvent socketEvent, std::string name,
                  std::uint32_t index);

    // Until the adapter's event or the socket is signalled, or the time-out passes.
    std::expected<void, ClientError> waitWithSocket(Waitable adapterEvent, int socket,
                                                    std::chrono::nanoseconds timeout);
    void undoHostChanges() { host_.teardown(name_, index_); }
    void closeSocketEvent();

    Platform& platform_;
    HostConfig host_;

private:
    EventWait::SocketEvent socketEvent_;
    bool socketEventOpen_ = true;
    bool socketAssociated_ = false;
    std::string name_;
    std::uint32_t index_;
};

}  // namespace ostrel
