#include "server_protocol.h"

#include <sodium.h>

namespace ostrel::test_server::wire {

std::vector<std::uint8_t> seal(const Key32& key, MessageType type, std::uint64_t sessionId, std::uint64_t counter,
                               std::span<const std::uint8_t> payload) {
    auto header = PacketHeader(type, sessionId, counter).encode();
    std::vector<std::uint8_t> out(header.begin(), header.end());
    auto sealed = SessionCipher::seal(key, counter, payload, header);
    if (sealed) out.insert(out.end(), sealed->begin(), sealed->end());
    return out;
}

bool open(const Key32& key, std::span<const std::uint8_t> datagram, std::size_t sealedOffset,
          std::vector<std::uint8_t>& plain) {
    plain.clear();
    if (sealedOffset < kHeaderSize || datagram.size() < sealedOffset + kTagSize) return false;
    auto header = PacketHeader::decode(datagram);
    auto opened = SessionCipher::open(key, header->counter, datagram.subspan(sealedOffset), datagram.first(kHeaderSize));
    if (!opened) return false;
    plain = std::move(*opened);
    return true;
}

std::vector<std::uint8_t> plainHeader(MessageType type) {
    auto header = PacketHeader(type, 0, 0).encode();
    return {header.begin(), header.end()};
}

Key32 keyedHash(const Key32& key, std::span<const std::uint8_t> data) {
    Key32 out{};
    crypto_generichash(out.data(), out.size(), data.data(), data.size(), key.data(), key.size());
    return out;
}

}  // namespace ostrel::test_server::wire
