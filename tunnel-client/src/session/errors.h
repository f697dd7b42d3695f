#pragma once
// The error values the session produces, in one place.

#include "core/tunnel_mode.h"
#include "events/client_error.h"
#include "events/io_error.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace ostrel::session_errors {

inline ClientError resolve() { return ClientError::resolve(); }
inline ClientError socket(int err) { return ClientError::socket(IoError::fromErrno(err)); }
inline ClientError noCookie() { return ClientError::noCookie(); }
inline ClientError noServerKey() { return ClientError::noServerKey(); }
inline ClientError badServerKey() { return ClientError::badServerKey(); }
inline ClientError serverAuthFailed() { return ClientError::serverAuthFailed(); }
inline ClientError encrypt() { return ClientError::encrypt(); }
inline ClientError noAuthResponse() { return ClientError::noAuthResponse(); }
inline ClientError authFailed(std::uint8_t code, const std::string& reason) {
    return ClientError::authFailed(code, reason);
}
inline ClientError modeMismatch(TunnelMode server, TunnelMode client) {
    return ClientError::modeMismatch(server, client);
}
inline ClientError protocol(std::string_view text) { return ClientError::protocol(std::string(text)); }
inline ClientError io(int err) { return ClientError::io(IoError::fromErrno(err)); }
inline ClientError ioText(std::string_view text) { return ClientError::io(IoError::described(std::string(text))); }
inline ClientError deviceOpen(std::string_view text) { return ClientError::deviceOpen(std::string(text)); }

}  // namespace ostrel::session_errors
