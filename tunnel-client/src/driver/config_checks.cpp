#include "driver/config_checks.h"

namespace ostrel {

std::string serverAddress(std::string_view server)
{
    if (server.find(':') != std::string_view::npos)
        return std::string(server);
    return std::string(server) + ":7100";
}

std::expected<TunnelMode, ClientError> selectTunnelMode(const Args& args)
{
    if (!args.device)
        return args.mode.value_or(TunnelMode::l2);
    const TunnelMode paired = args.device->pairedMode();
    if (args.mode && args.mode->number() != args.device->number())
        return std::unexpected(ClientError::config("--mode and --device select different tunnel types"));
    return paired;
}

namespace {
int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
} // namespace

std::expected<std::optional<ServerAuthKey>, ClientError> settleServerAuth(const Args& args)
{
    if (args.insecure_skip_server_auth && args.server_auth_key)
        return std::unexpected(ClientError::config(
            "--server-auth-key and --insecure-skip-server-auth are mutually exclusive"));
    if (args.insecure_skip_server_auth)
        return std::optional<ServerAuthKey>();
    if (!args.server_auth_key)
        return std::unexpected(ClientError::config(
            "--server-auth-key is required; use --insecure-skip-server-auth only for trusted local tests"));

    const std::string& text = *args.server_auth_key;
    if (text.size() != 64)
        return std::unexpected(ClientError::protocol("server auth key"));
    ServerAuthKey key{};
    for (std::size_t i = 0; i < key.size(); ++i) {
        int high = hexValue(text[2 * i]);
        int low = hexValue(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::unexpected(ClientError::protocol("server auth key"));
        key[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return std::optional<ServerAuthKey>(key);
}

} // namespace ostrel
