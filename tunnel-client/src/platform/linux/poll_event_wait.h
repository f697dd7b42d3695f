#pragma once

#include <vector>

#include "platform/event_wait.h"

namespace ostrel {

// Socket events are the socket descriptors themselves; waiting is one poll.
class PollEventWait : public EventWait {
public:
    std::optional<SocketEvent> createSocketEvent() override;
    std::expected<void, std::uint32_t> selectSocket(SocketEvent event, int socket) override;
    std::expected<Woken, std::uint32_t> waitAny(Waitable device, SocketEvent socket,
                                                std::uint32_t timeoutMs) override;
    void resetSocketEvent(SocketEvent event) override;
    void closeSocketEvent(SocketEvent event) override;

private:
    int* slot(SocketEvent event);
    std::vector<int> sockets_;  // index id-1; -1 when not tied to a socket
};

}  // namespace ostrel
