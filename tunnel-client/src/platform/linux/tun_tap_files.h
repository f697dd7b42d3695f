#pragma once

#include "platform/tap_file.h"

namespace ostrel {

// TAP device files as persistent TAP interfaces opened through /dev/net/tun.
// The descriptor is non-blocking; its readability is the read event. Opened with a
// virtio-net header and TCP offloads where the kernel allows: reads split the large
// TCP frames the kernel then hands over, writes join consecutive TCP segments of one
// flow until flushWrites (tap_offload.h).
// Where the client may take any adapter and none is free, it makes a TAP interface
// of its own for the session, as an installer would have put one on the machine.
class TunTapFiles : public TapFiles {
public:
    static constexpr std::string_view kSessionAdapterPattern = "ostrel%d";

    std::expected<std::unique_ptr<TapFile>, OpenFailure> open(std::string_view path) override;
    std::expected<SessionAdapter, MakeFailure> makeSessionAdapter() override;
};

}  // namespace ostrel
