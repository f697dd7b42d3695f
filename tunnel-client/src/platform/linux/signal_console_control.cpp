#include "platform/linux/signal_console_control.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <sys/prctl.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace ostrel {

std::unique_ptr<ConsoleControl> ConsoleControl::create() { return std::make_unique<SignalConsoleControl>(); }

SignalConsoleControl::~SignalConsoleControl() {
    if (thread_.joinable()) {
        std::uint64_t one = 1;
        (void)::write(stop_, &one, sizeof one);
        thread_.join();
    }
    if (signals_ >= 0) ::close(signals_);
    if (stop_ >= 0) ::close(stop_);
}

bool SignalConsoleControl::install(Handler handler) {
    if (thread_.joinable() || !handler) return false;
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigset_t previous;
    if (pthread_sigmask(SIG_BLOCK, &set, &previous) != 0) return false;
    signals_ = ::signalfd(-1, &set, SFD_CLOEXEC);
    stop_ = ::eventfd(0, EFD_CLOEXEC);
    if (signals_ < 0 || stop_ < 0) {
        // Without a waiter the signals must keep their default effect.
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        if (signals_ >= 0) ::close(signals_);
        if (stop_ >= 0) ::close(stop_);
        signals_ = stop_ = -1;
        return false;
    }
    handler_ = std::move(handler);
    // The waiting thread reads the parent: it is settled before the thread starts. A stop
    // this raises waits, blocked, for the thread.
    tieToParent();
    thread_ = std::thread([this] { wait(); });
    return true;
}

void SignalConsoleControl::tieToParent() {
    const char* named = std::getenv(kParentVariable);
    if (named == nullptr) return;
    long pid = 0;
    auto [end, ec] = std::from_chars(named, named + std::strlen(named), pid);
    if (ec != std::errc{} || *end != '\0' || pid <= 1) return;
    parent_ = static_cast<pid_t>(pid);
    (void)::prctl(PR_SET_PDEATHSIG, SIGTERM);
    // Gone before the signal was armed: the stop it would have brought, now.
    if (orphaned()) (void)::kill(::getpid(), SIGTERM);
}

void SignalConsoleControl::wait() {
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> deadline;
    for (;;) {
        int timeout = -1;
        if (deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
            // No one is left to end a client whose stop hangs: it ends itself.
            if (left.count() <= 0) ::_exit(1);
            timeout = static_cast<int>(left.count());
        }
        pollfd fds[2] = {{signals_, POLLIN, 0}, {stop_, POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        if (fds[0].revents != 0) {
            signalfd_siginfo info;
            if (::read(signals_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) handler_();
            if (!deadline && orphaned()) deadline = Clock::now() + kOrphanGrace;
        }
    }
}

}  // namespace ostrel
