#include "ns_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace corvana::netns {

using Clock = std::chrono::steady_clock;

NsProcess::NsProcess(const std::string& ns, const std::vector<std::string>& argv) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return;
    int target = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    if (target < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return;
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (::setns(target, CLONE_NEWNET) != 0) ::_exit(126);
        ::dup2(pipeFds[1], 1);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(target);
    ::close(pipeFds[1]);
    out_ = pipeFds[0];
}

NsProcess::~NsProcess() {
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status_, 0);
    }
    if (out_ >= 0) ::close(out_);
}

std::optional<std::string> NsProcess::readLine(std::chrono::milliseconds limit) {
    auto deadline = Clock::now() + limit;
    for (;;) {
        auto nl = pending_.find('\n');
        if (nl != std::string::npos) {
            std::string line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            lines.push_back(line);
            return line;
        }
        if (out_ < 0) return std::nullopt;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return std::nullopt;
        pollfd p{out_, POLLIN, 0};
        int n = ::poll(&p, 1, static_cast<int>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        char buf[4096];
        ssize_t got = ::read(out_, buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            ::close(out_);
            out_ = -1;
            continue;
        }
        pending_.append(buf, static_cast<std::size_t>(got));
    }
}

std::optional<std::string> NsProcess::readUntil(const std::string& text, std::chrono::milliseconds limit) {
    auto deadline = Clock::now() + limit;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return std::nullopt;
        auto line = readLine(left);
        if (!line) return std::nullopt;
        if (line->find(text) != std::string::npos) return line;
    }
}

void NsProcess::signal(int sig) {
    if (pid_ > 0 && !reaped_) ::kill(pid_, sig);
}

std::optional<int> NsProcess::wait(std::chrono::milliseconds limit) {
    if (pid_ <= 0) return std::nullopt;
    auto deadline = Clock::now() + limit;
    while (!reaped_) {
        pid_t r = ::waitpid(pid_, &status_, WNOHANG);
        if (r == pid_) {
            reaped_ = true;
            break;
        }
        if (Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (WIFEXITED(status_)) return WEXITSTATUS(status_);
    return std::nullopt;
}

std::string NsProcess::state() {
    if (pid_ <= 0) return "not started";
    wait(std::chrono::milliseconds(0));
    if (!reaped_) return "running";
    if (WIFSIGNALED(status_)) return "killed by signal " + std::to_string(WTERMSIG(status_));
    return "exit status " + std::to_string(WEXITSTATUS(status_));
}

}  // namespace corvana::netns
