#include "session/session.h"

#include "session/errors.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace ostrel {

namespace {

namespace err = session_errors;

// Closes the descriptor on every failed way out of connect.
class SocketGuard {
public:
    explicit SocketGuard(int fd) : fd_(fd) {}
    ~SocketGuard() {
        if (fd_ >= 0) ::close(fd_);
    }
    SocketGuard(const SocketGuard&) = delete;
    SocketGuard& operator=(const SocketGuard&) = delete;
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family() const { return storage.ss_family; }
    const sockaddr* sa() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

// Host and port split at the last colon, as "host:port" or "[v6]:port".
std::expected<Address, ClientError> resolve(const std::string& server) {
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

    addrinfo hints{};
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || list == nullptr)
        return std::unexpected(err::resolve());
    const addrinfo* chosen = nullptr;
    for (const addrinfo* a = list; a; a = a->ai_next)
        if (a->ai_family == AF_INET) {
            chosen = a;
            break;
        }
    if (!chosen)
        for (const addrinfo* a = list; a; a = a->ai_next)
            if (a->ai_family == AF_INET6) {
                chosen = a;
                break;
            }
    Address out;
    if (chosen && chosen->ai_addrlen <= sizeof out.storage) {
        std::memcpy(&out.storage, chosen->ai_addr, chosen->ai_addrlen);
        out.length = chosen->ai_addrlen;
    }
    ::freeaddrinfo(list);
    if (out.length == 0) return std::unexpected(err::resolve());
    if (out.family() == AF_INET)
        reinterpret_cast<sockaddr_in*>(&out.storage)->sin_port = htons(static_cast<std::uint16_t>(port));
    else
        reinterpret_cast<sockaddr_in6*>(&out.storage)->sin6_port = htons(static_cast<std::uint16_t>(port));
    return out;
}

bool sameAddress(const Address& server, const sockaddr_storage& from) {
    if (from.ss_family != server.family()) return false;
    if (from.ss_family == AF_INET) {
        auto& a = reinterpret_cast<const sockaddr_in&>(server.storage);
        auto& b = reinterpret_cast<const sockaddr_in&>(from);
        return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
    }
    auto& a = reinterpret_cast<const sockaddr_in6&>(server.storage);
    auto& b = reinterpret_cast<const sockaddr_in6&>(from);
    return a.sin6_port == b.sin6_port && a.sin6_flowinfo == b.sin6_flowinfo && a.sin6_scope_id == b.sin6_scope_id &&
           std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0;
}

bool setReceiveTimeout(int fd, std::chrono::milliseconds timeout) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

enum class ReadOutcome { datagram, timedOut, interrupted, failed };

struct Read {
    ReadOutcome outcome;
    std::size_t length = 0;
    sockaddr_storage from{};
    int error = 0;
};

Read readOne(int fd, std::span<std::uint8_t> buffer) {
    Read r{ReadOutcome::datagram};
    socklen_t fromLen = sizeof r.from;
    ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&r.from), &fromLen);
    if (n >= 0) {
        r.length = static_cast<std::size_t>(n);
        return r;
    }
    r.error = errno;
    if (r.error == EAGAIN || r.error == EWOULDBLOCK)
        r.outcome = ReadOutcome::timedOut;
    else if (r.error == EINTR)
        r.outcome = ReadOutcome::interrupted;
    else
        r.outcome = ReadOutcome::failed;
    return r;
}

bool sendTo(int fd, std::span<const std::uint8_t> datagram, const Address& to, int& error) {
    for (;;) {
        ssize_t n = ::sendto(fd, datagram.data(), datagram.size(), 0, to.sa(), to.length);
        if (n >= 0) {
            if (static_cast<std::size_t>(n) == datagram.size()) return true;
            error = EIO;
            return false;
        }
        if (errno == EINTR) continue;
        error = errno;
        return false;
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

    auto address = resolve(server);
    if (!address) return std::unexpected(address.error());
    const Address& to = *address;

    SocketGuard sock(::socket(to.family(), SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
    if (sock.get() < 0) return std::unexpected(err::socket(errno));
    {
        Address any;
        any.storage.ss_family = static_cast<sa_family_t>(to.family());
        any.length = to.family() == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        if (::bind(sock.get(), any.sa(), any.length) != 0) return std::unexpected(err::socket(errno));
    }
    int bufferSize = 16 * 1024 * 1024;
    // Plain SO_RCVBUF/SO_SNDBUF are capped by the kernel's maximum; with the rights to
    // configure adapters the forced forms give the full 16 MiB. Failures are ignored.
    if (::setsockopt(sock.get(), SOL_SOCKET, SO_RCVBUFFORCE, &bufferSize, sizeof bufferSize) != 0)
        (void)::setsockopt(sock.get(), SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize);
    if (::setsockopt(sock.get(), SOL_SOCKET, SO_SNDBUFFORCE, &bufferSize, sizeof bufferSize) != 0)
        (void)::setsockopt(sock.get(), SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof bufferSize);
    if (!setReceiveTimeout(sock.get(), options.receiveTimeout)) return std::unexpected(err::io(errno));

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
    int error = 0;

    // Cookie phase: any source may answer.
    Key32 cookie{};
    bool haveCookie = false;
    for (int exchange = 0; exchange < 5 && !haveCookie && withinDeadline(); ++exchange) {
        if (!sendTo(sock.get(), std::span(init.data(), 50), to, error)) return std::unexpected(err::io(error));
        Read r = readOne(sock.get(), buffer);
        if (r.outcome == ReadOutcome::failed) return std::unexpected(err::io(r.error));
        if (r.outcome != ReadOutcome::datagram) continue;
        std::span<const std::uint8_t> d(buffer.data(), r.length);
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
        if (!sendTo(sock.get(), init, to, error)) return std::unexpected(err::io(error));
        Read r = readOne(sock.get(), buffer);
        if (r.outcome == ReadOutcome::failed) return std::unexpected(err::io(r.error));
        if (r.outcome != ReadOutcome::datagram) continue;
        if (!sameAddress(to, r.from)) continue;
        std::span<const std::uint8_t> d(buffer.data(), r.length);
        if (!plainPacket(d, MessageType::ServerHello)) continue;
        std::memcpy(serverPublic.data(), d.data() + 18, 32);
        helloLength = r.length;
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
    if (body->size() + 50 > kMaxDatagram) return std::unexpected(err::encrypt());

    std::array<std::uint8_t, kMaxDatagram> auth{};
    std::size_t authLength = body->size() + 50;
    std::uint64_t triesSent = 0;
    for (std::uint64_t attempt = 0; attempt < 3 && withinDeadline(); ++attempt) {
        PacketHeader header(MessageType::Auth, 0, attempt);
        header.encode(std::span<std::uint8_t, kHeaderSize>(auth.data(), 18));
        std::memcpy(auth.data() + 18, pair.publicKey.data(), 16);
        std::memcpy(auth.data() + 34, body->data(), body->size());
        std::span<std::uint8_t> sealed(auth.data() + 34, body->size());
        if (!SessionCipher::sealInPlace(keys->clientToServer, attempt, sealed,
                                        std::span<std::uint8_t, 16>(auth.data() + 34 + body->size(), 16),
                                        std::span<const std::uint8_t>(auth.data(), 18))) {
            wipe(body->data(), body->size());
            return std::unexpected(err::encrypt());
        }
        if (!sendTo(sock.get(), std::span(auth.data(), authLength), to, error)) {
            wipe(body->data(), body->size());
            return std::unexpected(err::io(error));
        }
        ++triesSent;
        events.handshake("auth_sent");
        if (!setReceiveTimeout(sock.get(), options.authReceiveTimeout)) {
            wipe(body->data(), body->size());
            return std::unexpected(err::io(errno));
        }

        for (int reads = 0; reads < 10; ++reads) {
            Read r = readOne(sock.get(), buffer);
            if (r.outcome == ReadOutcome::timedOut) break;
            if (r.outcome == ReadOutcome::failed) {
                wipe(body->data(), body->size());
                return std::unexpected(err::io(r.error));
            }
            if (r.outcome == ReadOutcome::interrupted) continue;
            if (!sameAddress(to, r.from)) continue;
            std::span<const std::uint8_t> d(buffer.data(), r.length);
            auto h = PacketHeader::decode(d);
            if (!h || h->version != kProtocolVersion || !(h->counter & kServerCounterBit) || d.size() < kSealOverhead)
                continue;
            if (h->type != static_cast<std::uint8_t>(MessageType::AuthOk) &&
                h->type != static_cast<std::uint8_t>(MessageType::AuthFail))
                continue;  // cheaper than opening; the outcome is the same
            std::array<std::uint8_t, kMaxDatagram> plain{};
            std::span<std::uint8_t> out(plain.data(), d.size() - kSealOverhead);
            if (!SessionCipher::openInto(keys->serverToClient, h->counter, d.subspan(kHeaderSize), d.first(18), out))
                continue;
            wipe(body->data(), body->size());

            if (h->type == static_cast<std::uint8_t>(MessageType::AuthFail)) {
                auto fail = AuthFail::decode(out);
                if (!fail) return std::unexpected(fail.error());
                return std::unexpected(err::authFailed(fail->code, fail->reason));
            }
            auto ok = AuthOk::decode(out);
            if (!ok) return std::unexpected(ok.error());
            if (ok->serverMode() != mode) return std::unexpected(err::modeMismatch(ok->serverMode(), mode));
            if (::connect(sock.get(), to.sa(), to.length) != 0) return std::unexpected(err::socket(errno));

            std::unique_ptr<Session> s(new Session());
            s->socket_ = sock.release();
            s->settings_ = *ok;
            s->mac_ = sessionMac(ok->sessionId);
            s->keys_ = *keys;
            s->sendCounter_ = triesSent;
            s->replay_.seed(h->counter);
            s->mode_ = mode;
            s->clock_ = &clock;
            s->events_ = &events;
            s->lastReceive_ = clock.now();
            wipe(plain.data(), plain.size());
            return s;
        }
    }
    wipe(body->data(), body->size());
    return std::unexpected(err::noAuthResponse());
}

std::unique_ptr<Session> Session::fromParts(Parts parts) {
    std::unique_ptr<Session> s(new Session());
    s->socket_ = parts.socket;
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
    if (socket_ >= 0) ::close(socket_);
    keys_.wipeAll();
    wipe(receiveBuffer_.data(), receiveBuffer_.size());
}

void Session::sendDisconnect() { (void)sendMessage(MessageType::Disconnect, {}); }

}  // namespace ostrel
