#include "session/session.h"

#include "session/errors.h"

#include <cerrno>
#include <charconv>
#include <cstring>

namespace ostrel {

namespace {

namespace err = session_errors;

// Host and port split at the last colon, as "host:port" or "[v6]:port"; the first
// IPv4 address in the resolver's order, else the first address.
std::expected<SocketAddress, ClientError> resolve(Network& network, const std::string& server) {
    auto colon = server.rfind(':');
    if (colon == std::string::npos) return std::unexpected(err::resolve());
    std::string host = server.substr(0, colon);
    std::string portText = server.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    unsigned port = 0;
    auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (ec != std::errc{} || end != portText.data() + portText.size() || portText.empty() || port > 65535 ||
        host.empty())
        return std::unexpected(err::resolve());
    auto addresses = network.resolve(host, static_cast<std::uint16_t>(port));
    if (addresses.empty()) return std::unexpected(err::resolve());
    for (const auto& a : addresses)
        if (a.family == SocketAddress::Family::ipv4) return a;
    return addresses.front();
}

// Same family, port and address; for IPv6 also the same flow information and scope.
bool sameAddress(const SocketAddress& server, const SocketAddress& from) {
    if (server.family != from.family || server.port != from.port) return false;
    if (server.family == SocketAddress::Family::ipv4) return std::memcmp(server.ip.data(), from.ip.data(), 4) == 0;
    return server.ip == from.ip && server.flowInfo == from.flowInfo && server.scopeId == from.scopeId;
}

// Sends the whole datagram, repeating an interrupted send; error number otherwise.
std::expected<void, int> sendTo(UdpSocket& socket, std::span<const std::uint8_t> datagram, const SocketAddress& to) {
    for (;;) {
        IoOutcome o = socket.sendTo(datagram, to);
        if (o.status == IoOutcome::Status::interrupted) continue;
        if (!o.done()) return std::unexpected(o.status == IoOutcome::Status::failed ? o.error : EAGAIN);
        if (o.length != datagram.size()) return std::unexpected(EIO);
        return {};
    }
}

// Plain datagram of the handshake: valid header, version 2, at least 50 bytes.
bool plainPacket(std::span<const std::uint8_t> d, MessageType want) {
    if (d.size() < kHeaderSize || d[0] != kProtocolVersion || d.size() < 50) return false;
    return d[1] == static_cast<std::uint8_t>(want);
}

}  // namespace

std::string_view reasonWord(DisconnectReason reason) {
    switch (reason) {
        case DisconnectReason::user: return "user";
        case DisconnectReason::kicked: return "kicked";
        case DisconnectReason::server: return "server";
        case DisconnectReason::timeout: return "timeout";
    }
    return "user";
}

std::expected<std::unique_ptr<Session>, ClientError> Session::connect(const std::string& server,
                                                                      const std::string& user,
                                                                      const std::string& password,
                                                                      const std::string& node, TunnelMode mode,
                                                                      const std::optional<Key32>& serverAuthKey,
                                                                      const ConnectOptions& options) {
    Clock& clock = options.clock ? *options.clock : Clock::system();
    SessionEvents& events = options.events ? *options.events : SessionEvents::eventLog();
    Network& network = options.network ? *options.network : Network::system();

    auto address = resolve(network, server);
    if (!address) return std::unexpected(address.error());
    const SocketAddress& to = *address;

    // Closed with this object on every failed way out.
    auto opened = network.openUdp(to.family);
    if (!opened) return std::unexpected(err::socket(opened.error()));
    std::unique_ptr<UdpSocket> sock = std::move(*opened);
    sock->setBufferSizes(16 * 1024 * 1024);
    if (auto r = sock->setReceiveTimeout(options.receiveTimeout); !r) return std::unexpected(err::io(r.error()));

    EphemeralKeyPair pair;
    if (options.ephemeralSecret)
        EphemeralKeyPair::fromSecret(*options.ephemeralSecret, pair);
    else
        EphemeralKeyPair::generate(pair);
    const Clock::time_point start = clock.now();
    auto withinDeadline = [&] { return clock.now() - start <= options.deadline; };

    std::array<std::uint8_t, kMaxDatagram> buffer{};
    std::array<std::uint8_t, 82> init{};
    PacketHeader(MessageType::HandshakeInit, 0, 0).encode(std::span<std::uint8_t, kHeaderSize>(init.data(), 18));
    std::memcpy(init.data() + 18, pair.publicKey.data(), 32);
    SocketAddress from;

    // Cookie phase: any source may answer.
    Key32 cookie{};
    bool haveCookie = false;
    for (int exchange = 0; exchange < 5 && !haveCookie && withinDeadline(); ++exchange) {
        if (auto r = sendTo(*sock, std::span(init.data(), 50), to); !r) return std::unexpected(err::io(r.error()));
        IoOutcome got = sock->receiveFrom(buffer, from);
        if (got.status == IoOutcome::Status::failed) return std::unexpected(err::io(got.error));
        if (!got.done()) continue;
        std::span<const std::uint8_t> d(buffer.data(), got.length);
        if (!plainPacket(d, MessageType::Cookie)) continue;
        std::memcpy(cookie.data(), d.data() + 18, 32);
        haveCookie = true;
    }
    if (!haveCookie) return std::unexpected(err::noCookie());
    events.handshake("cookie");

    // Key phase: only the server's own address counts.
    std::memcpy(init.data() + 50, cookie.data(), 32);
    Key32 serverPublic{};
    bool haveHello = false;
    std::size_t helloLength = 0;
    for (int exchange = 0; exchange < 5 && !haveHello && withinDeadline(); ++exchange) {
        if (auto r = sendTo(*sock, init, to); !r) return std::unexpected(err::io(r.error()));
        IoOutcome got = sock->receiveFrom(buffer, from);
        if (got.status == IoOutcome::Status::failed) return std::unexpected(err::io(got.error));
        if (!got.done() || !sameAddress(to, from)) continue;
        std::span<const std::uint8_t> d(buffer.data(), got.length);
        if (!plainPacket(d, MessageType::ServerHello)) continue;
        std::memcpy(serverPublic.data(), d.data() + 18, 32);
        helloLength = got.length;
        haveHello = true;
    }
    if (!haveHello) return std::unexpected(err::noServerKey());
    if (serverAuthKey) {
        if (helloLength < 82) return std::unexpected(err::serverAuthFailed());
        Key32 expected = Handshake::serverProof(*serverAuthKey, pair.publicKey, cookie, serverPublic);
        bool ok = Handshake::proofMatches(expected, std::span<const std::uint8_t, 32>(buffer.data() + 50, 32));
        if (!ok) return std::unexpected(err::serverAuthFailed());
    }
    events.handshake("server_key");

    auto keys = Handshake::deriveKeys(pair.secret, serverPublic, pair.publicKey);
    if (!keys) return std::unexpected(keys.error());
    auto body = AuthRequest::encode(user, password, node, mode);
    if (!body) return std::unexpected(body.error());
    // The body carries the password: wiped on every way out from here on.
    struct BodyWipe {
        std::vector<std::uint8_t>& bytes;
        ~BodyWipe() { wipe(bytes.data(), bytes.size()); }
    } bodyWipe{*body};

    std::array<std::uint8_t, kMaxDatagram> auth{};
    const std::size_t authLength = body->size() + 50;
    std::uint64_t triesSent = 0;
    for (std::uint64_t attempt = 0; attempt < 3 && withinDeadline(); ++attempt) {
        PacketHeader(MessageType::Auth, 0, attempt).encode(std::span<std::uint8_t, kHeaderSize>(auth.data(), 18));
        std::memcpy(auth.data() + 18, pair.publicKey.data(), 16);
        std::memcpy(auth.data() + 34, body->data(), body->size());
        if (!SessionCipher::sealInPlace(keys->clientToServer, attempt, std::span(auth.data() + 34, body->size()),
                                        std::span<std::uint8_t, 16>(auth.data() + 34 + body->size(), 16),
                                        std::span<const std::uint8_t>(auth.data(), 18)))
            return std::unexpected(err::encrypt());
        if (auto r = sendTo(*sock, std::span(auth.data(), authLength), to); !r)
            return std::unexpected(err::io(r.error()));
        ++triesSent;
        events.handshake("auth_sent");
        if (auto r = sock->setReceiveTimeout(options.authReceiveTimeout); !r)
            return std::unexpected(err::io(r.error()));

        for (int reads = 0; reads < 10; ++reads) {
            IoOutcome got = sock->receiveFrom(buffer, from);
            if (got.status == IoOutcome::Status::timedOut) break;
            if (got.status == IoOutcome::Status::failed) return std::unexpected(err::io(got.error));
            if (got.status == IoOutcome::Status::interrupted || !sameAddress(to, from)) continue;
            std::span<const std::uint8_t> d(buffer.data(), got.length);
            auto h = PacketHeader::decode(d);
            if (!h || h->version != kProtocolVersion || !(h->counter & kServerCounterBit) || d.size() < kSealOverhead)
                continue;
            if (h->type != static_cast<std::uint8_t>(MessageType::AuthOk) &&
                h->type != static_cast<std::uint8_t>(MessageType::AuthFail))
                continue;  // cheaper than opening; the outcome is the same
            std::array<std::uint8_t, kMaxDatagram> plain{};
            struct PlainWipe {
                std::array<std::uint8_t, kMaxDatagram>& bytes;
                ~PlainWipe() { wipe(bytes.data(), bytes.size()); }
            } plainWipe{plain};
            std::span<std::uint8_t> out(plain.data(), d.size() - kSealOverhead);
            if (!SessionCipher::openInto(keys->serverToClient, h->counter, d.subspan(kHeaderSize), d.first(18), out))
                continue;

            if (h->type == static_cast<std::uint8_t>(MessageType::AuthFail)) {
                auto fail = AuthFail::decode(out);
                if (!fail) return std::unexpected(fail.error());
                return std::unexpected(err::authFailed(fail->code, fail->reason));
            }
            auto ok = AuthOk::decode(out);
            if (!ok) return std::unexpected(ok.error());
            if (ok->serverMode() != mode) return std::unexpected(err::modeMismatch(ok->serverMode(), mode));
            if (auto r = sock->connect(to); !r) return std::unexpected(err::socket(r.error()));

            std::unique_ptr<Session> s(new Session());
            s->socket_ = std::move(sock);
            s->settings_ = *ok;
            s->mac_ = sessionMac(ok->sessionId);
            s->keys_ = *keys;
            s->sendCounter_ = triesSent;
            s->replay_.seed(h->counter);
            s->mode_ = mode;
            s->clock_ = &clock;
            s->events_ = &events;
            s->lastReceive_ = clock.now();
            return s;
        }
    }
    return std::unexpected(err::noAuthResponse());
}

std::unique_ptr<Session> Session::fromParts(Parts parts) {
    std::unique_ptr<Session> s(new Session());
    if (parts.socket >= 0) s->socket_ = (parts.network ? *parts.network : Network::system()).adopt(parts.socket);
    s->settings_ = parts.settings;
    s->mac_ = sessionMac(parts.settings.sessionId);
    s->keys_ = parts.keys;
    s->mode_ = parts.mode;
    s->sendCounter_ = parts.sendCounter;
    s->replay_.seed(parts.serverCounter);
    s->clock_ = parts.clock ? parts.clock : &Clock::system();
    s->events_ = parts.events ? parts.events : &SessionEvents::eventLog();
    s->lastReceive_ = s->clock_->now();
    return s;
}

Session::~Session() {
    socket_.reset();
    keys_.wipeAll();
    wipe(receiveBuffer_.data(), receiveBuffer_.size());
}

void Session::sendDisconnect() { (void)sendMessage(MessageType::Disconnect, {}); }

}  // namespace ostrel
