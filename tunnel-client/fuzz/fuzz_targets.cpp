#include "fuzz_targets.h"

#include "device_fuzz_targets.h"

#include "device/packet_device.h"
#include "session/session.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

namespace ostrel::fuzz {

namespace {

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

class NullEvents final : public SessionEvents {
public:
    void handshake(std::string_view) override {}
    void kicked() override {}
    void bridgeInfo(const BridgeInfo&) override {}
};

class CountingDevice final : public PacketDevice {
public:
    std::size_t minimum = 14;
    std::size_t written = 0;
    std::string name() const override { return "fuzz"; }
    std::expected<void, ClientError> configure(const HostSettings&) override { return {}; }
    std::expected<std::optional<std::size_t>, ClientError> receive(std::span<std::uint8_t>) override {
        return std::optional<std::size_t>{};
    }
    std::expected<void, ClientError> send(std::span<const std::uint8_t> packet) override {
        if (packet.size() < minimum || packet.size() > kSocketBufferSize) broken("device got a packet of bad size");
        ++written;
        return {};
    }
    std::expected<void, ClientError> wait(int, std::chrono::nanoseconds) override { return {}; }
};

constexpr std::uint64_t kSessionId = 0xaabbccdd11223344ull;

SessionKeys fixedKeys() {
    SessionKeys k;
    for (std::size_t i = 0; i < 32; ++i) {
        k.clientToServer[i] = static_cast<std::uint8_t>(i);
        k.serverToClient[i] = static_cast<std::uint8_t>(0x80 + i);
    }
    return k;
}

// Input: mode byte, then records of flags(1), length(2 LE) and that many bytes.
// Flag bit 0 seals the bytes as (type, counter LE16, payload) with the right key so the
// fuzzer reaches the dispatch code; bit 1 uses another session id; bit 2 clears bit 63.
int fuzzReceive(std::span<const std::uint8_t> in) {
    if (in.empty()) return 0;
    const TunnelMode mode = (in[0] & 1) ? TunnelMode::l3 : TunnelMode::l2;
    in = in.subspan(1);

    NullEvents events;
    ManualClock clock;
    Session::Parts parts;
    parts.settings.sessionId = kSessionId;
    parts.settings.addressFlags = 3;
    parts.settings.mode = mode == TunnelMode::l3 ? 1 : 0;
    parts.keys = fixedKeys();
    parts.mode = mode;
    parts.clock = &clock;
    parts.events = &events;
    auto session = Session::fromParts(parts);
    CountingDevice device;
    device.minimum = mode == TunnelMode::l2 ? 14 : 1;

    std::vector<std::uint8_t> datagram;
    while (in.size() >= 3) {
        const std::uint8_t flags = in[0];
        std::size_t len = static_cast<std::size_t>(in[1] | (in[2] << 8));
        in = in.subspan(3);
        len = std::min(len, in.size());
        auto body = in.first(len);
        in = in.subspan(len);

        if ((flags & 1) && body.size() >= 3) {
            std::uint64_t counter = static_cast<std::uint64_t>(body[1] | (body[2] << 8));
            if (!(flags & 4)) counter |= kServerCounterBit;
            PacketHeader header(static_cast<MessageType>(body[0]), (flags & 2) ? kSessionId ^ 1 : kSessionId, counter);
            header.type = body[0];
            auto h = header.encode();
            auto sealed = SessionCipher::seal(parts.keys.serverToClient, counter, body.subspan(3), h);
            if (!sealed) broken("sealing failed");
            datagram.assign(h.begin(), h.end());
            datagram.insert(datagram.end(), sealed->begin(), sealed->end());
        } else {
            datagram.assign(body.begin(), body.end());
        }

        // The socket never hands the loop more than its buffer holds.
        if (datagram.size() > kSocketBufferSize) datagram.resize(kSocketBufferSize);
        const std::uint64_t before = session->replay().highest();
        clock.advance(std::chrono::milliseconds(10));
        auto r = session->receiveDatagram(device, datagram);
        if (!r) broken("receive path returned an error with a healthy device");
        if (session->replay().highest() < before) broken("replay window moved backwards");
        // Only datagrams sealed with the right key may move the window.
        if (!(flags & 1) && session->replay().highest() != before) broken("unsealed datagram moved the window");
        if (*r) break;  // DISCONNECT or KICK ends the session
    }
    return 0;
}

int fuzzAuthFail(std::span<const std::uint8_t> in) {
    auto r = AuthFail::decode(in);
    if (r) {
        if (in.empty()) broken("empty AUTH_FAIL accepted");
        if (r->code != in[0]) broken("AUTH_FAIL code changed");
        if (r->reason.size() >= 160) broken("AUTH_FAIL reason too long accepted");
        if (in.size() > 1 && r->reason.size() != in.size() - 2) broken("AUTH_FAIL reason length");
    } else if (r.error().kind() != ClientError::Kind::Protocol) {
        broken("AUTH_FAIL failure of the wrong kind");
    }
    return 0;
}

int fuzzAuthOk(std::span<const std::uint8_t> in) {
    auto r = AuthOk::decode(in);
    if (in.size() < kAuthOkSize) {
        if (r) broken("short AUTH_OK accepted");
        return 0;
    }
    if (!r) broken("AUTH_OK of full length refused");
    auto again = r->encode();
    if (std::memcmp(again.data(), in.data(), kAuthOkSize) != 0) broken("AUTH_OK does not round-trip");
    return 0;
}

}  // namespace

int fuzzOne(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::span<const std::uint8_t> rest(data + 1, size - 1);
    if (data[0] >= 0xF0) return fuzzDeviceRewrite(rest.data(), rest.size());
    switch (data[0] % 3) {
        case 0: return fuzzReceive(rest);
        case 1: return fuzzAuthFail(rest);
        default: return fuzzAuthOk(rest);
    }
}

}  // namespace ostrel::fuzz
