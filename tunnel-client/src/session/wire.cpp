#include "session/wire.h"

#include "core/text.h"
#include "session/errors.h"

#include <algorithm>
#include <cstring>

namespace ostrel {

namespace {

bool fieldOk(std::string_view v, std::size_t max) {
    return !v.empty() && v.size() <= max && v.find('\0') == std::string_view::npos;
}

void append(std::vector<std::uint8_t>& out, std::string_view v) {
    std::size_t at = out.size();
    out.resize(at + 1 + v.size());
    out[at] = static_cast<std::uint8_t>(v.size());
    if (!v.empty()) std::memcpy(out.data() + at + 1, v.data(), v.size());
}

}  // namespace

void PacketHeader::encode(std::span<std::uint8_t, kHeaderSize> out) const {
    out[0] = version;
    out[1] = type;
    storeLe64(out.data() + 2, sessionId);
    storeLe64(out.data() + 10, counter);
}

std::array<std::uint8_t, kHeaderSize> PacketHeader::encode() const {
    std::array<std::uint8_t, kHeaderSize> out{};
    encode(std::span<std::uint8_t, kHeaderSize>(out));
    return out;
}

std::optional<PacketHeader> PacketHeader::decode(std::span<const std::uint8_t> datagram) {
    if (datagram.size() < kHeaderSize) return std::nullopt;
    PacketHeader h;
    h.version = datagram[0];
    h.type = datagram[1];
    h.sessionId = loadLe64(datagram.data() + 2);
    h.counter = loadLe64(datagram.data() + 10);
    return h;
}

Mac sessionMac(std::uint64_t sessionId) {
    return Mac{0x02,
               0x00,
               static_cast<std::uint8_t>(sessionId >> 24),
               static_cast<std::uint8_t>(sessionId >> 16),
               static_cast<std::uint8_t>(sessionId >> 8),
               static_cast<std::uint8_t>(sessionId)};
}

std::expected<std::vector<std::uint8_t>, ClientError> AuthRequest::encode(std::string_view user,
                                                                            std::string_view password,
                                                                            std::string_view node, TunnelMode mode) {
    if (!fieldOk(user, 32)) return std::unexpected(session_errors::protocol("username"));
    if (!fieldOk(password, 64)) return std::unexpected(session_errors::protocol("password"));
    if (!fieldOk(node, 32)) return std::unexpected(session_errors::protocol("node"));
    std::vector<std::uint8_t> body;
    body.reserve(3 + user.size() + password.size() + node.size() + 2);
    append(body, user);
    append(body, password);
    append(body, node);
    if (mode == TunnelMode::l3) {
        body.push_back(0x01);
        body.push_back(static_cast<std::uint8_t>(TunnelMode::l3));
    }
    return body;
}

std::optional<AuthRequest> AuthRequest::decode(std::span<const std::uint8_t> body) {
    AuthRequest r;
    std::size_t pos = 0;
    auto take = [&](std::string& into, std::size_t max) {
        if (pos >= body.size()) return false;
        std::size_t n = body[pos++];
        if (n == 0 || n > max || pos + n > body.size()) return false;
        into.assign(reinterpret_cast<const char*>(body.data() + pos), n);
        pos += n;
        return into.find('\0') == std::string::npos;
    };
    if (!take(r.user, 32) || !take(r.password, 64) || !take(r.node, 32)) return std::nullopt;
    if (pos == body.size()) {
        r.mode = TunnelMode::l2;
    } else if (pos + 2 == body.size() && body[pos] == 0x01 && body[pos + 1] <= 1) {
        r.mode = body[pos + 1] == 1 ? TunnelMode::l3 : TunnelMode::l2;
    } else {
        return std::nullopt;
    }
    return r;
}

std::expected<AuthFail, ClientError> AuthFail::decode(std::span<const std::uint8_t> body) {
    if (body.empty()) return std::unexpected(session_errors::protocol("short AUTH_FAIL"));
    AuthFail f;
    f.code = body[0];
    if (body.size() == 1) return f;
    std::size_t len = body[1];
    if (len != body.size() - 2) return std::unexpected(session_errors::protocol("malformed AUTH_FAIL"));
    if (len >= 160) return std::unexpected(session_errors::protocol("AUTH_FAIL reason too long"));
    auto reason = body.subspan(2);
    if (!isValidUtf8({reinterpret_cast<const char*>(reason.data()), reason.size()})) return std::unexpected(session_errors::protocol("AUTH_FAIL reason utf8"));
    f.reason.assign(reinterpret_cast<const char*>(reason.data()), reason.size());
    return f;
}

std::vector<std::uint8_t> AuthFail::encode(std::uint8_t code, std::string_view reason) {
    std::string_view r = reason.substr(0, std::min<std::size_t>(reason.size(), 159));
    // Sized up front: g++ -O3 misreads push_back followed by insert as out of bounds.
    std::vector<std::uint8_t> out(2 + r.size());
    out[0] = code;
    out[1] = static_cast<std::uint8_t>(r.size());
    if (!r.empty()) std::memcpy(out.data() + 2, r.data(), r.size());
    return out;
}

std::expected<AuthOk, ClientError> AuthOk::decode(std::span<const std::uint8_t> body) {
    if (body.size() < kAuthOkSize) return std::unexpected(session_errors::protocol("short AUTH_OK"));
    const std::uint8_t* p = body.data();
    AuthOk ok;
    ok.sessionId = loadLe64(p);
    std::memcpy(ok.address.data(), p + 8, 4);
    std::memcpy(ok.netmask.data(), p + 12, 4);
    std::memcpy(ok.gateway.data(), p + 16, 4);
    std::memcpy(ok.dns.data(), p + 20, 4);
    ok.mtu = loadLe16(p + 24);
    ok.mode = p[26];
    ok.addressFlags = p[27];
    std::memcpy(ok.address6.data(), p + 28, 16);
    ok.prefix6 = p[44];
    std::memcpy(ok.gateway6.data(), p + 45, 16);
    std::memcpy(ok.dns6.data(), p + 61, 16);
    return ok;
}

std::array<std::uint8_t, kAuthOkSize> AuthOk::encode() const {
    std::array<std::uint8_t, kAuthOkSize> out{};
    std::uint8_t* p = out.data();
    storeLe64(p, sessionId);
    std::memcpy(p + 8, address.data(), 4);
    std::memcpy(p + 12, netmask.data(), 4);
    std::memcpy(p + 16, gateway.data(), 4);
    std::memcpy(p + 20, dns.data(), 4);
    storeLe16(p + 24, mtu);
    p[26] = mode;
    p[27] = addressFlags;
    std::memcpy(p + 28, address6.data(), 16);
    p[44] = prefix6;
    std::memcpy(p + 45, gateway6.data(), 16);
    std::memcpy(p + 61, dns6.data(), 16);
    return out;
}

}  // namespace ostrel
