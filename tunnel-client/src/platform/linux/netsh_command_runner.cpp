#include "platform/linux/netsh_command_runner.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ostrel {

namespace {

std::optional<std::string> after(const std::string& word, std::string_view prefix) {
    if (!word.starts_with(prefix)) return std::nullopt;
    return word.substr(prefix.size());
}

// The system's own program of that name, looked for on the fixed PATH only.
std::expected<std::string, int> resolve(const std::string& program) {
    if (program.find('/') != std::string::npos) return program;
    std::string_view dirs = NetshCommandRunner::kPath;
    for (std::size_t at = 0; at <= dirs.size();) {
        std::size_t end = std::min(dirs.find(':', at), dirs.size());
        std::string candidate = std::string(dirs.substr(at, end - at)) + '/' + program;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        at = end + 1;
    }
    return std::unexpected(ENOENT);
}

std::expected<std::uint32_t, std::string> spawnAndWait(const std::vector<std::string>& argv) {
    // The tools run with the client's network right, so nothing of the caller's reaches
    // them: neither which program a name means nor any variable of the environment.
    auto path = resolve(argv[0]);
    if (!path) return std::unexpected(std::string(std::strerror(path.error())));
    std::string pathVariable = "PATH=" + std::string(NetshCommandRunner::kPath);
    char* environment[] = {pathVariable.data(), nullptr};
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // The client blocks its stop signals and ignores SIGPIPE; the tool starts with neither.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    int rc = ::posix_spawn(&pid, path->c_str(), nullptr, &attr, args.data(), environment);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return std::unexpected(std::string(std::strerror(rc)));
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return std::unexpected(std::string(std::strerror(errno)));
    }
    if (WIFEXITED(status)) return static_cast<std::uint32_t>(WEXITSTATUS(status));
    return 128u + static_cast<std::uint32_t>(WTERMSIG(status));
}

}  // namespace

std::vector<std::string> NetshCommandRunner::dnsCommand(const std::string& link) {
    const LinkDns& d = dns_[link];
    if (d.v4.empty() && d.v6.empty()) return {"resolvectl", "revert", link};
    std::vector<std::string> argv{"resolvectl", "dns", link};
    if (!d.v4.empty()) argv.push_back(d.v4);
    if (!d.v6.empty()) argv.push_back(d.v6);
    return argv;
}

std::optional<std::vector<std::string>> NetshCommandRunner::translate(std::span<const std::string> w) {
    auto is = [&](std::initializer_list<std::pair<std::size_t, std::string_view>> fixed) {
        for (auto& [i, text] : fixed)
            if (i >= w.size() || w[i] != text) return false;
        return true;
    };
    if (w.size() == 5 && is({{0, "interface"}, {1, "set"}, {2, "interface"}}) &&
        (w[4] == "admin=enabled" || w[4] == "admin=disabled")) {
        if (auto name = after(w[3], "name="))
            return std::vector<std::string>{"ip", "link", "set", "dev", *name, w[4] == "admin=enabled" ? "up" : "down"};
    }
    if (w.size() == 7 && is({{0, "interface"}, {2, "set"}, {3, "subinterface"}, {6, "store=active"}}) &&
        (w[1] == "ipv4" || w[1] == "ipv6")) {
        // Linux has one MTU per link for both families.
        if (auto mtu = after(w[5], "mtu="))
            return std::vector<std::string>{"ip", "link", "set", "dev", w[4], "mtu", *mtu};
    }
    if (w.size() == 8 &&
        is({{0, "interface"}, {1, "ipv4"}, {2, "set"}, {3, "dns"}, {5, "source=static"}, {7, "register=none"}})) {
        auto name = after(w[4], "name=");
        auto server = after(w[6], "address=");
        if (name && server) {
            dns_[*name].v4 = *server;
            return dnsCommand(*name);
        }
    }
    if (w.size() == 6 && is({{0, "interface"}, {1, "ipv4"}, {2, "set"}, {3, "dns"}, {5, "source=dhcp"}})) {
        if (auto name = after(w[4], "name=")) {
            dns_[*name].v4.clear();
            return dnsCommand(*name);
        }
    }
    if (w.size() == 8 && is({{0, "interface"}, {1, "ipv6"}, {2, "set"}, {3, "dns"}, {5, "static"}, {7, "primary"}})) {
        dns_[w[4]].v6 = w[6];
        return dnsCommand(w[4]);
    }
    if (w.size() == 6 && is({{0, "interface"}, {1, "ipv6"}, {2, "delete"}, {3, "dnsservers"}, {5, "all"}})) {
        dns_[w[4]].v6.clear();
        return dnsCommand(w[4]);
    }
    return std::nullopt;
}

std::expected<std::uint32_t, std::string> NetshCommandRunner::run(std::string_view program,
                                                                  std::span<const std::string> words) {
    if (program != "netsh") {
        std::vector<std::string> argv{std::string(program)};
        argv.insert(argv.end(), words.begin(), words.end());
        return spawnAndWait(argv);
    }
    auto argv = translate(words);
    if (!argv) {
        // What netsh itself does with words it does not know: a message and exit code 1.
        std::fputs("netsh: command not supported on this system\n", stderr);
        return 1u;
    }
    return spawnAndWait(*argv);
}

}  // namespace ostrel
