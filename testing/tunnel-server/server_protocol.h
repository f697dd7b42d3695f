#pragma once
// The server's side of the tunnel protocol: what the client checks, seen from
// the other end. Header layout, sealing and the key schedule mirror the client.

#include "account_table.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ostrel::test_server::wire {

constexpr std::uint8_t kVersion = 2;
constexpr std::size_t kHeaderSize = 18;
constexpr std::size_t kTagSize = 16;
constexpr std::uint64_t kServerCounterBit = 1ULL << 63;

enum Type : std::uint8_t {
    HandshakeInit = 1,
    Cookie = 2,
    ServerHello = 3,
    Auth = 4,
    AuthOk = 5,
    AuthFail = 6,
    Data = 7,
    Keepalive = 8,
    Disconnect = 9,
    Kick = 11,
    Batch = 18,
};

using Key = std::array<std::uint8_t, 32>;

struct Header {
    std::uint8_t version = 0;
    std::uint8_t type = 0;
    std::uint64_t sessionId = 0;
    std::uint64_t counter = 0;
};

struct KeyPair {
    Key secret{};
    Key publicKey{};
};

struct Keys {
    Key clientToServer{};
    Key serverToClient{};
};

void writeHeader(std::uint8_t* out, std::uint8_t type, std::uint64_t sessionId, std::uint64_t counter);
std::optional<Header> readHeader(std::span<const std::uint8_t> datagram);

// Header, then payload sealed with the header as associated data, then the tag.
std::vector<std::uint8_t> seal(const Key& key, std::uint8_t type, std::uint64_t sessionId, std::uint64_t counter,
                               std::span<const std::uint8_t> payload);
// Opens header-prefixed `datagram` (sealed part from `sealedOffset`, the first
// 18 bytes as associated data) into `plain`; false when it does not verify.
bool open(const Key& key, std::span<const std::uint8_t> datagram, std::size_t sealedOffset,
          std::vector<std::uint8_t>& plain);

KeyPair newKeyPair();
// Empty when the client's public key yields the all-zero secret.
std::optional<Keys> deriveServerKeys(const Key& serverSecret, const Key& clientPublic, const Key& serverPublic);
Key serverProof(const Key& authKey, const Key& clientPublic, const Key& cookie, const Key& serverPublic);
Key keyedHash(const Key& key, std::span<const std::uint8_t> data);
void wipe(void* data, std::size_t size);

struct AuthRequestBody {
    std::string user;
    std::string password;
    std::string node;
    NodeMode mode = NodeMode::l2;
};
std::optional<AuthRequestBody> decodeAuthRequest(std::span<const std::uint8_t> body);

struct Grant {
    std::uint64_t sessionId = 0;
    std::array<std::uint8_t, 4> address{};
    std::array<std::uint8_t, 4> netmask{};
    std::array<std::uint8_t, 4> gateway{};
    std::array<std::uint8_t, 4> dns{};
    std::uint16_t mtu = 1420;
    std::uint8_t mode = 0;
    std::uint8_t addressFlags = 0;
    std::array<std::uint8_t, 16> address6{};
    std::uint8_t prefix6 = 0;
    std::array<std::uint8_t, 16> gateway6{};
    std::array<std::uint8_t, 16> dns6{};
};
std::vector<std::uint8_t> encodeAuthOk(const Grant& grant);
std::vector<std::uint8_t> encodeAuthFail(std::uint8_t code, const std::string& reason);

}  // namespace ostrel::test_server::wire
