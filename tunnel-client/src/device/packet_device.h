#pragma once
// PacketDevice: the virtual adapter the run loop moves packets to and from.
//   ~PacketDevice  undoes every host change configure made, releases handles; never fails
//   name()         adapter name for the "adapter" event and host configuration
//   configure      addresses, routes, metric, DNS, MTU and the session MAC from HostSettings
//   receive        never blocks: one frame/packet cut to the buffer, nothing, or an error
//   send           one frame/packet to the adapter (a device may hold it back until flush)
//   flush          hands the adapter whatever send held back
//   wait           until the device or the UDP socket has data, or the time-out passes
//   open           TapDevice for DeviceKind::tap, WintunDevice for DeviceKind::wintun

#include "core/device_kind.h"
#include "device/host_settings.h"
#include "events/client_error.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace ostrel {

struct DeviceOptions {
    DeviceKind kind = DeviceKind::tap;
    std::string tap;
    std::string wintun = "Ostrel";
    std::optional<std::string> wintunDll;
};

class PacketDevice {
public:
    virtual ~PacketDevice() = default;
    virtual std::string name() const = 0;
    virtual std::expected<void, ClientError> configure(const HostSettings& settings) = 0;
    virtual std::expected<std::optional<std::size_t>, ClientError> receive(std::span<std::uint8_t> buffer) = 0;
    virtual std::expected<void, ClientError> send(std::span<const std::uint8_t> packet) = 0;
    virtual std::expected<void, ClientError> flush() { return {}; }
    virtual std::expected<void, ClientError> wait(int socket, std::chrono::nanoseconds timeout) = 0;

    static std::expected<std::unique_ptr<PacketDevice>, ClientError> open(const DeviceOptions& options);
};

}  // namespace ostrel
