#pragma once
// Args: everything ostrel-client takes from its command line, as the driver reads it.
// cli/args_parser.h fills it in.

#include "core/device_kind.h"
#include "core/tunnel_mode.h"

#include <optional>
#include <string>

namespace ostrel {

struct Args {
    std::string server;
    std::string user;
    std::string password;
    std::string node;
    std::optional<TunnelMode> mode;
    std::optional<DeviceKind> device;
    std::string tap;
    std::string wintun = "Ostrel";
    std::optional<std::string> wintun_dll;
    bool connect_only = false;
    bool reconnect = false;
    std::optional<std::string> server_auth_key;
    bool insecure_skip_server_auth = false;
};

} // namespace ostrel
