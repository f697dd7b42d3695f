#pragma once
// The server's side of the tunnel protocol, on the client's own message types, packet
// formats and key schedule (session/wire.h, session/crypto.h). Only what a server alone
// needs lives here: sealing whole datagrams the way a server sends them, opening what
// a client sent, and the cookie hash. Test peers seal through the same calls.

#include "session/crypto.h"
#include "session/wire.h"

#include <cstdint>
#include <span>
#include <vector>

namespace ostrel::test_server::wire {

// Header, then payload sealed with the header as associated data, then the tag.
std::vector<std::uint8_t> seal(const Key32& key, MessageType type, std::uint64_t sessionId, std::uint64_t counter,
                               std::span<const std::uint8_t> payload);
// Opens header-prefixed `datagram` (sealed part from `sealedOffset`, the first
// 18 bytes as associated data) into `plain`; false when it does not verify.
bool open(const Key32& key, std::span<const std::uint8_t> datagram, std::size_t sealedOffset,
          std::vector<std::uint8_t>& plain);
// A header-only datagram: COOKIE and SERVER_HELLO are sent in the clear.
std::vector<std::uint8_t> plainHeader(MessageType type);

Key32 keyedHash(const Key32& key, std::span<const std::uint8_t> data);

}  // namespace ostrel::test_server::wire
