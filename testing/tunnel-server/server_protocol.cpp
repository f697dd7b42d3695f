#include "server_protocol.h"

#include <sodium.h>

namespace ostrel::test_server::wire {

void writeHeader(std::uint8_t* out, std::uint8_t type, std::uint64_t sessionId, std::uint64_t counter) {
    PacketHeader(static_cast<MessageType>(type), sessionId, counter).encode(std::span<std::uint8_t, kHeaderSize>(out, kHeaderSize));
}

std::optional<Header> readHeader(std::span<const std::uint8_t> datagram) { return PacketHeader::decode(datagram); }

std::vector<std::uint8_t> seal(const Key& key, std::uint8_t type, std::uint64_t sessionId, std::uint64_t counter,
                               std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> out(kHeaderSize);
    writeHeader(out.data(), type, sessionId, counter);
    auto sealed = SessionCipher::seal(key, counter, payload, std::span(out.data(), kHeaderSize));
    if (sealed) out.insert(out.end(), sealed->begin(), sealed->end());
    return out;
}

bool open(const Key& key, std::span<const std::uint8_t> datagram, std::size_t sealedOffset,
          std::vector<std::uint8_t>& plain) {
    plain.clear();
    if (sealedOffset < kHeaderSize || datagram.size() < sealedOffset + kTagSize) return false;
    auto header = PacketHeader::decode(datagram);
    auto opened = SessionCipher::open(key, header->counter, datagram.subspan(sealedOffset), datagram.first(kHeaderSize));
    if (!opened) return false;
    plain = std::move(*opened);
    return true;
}

KeyPair newKeyPair() {
    EphemeralKeyPair pair;
    EphemeralKeyPair::generate(pair);
    KeyPair out{pair.secret, pair.publicKey};
    return out;
}

std::optional<Keys> deriveServerKeys(const Key& serverSecret, const Key& clientPublic, const Key& serverPublic) {
    auto keys = Handshake::deriveServerKeys(serverSecret, clientPublic, serverPublic);
    if (!keys) return std::nullopt;
    return *keys;
}

Key serverProof(const Key& authKey, const Key& clientPublic, const Key& cookie, const Key& serverPublic) {
    return Handshake::serverProof(authKey, clientPublic, cookie, serverPublic);
}

Key keyedHash(const Key& key, std::span<const std::uint8_t> data) {
    Key out{};
    crypto_generichash(out.data(), out.size(), data.data(), data.size(), key.data(), key.size());
    return out;
}

std::optional<AuthRequestBody> decodeAuthRequest(std::span<const std::uint8_t> body) {
    auto request = AuthRequest::decode(body);
    if (!request) return std::nullopt;
    return AuthRequestBody{request->user, request->password, request->node,
                           request->mode == TunnelMode::l3 ? NodeMode::l3 : NodeMode::l2};
}

std::vector<std::uint8_t> encodeAuthOk(const Grant& grant) {
    auto bytes = grant.encode();
    return {bytes.begin(), bytes.end()};
}

std::vector<std::uint8_t> encodeAuthFail(std::uint8_t code, const std::string& reason) {
    return AuthFail::encode(code, reason);
}

}  // namespace ostrel::test_server::wire
