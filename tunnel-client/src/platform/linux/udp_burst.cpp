#include "platform/linux/udp_burst.h"

#include <netinet/udp.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace ostrel {

namespace {

union GsoControl {
    char bytes[CMSG_SPACE(sizeof(std::uint16_t))];
    cmsghdr align;
};

bool sameDestination(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

}  // namespace

IoOutcome socketOutcome(ssize_t result) {
    IoOutcome o;
    if (result >= 0) {
        o.length = static_cast<std::size_t>(result);
        return o;
    }
    o.error = errno;
    if (o.error == EAGAIN || o.error == EWOULDBLOCK)
        o.status = IoOutcome::Status::timedOut;
    else if (o.error == EINTR)
        o.status = IoOutcome::Status::interrupted;
    else
        o.status = IoOutcome::Status::failed;
    return o;
}

void UdpBurst::probe() {
    probed_ = true;
    // UDP GSO needs Linux 4.18; older kernels refuse the option.
    int size = 0;
    socklen_t length = sizeof size;
    gso_ = ::getsockopt(fd_, SOL_UDP, UDP_SEGMENT, &size, &length) == 0;
}

BatchOutcome UdpBurst::send(std::span<const std::span<const std::uint8_t>> datagrams,
                            std::span<const sockaddr_in> destinations) {
    std::array<mmsghdr, kMaxMessages> messages{};
    std::array<iovec, kMaxDatagrams> iov;
    std::array<GsoControl, kMaxMessages> control;
    std::array<std::size_t, kMaxMessages> segments{};
    std::array<std::size_t, kMaxMessages> bytes{};
    if (!probed_) probe();
    const bool addressed = !destinations.empty();

    std::size_t count = 0;
    std::size_t next = 0;
    const std::size_t limit = std::min(datagrams.size(), kMaxDatagrams);
    while (next < limit && count < kMaxMessages) {
        const std::size_t size = datagrams[next].size();
        std::size_t end = next + 1;
        std::size_t total = size;
        if (gso_ && size > 0 && size < gsoLimit_) {
            // All but the last segment of a GSO message have the first one's size.
            while (end < limit && end - next < kMaxSegments && datagrams[end - 1].size() == size &&
                   datagrams[end].size() > 0 && datagrams[end].size() <= size &&
                   total + datagrams[end].size() <= kMaxGsoBytes &&
                   (!addressed || sameDestination(destinations[end], destinations[next]))) {
                total += datagrams[end].size();
                ++end;
            }
        }
        for (std::size_t k = next; k < end; ++k)
            iov[k] = iovec{const_cast<std::uint8_t*>(datagrams[k].data()), datagrams[k].size()};
        msghdr& m = messages[count].msg_hdr;
        m.msg_iov = &iov[next];
        m.msg_iovlen = end - next;
        if (addressed) {
            m.msg_name = const_cast<sockaddr_in*>(&destinations[next]);
            m.msg_namelen = sizeof(sockaddr_in);
        }
        if (end - next > 1) {
            GsoControl& c = control[count];
            std::memset(&c, 0, sizeof c);
            m.msg_control = c.bytes;
            m.msg_controllen = sizeof c.bytes;
            cmsghdr* h = CMSG_FIRSTHDR(&m);
            h->cmsg_level = SOL_UDP;
            h->cmsg_type = UDP_SEGMENT;
            h->cmsg_len = CMSG_LEN(sizeof(std::uint16_t));
            auto gsoSize = static_cast<std::uint16_t>(size);
            std::memcpy(CMSG_DATA(h), &gsoSize, sizeof gsoSize);
        }
        segments[count] = end - next;
        bytes[count] = total;
        ++count;
        next = end;
    }

    BatchOutcome out;
    if (count == 0) return out;
    int sent = ::sendmmsg(fd_, messages.data(), static_cast<unsigned>(count), MSG_NOSIGNAL);
    if (sent < 0) {
        int error = errno;
        if (segments[0] > 1 && (error == EIO || error == EINVAL || error == EMSGSIZE)) {
            // No checksum offload on the route (EIO) ends GSO for this socket; a run whose
            // datagrams exceed the path MTU (EINVAL) ends it for datagrams of that size.
            if (error == EIO) gso_ = false;
            gsoLimit_ = std::min(gsoLimit_, datagrams[0].size());
            out.next.status = IoOutcome::Status::interrupted;
            return out;
        }
        errno = error;
        out.next = socketOutcome(-1);
        return out;
    }
    for (int k = 0; k < sent; ++k) {
        if (messages[k].msg_len != bytes[k]) {
            out.next.length = messages[k].msg_len;  // done, but cut
            return out;
        }
        out.sent += segments[k];
    }
    // The kernel stops at the first message it cannot take and tells why on the next call.
    if (out.sent < datagrams.size()) out.next.status = IoOutcome::Status::interrupted;
    return out;
}

namespace {
constexpr std::size_t kControlWords = (CMSG_SPACE(sizeof(int)) + 7) / 8;
}  // namespace

UdpBurstReceiver::UdpBurstReceiver(int fd, std::size_t messages)
    : fd_(fd),
      storage_(messages * kMessageBytes),
      messages_(messages),
      iov_(messages),
      sources_(messages),
      control_(messages * kControlWords),
      segments_(messages) {
    // Linux 5.0 and later; without it every datagram is a message of its own, which works too.
    int on = 1;
    (void)::setsockopt(fd_, SOL_UDP, UDP_GRO, &on, sizeof on);
}

IoOutcome UdpBurstReceiver::next(std::span<std::uint8_t>& datagram, sockaddr_in* from) {
    if (!holding()) {
        for (std::size_t k = 0; k < messages_.size(); ++k) {
            iov_[k] = iovec{storage_.data() + k * kMessageBytes, kMessageBytes};
            msghdr& m = messages_[k].msg_hdr;
            m = msghdr{};
            m.msg_name = &sources_[k];
            m.msg_namelen = sizeof sources_[k];
            m.msg_iov = &iov_[k];
            m.msg_iovlen = 1;
            m.msg_control = control_.data() + k * kControlWords;
            m.msg_controllen = kControlWords * 8;
        }
        int got = ::recvmmsg(fd_, messages_.data(), static_cast<unsigned>(messages_.size()), MSG_DONTWAIT, nullptr);
        if (got < 0) return socketOutcome(got);
        received_ = static_cast<std::size_t>(got);
        message_ = offset_ = 0;
        for (std::size_t k = 0; k < received_; ++k) {
            msghdr& m = messages_[k].msg_hdr;
            segments_[k] = messages_[k].msg_len;
            for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
                if (c->cmsg_level != SOL_UDP || c->cmsg_type != UDP_GRO) continue;
                int size = 0;
                std::memcpy(&size, CMSG_DATA(c), sizeof size);
                if (size > 0) segments_[k] = static_cast<std::size_t>(size);
            }
        }
        if (received_ == 0) return IoOutcome{IoOutcome::Status::timedOut, 0, EAGAIN};
    }
    const std::size_t length = messages_[message_].msg_len;
    const std::size_t size = std::min(segments_[message_], length - offset_);
    datagram = std::span(storage_.data() + message_ * kMessageBytes + offset_, size);
    if (from) *from = sources_[message_];
    offset_ += size;
    if (offset_ >= length) {
        ++message_;
        offset_ = 0;
    }
    IoOutcome o;
    o.length = size;
    return o;
}

}  // namespace ostrel
