#pragma once
// CommandSpec: the table a CommandLineParser works from. Every option is long-only,
// at most once; options with a value name take one value, the others are flags.
// "-h"/"--help" is added by the parser.
//   OptionSpec{.id = "server", .longName = "server", .valueName = "SERVER", .required = true}
//   spec.find("server") -> const OptionSpec* or nullptr
//   option.display() -> "--server <SERVER>" / "--reconnect"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

struct OptionSpec {
    std::string_view id;
    std::string_view longName;
    std::string_view valueName;  // empty: a flag
    bool required = false;
    std::optional<std::string_view> defaultValue;
    std::vector<std::string_view> possibleValues;  // empty: any text

    bool takesValue() const { return !valueName.empty(); }
    std::string display() const
    {
        std::string out = "--" + std::string(longName);
        if (takesValue())
            out += " <" + std::string(valueName) + ">";
        return out;
    }
};

struct CommandSpec {
    std::string_view name;
    std::string_view about;
    std::vector<OptionSpec> options;

    const OptionSpec* find(std::string_view id) const
    {
        for (const auto& option : options)
            if (option.id == id)
                return &option;
        return nullptr;
    }
};

} // namespace ostrel
