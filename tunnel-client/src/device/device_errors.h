#pragma once
// The three error kinds the device layer produces.

#include <cstdint>
#include <string>

#include "events/client_error.h"
#include "events/io_error.h"

namespace ostrel::device_errors {

inline ClientError open(std::string text) { return ClientError::deviceOpen(std::move(text)); }
inline ClientError config(std::string text) { return ClientError::deviceConfig(std::move(text)); }
inline ClientError io(std::uint32_t error) { return ClientError::io(IoError::fromErrno(static_cast<int>(error))); }

}  // namespace ostrel::device_errors
