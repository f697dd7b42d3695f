#include "platform/linux/signal_console_control.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

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
    thread_ = std::thread([this] { wait(); });
    return true;
}

void SignalConsoleControl::wait() {
    for (;;) {
        pollfd fds[2] = {{signals_, POLLIN, 0}, {stop_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        if (fds[0].revents != 0) {
            signalfd_siginfo info;
            if (::read(signals_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) handler_();
        }
    }
}

}  // namespace ostrel
