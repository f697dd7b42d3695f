#include "events/client_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <tuple>
#include <vector>

using ostrel::ClientError;
using ostrel::IoError;
using ostrel::TunnelMode;

namespace {
void expectTexts(const ClientError& e, const std::string& code, const std::string& message,
                 const std::string& detail)
{
    EXPECT_EQ(e.code(), code);
    EXPECT_EQ(e.message(), message);
    EXPECT_EQ(e.detail(), detail);
}
} // namespace

TEST(ClientErrorTexts, EveryKind)
{
    expectTexts(ClientError::resolve(), "resolve_failed", "Cannot resolve server hostname",
                "cannot resolve server hostname");
    expectTexts(ClientError::socket(IoError::fromErrno(EACCES)), "socket_failed",
                "Cannot create UDP socket",
                "cannot create UDP socket: Permission denied (os error 13)");
    expectTexts(ClientError::noCookie(), "no_cookie", "Server did not respond",
                "server did not respond with a cookie");
    expectTexts(ClientError::noServerKey(), "no_server_key", "Server did not complete handshake",
                "server did not complete handshake");
    expectTexts(ClientError::badServerKey(), "bad_server_key", "Server public key is invalid",
                "server public key is invalid");
    expectTexts(ClientError::serverAuthFailed(), "server_auth_failed",
                "Server authentication failed", "server authentication failed");
    expectTexts(ClientError::encrypt(), "encrypt_failed", "Encryption error", "encryption failed");
    expectTexts(ClientError::noAuthResponse(), "no_auth_response",
                "Server did not respond to authentication",
                "server did not respond to authentication");
    expectTexts(ClientError::modeMismatch(TunnelMode::l3, TunnelMode::l2), "mode_mismatch",
                "Server/client tunnel mode mismatch",
                "server selected l3, but client was started in l2");
    expectTexts(ClientError::config("x y"), "config_error", "Invalid client configuration",
                "configuration error: x y");
    expectTexts(ClientError::protocol("server auth key"), "internal_error",
                "Client internal error", "protocol error: server auth key");
    expectTexts(ClientError::deviceOpen("no adapter"), "tap_open_failed",
                "Cannot open packet device", "device open failed: no adapter");
    expectTexts(ClientError::deviceConfig("route"), "tap_config_failed",
                "Failed to configure packet device", "device configuration failed: route");
    expectTexts(ClientError::io(IoError::fromErrno(ENOENT)), "internal_error",
                "Client internal error", "I/O error: No such file or directory (os error 2)");
    expectTexts(ClientError::io(IoError::described("stream closed")), "internal_error",
                "Client internal error", "I/O error: stream closed");
}

TEST(ClientErrorTexts, AuthFailedCodeTableAndReason)
{
    const std::vector<std::tuple<int, std::string, std::string>> table = {
        {0, "unknown", "Unknown authentication error"},
        {1, "bad_credentials", "Wrong username or password"},
        {2, "node_not_found", "Node does not exist"},
        {3, "node_full", "Node is at capacity"},
        {4, "account_disabled", "Account is disabled"},
        {5, "already_connected", "Already connected"},
        {6, "internal_error", "Server internal error"},
        {7, "unsupported_mode", "Client does not support the requested node mode"},
        {8, "unknown", "Unknown authentication error"},
        {9, "unknown", "Unknown authentication error"},
        {255, "unknown", "Unknown authentication error"},
    };
    for (const auto& [code, word, message] : table) {
        auto e = ClientError::authFailed(std::uint8_t(code), "");
        EXPECT_EQ(e.kind(), ClientError::Kind::AuthFailed);
        expectTexts(e, word, message, "authentication failed: code=" + std::to_string(code));
    }
    // A reason replaces the message and is appended to the detail.
    expectTexts(ClientError::authFailed(1, "password expired"), "bad_credentials",
                "password expired", "authentication failed: code=1 reason=password expired");
    expectTexts(ClientError::authFailed(200, " "), "unknown", " ",
                "authentication failed: code=200 reason= ");
}

TEST(IoErrorText, TrailingWhiteSpaceRemovedAndNumberAppended)
{
    for (int n : {EPERM, EINTR, ENETUNREACH, EADDRINUSE}) {
        std::string text = IoError::fromErrno(n).text();
        std::string suffix = " (os error " + std::to_string(n) + ")";
        ASSERT_GT(text.size(), suffix.size());
        EXPECT_EQ(text.substr(text.size() - suffix.size()), suffix);
        EXPECT_EQ(text.substr(0, text.size() - suffix.size()), std::strerror(n));
        EXPECT_NE(text[text.size() - suffix.size() - 1], ' ');
    }
    errno = EBADF;
    EXPECT_EQ(IoError::lastOsError().osError(), EBADF);
    EXPECT_FALSE(IoError::described("x").osError().has_value());
}
