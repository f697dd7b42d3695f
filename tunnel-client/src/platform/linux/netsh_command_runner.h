#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/command_runner.h"

namespace ostrel {

// Runs programs with posix_spawn: a bare name is the system's program on kPath, and
// kPath is all the environment it gets. The netsh word lists the host configuration
// uses are carried out by the matching `ip` and `resolvectl` runs; netsh keeps
// one DNS list per family where resolvectl keeps one per link, so the runner
// remembers both to set them together.
class NetshCommandRunner : public CommandRunner {
public:
    static constexpr std::string_view kPath = "/usr/sbin:/usr/bin:/sbin:/bin";

    std::expected<std::uint32_t, std::string> run(std::string_view program,
                                                  std::span<const std::string> words) override;

    // The argv that stands for a netsh word list; nullopt when it has none.
    std::optional<std::vector<std::string>> translate(std::span<const std::string> words);

private:
    struct LinkDns {
        std::string v4;
        std::string v6;
    };
    std::vector<std::string> dnsCommand(const std::string& link);
    std::map<std::string, LinkDns> dns_;
};

}  // namespace ostrel
