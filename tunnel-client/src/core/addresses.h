#pragma once
// The address shapes every layer passes around, in network byte order.

#include <array>
#include <cstdint>

namespace ostrel {

using Ipv4Address = std::array<std::uint8_t, 4>;
using Ipv6Address = std::array<std::uint8_t, 16>;
using Mac = std::array<std::uint8_t, 6>;

}  // namespace ostrel
