#pragma once
// The tunnel's UDP socket and name resolution (Windows Sockets on Windows).
//   Network::system()            the real resolver and sockets of this machine
//   resolve(host, port)          addresses in the resolver's order, or nothing
//   openUdp(family)              a socket bound to the family's any-address, port 0
//   UdpSocket                    buffers, receive time-out, non-blocking mode,
//                                sendTo/receiveFrom for the handshake, connect, send/receive,
//                                sendBatch/receiveBatch for the run loop's bursts
// Errors are error numbers (errno on Linux).

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace ostrel {

struct SocketAddress {
    enum class Family : std::uint8_t { ipv4, ipv6 };
    Family family = Family::ipv4;
    std::array<std::uint8_t, 16> ip{};  // IPv4 in the first four bytes
    std::uint16_t port = 0;
    std::uint32_t flowInfo = 0;  // IPv6 only
    std::uint32_t scopeId = 0;   // IPv6 only

    bool operator==(const SocketAddress&) const = default;
};

// What one send or receive came to.
struct IoOutcome {
    enum class Status : std::uint8_t { done, timedOut, interrupted, failed };
    Status status = Status::done;
    std::size_t length = 0;  // bytes sent or received
    int error = 0;           // for failed
    // receiveBatch only: nothing more was waiting behind this batch, so the caller may go
    // to its wait instead of asking again (which would cost a call to learn just that).
    bool queueEmpty = false;

    bool done() const { return status == Status::done; }
};

// What one batched send came to: the first `sent` datagrams went out whole, in order.
// When that is not all of them, `next` tells why the one after them did not: timedOut,
// interrupted (nothing to report: send the rest again), failed, or done with a shorter
// length when it went out cut.
struct BatchOutcome {
    std::size_t sent = 0;
    IoOutcome next;
};

class UdpSocket {
public:
    virtual ~UdpSocket() = default;

    // The descriptor a PacketDevice waits on.
    virtual int handle() const = 0;
    // Receive and send buffer sizes; best effort, as large as the system allows.
    virtual void setBufferSizes(int bytes) = 0;
    virtual std::expected<void, int> setReceiveTimeout(std::chrono::milliseconds timeout) = 0;
    virtual std::expected<void, int> setNonBlocking() = 0;
    // timedOut covers both the receive time-out and would-block.
    virtual IoOutcome sendTo(std::span<const std::uint8_t> datagram, const SocketAddress& to) = 0;
    virtual IoOutcome receiveFrom(std::span<std::uint8_t> buffer, SocketAddress& from) = 0;
    virtual std::expected<void, int> connect(const SocketAddress& to) = 0;
    virtual IoOutcome send(std::span<const std::uint8_t> datagram) = 0;
    virtual IoOutcome receive(std::span<std::uint8_t> buffer) = 0;

    // Sends datagrams on the connected socket in order, as many as it takes now, each with
    // exactly its bytes. The default sends them one by one; Linux hands the kernel the whole
    // burst in one call.
    virtual BatchOutcome sendBatch(std::span<const std::span<const std::uint8_t>> datagrams);
    // Receives what is waiting, at most buffers.size() datagrams, each into its own buffer
    // and cut to it as receive() cuts; the outcome's length is how many arrived and
    // lengths[i] is the length of the i-th. The default receives one.
    virtual IoOutcome receiveBatch(std::span<const std::span<std::uint8_t>> buffers, std::span<std::size_t> lengths);
};

class Network {
public:
    virtual ~Network() = default;
    virtual std::vector<SocketAddress> resolve(const std::string& host, std::uint16_t port) = 0;
    virtual std::expected<std::unique_ptr<UdpSocket>, int> openUdp(SocketAddress::Family family) = 0;
    // Takes over an already open descriptor (tests and tools that skip the handshake).
    virtual std::unique_ptr<UdpSocket> adopt(int handle) = 0;

    static Network& system();
};

}  // namespace ostrel
