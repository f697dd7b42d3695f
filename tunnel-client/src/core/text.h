#pragma once
// The text helpers every layer shares.
// Bytes from outside into UTF-8 (the AUTH_FAIL reason, adapter names from the registry),
// and the command line's near-miss suggestions:
//   isValidUtf8(bytes) -> strict UTF-8 check (no overlongs, surrogates or values past U+10FFFF)
//   lossyUtf8(bytes) -> each ill-formed subsequence replaced by U+FFFD
//   jaroSimilarity(a, b) -> 0.0 .. 1.0, computed over Unicode scalar values
// Adapter names and filters:
//   trim(" x\t") -> "x" (ASCII white space);  equalsFolded("TAP", "tap") -> true (ASCII letters)
// Event field values:
//   ipv4Text({192,168,7,10}) -> "192.168.7.10"
//   ipv6Text(bytes) -> canonical compressed lowercase form ("fd00::1", "::ffff:10.0.0.1")
//   ipv6CompressedText(bytes) -> the same without the mapped form ("::ffff:a00:1")
//   sessionText(255) -> "00000000000000ff"
//   prefixFromNetmask({255,255,255,0}) -> 24 (leading one bits; 255.0.255.0 -> 8)
//   decimalText(1420) -> "1420"

#include "core/addresses.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace ostrel {

bool isValidUtf8(std::string_view bytes);
std::string lossyUtf8(std::string_view bytes);
double jaroSimilarity(std::string_view a, std::string_view b);

std::string_view trim(std::string_view text);
// Equal length and equal letters once ASCII letters are folded to lower case.
bool equalsFolded(std::string_view a, std::string_view b);

std::string ipv4Text(const Ipv4Address& address);
std::string ipv6Text(const Ipv6Address& address);
std::string ipv6CompressedText(const Ipv6Address& address);
std::string sessionText(std::uint64_t sessionId);
unsigned prefixFromNetmask(const Ipv4Address& netmask);
std::string decimalText(std::uint64_t value);

} // namespace ostrel
