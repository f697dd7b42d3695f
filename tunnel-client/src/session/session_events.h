#pragma once
// What a session reports while it runs: "handshake" steps during connect, "kicked" and
// "bridge_info" in the run loop. The default sink prints them as event lines; tests
// record them instead.

#include "session/wire.h"

#include <cstdint>
#include <string_view>

namespace ostrel {

struct BridgeInfo {
    bool available = false;
    Ipv4Address ip{};
    Ipv4Address cgnatIp{};
    std::uint16_t instanceId = 0;
    std::uint16_t nodeId = 0;
};

class SessionEvents {
public:
    virtual ~SessionEvents() = default;
    virtual void handshake(std::string_view step) = 0;
    virtual void kicked() = 0;
    virtual void bridgeInfo(const BridgeInfo& info) = 0;

    // Prints through EventLog.
    static SessionEvents& eventLog();
};

}  // namespace ostrel
