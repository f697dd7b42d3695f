#pragma once
// HostSettings: what configuring an adapter puts on the host, whatever granted it.

#include "core/addresses.h"

#include <cstdint>

namespace ostrel {

struct HostSettings {
    static constexpr std::uint8_t kIpv4Valid = 1;
    static constexpr std::uint8_t kIpv6Valid = 2;

    Ipv4Address address{};
    Ipv4Address netmask{};
    Ipv4Address dns{};
    std::uint16_t mtu = 0;
    std::uint8_t addressFlags = 0;  // kIpv4Valid, kIpv6Valid
    Ipv6Address address6{};
    std::uint8_t prefix6 = 0;
    Ipv6Address dns6{};
    // The tunnel side's MAC: a TAP adapter's frames carry it towards the server.
    Mac sessionMac{};
};

}  // namespace ostrel
