#pragma once

#include "platform/tap_file.h"

namespace ostrel {

// TAP device files as persistent TAP interfaces opened through /dev/net/tun.
// The descriptor is non-blocking; its readability is the read event.
class TunTapFiles : public TapFiles {
public:
    std::expected<std::unique_ptr<TapFile>, OpenFailure> open(std::string_view path) override;
};

}  // namespace ostrel
