#pragma once
// The server's side of the tunnel protocol, on the client's own packet formats and
// key schedule (session/wire.h, session/crypto.h). Only what a server alone needs
// lives here: the cookie hash and the thin glue below.

#include "account_table.h"
#include "session/crypto.h"
#include "session/wire.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ostrel::test_server::wire {

constexpr std::uint8_t kVersion = kProtocolVersion;
constexpr std::size_t kHeaderSize = ostrel::kHeaderSize;
constexpr std::uint64_t kServerCounterBit = ostrel::kServerCounterBit;

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

using Key = Key32;
using Header = PacketHeader;
using Keys = SessionKeys;
using Grant = ostrel::AuthOk;

struct KeyPair {
    Key secret{};
    Key publicKey{};
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

struct AuthRequestBody {
    std::string user;
    std::string password;
    std::string node;
    NodeMode mode = NodeMode::l2;
};
std::optional<AuthRequestBody> decodeAuthRequest(std::span<const std::uint8_t> body);
std::vector<std::uint8_t> encodeAuthOk(const Grant& grant);
std::vector<std::uint8_t> encodeAuthFail(std::uint8_t code, const std::string& reason);

}  // namespace ostrel::test_server::wire
