#pragma once
// ArgsParser: the command line of ostrel-client into Args.
//   Args args = ArgsParser::parse(argc, argv);   // help and command-line errors end the process
//   auto r = ArgsParser::tryParse({"--server", "h", ...});  // std::expected<Args, CommandLineExit>
//   ArgsParser::command() -> the option table;  ArgsParser::helpText(), ArgsParser::usage()

#include "cli/command_line_parser.h"
#include "cli/command_table.h"
#include "driver/args.h"

#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ostrel {

// Reads the command line into Args.
class ArgsParser {
public:
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
