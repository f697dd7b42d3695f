#pragma once

#include "platform/tap_file.h"

namespace ostrel {

// TAP device files as persistent TAP interfaces opened through /dev/net/tun.
// The descriptor is non-blocking; its readability is the read event. Opened with a
// virtio-net header and TCP offloads where the kernel allows: reads split the large
// TCP frames the kernel then hands over, writes join consecutive TCP segments of one
// flow until flushWrites (tap_offload.h).
class TunTapFiles : public TapFiles {
public:
    std::expected<std::unique_ptr<TapFile>, OpenFailure> open(std::string_view path) override;
};

}  // namespace ostrel
