#pragma once
// Key schedule and packet sealing.
//   EphemeralKeyPair::generate()   fresh X25519 pair per connect (secret wiped on destruction)
//   Handshake::deriveKeys          client side: X25519 + two BLAKE2b-256 labels -> SessionKeys
//   Handshake::deriveServerKeys    the same keys computed from the server's secret
//   Handshake::serverProof         keyed BLAKE2b-256 over "ostrel-server-auth-v1" || cP || cookie || sP
//   Handshake::proofMatches        constant-time comparison of all 32 bytes
//   SessionCipher                  ChaCha20-Poly1305 IETF; nonce = 4 zero bytes + counter LE;
//                                  the 18-byte header is the associated data

#include "events/client_error.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <vector>

namespace ostrel {

using Key32 = std::array<std::uint8_t, 32>;

// Zero fill the compiler may not drop.
void wipe(void* data, std::size_t size);

struct SessionKeys {
    Key32 clientToServer{};
    Key32 serverToClient{};

    SessionKeys() = default;
    SessionKeys(const SessionKeys&) = default;
    SessionKeys& operator=(const SessionKeys&) = default;
    ~SessionKeys() { wipeAll(); }
    void wipeAll();
};

struct EphemeralKeyPair {
    Key32 secret{};
    Key32 publicKey{};

    EphemeralKeyPair() = default;
    EphemeralKeyPair(const EphemeralKeyPair&) = delete;
    EphemeralKeyPair& operator=(const EphemeralKeyPair&) = delete;
    ~EphemeralKeyPair() { wipe(secret.data(), secret.size()); }

    static void generate(EphemeralKeyPair& out);
    static void fromSecret(const Key32& secret, EphemeralKeyPair& out);
};

class Handshake {
public:
    // BadServerKey when the shared secret is all zero (low-order point).
    static std::expected<SessionKeys, ClientError> deriveKeys(const Key32& clientSecret, const Key32& serverPublic,
                                                              const Key32& clientPublic);
    static std::expected<SessionKeys, ClientError> deriveServerKeys(const Key32& serverSecret,
                                                                    const Key32& clientPublic,
                                                                    const Key32& serverPublic);
    static Key32 serverProof(const Key32& authKey, const Key32& clientPublic, const Key32& cookie,
                             const Key32& serverPublic);
    static bool proofMatches(const Key32& expected, std::span<const std::uint8_t, 32> received);
};

class SessionCipher {
public:
    static std::array<std::uint8_t, 12> nonce(std::uint64_t counter);

    // Ciphertext followed by the tag, or Encrypt.
    static std::expected<std::vector<std::uint8_t>, ClientError> seal(const Key32& key, std::uint64_t counter,
                                                                       std::span<const std::uint8_t> plaintext,
                                                                       std::span<const std::uint8_t> ad);
    // Plaintext, or Protocol "decrypt failed".
    static std::expected<std::vector<std::uint8_t>, ClientError> open(const Key32& key, std::uint64_t counter,
                                                                       std::span<const std::uint8_t> sealed,
                                                                       std::span<const std::uint8_t> ad);

    // Allocation-free forms for the data path: data is replaced by its ciphertext and the tag
    // written separately; false on failure.
    static bool sealInPlace(const Key32& key, std::uint64_t counter, std::span<std::uint8_t> data,
                            std::span<std::uint8_t, 16> tag, std::span<const std::uint8_t> ad);
    // Opens ciphertext+tag from `sealed` into `out` (may alias sealed; out.size() >= sealed.size() - 16).
    static bool openInto(const Key32& key, std::uint64_t counter, std::span<const std::uint8_t> sealed,
                         std::span<const std::uint8_t> ad, std::span<std::uint8_t> out);
};

}  // namespace ostrel
