#include "cli/argv_scrub.h"

#include "cli/args_parser.h"

#include <sodium.h>

#include <cstring>
#include <string_view>

namespace ostrel {

std::size_t scrubPassword(int argc, char** argv)
{
    const CommandSpec spec = ArgsParser::command();
    std::size_t cleared = 0;
    // sodium_memzero is not optimised away; the kernel reads this memory for /proc.
    auto clear = [&](char* text) {
        std::size_t n = std::strlen(text);
        sodium_memzero(text, n);
        cleared += n;
    };

    // Walk the line as the parser did, so a value such as "--user=--pass" or the
    // value after "--node" is never mistaken for the password option.
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--")
            break;
        if (!arg.starts_with("--"))
            continue;
        std::string_view body = arg.substr(2);
        auto eq = body.find('=');
        std::string_view name = body.substr(0, eq);
        const OptionSpec* option = nullptr;
        for (const auto& o : spec.options)
            if (o.longName == name)
                option = &o;
        if (!option || !option->takesValue())
            continue;
        if (eq != std::string_view::npos) {
            if (option->id == "password")
                clear(argv[i] + 2 + eq + 1);
            continue;
        }
        std::string_view next = i + 1 < argc ? std::string_view(argv[i + 1]) : std::string_view();
        // As in the parser, only an argument that does not look like an option is a value.
        if (i + 1 < argc && !(next.size() > 1 && next[0] == '-')) {
            if (option->id == "password")
                clear(argv[i + 1]);
            ++i;
        }
    }
    return cleared;
}

} // namespace ostrel
