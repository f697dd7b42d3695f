#include "cli/command_line_parser.h"

#include "core/text.h"

#include <algorithm>

namespace ostrel {

namespace {

constexpr std::string_view kHelpName = "help";

std::string possibleValuesList(const OptionSpec& option)
{
    if (option.possibleValues.empty())
        return {};
    std::string out = "\n  [possible values: ";
    for (std::size_t i = 0; i < option.possibleValues.size(); ++i) {
        if (i)
            out += ", ";
        out += option.possibleValues[i];
    }
    return out + "]";
}

// The candidate most similar to `text`, when its similarity is above 0.7; on a
// tie the later candidate wins.
std::optional<std::string> closest(std::string_view text, const std::vector<std::string_view>& candidates)
{
    std::optional<std::string> best;
    double bestScore = 0.7;
    for (auto candidate : candidates) {
        double score = jaroSimilarity(text, candidate);
        if (score > 0.7 && score >= bestScore) {
            bestScore = score;
            best = std::string(candidate);
        }
    }
    return best;
}

std::string quoteIfSpaced(std::string_view value)
{
    bool spaced = std::any_of(value.begin(), value.end(), [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    });
    if (!spaced)
        return std::string(value);
    std::string out = "\"";
    for (char c : value) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (c == '\n') { out += "\\n"; continue; }
        if (c == '\t') { out += "\\t"; continue; }
        if (c == '\r') { out += "\\r"; continue; }
        out += c;
    }
    return out + "\"";
}

} // namespace

struct CommandLineParser::State {
    std::vector<const OptionSpec*> present;  // in command-line order
    ParsedArguments parsed;

    bool has(const OptionSpec* option) const
    {
        return std::find(present.begin(), present.end(), option) != present.end();
    }
    std::vector<const OptionSpec*> presentOptional() const
    {
        std::vector<const OptionSpec*> out;
        for (auto* option : present)
            if (!option->required)
                out.push_back(option);
        return out;
    }
};

CommandLineParser::CommandLineParser(CommandSpec spec) : spec_(std::move(spec)) {}

const OptionSpec* CommandLineParser::findLong(std::string_view name) const
{
    for (const auto& option : spec_.options)
        if (option.longName == name)
            return &option;
    return nullptr;
}

std::string CommandLineParser::usage() const
{
    return usageFor({});
}

std::string CommandLineParser::usageFor(const std::vector<const OptionSpec*>& used) const
{
    std::string out(spec_.name);
    bool anyOptional = std::any_of(spec_.options.begin(), spec_.options.end(),
                                   [](const OptionSpec& o) { return !o.required; });
    // The short form names what was used; only the general form mentions [OPTIONS].
    if (used.empty() && anyOptional)
        out += " [OPTIONS]";
    // Appended piecewise: g++ 12 at -O3 misreads "literal" + std::string&& as overlapping copies.
    for (const auto& option : spec_.options)
        if (option.required)
            out.append(" ").append(option.display());
    for (auto* option : used)
        if (!option->required)
            out.append(" ").append(option->display());
    return out;
}

std::string CommandLineParser::errorReport(const std::string& message, bool withUsage) const
{
    return fail(message, withUsage ? std::optional<std::string>(usage()) : std::nullopt).standardError;
}

CommandLineExit CommandLineParser::fail(const std::string& body, const std::optional<std::string>& usage) const
{
    CommandLineExit exit;
    exit.status = 2;
    exit.standardError = "error: " + body;
    if (usage)
        exit.standardError += "\n\nUsage: " + *usage;
    exit.standardError += "\n\nFor more information, try '--help'.\n";
    return exit;
}

std::string CommandLineParser::helpText() const
{
    std::size_t longest = kHelpName.size() + 2;
    for (const auto& option : spec_.options)
        longest = std::max(longest, option.display().size());
    const std::size_t column = 2 + 4 + longest + 2;

    auto line = [&](std::string left, const std::string& right) {
        if (right.empty())
            return left;
        left.append(column - left.size(), ' ');
        return left + right;
    };

    std::string out(spec_.about);
    out += "\n\nUsage: " + usage() + "\n\nOptions:\n";
    for (const auto& option : spec_.options) {
        std::vector<std::string> notes;
        if (option.defaultValue)
            notes.push_back("[default: " + quoteIfSpaced(*option.defaultValue) + "]");
        if (!option.possibleValues.empty())
            notes.push_back(possibleValuesList(option).substr(3));
        std::string right;
        for (const auto& note : notes)
            right += (right.empty() ? "" : " ") + note;
        out += line("      " + option.display(), right) + "\n";
    }
    out += line("  -h, --help", "Print help") + "\n";
    return out;
}

std::expected<ParsedArguments, CommandLineExit>
CommandLineParser::parse(std::span<const std::string> arguments) const
{
    State state;
    const OptionSpec* pending = nullptr;
    bool trailing = false;

    auto emptyValue = [&](const OptionSpec* option) {
        return fail("a value is required for '" + option->display() + "' but none was supplied" +
                        possibleValuesList(*option),
                    usage());
    };
    auto unexpected = [&](const std::string& text, const std::optional<std::string>& tip,
                          const std::vector<const OptionSpec*>& used) {
        std::string body = "unexpected argument '" + text + "' found";
        if (tip)
            body += "\n\n  tip: a similar argument exists: '--" + *tip + "'";
        return fail(body, usageFor(used));
    };
    auto help = [&] {
        CommandLineExit exit;
        exit.status = 0;
        exit.standardOutput = helpText();
        return exit;
    };
    // Duplicates are refused before the value itself is looked at.
    auto store = [&](const OptionSpec* option, const std::string& value) -> std::optional<CommandLineExit> {
        if (state.has(option))
            return fail("the argument '" + option->display() + "' cannot be used multiple times", usage());
        if (!option->possibleValues.empty()) {
            const auto& words = option->possibleValues;
            if (std::find(words.begin(), words.end(), value) == words.end()) {
                std::string shown = lossyUtf8(value);
                std::string body = "invalid value '" + shown + "' for '" + option->display() + "'";
                if (shown.empty())
                    body = "a value is required for '" + option->display() + "' but none was supplied";
                body += possibleValuesList(*option);
                if (auto tip = closest(shown, words))
                    body += "\n\n  tip: a similar value exists: '" + *tip + "'";
                return fail(body, usage());
            }
        } else if (!isValidUtf8(value)) {
            return fail("invalid UTF-8 was detected in one or more arguments", usage());
        }
        state.present.push_back(option);
        state.parsed.values[std::string(option->id)] = value;
        return std::nullopt;
    };

    for (const std::string& arg : arguments) {
        if (trailing)
            return std::unexpected(unexpected(lossyUtf8(arg), std::nullopt, {}));

        const bool looksLong = arg.starts_with("--");
        const bool looksShort = !looksLong && arg.size() > 1 && arg[0] == '-';

        // A value that looks like an option must be joined with "="; anything
        // option-like here means the pending option got no value.
        if (pending) {
            if (looksLong || looksShort)
                return std::unexpected(emptyValue(pending));
            if (auto failure = store(pending, arg))
                return std::unexpected(*failure);
            pending = nullptr;
            continue;
        }

        if (arg == "--") {
            trailing = true;
            continue;
        }

        if (looksLong) {
            std::string_view body = std::string_view(arg).substr(2);
            auto eq = body.find('=');
            std::string_view name = body.substr(0, eq);
            std::optional<std::string> attached;
            if (eq != std::string_view::npos)
                attached = std::string(body.substr(eq + 1));

            const bool nameValid = isValidUtf8(name);
            const OptionSpec* option = nameValid ? findLong(name) : nullptr;
            const bool isHelp = nameValid && name == kHelpName;

            if (!option && !isHelp) {
                std::vector<std::string_view> candidates;
                for (const auto& o : spec_.options)
                    candidates.push_back(o.longName);
                candidates.push_back(kHelpName);
                std::string shown = lossyUtf8(name);
                return std::unexpected(
                    unexpected("--" + shown, closest(shown, candidates), state.presentOptional()));
            }
            if ((isHelp || !option->takesValue()) && attached) {
                std::string shown = isHelp ? "--help" : option->display();
                return std::unexpected(fail("unexpected value '" + lossyUtf8(*attached) + "' for '" +
                                                shown + "' found; no more were expected",
                                            usageFor(state.presentOptional())));
            }
            if (isHelp)
                return std::unexpected(help());
            if (!option->takesValue()) {
                if (auto failure = store(option, "true"))
                    return std::unexpected(*failure);
                continue;
            }
            if (attached) {
                if (auto failure = store(option, *attached))
                    return std::unexpected(*failure);
            } else {
                pending = option;
            }
            continue;
        }

        if (looksShort) {
            // Only -h exists among short options; the first letter decides.
            std::string_view rest = std::string_view(arg).substr(1);
            if (rest[0] == 'h')
                return std::unexpected(help());
            std::size_t length = 1;
            unsigned char lead = static_cast<unsigned char>(rest[0]);
            if (lead >= 0xF0) length = 4;
            else if (lead >= 0xE0) length = 3;
            else if (lead >= 0xC0) length = 2;
            std::string_view first = rest.substr(0, std::min(length, rest.size()));
            std::string shown = isValidUtf8(first) ? std::string(first) : lossyUtf8(rest);
            return std::unexpected(unexpected("-" + shown, std::nullopt, {}));
        }

        // No positional arguments are defined, "-" included.
        return std::unexpected(unexpected(lossyUtf8(arg), std::nullopt, {}));
    }

    if (pending)
        return std::unexpected(emptyValue(pending));

    std::vector<const OptionSpec*> missing;
    for (const auto& option : spec_.options)
        if (option.required && !state.has(&option))
            missing.push_back(&option);
    if (!missing.empty()) {
        std::string body = "the following required arguments were not provided:";
        for (auto* option : missing)
            body += "\n  " + option->display();
        return std::unexpected(fail(body, usageFor(state.present)));
    }

    for (const auto& option : spec_.options)
        if (option.defaultValue && !state.has(&option))
            state.parsed.values[std::string(option.id)] = std::string(*option.defaultValue);
    return state.parsed;
}

} // namespace ostrel
