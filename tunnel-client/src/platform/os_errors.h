#pragma once

#include <cstdint>

namespace ostrel {

// Error numbers the adapter logic tests for. The Windows numbers stay as they
// are because the device layer reports them; the platform layer maps its own
// failures onto them where the logic must tell them apart.
inline constexpr std::uint32_t kErrorObjectAlreadyExists = 5010;
inline constexpr std::uint32_t kErrorDupDomainName = 1221;

// The "last error" of the calling thread after a platform call failed.
std::uint32_t lastError();

// The "nothing waits" error of a packet ring read.
std::uint32_t noMoreItemsError();

}  // namespace ostrel
