#include "device/packet_device.h"

#include "device/windows_tap/tap_device.h"
#include "device/wintun/wintun_device.h"

namespace ostrel {

std::expected<std::unique_ptr<PacketDevice>, ClientError> PacketDevice::open(const DeviceOptions& options) {
    Platform& platform = systemPlatform();
    if (options.kind == DeviceKind::wintun) {
        auto device = WintunDevice::open(options.wintunDll, options.wintun, platform);
        if (!device) return std::unexpected(device.error());
        return std::unique_ptr<PacketDevice>(std::move(*device));
    }
    auto device = TapDevice::open(options.tap, platform);
    if (!device) return std::unexpected(device.error());
    return std::unique_ptr<PacketDevice>(std::move(*device));
}

}  // namespace ostrel
