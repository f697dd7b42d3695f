#pragma once
// Fuzz entry point for the adapters' frame and packet rewrites.
//   fuzzDeviceRewrite(data, size): the first byte picks frame (even) or packet
//   (odd) form and the rewrite address; the rest is the frame or packet.

#include <cstddef>
#include <cstdint>

namespace ostrel::fuzz {

int fuzzDeviceRewrite(const std::uint8_t* data, std::size_t size);

}  // namespace ostrel::fuzz
