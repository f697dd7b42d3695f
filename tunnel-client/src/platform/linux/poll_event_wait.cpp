#include "platform/linux/poll_event_wait.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <climits>

namespace ostrel {

int* PollEventWait::slot(SocketEvent event) {
    if (event.id == 0 || event.id > sockets_.size()) return nullptr;
    return &sockets_[event.id - 1];
}

std::optional<EventWait::SocketEvent> PollEventWait::createSocketEvent() {
    // Reuse a closed slot so a long run of sessions does not grow the table.
    for (std::size_t i = 0; i < sockets_.size(); ++i) {
        if (sockets_[i] == -2) {
            sockets_[i] = -1;
            return SocketEvent{static_cast<std::uint32_t>(i + 1)};
        }
    }
    sockets_.push_back(-1);
    return SocketEvent{static_cast<std::uint32_t>(sockets_.size())};
}

std::expected<void, std::uint32_t> PollEventWait::selectSocket(SocketEvent event, int socket) {
    int* s = slot(event);
    if (!s || *s == -2) return std::unexpected(static_cast<std::uint32_t>(EINVAL));
    int type = 0;
    socklen_t len = sizeof type;
    if (::getsockopt(socket, SOL_SOCKET, SO_TYPE, &type, &len) < 0)
        return std::unexpected(static_cast<std::uint32_t>(errno));
    *s = socket;
    return {};
}

std::expected<EventWait::Woken, std::uint32_t> PollEventWait::waitAny(Waitable device, SocketEvent socket,
                                                                       std::uint32_t timeoutMs) {
    int* s = slot(socket);
    pollfd fds[2] = {{static_cast<int>(device), POLLIN, 0}, {s && *s >= 0 ? *s : -1, POLLIN, 0}};
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int wait = -1;
        if (timeoutMs != kInfinite) {
            // Rounded up: poll may wake a little early, and a remainder cut to 0 ms would
            // spin on poll until the deadline.
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = left <= 0 ? 0 : static_cast<int>(left > INT_MAX ? INT_MAX : left);
        }
        int n = ::poll(fds, 2, wait);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(static_cast<std::uint32_t>(errno));
        }
        if (fds[0].revents & POLLNVAL) return std::unexpected(static_cast<std::uint32_t>(EBADF));
        if (fds[0].revents) return Woken::Device;
        if (fds[1].revents) return Woken::Socket;
        if (timeoutMs != kInfinite && Clock::now() >= deadline) return Woken::Timeout;
    }
}

void PollEventWait::resetSocketEvent(SocketEvent) {
    // Readiness of a descriptor is level-triggered: nothing to collect.
}

void PollEventWait::closeSocketEvent(SocketEvent event) {
    if (int* s = slot(event)) *s = -2;
}

}  // namespace ostrel
