#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

namespace ostrel {

// Runs a system tool with the given argument words, standard streams inherited,
// and waits for it: its exit code, or the OS text of why it could not start.
class CommandRunner {
public:
    virtual ~CommandRunner() = default;
    virtual std::expected<std::uint32_t, std::string> run(std::string_view program,
                                                          std::span<const std::string> words) = 0;
};

}  // namespace ostrel
