#pragma once
// Bursts of UDP datagrams in one system call (Linux).
//   UdpBurst burst(fd); burst.send(datagrams)          on a connected socket
//   burst.send(datagrams, destinations)                one IPv4 destination per datagram
//   UdpBurstReceiver in(fd, 8); in.next(datagram)      one datagram at a time, many per call
// Runs of equal-sized datagrams to one destination (the last of a run may be shorter) go as
// one UDP GSO message: the kernel cuts it into exactly the datagrams given, and the run
// crosses the stack once. Every message of a burst goes in one sendmmsg. Where GSO is
// missing or refused, the same datagrams go one message each. The receiver turns UDP GRO
// on, so such a run arrives as one message too, and cuts it back into its datagrams.

#include "platform/udp_socket.h"

#include <netinet/in.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace ostrel {

// What a socket call's result comes to: its length, or the status errno gives it.
IoOutcome socketOutcome(ssize_t result);

class UdpBurst {
public:
    // Limits of one call: messages and datagrams per sendmmsg, segments and bytes per GSO message.
    static constexpr std::size_t kMaxMessages = 64;
    static constexpr std::size_t kMaxDatagrams = 256;
    static constexpr std::size_t kMaxSegments = 64;
    static constexpr std::size_t kMaxGsoBytes = 65000;

    explicit UdpBurst(int fd) : fd_(fd) {}

    // Sends as many datagrams as the socket takes now, in order (BatchOutcome's rules).
    BatchOutcome send(std::span<const std::span<const std::uint8_t>> datagrams,
                      std::span<const sockaddr_in> destinations = {});

    bool gso() const { return gso_; }

private:
    void probe();

    int fd_;
    bool probed_ = false;
    bool gso_ = false;
    std::size_t gsoLimit_ = 65535;  // runs of datagrams this large or larger go without GSO
};

class UdpBurstReceiver {
public:
    static constexpr std::size_t kMessageBytes = 65536;  // a GRO message may fill an IP packet

    UdpBurstReceiver(int fd, std::size_t messages);

    // The next datagram of the last burst received; when none is left, first receives a
    // new burst (one recvmmsg, without waiting). The span lasts until the next call.
    IoOutcome next(std::span<std::uint8_t>& datagram, sockaddr_in* from = nullptr);
    // A datagram of the last burst is still to be handed out.
    bool holding() const { return message_ < received_; }
    // Everything of the last burst is handed out and it came short of room: the queue was
    // empty then, so asking again at once would only be told to wait.
    bool emptied() const { return !holding() && received_ < messages_.size(); }

private:
    int fd_;
    std::vector<std::uint8_t> storage_;
    std::vector<mmsghdr> messages_;
    std::vector<iovec> iov_;
    std::vector<sockaddr_in> sources_;
    std::vector<std::uint64_t> control_;  // cmsg space, aligned
    std::vector<std::size_t> segments_;   // GRO segment size per message, or its length
    std::size_t received_ = 0;
    std::size_t message_ = 0;  // the message being handed out
    std::size_t offset_ = 0;   // within it
};

}  // namespace ostrel
