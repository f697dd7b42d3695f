#include "device/packet_device.h"

namespace ostrel {

// Placeholder until the adapters land: an honest open failure, never a fake device.
std::expected<std::unique_ptr<PacketDevice>, ClientError> PacketDevice::open(const DeviceOptions& options) {
    return std::unexpected(ClientError::deviceOpen(std::string("no ") + std::string(options.kind.word()) +
                                                   " adapter support in this build"));
}

}  // namespace ostrel
