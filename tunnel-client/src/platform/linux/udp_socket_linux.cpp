#include "platform/udp_socket.h"
#include "platform/linux/udp_burst.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <optional>
#include <cerrno>
#include <cstring>

namespace ostrel {

namespace {

socklen_t toNative(const SocketAddress& a, sockaddr_storage& out) {
    std::memset(&out, 0, sizeof out);
    if (a.family == SocketAddress::Family::ipv4) {
        auto& s = reinterpret_cast<sockaddr_in&>(out);
        s.sin_family = AF_INET;
        s.sin_port = htons(a.port);
        std::memcpy(&s.sin_addr, a.ip.data(), 4);
        return sizeof s;
    }
    auto& s = reinterpret_cast<sockaddr_in6&>(out);
    s.sin6_family = AF_INET6;
    s.sin6_port = htons(a.port);
    s.sin6_flowinfo = a.flowInfo;
    s.sin6_scope_id = a.scopeId;
    std::memcpy(&s.sin6_addr, a.ip.data(), 16);
    return sizeof s;
}

bool fromNative(const sockaddr* sa, SocketAddress& out) {
    out = SocketAddress{};
    if (sa->sa_family == AF_INET) {
        auto* s = reinterpret_cast<const sockaddr_in*>(sa);
        out.family = SocketAddress::Family::ipv4;
        out.port = ntohs(s->sin_port);
        std::memcpy(out.ip.data(), &s->sin_addr, 4);
        return true;
    }
    if (sa->sa_family == AF_INET6) {
        auto* s = reinterpret_cast<const sockaddr_in6*>(sa);
        out.family = SocketAddress::Family::ipv6;
        out.port = ntohs(s->sin6_port);
        out.flowInfo = s->sin6_flowinfo;
        out.scopeId = s->sin6_scope_id;
        std::memcpy(out.ip.data(), &s->sin6_addr, 16);
        return true;
    }
    return false;
}

class LinuxUdpSocket final : public UdpSocket {
public:
    explicit LinuxUdpSocket(int fd) : fd_(fd) {}
    ~LinuxUdpSocket() override {
        if (fd_ >= 0) ::close(fd_);
    }

    int handle() const override { return fd_; }

    void setBufferSizes(int bytes) override {
        // The plain options are capped at the kernel maximum; the forced forms need
        // CAP_NET_ADMIN, which the client has anyway to configure its adapter.
        if (::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
            (void)::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
        if (::setsockopt(fd_, SOL_SOCKET, SO_SNDBUFFORCE, &bytes, sizeof bytes) != 0)
            (void)::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
    }

    std::expected<void, int> setReceiveTimeout(std::chrono::milliseconds timeout) override {
        timeval tv{};
        tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
        tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
        if (::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return std::unexpected(errno);
        return {};
    }

    std::expected<void, int> setNonBlocking() override {
        int flags = ::fcntl(fd_, F_GETFL);
        if (flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0) return std::unexpected(errno);
        return {};
    }

    IoOutcome sendTo(std::span<const std::uint8_t> datagram, const SocketAddress& to) override {
        sockaddr_storage native;
        socklen_t len = toNative(to, native);
        return socketOutcome(::sendto(fd_, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                                reinterpret_cast<sockaddr*>(&native), len));
    }

    IoOutcome receiveFrom(std::span<std::uint8_t> buffer, SocketAddress& from) override {
        sockaddr_storage native{};
        socklen_t len = sizeof native;
        IoOutcome o = socketOutcome(::recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&native), &len));
        if (o.done() && !fromNative(reinterpret_cast<sockaddr*>(&native), from)) from = SocketAddress{};
        return o;
    }

    std::expected<void, int> connect(const SocketAddress& to) override {
        sockaddr_storage native;
        socklen_t len = toNative(to, native);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&native), len) != 0) return std::unexpected(errno);
        return {};
    }

    IoOutcome send(std::span<const std::uint8_t> datagram) override {
        return socketOutcome(::send(fd_, datagram.data(), datagram.size(), MSG_NOSIGNAL));
    }

    IoOutcome receive(std::span<std::uint8_t> buffer) override {
        return socketOutcome(::recv(fd_, buffer.data(), buffer.size(), 0));
    }

    BatchOutcome sendBatch(std::span<const std::span<const std::uint8_t>> datagrams) override {
        return burst_.send(datagrams);
    }

    // GRO hands over a run of datagrams as one message; they are copied out one per buffer.
    IoOutcome receiveBatch(std::span<const std::span<std::uint8_t>> buffers, std::span<std::size_t> lengths) override {
        if (!receiver_) receiver_.emplace(fd_, kReceiveMessages);
        const std::size_t want = std::min(buffers.size(), lengths.size());
        std::size_t filled = 0;
        while (filled < want) {
            // One recvmmsg per call: what it brought, then back to the caller.
            if (filled > 0 && !receiver_->holding()) break;
            std::span<std::uint8_t> datagram;
            IoOutcome o = receiver_->next(datagram);
            if (!o.done()) {
                if (filled > 0) break;
                return o;
            }
            // A longer datagram is cut to the buffer, as recv cuts it.
            lengths[filled] = std::min(datagram.size(), buffers[filled].size());
            std::memcpy(buffers[filled].data(), datagram.data(), lengths[filled]);
            ++filled;
        }
        IoOutcome o;
        o.length = filled;
        o.queueEmpty = receiver_->emptied();
        return o;
    }

private:
    static constexpr std::size_t kReceiveMessages = 16;

    int fd_;
    UdpBurst burst_{fd_};
    std::optional<UdpBurstReceiver> receiver_;  // made on the first batched receive
};

class LinuxNetwork final : public Network {
public:
    std::vector<SocketAddress> resolve(const std::string& host, std::uint16_t port) override {
        std::vector<SocketAddress> out;
        addrinfo hints{};
        hints.ai_socktype = SOCK_DGRAM;
        hints.ai_protocol = IPPROTO_UDP;
        addrinfo* list = nullptr;
        if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) return out;
        for (const addrinfo* a = list; a; a = a->ai_next) {
            SocketAddress s;
            if (a->ai_addr && fromNative(a->ai_addr, s)) {
                s.port = port;
                out.push_back(s);
            }
        }
        ::freeaddrinfo(list);
        return out;
    }

    std::expected<std::unique_ptr<UdpSocket>, int> openUdp(SocketAddress::Family family) override {
        int domain = family == SocketAddress::Family::ipv4 ? AF_INET : AF_INET6;
        int fd = ::socket(domain, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
        if (fd < 0) return std::unexpected(errno);
        auto socket = std::make_unique<LinuxUdpSocket>(fd);
        SocketAddress any;
        any.family = family;
        sockaddr_storage native;
        socklen_t len = toNative(any, native);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&native), len) != 0) return std::unexpected(errno);
        return socket;
    }

    std::unique_ptr<UdpSocket> adopt(int handle) override { return std::make_unique<LinuxUdpSocket>(handle); }
};

}  // namespace

Network& Network::system() {
    static LinuxNetwork network;
    return network;
}

}  // namespace ostrel
