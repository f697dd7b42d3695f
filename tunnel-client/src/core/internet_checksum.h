#pragma once

#include <cstdint>
#include <span>

namespace ostrel {

// The Internet checksum of RFC 1071, in the pieces that IP, TCP and UDP checksums and
// their offloads need: partial sums that chain, the fold, and the inverted result.
class InternetChecksum {
public:
    // `seed` plus the sum of data as big-endian 16-bit words, an odd last byte padded with
    // zero; not folded, so sums of pieces of even length chain.
    static std::uint32_t sum(std::span<const std::uint8_t> data, std::uint32_t seed = 0);
    static std::uint16_t fold(std::uint64_t sum);
    // What goes into a checksum field: the folded sum, inverted.
    static std::uint16_t of(std::span<const std::uint8_t> data, std::uint32_t seed = 0) {
        return static_cast<std::uint16_t>(~fold(sum(data, seed)));
    }
};

}  // namespace ostrel
