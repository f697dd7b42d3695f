#pragma once
// Option checks made at the start of every connection attempt.
//   serverAddress("host") -> "host:7100"; text with any colon is kept as it is
//   selectTunnelMode(args) -> TunnelMode, or Config error on a --mode/--device clash   (A1)
//   settleServerAuth(args) -> optional 32-byte key, or Config/Protocol error          (A3)
//   checkAttempt(args, serverAddress) -> A1, the "connecting" event, A3 -> AttemptSettings

#include "cli/args.h"
#include "events/client_error.h"

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

using ServerAuthKey = std::array<std::uint8_t, 32>;

struct AttemptSettings {
    TunnelMode mode = TunnelMode::l2;
    std::optional<ServerAuthKey> serverAuthKey;  // none: connect without server authentication
};

std::string serverAddress(std::string_view server);
std::expected<TunnelMode, ClientError> selectTunnelMode(const Args& args);
std::expected<std::optional<ServerAuthKey>, ClientError> settleServerAuth(const Args& args);
// Prints "connecting" between the two checks, as each attempt does.
std::expected<AttemptSettings, ClientError> checkAttempt(const Args& args, const std::string& serverAddress);

} // namespace ostrel
