#include "events/client_error.h"

namespace ostrel {

AuthFailCode authFailCode(std::uint8_t code)
{
    switch (code) {
    case 1: return {"bad_credentials", "Wrong username or password"};
    case 2: return {"node_not_found", "Node does not exist"};
    case 3: return {"node_full", "Node is at capacity"};
    case 4: return {"account_disabled", "Account is disabled"};
    case 5: return {"already_connected", "Already connected"};
    case 6: return {"internal_error", "Server internal error"};
    case 7: return {"unsupported_mode", "Client does not support the requested node mode"};
    default: return {"unknown", "Unknown authentication error"};
    }
}

ClientError ClientError::withText(Kind kind, std::string text)
{
    ClientError e(kind);
    e.text_ = std::move(text);
    return e;
}

ClientError ClientError::withIoError(Kind kind, IoError error)
{
    ClientError e(kind);
    e.ioError_ = std::move(error);
    return e;
}

ClientError ClientError::resolve() { return ClientError(Kind::Resolve); }
ClientError ClientError::noCookie() { return ClientError(Kind::NoCookie); }
ClientError ClientError::noServerKey() { return ClientError(Kind::NoServerKey); }
ClientError ClientError::badServerKey() { return ClientError(Kind::BadServerKey); }
ClientError ClientError::serverAuthFailed() { return ClientError(Kind::ServerAuthFailed); }
ClientError ClientError::encrypt() { return ClientError(Kind::Encrypt); }
ClientError ClientError::noAuthResponse() { return ClientError(Kind::NoAuthResponse); }

ClientError ClientError::socket(IoError error) { return withIoError(Kind::Socket, std::move(error)); }

ClientError ClientError::io(IoError error) { return withIoError(Kind::Io, std::move(error)); }

ClientError ClientError::authFailed(std::uint8_t code, std::string reason)
{
    ClientError e(Kind::AuthFailed);
    e.authCode_ = code;
    if (!reason.empty())
        e.reasonSuffix_ = " reason=" + reason;
    e.reason_ = std::move(reason);
    return e;
}

ClientError ClientError::modeMismatch(TunnelMode serverMode, TunnelMode clientMode)
{
    return modeMismatch(std::string(serverMode.word()), std::string(clientMode.word()));
}

ClientError ClientError::modeMismatch(std::string serverWord, std::string clientWord)
{
    ClientError e(Kind::ModeMismatch);
    e.text_ = std::move(serverWord);
    e.clientWord_ = std::move(clientWord);
    return e;
}

ClientError ClientError::config(std::string text) { return withText(Kind::Config, std::move(text)); }

ClientError ClientError::protocol(std::string text) { return withText(Kind::Protocol, std::move(text)); }

ClientError ClientError::deviceOpen(std::string text) { return withText(Kind::DeviceOpen, std::move(text)); }

ClientError ClientError::deviceConfig(std::string text) { return withText(Kind::DeviceConfig, std::move(text)); }

std::string ClientError::code() const
{
    switch (kind_) {
    case Kind::Resolve: return "resolve_failed";
    case Kind::Socket: return "socket_failed";
    case Kind::NoCookie: return "no_cookie";
    case Kind::NoServerKey: return "no_server_key";
    case Kind::BadServerKey: return "bad_server_key";
    case Kind::ServerAuthFailed: return "server_auth_failed";
    case Kind::Encrypt: return "encrypt_failed";
    case Kind::NoAuthResponse: return "no_auth_response";
    case Kind::AuthFailed: return std::string(authFailCode(authCode_).word);
    case Kind::ModeMismatch: return "mode_mismatch";
    case Kind::Config: return "config_error";
    case Kind::Protocol: return "internal_error";
    case Kind::DeviceOpen: return "tap_open_failed";
    case Kind::DeviceConfig: return "tap_config_failed";
    case Kind::Io: return "internal_error";
    }
    return "internal_error";
}

std::string ClientError::message() const
{
    switch (kind_) {
    case Kind::Resolve: return "Cannot resolve server hostname";
    case Kind::Socket: return "Cannot create UDP socket";
    case Kind::NoCookie: return "Server did not respond";
    case Kind::NoServerKey: return "Server did not complete handshake";
    case Kind::BadServerKey: return "Server public key is invalid";
    case Kind::ServerAuthFailed: return "Server authentication failed";
    case Kind::Encrypt: return "Encryption error";
    case Kind::NoAuthResponse: return "Server did not respond to authentication";
    case Kind::AuthFailed:
        return reason_.empty() ? std::string(authFailCode(authCode_).message) : reason_;
    case Kind::ModeMismatch: return "Server/client tunnel mode mismatch";
    case Kind::Config: return "Invalid client configuration";
    case Kind::Protocol: return "Client internal error";
    case Kind::DeviceOpen: return "Cannot open packet device";
    case Kind::DeviceConfig: return "Failed to configure packet device";
    case Kind::Io: return "Client internal error";
    }
    return "Client internal error";
}

std::string ClientError::detail() const
{
    switch (kind_) {
    case Kind::Resolve: return "cannot resolve server hostname";
    case Kind::Socket: return "cannot create UDP socket: " + ioError_->text();
    case Kind::NoCookie: return "server did not respond with a cookie";
    case Kind::NoServerKey: return "server did not complete handshake";
    case Kind::BadServerKey: return "server public key is invalid";
    case Kind::ServerAuthFailed: return "server authentication failed";
    case Kind::Encrypt: return "encryption failed";
    case Kind::NoAuthResponse: return "server did not respond to authentication";
    case Kind::AuthFailed:
        return "authentication failed: code=" + std::to_string(authCode_) + reasonSuffix_;
    case Kind::ModeMismatch:
        return "server selected " + text_ + ", but client was started in " + clientWord_;
    case Kind::Config: return "configuration error: " + text_;
    case Kind::Protocol: return "protocol error: " + text_;
    case Kind::DeviceOpen: return "device open failed: " + text_;
    case Kind::DeviceConfig: return "device configuration failed: " + text_;
    case Kind::Io: return "I/O error: " + ioError_->text();
    }
    return {};
}

} // namespace ostrel
