#include <cerrno>

#include "platform/os_errors.h"

namespace ostrel {

std::uint32_t lastError() { return static_cast<std::uint32_t>(errno); }

// The packet-ring stand-in reports an empty ring the way a non-blocking read does.
std::uint32_t noMoreItemsError() { return EAGAIN; }

}  // namespace ostrel
