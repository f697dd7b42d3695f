#pragma once
// Packet formats of the tunnel protocol, shared by the client and the test server.
//   PacketHeader::encode/decode   the 18-byte header (version, type, session id, counter; LE)
//   AuthRequest::encode/decode    AUTH plaintext (user, password, node, l3 marker)
//   AuthFail::decode/encode       AUTH_FAIL plaintext (code, reason)
//   AuthOk::decode/encode         AUTH_OK plaintext (77 bytes of granted settings)
//   sessionMac(id)                02:00 + low 32 bits of the session id, big-endian

#include "core/addresses.h"
#include "core/tunnel_mode.h"
#include "events/client_error.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

inline constexpr std::uint8_t kProtocolVersion = 2;
inline constexpr std::size_t kHeaderSize = 18;
inline constexpr std::size_t kTagSize = 16;
inline constexpr std::size_t kSealOverhead = kHeaderSize + kTagSize;  // 34
inline constexpr std::size_t kMaxDatagram = 1500;
inline constexpr std::size_t kMaxPayload = kMaxDatagram - kSealOverhead;  // 1466
inline constexpr std::size_t kAuthOkSize = 77;
inline constexpr std::size_t kSocketBufferSize = 1756;  // run-loop receive buffer
inline constexpr std::uint64_t kServerCounterBit = std::uint64_t{1} << 63;

enum class MessageType : std::uint8_t {
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

struct PacketHeader {
    std::uint8_t version = kProtocolVersion;
    std::uint8_t type = 0;
    std::uint64_t sessionId = 0;
    std::uint64_t counter = 0;

    PacketHeader() = default;
    PacketHeader(MessageType t, std::uint64_t session, std::uint64_t ctr)
        : type(static_cast<std::uint8_t>(t)), sessionId(session), counter(ctr) {}

    void encode(std::span<std::uint8_t, kHeaderSize> out) const;
    std::array<std::uint8_t, kHeaderSize> encode() const;
    // Nothing when the datagram is shorter than a header; the version is not checked here.
    static std::optional<PacketHeader> decode(std::span<const std::uint8_t> datagram);
};


Mac sessionMac(std::uint64_t sessionId);

struct AuthRequest {
    std::string user;
    std::string password;
    std::string node;
    TunnelMode mode = TunnelMode::l2;

    // Protocol error "username", "password" or "node" for the first field that breaks its rule.
    static std::expected<std::vector<std::uint8_t>, ClientError> encode(std::string_view user,
                                                                          std::string_view password,
                                                                          std::string_view node, TunnelMode mode);
    // Server side: nothing for a body that is not well formed.
    static std::optional<AuthRequest> decode(std::span<const std::uint8_t> body);
};

struct AuthFail {
    std::uint8_t code = 0;
    std::string reason;

    static std::expected<AuthFail, ClientError> decode(std::span<const std::uint8_t> body);
    // Server side: code, reason length, reason (cut to 159 bytes).
    static std::vector<std::uint8_t> encode(std::uint8_t code, std::string_view reason);
};

struct AuthOk {
    static constexpr std::uint8_t kIpv4Valid = 1;
    static constexpr std::uint8_t kIpv6Valid = 2;

    std::uint64_t sessionId = 0;
    Ipv4Address address{};
    Ipv4Address netmask{};
    Ipv4Address gateway{};
    Ipv4Address dns{};
    std::uint16_t mtu = 0;
    std::uint8_t mode = 0;
    std::uint8_t addressFlags = 0;
    Ipv6Address address6{};
    std::uint8_t prefix6 = 0;
    Ipv6Address gateway6{};
    Ipv6Address dns6{};

    bool ipv4Valid() const { return (addressFlags & kIpv4Valid) != 0; }
    bool ipv6Valid() const { return (addressFlags & kIpv6Valid) != 0; }
    TunnelMode serverMode() const { return (mode & 1) ? TunnelMode::l3 : TunnelMode::l2; }

    // Protocol "short AUTH_OK" below 77 bytes; bytes past 77 are ignored.
    static std::expected<AuthOk, ClientError> decode(std::span<const std::uint8_t> body);
    std::array<std::uint8_t, kAuthOkSize> encode() const;
};

// Little-endian helpers used by every packet format.
inline std::uint64_t loadLe64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
inline void storeLe64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint16_t loadLe16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline void storeLe16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace ostrel
