#pragma once
// Text forms of event field values.
//   ipv4Text({192,168,7,10}) -> "192.168.7.10"
//   ipv6Text(bytes) -> canonical compressed lowercase form ("fd00::1", "::ffff:10.0.0.1")
//   ipv6CompressedText(bytes) -> the same without the mapped form ("::ffff:a00:1")
//   sessionText(255) -> "00000000000000ff"
//   prefixFromNetmask({255,255,255,0}) -> 24 (leading one bits; 255.0.255.0 -> 8)
//   decimalText(1420) -> "1420"

#include <array>
#include <cstdint>
#include <string>

namespace ostrel {

using Ipv4Bytes = std::array<std::uint8_t, 4>;
using Ipv6Bytes = std::array<std::uint8_t, 16>;

std::string ipv4Text(const Ipv4Bytes& address);
std::string ipv6Text(const Ipv6Bytes& address);
std::string ipv6CompressedText(const Ipv6Bytes& address);
std::string sessionText(std::uint64_t sessionId);
unsigned prefixFromNetmask(const Ipv4Bytes& netmask);
std::string decimalText(std::uint64_t value);

} // namespace ostrel
