#include "session/crypto.h"

#include "session/errors.h"

#include <sodium.h>

#include <cstdlib>
#include <cstring>

namespace ostrel {

namespace {

constexpr char kClientToServer[] = "client-to-server";
constexpr char kServerToClient[] = "server-to-client";
constexpr char kProofLabel[] = "ostrel-server-auth-v1";
static_assert(sizeof(kClientToServer) - 1 == 16 && sizeof(kServerToClient) - 1 == 16);
static_assert(sizeof(kProofLabel) - 1 == 21);

void ensureSodium() {
    // sodium_init is idempotent and thread safe; a failure leaves no usable random source.
    static const bool ready = sodium_init() >= 0;
    if (!ready) std::abort();
}

// Holds a private copy of a key for one cipher call and zeroes it on every way out.
struct KeyCopy {
    explicit KeyCopy(const Key32& key) { std::memcpy(bytes, key.data(), sizeof bytes); }
    ~KeyCopy() { wipe(bytes, sizeof bytes); }
    KeyCopy(const KeyCopy&) = delete;
    KeyCopy& operator=(const KeyCopy&) = delete;
    unsigned char bytes[32];
};

void labelledKey(const char* label, const Key32& shared, const Key32& clientPublic, const Key32& serverPublic,
                 Key32& out) {
    // Digest length 32 goes into the parameter block (BLAKE2b-256), not a cut 64-byte digest.
    crypto_generichash_blake2b_state state;
    crypto_generichash_blake2b_init(&state, nullptr, 0, out.size());
    crypto_generichash_blake2b_update(&state, reinterpret_cast<const unsigned char*>(label), 16);
    crypto_generichash_blake2b_update(&state, shared.data(), shared.size());
    crypto_generichash_blake2b_update(&state, clientPublic.data(), clientPublic.size());
    crypto_generichash_blake2b_update(&state, serverPublic.data(), serverPublic.size());
    crypto_generichash_blake2b_final(&state, out.data(), out.size());
    wipe(&state, sizeof state);
}

std::expected<SessionKeys, ClientError> keysFrom(const Key32& secret, const Key32& peerPublic,
                                                 const Key32& clientPublic, const Key32& serverPublic) {
    ensureSodium();
    Key32 shared{};
    int rc = crypto_scalarmult_curve25519(shared.data(), secret.data(), peerPublic.data());
    // libsodium already refuses an all-zero result; check it ourselves too so the rule
    // holds whatever the library version does.
    if (rc != 0 || sodium_is_zero(shared.data(), shared.size())) {
        wipe(shared.data(), shared.size());
        return std::unexpected(session_errors::badServerKey());
    }
    SessionKeys keys;
    labelledKey(kClientToServer, shared, clientPublic, serverPublic, keys.clientToServer);
    labelledKey(kServerToClient, shared, clientPublic, serverPublic, keys.serverToClient);
    wipe(shared.data(), shared.size());
    return keys;
}

}  // namespace

void wipe(void* data, std::size_t size) { sodium_memzero(data, size); }

void SessionKeys::wipeAll() {
    wipe(clientToServer.data(), clientToServer.size());
    wipe(serverToClient.data(), serverToClient.size());
}

void EphemeralKeyPair::generate(EphemeralKeyPair& out) {
    ensureSodium();
    Key32 secret;
    randombytes_buf(secret.data(), secret.size());
    fromSecret(secret, out);
    wipe(secret.data(), secret.size());
}

void EphemeralKeyPair::fromSecret(const Key32& secret, EphemeralKeyPair& out) {
    ensureSodium();
    out.secret = secret;
    crypto_scalarmult_curve25519_base(out.publicKey.data(), out.secret.data());
}

std::expected<SessionKeys, ClientError> Handshake::deriveKeys(const Key32& clientSecret, const Key32& serverPublic,
                                                              const Key32& clientPublic) {
    return keysFrom(clientSecret, serverPublic, clientPublic, serverPublic);
}

std::expected<SessionKeys, ClientError> Handshake::deriveServerKeys(const Key32& serverSecret,
                                                                    const Key32& clientPublic,
                                                                    const Key32& serverPublic) {
    return keysFrom(serverSecret, clientPublic, clientPublic, serverPublic);
}

Key32 Handshake::serverProof(const Key32& authKey, const Key32& clientPublic, const Key32& cookie,
                             const Key32& serverPublic) {
    ensureSodium();
    Key32 proof{};
    crypto_generichash_blake2b_state state;
    crypto_generichash_blake2b_init(&state, authKey.data(), authKey.size(), proof.size());
    crypto_generichash_blake2b_update(&state, reinterpret_cast<const unsigned char*>(kProofLabel), 21);
    crypto_generichash_blake2b_update(&state, clientPublic.data(), clientPublic.size());
    crypto_generichash_blake2b_update(&state, cookie.data(), cookie.size());
    crypto_generichash_blake2b_update(&state, serverPublic.data(), serverPublic.size());
    crypto_generichash_blake2b_final(&state, proof.data(), proof.size());
    wipe(&state, sizeof state);
    return proof;
}

bool Handshake::proofMatches(const Key32& expected, std::span<const std::uint8_t, 32> received) {
    ensureSodium();
    return sodium_memcmp(expected.data(), received.data(), 32) == 0;
}

std::array<std::uint8_t, 12> SessionCipher::nonce(std::uint64_t counter) {
    std::array<std::uint8_t, 12> n{};
    for (int i = 0; i < 8; ++i) n[4 + i] = static_cast<std::uint8_t>(counter >> (8 * i));
    return n;
}

bool SessionCipher::sealInPlace(const Key32& key, std::uint64_t counter, std::span<std::uint8_t> data,
                                std::span<std::uint8_t, 16> tag, std::span<const std::uint8_t> ad) {
    ensureSodium();
    KeyCopy k(key);
    auto n = nonce(counter);
    unsigned long long tagLen = 0;
    int rc = crypto_aead_chacha20poly1305_ietf_encrypt_detached(data.data(), tag.data(), &tagLen, data.data(),
                                                                data.size(), ad.data(), ad.size(), nullptr,
                                                                n.data(), k.bytes);
    return rc == 0 && tagLen == 16;
}

bool SessionCipher::openInto(const Key32& key, std::uint64_t counter, std::span<const std::uint8_t> sealed,
                             std::span<const std::uint8_t> ad, std::span<std::uint8_t> out) {
    ensureSodium();
    KeyCopy k(key);
    if (sealed.size() < 16) return false;
    std::size_t len = sealed.size() - 16;
    if (out.size() < len) return false;
    auto n = nonce(counter);
    int rc = crypto_aead_chacha20poly1305_ietf_decrypt_detached(out.data(), nullptr, sealed.data(), len,
                                                                sealed.data() + len, ad.data(), ad.size(),
                                                                n.data(), k.bytes);
    return rc == 0;
}

std::expected<std::vector<std::uint8_t>, ClientError> SessionCipher::seal(const Key32& key, std::uint64_t counter,
                                                                           std::span<const std::uint8_t> plaintext,
                                                                           std::span<const std::uint8_t> ad) {
    std::vector<std::uint8_t> out(plaintext.begin(), plaintext.end());
    out.resize(plaintext.size() + 16);
    std::span<std::uint8_t> body(out.data(), plaintext.size());
    if (!sealInPlace(key, counter, body, std::span<std::uint8_t, 16>(out.data() + plaintext.size(), 16), ad))
        return std::unexpected(session_errors::encrypt());
    return out;
}

std::expected<std::vector<std::uint8_t>, ClientError> SessionCipher::open(const Key32& key, std::uint64_t counter,
                                                                           std::span<const std::uint8_t> sealed,
                                                                           std::span<const std::uint8_t> ad) {
    if (sealed.size() < 16) return std::unexpected(session_errors::protocol("decrypt failed"));
    std::vector<std::uint8_t> out(sealed.size() - 16);
    if (!openInto(key, counter, sealed, ad, out)) {
        wipe(out.data(), out.size());
        return std::unexpected(session_errors::protocol("decrypt failed"));
    }
    return out;
}

}  // namespace ostrel
