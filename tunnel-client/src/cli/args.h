#pragma once
// Args: everything ostrel-client takes from its command line.
//   Args args = Args::parse(argc, argv);   // help and command-line errors end the process
//   auto r = Args::tryParse({"--server", "h", ...});  // std::expected<Args, CommandLineExit>
//   Args::command() -> the option table;  Args::helpText(), Args::usage()

#include "cli/command_line_parser.h"
#include "cli/command_table.h"
#include "cli/device_kind.h"
#include "cli/tunnel_mode.h"

#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

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

    static CommandSpec command();
    // Arguments without the program name.
    static std::expected<Args, CommandLineExit> tryParse(std::span<const std::string> arguments);
    static std::expected<Args, CommandLineExit> tryParse(std::initializer_list<std::string> arguments);
    // Writes help or the error report and exits (status 0 or 2) unless the line is sound.
    static Args parse(int argc, char** argv);

    static std::string helpText();
    static std::string usage();
};

} // namespace ostrel
