#pragma once
// Option checks the driver makes at the start of every connection attempt.
//   serverAddress("host") -> "host:7100"; text with any colon is kept as it is
//   selectTunnelMode(args) -> TunnelMode, or Config error on a --mode/--device clash
//   settleServerAuth(args) -> optional 32-byte key, or Config/Protocol error

#include "driver/args.h"
#include "events/client_error.h"

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

using ServerAuthKey = std::array<std::uint8_t, 32>;

std::string serverAddress(std::string_view server);
std::expected<TunnelMode, ClientError> selectTunnelMode(const Args& args);
std::expected<std::optional<ServerAuthKey>, ClientError> settleServerAuth(const Args& args);

} // namespace ostrel
