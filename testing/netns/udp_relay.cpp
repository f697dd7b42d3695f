#include "udp_relay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace corvana::netns {

UdpRelay::UdpRelay(std::uint16_t listenPort, std::uint16_t targetPort) : target_(targetPort) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(listenPort);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::pipe2(wake_, O_CLOEXEC) != 0) {
        if (fd >= 0) ::close(fd);
        return;
    }
    listen_ = fd;
    thread_ = std::thread([this] { serve(); });
}

UdpRelay::~UdpRelay() {
    if (thread_.joinable()) {
        stop_ = true;
        (void)!::write(wake_[1], "x", 1);
        thread_.join();
    }
    for (auto& [key, peer] : peers_) ::close(peer.second);
    if (listen_ >= 0) ::close(listen_);
    for (int fd : wake_)
        if (fd >= 0) ::close(fd);
}

void UdpRelay::serve() {
    std::vector<std::uint8_t> buf(65536);
    while (!stop_) {
        std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {listen_, POLLIN, 0}};
        std::vector<std::uint64_t> keys;
        for (auto& [key, peer] : peers_) {
            fds.push_back({peer.second, POLLIN, 0});
            keys.push_back(key);
        }
        if (::poll(fds.data(), fds.size(), 200) < 0 && errno != EINTR) return;
        if (fds[1].revents & POLLIN) {
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n;
            while ((n = ::recvfrom(listen_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len)) >= 0) {
                std::uint64_t key = (std::uint64_t{from.sin_addr.s_addr} << 16) | from.sin_port;
                auto it = peers_.find(key);
                if (it == peers_.end()) {
                    int up = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
                    sockaddr_in to{};
                    to.sin_family = AF_INET;
                    to.sin_port = htons(target_);
                    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                    if (up < 0 || ::connect(up, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
                        if (up >= 0) ::close(up);
                        continue;
                    }
                    it = peers_.emplace(key, std::make_pair(from, up)).first;
                }
                (void)::send(it->second.second, buf.data(), static_cast<std::size_t>(n), 0);
                len = sizeof from;
            }
        }
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLERR))) continue;
            auto& peer = peers_[keys[i - 2]];
            ssize_t n;
            // A refused send (the service is down) shows up here as an error; it is dropped like lost traffic.
            while ((n = ::recv(peer.second, buf.data(), buf.size(), 0)) >= 0 || errno == ECONNREFUSED) {
                if (n < 0) continue;
                (void)::sendto(listen_, buf.data(), static_cast<std::size_t>(n), 0,
                               reinterpret_cast<sockaddr*>(&peer.first), sizeof peer.first);
            }
        }
    }
}

}  // namespace corvana::netns
