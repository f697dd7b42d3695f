#include "platform/udp_socket.h"

namespace ostrel {

BatchOutcome UdpSocket::sendBatch(std::span<const std::span<const std::uint8_t>> datagrams) {
    BatchOutcome out;
    for (const auto& d : datagrams) {
        IoOutcome o = send(d);
        if (!o.done() || o.length != d.size()) {
            out.next = o;
            return out;
        }
        ++out.sent;
    }
    return out;
}

IoOutcome UdpSocket::receiveBatch(std::span<const std::span<std::uint8_t>> buffers, std::span<std::size_t> lengths) {
    if (buffers.empty() || lengths.empty()) return IoOutcome{};
    IoOutcome o = receive(buffers.front());
    if (!o.done()) return o;
    lengths.front() = o.length;
    o.length = 1;
    return o;
}

}  // namespace ostrel
