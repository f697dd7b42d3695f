#include "support/client_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace ostrel::testing {

ClientProcess::ClientProcess(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    std::string program = std::string(CORVANA_BIN_DIR) + "/ostrel-client";
    std::vector<std::string> argvStrings;
    argvStrings.push_back(program);
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argvStrings) argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
        // The test process may have the stop signals blocked; the client starts clean.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        ::dup2(pipeFds[1], 1);
        int devnull = ::open("/dev/null", O_WRONLY);
        if (devnull >= 0) ::dup2(devnull, 2);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    out_ = pipeFds[0];
}

ClientProcess::~ClientProcess() {
    if (!reaped_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
}

std::optional<std::string> ClientProcess::readLine(std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        auto newline = pending_.find('\n');
        if (newline != std::string::npos) {
            std::string line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            lines.push_back(line);
            return line;
        }
        if (eof_) return std::nullopt;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd fd{out_, POLLIN, 0};
        int ready = ::poll(&fd, 1, static_cast<int>(left.count()));
        if (ready <= 0) continue;
        char buffer[4096];
        ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n <= 0) {
            eof_ = true;
            continue;
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

std::optional<std::string> ClientProcess::readUntil(const std::string& text, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        auto line = readLine(std::max(left, std::chrono::milliseconds(0)));
        if (!line) return std::nullopt;
        if (line->find(text) != std::string::npos) return line;
    }
}

std::vector<std::string> ClientProcess::readAll(std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    std::vector<std::string> out;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        auto line = readLine(std::max(left, std::chrono::milliseconds(0)));
        if (!line) return out;
        out.push_back(*line);
    }
}

void ClientProcess::signal(int sig) {
    if (!reaped_) ::kill(pid_, sig);
}

std::optional<int> ClientProcess::wait(std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            reaped_ = true;
            if (WIFEXITED(status)) return WEXITSTATUS(status);
            return std::nullopt;
        }
        if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string ClientProcess::cmdline() const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/cmdline", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (char& c : text)
        if (c == '\0') c = ' ';
    return text;
}

}  // namespace ostrel::testing
