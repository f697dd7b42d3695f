#pragma once

#include <cstdint>
#include <expected>
#include <optional>

namespace ostrel {

// Something a thread can wait on: a descriptor on Linux, a HANDLE on Windows.
using Waitable = std::intptr_t;

// Socket readiness events and the wait on a device event plus a socket event.
class EventWait {
public:
    struct SocketEvent {
        std::uint32_t id = 0;
    };
    enum class Woken { Device, Socket, Timeout };

    static constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

    virtual ~EventWait() = default;

    virtual std::optional<SocketEvent> createSocketEvent() = 0;
    // Ties the socket's read and close events to the event; error number on failure.
    virtual std::expected<void, std::uint32_t> selectSocket(SocketEvent event, int socket) = 0;
    // Waits for the device first, the socket second; kInfinite waits without limit.
    virtual std::expected<Woken, std::uint32_t> waitAny(Waitable device, SocketEvent socket,
                                                        std::uint32_t timeoutMs) = 0;
    // Collects the socket's network events so the event is no longer signalled.
    virtual void resetSocketEvent(SocketEvent event) = 0;
    virtual void closeSocketEvent(SocketEvent event) = 0;
};

}  // namespace ostrel
