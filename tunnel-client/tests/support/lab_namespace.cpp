#include "support/lab_namespace.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ostrel::testing {

using corvana::netns::NetnsLab;

void InLabNamespace::SetUp() {
    if (auto why = NetnsLab::unavailableReason(); !why.empty()) GTEST_SKIP() << "real adapter test skipped: " << why;
    lab_ = std::make_unique<NetnsLab>(0);
    ASSERT_TRUE(lab_->ok()) << lab_->error();
    in_ = std::make_unique<NetnsLab::Enter>(lab_->serverNs());
    ASSERT_TRUE(in_->ok());
}

void InLabNamespace::TearDown() {
    in_.reset();
    lab_.reset();
}

std::string InLabNamespace::show(const std::vector<std::string>& argv) {
    std::string out;
    NetnsLab::run(lab_->serverNs(), argv, &out);
    return out;
}

int InLabNamespace::boundUdp(std::uint16_t port, bool broadcast) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int on = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if ((broadcast && ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

long InLabNamespace::sendUdp(int socket, const char* address, std::uint16_t port, std::string_view payload) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    if (::inet_pton(AF_INET, address, &peer.sin_addr) != 1) return -1;
    return ::sendto(socket, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
}

}  // namespace ostrel::testing
