#include "netns_lab.h"

#include "child_program.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvana::netns {

namespace {

constexpr const char* kPrefix = "ostrel-lab-";

bool executable(const char* path) { return ::access(path, X_OK) == 0; }

}  // namespace

std::string NetnsLab::unavailableReason() {
    if (::geteuid() != 0) return "needs root to create network namespaces and TUN/TAP interfaces";
    if (::access("/dev/net/tun", R_OK | W_OK) != 0) return "needs /dev/net/tun";
    if (!executable("/usr/sbin/ip") && !executable("/sbin/ip") && !executable("/usr/bin/ip"))
        return "needs the ip tool (iproute2)";
    return {};
}

int NetnsLab::runHere(const std::vector<std::string>& argv, std::string* output) {
    // Without an output to fill, the command writes where the test does.
    process::ChildProgram command(argv, {.errors = process::ChildProgram::Errors::inherit, .output = output ? -1 : 1});
    if (!command.started()) return -1;
    // Set-up commands finish at once; the bound only stops a hung one from holding the test forever.
    auto finished = command.finish(std::chrono::minutes(10));
    if (output) *output = std::move(finished.out);
    return finished.exitStatus.value_or(-1);
}

int NetnsLab::run(const std::string& ns, const std::vector<std::string>& argv, std::string* output) {
    std::vector<std::string> full{"ip", "netns", "exec", ns};
    full.insert(full.end(), argv.begin(), argv.end());
    return runHere(full, output);
}

void NetnsLab::removeStaleLabs() {
    DIR* dir = ::opendir("/run/netns");
    if (!dir) return;
    std::vector<std::string> stale;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name.rfind(kPrefix, 0) != 0) continue;
        pid_t pid = static_cast<pid_t>(std::atol(name.c_str() + std::strlen(kPrefix)));
        if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH) stale.push_back(name);
    }
    ::closedir(dir);
    for (const auto& name : stale) runHere({"ip", "netns", "del", name}, nullptr);
}

std::string NetnsLab::serverAddress(int i) { return "192.0.2." + std::to_string(4 * i + 1); }
std::string NetnsLab::clientAddress(int i) { return "192.0.2." + std::to_string(4 * i + 2); }

bool NetnsLab::step(const std::vector<std::string>& argv) {
    if (runHere(argv, nullptr) == 0) return true;
    std::string joined;
    for (const auto& a : argv) joined += (joined.empty() ? "" : " ") + a;
    error_ = "lab set-up failed: " + joined;
    return false;
}

NetnsLab::NetnsLab(int clients) {
    error_ = unavailableReason();
    if (!error_.empty()) return;
    removeStaleLabs();
    const std::string pid = std::to_string(::getpid());
    names_.push_back(kPrefix + pid + "-server");
    for (int i = 0; i < clients; ++i) names_.push_back(kPrefix + pid + "-client" + std::to_string(i));
    for (const auto& ns : names_) {
        if (!step({"ip", "netns", "add", ns})) return;
        if (!step({"ip", "-n", ns, "link", "set", "lo", "up"})) return;
    }
    for (int i = 0; i < clients; ++i) {
        // Interface names are at most 15 bytes: "os" + pid + side + index.
        std::string serverEnd = "os" + pid + "s" + std::to_string(i);
        std::string clientEnd = "os" + pid + "c" + std::to_string(i);
        const std::string& cns = clientNs(i);
        if (!step({"ip", "link", "add", serverEnd, "netns", serverNs(), "type", "veth", "peer", "name", clientEnd,
                   "netns", cns}))
            return;
        if (!step({"ip", "-n", serverNs(), "addr", "add", serverAddress(i) + "/30", "dev", serverEnd})) return;
        if (!step({"ip", "-n", cns, "addr", "add", clientAddress(i) + "/30", "dev", clientEnd})) return;
        if (!step({"ip", "-n", serverNs(), "link", "set", serverEnd, "up"})) return;
        if (!step({"ip", "-n", cns, "link", "set", clientEnd, "up"})) return;
    }
}

NetnsLab::~NetnsLab() {
    // Removing a namespace takes its veth ends and TUN/TAP interfaces with it.
    for (const auto& ns : names_) runHere({"ip", "netns", "del", ns}, nullptr);
}

NetnsLab::Enter::Enter(const std::string& ns) {
    home_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    int target = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    ok_ = home_ >= 0 && target >= 0 && ::setns(target, CLONE_NEWNET) == 0;
    if (target >= 0) ::close(target);
}

NetnsLab::Enter::~Enter() {
    if (home_ >= 0) {
        if (ok_) (void)::setns(home_, CLONE_NEWNET);
        ::close(home_);
    }
}

}  // namespace corvana::netns
