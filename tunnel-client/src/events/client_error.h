#pragma once
// ClientError: every failure of the tunnel client, one of fifteen kinds. Producers
// return it to their caller; only the driver prints it (EventLog::emitError).
//   ClientError::resolve(), socket(IoError), noCookie(), noServerKey(), badServerKey(),
//   serverAuthFailed(), encrypt(), noAuthResponse(), authFailed(code, reason),
//   modeMismatch(serverMode, clientMode), config(text), protocol(text),
//   deviceOpen(text), deviceConfig(text), io(IoError)
//   e.kind(), e.code() ("resolve_failed", ...), e.message(), e.detail()
//   authFailCode(byte) -> {word, message}: the AUTH_FAIL code table

#include "core/tunnel_mode.h"
#include "events/io_error.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

struct AuthFailCode {
    std::string_view word;
    std::string_view message;
};

// Code word and message for the code byte of AUTH_FAIL; unknown bytes map to "unknown".
AuthFailCode authFailCode(std::uint8_t code);

class ClientError {
public:
    enum class Kind {
        Resolve,
        Socket,
        NoCookie,
        NoServerKey,
        BadServerKey,
        ServerAuthFailed,
        Encrypt,
        NoAuthResponse,
        AuthFailed,
        ModeMismatch,
        Config,
        Protocol,
        DeviceOpen,
        DeviceConfig,
        Io,
    };

    static ClientError resolve();
    static ClientError socket(IoError error);
    static ClientError noCookie();
    static ClientError noServerKey();
    static ClientError badServerKey();
    static ClientError serverAuthFailed();
    static ClientError encrypt();
    static ClientError noAuthResponse();
    // The reason suffix (" reason=<reason>", or nothing for an empty reason) is fixed here.
    static ClientError authFailed(std::uint8_t code, std::string reason);
    static ClientError modeMismatch(TunnelMode serverMode, TunnelMode clientMode);
    // For a server mode byte that names no known mode, the caller chooses the word.
    static ClientError modeMismatch(std::string serverWord, std::string clientWord);
    static ClientError config(std::string text);
    static ClientError protocol(std::string text);
    static ClientError deviceOpen(std::string text);
    static ClientError deviceConfig(std::string text);
    static ClientError io(IoError error);

    Kind kind() const { return kind_; }
    std::string code() const;
    std::string message() const;
    std::string detail() const;

    // What the kind carries (empty / zero where it carries nothing of that sort).
    std::uint8_t authCode() const { return authCode_; }
    const std::string& reason() const { return reason_; }
    const std::string& text() const { return text_; }
    const std::optional<IoError>& ioError() const { return ioError_; }

private:
    explicit ClientError(Kind kind) : kind_(kind) {}
    static ClientError withText(Kind kind, std::string text);
    static ClientError withIoError(Kind kind, IoError error);

    Kind kind_;
    std::uint8_t authCode_ = 0;
    std::string reason_;
    std::string reasonSuffix_;
    std::string text_;        // Config/Protocol/Device* text; ModeMismatch server word
    std::string clientWord_;  // ModeMismatch client word
    std::optional<IoError> ioError_;
};

} // namespace ostrel
