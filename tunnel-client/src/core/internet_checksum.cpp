#include "core/internet_checksum.h"

#include <bit>
#include <cstring>

namespace ostrel {

std::uint32_t InternetChecksum::sum(std::span<const std::uint8_t> data, std::uint32_t seed) {
    // Native-order words, eight bytes at a time with the carries kept apart: one's
    // complement addition does not care about byte order, so one swap of the folded
    // result makes it big-endian (RFC 1071 2.B).
    std::uint64_t acc = 0;
    std::uint64_t carries = 0;
    const std::uint8_t* p = data.data();
    std::size_t n = data.size();
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        acc += w;
        carries += acc < w;
    }
    acc = (acc & 0xFFFFFFFF) + (acc >> 32) + carries;
    if (n >= 4) {
        std::uint32_t w;
        std::memcpy(&w, p, 4);
        acc += w;
        p += 4;
        n -= 4;
    }
    if (n >= 2) {
        std::uint16_t w;
        std::memcpy(&w, p, 2);
        acc += w;
        p += 2;
        n -= 2;
    }
    if (n == 1) {
        const std::uint8_t padded[2] = {*p, 0};
        std::uint16_t w;
        std::memcpy(&w, padded, 2);
        acc += w;
    }
    std::uint16_t folded = fold(acc);
    if constexpr (std::endian::native == std::endian::little) folded = static_cast<std::uint16_t>(folded << 8 | folded >> 8);
    return seed + folded;
}

std::uint16_t InternetChecksum::fold(std::uint64_t sum) {
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(sum);
}

}  // namespace ostrel
