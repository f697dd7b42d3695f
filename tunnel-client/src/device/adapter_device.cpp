#include "device/adapter_device.h"

#include "device/device_errors.h"
#include "device/wait_timeout.h"

namespace ostrel {

AdapterDevice::AdapterDevice(Platform& platform, HostConfig::Style style, EventWait::SocketEvent socketEvent,
                             std::string name, std::uint32_t index)
    : platform_(platform),
      host_(style, platform.ipHelper, platform.commands),
      socketEvent_(socketEvent),
      name_(std::move(name)),
      index_(index) {}

std::expected<void, ClientError> AdapterDevice::configure(const HostSettings& settings) {
    if (auto r = host_.configure(name_, index_, settings); !r) return std::unexpected(device_errors::config(r.error()));
    return {};
}

std::expected<void, ClientError> AdapterDevice::waitWithSocket(Waitable adapterEvent, int socket,
                                                               std::chrono::nanoseconds timeout) {
    if (!socketAssociated_) {
        if (auto tied = platform_.events.selectSocket(socketEvent_, socket); !tied)
            return std::unexpected(device_errors::io(tied.error()));
        socketAssociated_ = true;
    }
    auto woken = platform_.events.waitAny(adapterEvent, socketEvent_, WaitTimeout::millis(timeout));
    if (!woken) return std::unexpected(device_errors::io(woken.error()));
    if (*woken == EventWait::Woken::Socket) platform_.events.resetSocketEvent(socketEvent_);
    return {};
}

void AdapterDevice::closeSocketEvent() {
    if (!socketEventOpen_) return;
    platform_.events.closeSocketEvent(socketEvent_);
    socketEventOpen_ = false;
}

}  // namespace ostrel
