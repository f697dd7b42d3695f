#include "child_program.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <thread>

namespace corvana::process {

using Clock = std::chrono::steady_clock;

namespace {

std::chrono::milliseconds leftUntil(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? left : std::chrono::milliseconds(0);
}

void closeBoth(int fds[2]) {
    if (fds[0] >= 0) ::close(fds[0]);
    if (fds[1] >= 0) ::close(fds[1]);
}

}  // namespace

ChildProgram::ChildProgram(const std::vector<std::string>& argv, Options options) {
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (options.output < 0 && ::pipe2(out, O_CLOEXEC) != 0) return;
    if (options.errors == Errors::capture && ::pipe2(err, O_CLOEXEC) != 0) {
        closeBoth(out);
        return;
    }
    int target = -1;
    if (!options.netns.empty()) {
        target = ::open(("/run/netns/" + options.netns).c_str(), O_RDONLY | O_CLOEXEC);
        if (target < 0) {
            closeBoth(out);
            closeBoth(err);
            return;
        }
    }
    // Everything the child needs is ready before the fork: it may only exec.
    int devnull = options.errors == Errors::discard ? ::open("/dev/null", O_WRONLY | O_CLOEXEC) : -1;
    const int output = options.output >= 0 ? options.output : out[1];
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const bool onPath = !argv.empty() && argv[0].find('/') == std::string::npos;
    pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        // The test process may have the stop signals blocked; the program starts clean.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (target >= 0 && ::setns(target, CLONE_NEWNET) != 0) ::_exit(126);
        ::dup2(output, 1);
        if (devnull >= 0) ::dup2(devnull, 2);
        if (err[1] >= 0) ::dup2(err[1], 2);
        if (onPath)
            ::execvp(args[0], args.data());
        else
            ::execv(args[0], args.data());
        ::_exit(127);
    }
    if (target >= 0) ::close(target);
    if (devnull >= 0) ::close(devnull);
    if (out[1] >= 0) ::close(out[1]);
    if (err[1] >= 0) ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
    if (pid_ < 0) {
        // Nothing will write to the pipes: reads end at once.
        pid_ = -1;
        if (out_ >= 0) ::close(out_);
        if (err_ >= 0) ::close(err_);
        out_ = err_ = -1;
    }
}

ChildProgram::~ChildProgram() {
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        reap(true);
    }
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
}

// One read from `fd` into `into`; false once the limit passed. The descriptor is
// closed and set to -1 at its end.
bool ChildProgram::fill(int& fd, std::string& into, Clock::time_point deadline) {
    for (;;) {
        auto left = leftUntil(deadline);
        pollfd p{fd, POLLIN, 0};
        int n = ::poll(&p, 1, static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        char buf[4096];
        ssize_t got = ::read(fd, buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            ::close(fd);
            fd = -1;
        } else {
            into.append(buf, static_cast<std::size_t>(got));
        }
        return true;
    }
}

std::optional<std::string> ChildProgram::readLine(std::chrono::milliseconds limit) {
    auto deadline = Clock::now() + limit;
    for (;;) {
        auto nl = pending_.find('\n');
        if (nl != std::string::npos) {
            std::string line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            lines.push_back(line);
            return line;
        }
        if (out_ < 0 || !fill(out_, pending_, deadline)) return std::nullopt;
    }
}

std::optional<std::string> ChildProgram::readUntil(const std::string& text, std::chrono::milliseconds limit) {
    auto deadline = Clock::now() + limit;
    for (;;) {
        auto line = readLine(leftUntil(deadline));
        if (!line) return std::nullopt;
        if (line->find(text) != std::string::npos) return line;
    }
}

std::vector<std::string> ChildProgram::readAll(std::chrono::milliseconds limit) {
    auto deadline = Clock::now() + limit;
    std::vector<std::string> out;
    while (auto line = readLine(leftUntil(deadline))) out.push_back(*line);
    return out;
}

ChildProgram::Finished ChildProgram::finish(std::chrono::milliseconds limit) {
    auto deadline = Clock::now() + limit;
    Finished result;
    result.out = std::move(pending_);
    pending_.clear();
    while (out_ >= 0 || err_ >= 0) {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        int n = ::poll(fds, 2, static_cast<int>(leftUntil(deadline).count()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        // A descriptor with something to say cannot block; the other one waits its turn.
        if (out_ >= 0 && fds[0].revents != 0) fill(out_, result.out, deadline);
        if (err_ >= 0 && fds[1].revents != 0) fill(err_, result.err, deadline);
    }
    result.exitStatus = wait(leftUntil(deadline));
    if (reaped_ && WIFSIGNALED(status_)) result.signal = WTERMSIG(status_);
    return result;
}

void ChildProgram::signal(int sig) {
    if (pid_ > 0 && !reaped_) ::kill(pid_, sig);
}

bool ChildProgram::reap(bool block) {
    for (;;) {
        pid_t r = ::waitpid(pid_, &status_, block ? 0 : WNOHANG);
        if (r == pid_) {
            reaped_ = true;
            return true;
        }
        if (r < 0 && errno == EINTR) continue;
        return false;
    }
}

std::optional<int> ChildProgram::wait(std::chrono::milliseconds limit) {
    if (pid_ <= 0) return std::nullopt;
    auto deadline = Clock::now() + limit;
    while (!reaped_ && !reap(false)) {
        if (Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status_)) return WEXITSTATUS(status_);
    return std::nullopt;
}

bool ChildProgram::running() { return pid_ > 0 && !reaped_ && !reap(false); }

std::string ChildProgram::state() {
    if (pid_ <= 0) return "not started";
    if (running()) return "running";
    if (WIFSIGNALED(status_)) return "killed by signal " + std::to_string(WTERMSIG(status_));
    return "exit status " + std::to_string(WEXITSTATUS(status_));
}

std::string ChildProgram::cmdline() const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/cmdline", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (char& c : text)
        if (c == '\0') c = ' ';
    return text;
}

}  // namespace corvana::process
