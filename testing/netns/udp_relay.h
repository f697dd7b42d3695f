#pragma once
// Forwards UDP between a public port and a loopback-only service in the same
// namespace, one upstream socket per peer, so the service still sees each
// peer as a distinct address. Build it while the thread is inside the
// namespace (NetnsLab::Enter); its own thread stays there.

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <thread>

#include <netinet/in.h>

namespace corvana::netns {

class UdpRelay {
public:
    UdpRelay(std::uint16_t listenPort, std::uint16_t targetPort);
    ~UdpRelay();
    UdpRelay(const UdpRelay&) = delete;
    UdpRelay& operator=(const UdpRelay&) = delete;
    bool ok() const { return listen_ >= 0; }

private:
    void serve();
    int listen_ = -1;
    int wake_[2] = {-1, -1};
    std::uint16_t target_;
    std::map<std::uint64_t, std::pair<sockaddr_in, int>> peers_;  // key: address and port
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace corvana::netns
