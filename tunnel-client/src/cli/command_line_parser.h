#pragma once
// CommandLineParser: parses arguments (without the program name) against a
// CommandSpec, with the error reports and help layout users of such tools know:
// "error: ..." on stderr, the usage line, "For more information, try '--help'.",
// status 2; help on stdout with status 0.
//   CommandLineParser parser(spec);
//   auto result = parser.parse(arguments);   // std::expected<ParsedArguments, CommandLineExit>
//   result->value("server") -> std::optional<std::string> (defaults applied; flags "true")
//   parser.helpText(), parser.usage()

#include "cli/command_table.h"

#include <expected>
#include <map>
#include <span>
#include <string>

namespace ostrel {

// How the process ends instead of running: the texts for each stream and the status.
struct CommandLineExit {
    int status = 0;
    std::string standardOutput;
    std::string standardError;
};

struct ParsedArguments {
    std::map<std::string, std::string, std::less<>> values;

    std::optional<std::string> value(std::string_view id) const
    {
        auto it = values.find(id);
        if (it == values.end())
            return std::nullopt;
        return it->second;
    }
    bool flag(std::string_view id) const { return values.contains(id); }
};

class CommandLineParser {
public:
    explicit CommandLineParser(CommandSpec spec);

    std::expected<ParsedArguments, CommandLineExit> parse(std::span<const std::string> arguments) const;

    std::string helpText() const;
    // The full usage line (without "Usage: ").
    std::string usage() const;
    // The error report for any message, framed like the parser's own errors.
    std::string errorReport(const std::string& message, bool withUsage) const;

private:
    struct State;

    std::string usageFor(const std::vector<const OptionSpec*>& used) const;
    CommandLineExit fail(const std::string& body, const std::optional<std::string>& usage) const;
    const OptionSpec* findLong(std::string_view name) const;

    CommandSpec spec_;
};

} // namespace ostrel
