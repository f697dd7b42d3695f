#include "server_protocol.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>

namespace ostrel::test_server::wire {

namespace {

void putLe64(std::uint8_t* out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t getLe64(const std::uint8_t* in) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | in[i];
    return value;
}

void nonceFor(std::uint64_t counter, std::uint8_t nonce[12]) {
    std::memset(nonce, 0, 4);
    putLe64(nonce + 4, counter);
}

Key directionalKey(const char* label, const Key& shared, const Key& clientPublic, const Key& serverPublic) {
    std::uint8_t input[16 + 32 * 3];
    std::memcpy(input, label, 16);
    std::memcpy(input + 16, shared.data(), 32);
    std::memcpy(input + 48, clientPublic.data(), 32);
    std::memcpy(input + 80, serverPublic.data(), 32);
    Key out{};
    crypto_generichash(out.data(), out.size(), input, sizeof input, nullptr, 0);
    sodium_memzero(input, sizeof input);
    return out;
}

}  // namespace

void writeHeader(std::uint8_t* out, std::uint8_t type, std::uint64_t sessionId, std::uint64_t counter) {
    out[0] = kVersion;
    out[1] = type;
    putLe64(out + 2, sessionId);
    putLe64(out + 10, counter);
}

std::optional<Header> readHeader(std::span<const std::uint8_t> datagram) {
    if (datagram.size() < kHeaderSize) return std::nullopt;
    Header h;
    h.version = datagram[0];
    h.type = datagram[1];
    h.sessionId = getLe64(datagram.data() + 2);
    h.counter = getLe64(datagram.data() + 10);
    return h;
}

std::vector<std::uint8_t> seal(const Key& key, std::uint8_t type, std::uint64_t sessionId, std::uint64_t counter,
                               std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> out(kHeaderSize + payload.size() + kTagSize);
    writeHeader(out.data(), type, sessionId, counter);
    std::uint8_t nonce[12];
    nonceFor(counter, nonce);
    unsigned long long written = 0;
    crypto_aead_chacha20poly1305_ietf_encrypt(out.data() + kHeaderSize, &written, payload.data(), payload.size(),
                                              out.data(), kHeaderSize, nullptr, nonce, key.data());
    return out;
}

bool open(const Key& key, std::span<const std::uint8_t> datagram, std::size_t sealedOffset,
          std::vector<std::uint8_t>& plain) {
    if (datagram.size() < sealedOffset + kTagSize || sealedOffset < kHeaderSize) return false;
    auto header = readHeader(datagram);
    std::uint8_t nonce[12];
    nonceFor(header->counter, nonce);
    std::size_t sealedLength = datagram.size() - sealedOffset;
    plain.resize(sealedLength - kTagSize);
    unsigned long long length = 0;
    int rc = crypto_aead_chacha20poly1305_ietf_decrypt(plain.data(), &length, nullptr, datagram.data() + sealedOffset,
                                                       sealedLength, datagram.data(), kHeaderSize, nonce, key.data());
    if (rc != 0) {
        plain.clear();
        return false;
    }
    plain.resize(length);
    return true;
}

KeyPair newKeyPair() {
    KeyPair pair;
    randombytes_buf(pair.secret.data(), pair.secret.size());
    crypto_scalarmult_base(pair.publicKey.data(), pair.secret.data());
    return pair;
}

std::optional<Keys> deriveServerKeys(const Key& serverSecret, const Key& clientPublic, const Key& serverPublic) {
    Key shared{};
    if (crypto_scalarmult(shared.data(), serverSecret.data(), clientPublic.data()) != 0) {
        sodium_memzero(shared.data(), shared.size());
        return std::nullopt;
    }
    Keys keys;
    keys.clientToServer = directionalKey("client-to-server", shared, clientPublic, serverPublic);
    keys.serverToClient = directionalKey("server-to-client", shared, clientPublic, serverPublic);
    sodium_memzero(shared.data(), shared.size());
    return keys;
}

Key serverProof(const Key& authKey, const Key& clientPublic, const Key& cookie, const Key& serverPublic) {
    static constexpr char label[] = "ostrel-server-auth-v1";
    std::uint8_t input[21 + 32 * 3];
    std::memcpy(input, label, 21);
    std::memcpy(input + 21, clientPublic.data(), 32);
    std::memcpy(input + 53, cookie.data(), 32);
    std::memcpy(input + 85, serverPublic.data(), 32);
    return keyedHash(authKey, input);
}

Key keyedHash(const Key& key, std::span<const std::uint8_t> data) {
    Key out{};
    crypto_generichash(out.data(), out.size(), data.data(), data.size(), key.data(), key.size());
    return out;
}

void wipe(void* data, std::size_t size) { sodium_memzero(data, size); }

std::optional<AuthRequestBody> decodeAuthRequest(std::span<const std::uint8_t> body) {
    std::size_t at = 0;
    auto field = [&](std::size_t maxLength, std::string& out) {
        if (at >= body.size()) return false;
        std::size_t length = body[at++];
        if (length == 0 || length > maxLength || at + length > body.size()) return false;
        out.assign(reinterpret_cast<const char*>(body.data() + at), length);
        at += length;
        return out.find('\0') == std::string::npos;
    };
    AuthRequestBody request;
    if (!field(32, request.user) || !field(64, request.password) || !field(32, request.node)) return std::nullopt;
    if (at == body.size()) return request;
    if (body.size() - at == 2 && body[at] == 0x01 && body[at + 1] <= 1) {
        request.mode = body[at + 1] == 1 ? NodeMode::l3 : NodeMode::l2;
        return request;
    }
    return std::nullopt;
}

std::vector<std::uint8_t> encodeAuthOk(const Grant& grant) {
    std::vector<std::uint8_t> out(77, 0);
    putLe64(out.data(), grant.sessionId);
    std::memcpy(out.data() + 8, grant.address.data(), 4);
    std::memcpy(out.data() + 12, grant.netmask.data(), 4);
    std::memcpy(out.data() + 16, grant.gateway.data(), 4);
    std::memcpy(out.data() + 20, grant.dns.data(), 4);
    out[24] = static_cast<std::uint8_t>(grant.mtu);
    out[25] = static_cast<std::uint8_t>(grant.mtu >> 8);
    out[26] = grant.mode;
    out[27] = grant.addressFlags;
    std::memcpy(out.data() + 28, grant.address6.data(), 16);
    out[44] = grant.prefix6;
    std::memcpy(out.data() + 45, grant.gateway6.data(), 16);
    std::memcpy(out.data() + 61, grant.dns6.data(), 16);
    return out;
}

std::vector<std::uint8_t> encodeAuthFail(std::uint8_t code, const std::string& reason) {
    std::vector<std::uint8_t> out;
    out.push_back(code);
    auto length = static_cast<std::uint8_t>(std::min<std::size_t>(reason.size(), 159));
    out.push_back(length);
    out.insert(out.end(), reason.begin(), reason.begin() + length);
    return out;
}

}  // namespace ostrel::test_server::wire
