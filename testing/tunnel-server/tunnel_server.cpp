#include "tunnel_server.h"
#include "outbox.h"
#include "platform/linux/udp_burst.h"
#include "segment.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sodium.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

namespace ostrel::test_server {

namespace {

using Endpoint = std::pair<std::uint32_t, std::uint16_t>;  // address and port, network order

Endpoint endpointOf(const sockaddr_in& addr) { return {addr.sin_addr.s_addr, addr.sin_port}; }

sockaddr_in sockaddrOf(const Endpoint& endpoint) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = endpoint.first;
    addr.sin_port = endpoint.second;
    return addr;
}

constexpr std::uint8_t kCgnatMagic[7] = {'O', 'S', 'R', 'C', 'G', 'N', '1'};

bool isCgnatRequest(std::span<const std::uint8_t> frame) {
    return frame.size() >= 36 && frame[12] == 0x88 && frame[13] == 0xB6 &&
           std::memcmp(frame.data() + 14, kCgnatMagic, 7) == 0 && frame[21] == 0 && frame[22] == 1;
}

// The last 256 client counters, so a replayed datagram is never relayed twice.
struct Window {
    std::uint64_t highest = 0;
    std::array<std::uint64_t, 4> bits{};
    bool seeded = false;

    bool bit(std::uint64_t c) const { return (bits[(c / 64) % 4] >> (c % 64)) & 1; }
    void set(std::uint64_t c) { bits[(c / 64) % 4] |= 1ULL << (c % 64); }
    void clear(std::uint64_t c) { bits[(c / 64) % 4] &= ~(1ULL << (c % 64)); }

    bool accept(std::uint64_t c) {
        if (!seeded || c > highest) {
            if (!seeded || c - highest > 255) {
                bits = {};
            } else {
                for (std::uint64_t x = highest + 1; x <= c; ++x) clear(x);
            }
            seeded = true;
            highest = c;
            set(c);
            return true;
        }
        if (highest - c > 255 || bit(c)) return false;
        set(c);
        return true;
    }
};

using Clock = std::chrono::steady_clock;

// Datagrams longer than this are dropped, as a read into a buffer of this size cut them.
constexpr std::size_t kMaxReceived = 2048;
// Entries per BATCH, as clients make them.
constexpr std::size_t kMaxBatchEntries = 64;

struct Pending {
    Clock::time_point created = Clock::now();
    unsigned authsSeen = 0;
    Key32 clientPublic{};
    SessionKeys keys;
    bool keysValid = false;
    std::uint64_t sessionId = 0;          // set once AUTH succeeded
    std::vector<std::uint8_t> lastReply;  // resent when the client retries AUTH
};

struct Client {
    std::uint64_t sessionId = 0;
    std::string user;
    std::string node;
    Endpoint endpoint;
    SessionKeys keys;
    std::uint64_t sendCounter = 0;
    Window window;
    std::uint64_t authTries = 0;
    Member member;
    Clock::time_point lastSeen = Clock::now();
    // Small packets for this member wait here until the end of the receive burst.
    std::array<std::uint8_t, ostrel::kMaxPayload> batch{};
    std::size_t batchUsed = 0;
    std::size_t batchEntries = 0;
};

// One datagram of a receive burst; data-phase datagrams are opened in place.
struct Received {
    Endpoint from;
    std::span<std::uint8_t> datagram;
};

}  // namespace

struct TunnelServer::State {
    ServerOptions options;
    Key32 cookieSecret{};
    std::map<Endpoint, Pending> pending;
    std::map<std::uint64_t, Client> clients;
    std::map<std::string, Segment> segments;
    std::vector<DisconnectSeen> disconnects;
    ServerStats stats;
    std::vector<std::uint8_t> plain;  // handshake plaintexts
    std::vector<std::uint64_t> targets;
    std::vector<std::uint64_t> batching;  // members with packets waiting in their batch
    std::unique_ptr<Outbox> outbox = std::make_unique<Outbox>();
    std::optional<UdpBurst> udp;
    RelayCipher cipher;  // opens what members send

    ~State() {
        ostrel::wipe(cookieSecret.data(), cookieSecret.size());
    }

    void attach(int fd) {
        udp.emplace(fd);
        targets.reserve(64);
        batching.reserve(64);
    }
    void detach() { udp.reset(); }

    // Room for one more datagram: a full outbox goes out first.
    Outbox& room() {
        if (outbox->full()) outbox->send(*udp);
        return *outbox;
    }

    // Sends every member's waiting batch and then the outbox; the end of each receive burst.
    void flush() {
        for (auto id : batching) {
            auto it = clients.find(id);
            if (it != clients.end()) flushBatch(it->second);
        }
        batching.clear();
        if (udp) outbox->send(*udp);
    }

    bool openInPlace(const Client& client, const PacketHeader& header, std::span<std::uint8_t> datagram) {
        if ((header.counter & ostrel::kServerCounterBit) != 0 || datagram.size() < ostrel::kSealOverhead) return false;
        return cipher.open(client.keys.clientToServer, header.counter, datagram.subspan(ostrel::kHeaderSize),
                           datagram.first(ostrel::kHeaderSize), datagram.subspan(ostrel::kHeaderSize));
    }

    void sendTo(const Endpoint& endpoint, std::span<const std::uint8_t> datagram) {
        if (!udp || datagram.size() > ostrel::kMaxDatagram) return;
        room().addPlain(sockaddrOf(endpoint), datagram);
    }

    // Queues the datagram with the member's next counter; it is sealed when it goes out.
    void sendSealed(Client& client, MessageType type, std::span<const std::uint8_t> payload) {
        if (!udp || payload.size() > ostrel::kMaxPayload) return;
        room().addSealed(sockaddrOf(client.endpoint), client.keys.serverToClient, static_cast<std::uint8_t>(type), client.sessionId,
                         ostrel::kServerCounterBit | client.sendCounter++, payload);
    }

    void flushBatch(Client& client) {
        if (client.batchEntries == 1)
            sendSealed(client, MessageType::Data, std::span(client.batch.data() + 2, client.batchUsed - 2));
        else if (client.batchEntries > 1)
            sendSealed(client, MessageType::Batch, std::span(client.batch.data(), client.batchUsed));
        client.batchUsed = client.batchEntries = 0;
    }

    // Small packets for one member share BATCH datagrams until the end of the burst, as the
    // client batches its own. What a client would treat differently inside a batch than
    // alone (CGNAT frames, packets under an Ethernet header) goes alone as DATA.
    void forward(Client& to, std::span<const std::uint8_t> packet) {
        const std::size_t n = packet.size();
        const bool alone = n < 14 || n + 2 > ostrel::kMaxPayload || (packet[12] == 0x88 && packet[13] == 0xB6);
        if (alone) {
            flushBatch(to);
            sendSealed(to, MessageType::Data, packet);
            return;
        }
        if (to.batchEntries > 0 && (to.batchEntries >= kMaxBatchEntries || to.batchUsed + 2 + n > ostrel::kMaxPayload))
            flushBatch(to);
        if (to.batchEntries == 0 && std::find(batching.begin(), batching.end(), to.sessionId) == batching.end())
            batching.push_back(to.sessionId);
        to.batch[to.batchUsed] = static_cast<std::uint8_t>(n);
        to.batch[to.batchUsed + 1] = static_cast<std::uint8_t>(n >> 8);
        std::memcpy(to.batch.data() + to.batchUsed + 2, packet.data(), n);
        to.batchUsed += 2 + n;
        ++to.batchEntries;
    }

    Key32 cookieFor(const Endpoint& endpoint) const {
        std::uint8_t data[6];
        std::memcpy(data, &endpoint.first, 4);
        std::memcpy(data + 4, &endpoint.second, 2);
        return wire::keyedHash(cookieSecret, data);
    }

    void removeClient(std::uint64_t sessionId) {
        auto it = clients.find(sessionId);
        if (it == clients.end()) return;
        auto seg = segments.find(it->second.node);
        if (seg != segments.end()) seg->second.leave(sessionId);
        clients.erase(it);
    }

    void handle(Received& received) {
        const Endpoint& from = received.from;
        std::span<const std::uint8_t> datagram = received.datagram;
        ++stats.datagrams;
        const Misbehaviour& mis = options.misbehave;
        if (mis.silent) return;
        auto header = PacketHeader::decode(datagram);
        if (!header || header->version != kProtocolVersion) {
            ++stats.dropped;
            return;
        }
        switch (static_cast<MessageType>(header->type)) {
        case MessageType::HandshakeInit:
            handshakeInit(from, datagram);
            break;
        case MessageType::Auth:
            auth(from, *header, datagram);
            break;
        default:
            established(received, *header);
            break;
        }
    }

    void handshakeInit(const Endpoint& from, std::span<const std::uint8_t> datagram) {
        ++stats.handshakeInits;
        if (datagram.size() < 50) {
            ++stats.dropped;
            return;
        }
        Key32 clientPublic;
        std::memcpy(clientPublic.data(), datagram.data() + 18, 32);
        Key32 cookie = cookieFor(from);
        if (datagram.size() < 82 || std::memcmp(datagram.data() + 50, cookie.data(), 32) != 0) {
            auto reply = wire::plainHeader(MessageType::Cookie);
            reply.insert(reply.end(), cookie.begin(), cookie.end());
            sendTo(from, reply);
            return;
        }
        if (options.misbehave.noServerHello) return;
        Pending p;
        p.clientPublic = clientPublic;
        // The secret is wiped when the pair goes out of scope.
        EphemeralKeyPair server;
        EphemeralKeyPair::generate(server);
        if (options.misbehave.lowOrderKey) server.publicKey = {};
        if (auto keys = Handshake::deriveServerKeys(server.secret, clientPublic, server.publicKey)) {
            p.keys = *keys;
            p.keysValid = true;
        }
        auto hello = wire::plainHeader(MessageType::ServerHello);
        hello.insert(hello.end(), server.publicKey.begin(), server.publicKey.end());
        if (options.authKey || options.misbehave.wrongProof) {
            Key32 proof = options.authKey
                                  ? Handshake::serverProof(*options.authKey, clientPublic, cookie, server.publicKey)
                                  : Key32{};
            if (options.misbehave.wrongProof) proof[0] ^= 0x01;
            hello.insert(hello.end(), proof.begin(), proof.end());
        }
        pending[from] = std::move(p);
        sendTo(from, hello);
    }

    void auth(const Endpoint& from, const PacketHeader& header, std::span<const std::uint8_t> datagram) {
        ++stats.authRequests;
        auto it = pending.find(from);
        if (it == pending.end() || !it->second.keysValid || datagram.size() < 18 + 16 + 16 ||
            std::memcmp(datagram.data() + 18, it->second.clientPublic.data(), 16) != 0) {
            ++stats.dropped;
            return;
        }
        Pending& p = it->second;
        if (!wire::open(p.keys.clientToServer, datagram, 34, plain)) {
            ++stats.dropped;
            return;
        }
        if (options.misbehave.ignoreAuth || p.authsSeen++ < options.misbehave.unansweredAuths) return;
        if (p.sessionId != 0 && clients.contains(p.sessionId)) {
            // A retried AUTH after our answer was lost: count it and answer alike.
            clients[p.sessionId].authTries = header.counter + 1;
            sendTo(from, p.lastReply);
            return;
        }
        auto request = AuthRequest::decode(plain);
        std::uint64_t counter = ostrel::kServerCounterBit;
        auto fail = [&](std::uint8_t code, const std::string& reason) {
            auto body = AuthFail::encode(code, reason);
            p.lastReply = wire::seal(p.keys.serverToClient, MessageType::AuthFail, 0, counter, body);
            sendTo(from, p.lastReply);
        };
        if (options.misbehave.authFail) {
            fail(options.misbehave.authFail->first, options.misbehave.authFail->second);
            return;
        }
        if (!request) {
            fail(6, "malformed AUTH request");
            return;
        }
        const Account* account = options.accounts.find(request->user);
        if (account == nullptr || account->password != request->password) {
            fail(1, "");
            return;
        }
        if (!options.accounts.hasNode(request->node) || account->node != request->node) {
            fail(2, "");
            return;
        }
        TunnelMode nodeMode = options.accounts.nodeMode(request->node);
        if (nodeMode != request->mode && !options.misbehave.otherMode) {
            fail(7, "");
            return;
        }
        // A user who reconnects replaces the session the server still holds.
        for (auto& [id, c] : clients) {
            if (c.user == request->user) {
                removeClient(id);
                break;
            }
        }
        auto& segment = segments.try_emplace(request->node, nodeMode).first->second;
        if (segment.size() >= options.accounts.nodeCapacity(request->node)) {
            fail(3, "");
            return;
        }
        std::uint8_t host = 2;
        for (; host < 255; ++host) {
            bool used = false;
            for (const auto& m : segment.members()) used = used || m.ip4[3] == host;
            if (!used) break;
        }
        if (host == 255) {
            fail(3, "");
            return;
        }
        auto index = static_cast<std::uint8_t>(options.accounts.nodeIndex(request->node));
        Client client;
        do {
            randombytes_buf(&client.sessionId, sizeof client.sessionId);
        } while (client.sessionId == 0 || clients.contains(client.sessionId));
        client.user = request->user;
        client.node = request->node;
        client.endpoint = from;
        client.keys = p.keys;
        client.sendCounter = 1;  // counter 0 went into AUTH_OK
        client.authTries = header.counter + 1;

        AuthOk grant;
        grant.sessionId = client.sessionId;
        grant.address = {10, 77, index, host};
        grant.netmask = {255, 255, 255, 0};
        grant.gateway = {10, 77, index, 1};
        grant.mtu = options.mtu;
        bool l3 = (nodeMode == TunnelMode::l3) != options.misbehave.otherMode;
        grant.mode = l3 ? 1 : 0;
        grant.addressFlags = (options.grantIpv4 ? 1 : 0) | (options.grantIpv6 ? 2 : 0);
        grant.address6 = {0xfd, 0x77, 0, 0, 0, 0, 0, index, 0, 0, 0, 0, 0, 0, 0, host};
        grant.prefix6 = 64;
        grant.gateway6 = {0xfd, 0x77, 0, 0, 0, 0, 0, index, 0, 0, 0, 0, 0, 0, 0, 1};
        auto encoded = grant.encode();
        std::vector<std::uint8_t> body(encoded.begin(), encoded.end());
        if (options.misbehave.shortAuthOk) body.resize(76);

        client.member.sessionId = client.sessionId;
        client.member.mac = sessionMac(client.sessionId);
        client.member.ip4 = grant.address;
        client.member.ip6 = grant.address6;
        client.member.hasIp6 = options.grantIpv6;
        segment.join(client.member);

        p.sessionId = client.sessionId;
        p.lastReply = wire::seal(p.keys.serverToClient, MessageType::AuthOk, client.sessionId, counter, body);
        sendTo(from, p.lastReply);
        if (options.onSessionEvent)
            options.onSessionEvent("session " + client.user + " " + std::to_string(grant.address[0]) + "." +
                                   std::to_string(grant.address[1]) + "." + std::to_string(grant.address[2]) + "." +
                                   std::to_string(grant.address[3]));
        clients[client.sessionId] = std::move(client);
    }

    void established(Received& received, const PacketHeader& header) {
        auto it = clients.find(header.sessionId);
        if (it == clients.end() || !openInPlace(it->second, header, received.datagram) ||
            !it->second.window.accept(header.counter)) {
            ++stats.dropped;
            return;
        }
        const Endpoint& from = received.from;
        const std::span<const std::uint8_t> payload =
            received.datagram.subspan(ostrel::kHeaderSize, received.datagram.size() - ostrel::kSealOverhead);
        Client& client = it->second;
        client.endpoint = from;  // follow the client across a changed source port
        client.lastSeen = Clock::now();
        switch (static_cast<MessageType>(header.type)) {
        case MessageType::Keepalive:
            ++stats.keepalives;
            sendSealed(client, MessageType::Keepalive, {});
            break;
        case MessageType::Data:
            ++stats.dataPackets;
            stats.dataBytes += payload.size();
            if (options.accounts.nodeMode(client.node) == TunnelMode::l2 && isCgnatRequest(payload)) {
                cgnatReply(client);
            } else {
                relay(client, payload);
            }
            break;
        case MessageType::Batch: {
            const std::span<const std::uint8_t> batch = payload;
            std::size_t at = 0;
            while (batch.size() - at >= 2) {
                std::size_t length = batch[at] | (batch[at + 1] << 8);
                if (length == 0 || at + 2 + length > batch.size()) break;
                ++stats.dataPackets;
                stats.dataBytes += length;
                relay(client, batch.subspan(at + 2, length));
                at += 2 + length;
            }
            break;
        }
        case MessageType::Disconnect:
            disconnects.push_back({client.sessionId, client.user, header.counter, client.authTries});
            if (options.onSessionEvent) options.onSessionEvent("disconnect " + client.user);
            removeClient(client.sessionId);
            break;
        default:
            break;
        }
    }

    void forgetIdle() {
        auto limit = Clock::now() - options.idleLimit;
        std::erase_if(pending, [&](const auto& entry) { return entry.second.created < limit; });
        std::vector<std::uint64_t> idle;
        for (const auto& [id, c] : clients)
            if (c.lastSeen < limit) idle.push_back(id);
        for (auto id : idle) removeClient(id);
    }

    void relay(const Client& client, std::span<const std::uint8_t> packet) {
        auto seg = segments.find(client.node);
        if (seg == segments.end()) return;
        seg->second.route(client.sessionId, packet, targets);
        for (auto id : targets) {
            auto target = clients.find(id);
            if (target == clients.end()) continue;
            ++stats.relayed;
            forward(target->second, packet);
        }
    }

    void cgnatReply(Client& client) {
        std::array<std::uint8_t, 36> frame{};
        std::memcpy(frame.data(), client.member.mac.data(), 6);
        frame[6] = 0x02;
        frame[12] = 0x88;
        frame[13] = 0xB6;
        std::memcpy(frame.data() + 14, kCgnatMagic, 7);
        frame[22] = 2;
        frame[23] = options.misbehave.cgnatUnavailable ? 1 : 0;
        std::memcpy(frame.data() + 24, client.member.ip4.data(), 4);
        if (!options.misbehave.cgnatUnavailable) {
            std::uint8_t cgnat[4] = {100, 64, client.member.ip4[2], client.member.ip4[3]};
            std::memcpy(frame.data() + 28, cgnat, 4);
            frame[33] = 1;  // instance 1
            auto node = options.accounts.nodeIndex(client.node) + 1;
            frame[34] = static_cast<std::uint8_t>(node >> 8);
            frame[35] = static_cast<std::uint8_t>(node);
        }
        sendSealed(client, MessageType::Data, frame);
    }
};

TunnelServer::TunnelServer(ServerOptions options) : state_(std::make_unique<State>()) {
    state_->options = std::move(options);
}

TunnelServer::~TunnelServer() { stop(); }

std::expected<void, std::string> TunnelServer::start() {
    if (sodium_init() < 0) return std::unexpected("libsodium cannot start");
    if (socket_ >= 0) return {};
    randombytes_buf(state_->cookieSecret.data(), state_->cookieSecret.size());
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::unexpected(std::string("socket: ") + std::strerror(errno));
    int size = 16 << 20;
    (void)::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    (void)::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (::inet_pton(AF_INET, state_->options.bind.c_str(), &addr.sin_addr) != 1) {
        ::close(fd);
        return std::unexpected("not an IPv4 address: " + state_->options.bind);
    }
    addr.sin_port = htons(state_->options.port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::string error = std::string("bind: ") + std::strerror(errno);
        ::close(fd);
        return std::unexpected(error);
    }
    socklen_t length = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    port_ = ntohs(addr.sin_port);
    bind_ = state_->options.bind;
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) {
        ::close(fd);
        return std::unexpected(std::string("eventfd: ") + std::strerror(errno));
    }
    socket_ = fd;
    {
        std::lock_guard lock(mutex_);
        state_->attach(fd);
    }
    thread_ = std::thread([this] { serve(); });
    return {};
}

void TunnelServer::stop() {
    if (thread_.joinable()) {
        std::uint64_t one = 1;
        (void)::write(wake_, &one, sizeof one);
        thread_.join();
    }
    {
        std::lock_guard lock(mutex_);
        state_->detach();  // a kick after this sends nothing
    }
    if (socket_ >= 0) ::close(socket_);
    if (wake_ >= 0) ::close(wake_);
    socket_ = wake_ = -1;
}

void TunnelServer::serve() {
    UdpBurstReceiver receiver(socket_, 16);
    std::vector<Received> burst;
    burst.reserve(1024);
    for (;;) {
        pollfd fds[2] = {{socket_, POLLIN, 0}, {wake_, POLLIN, 0}};
        auto sweep = std::clamp<long>(state_->options.idleLimit.count(), 1, 1000);
        if (::poll(fds, 2, static_cast<int>(sweep)) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        {
            std::lock_guard lock(mutex_);
            state_->forgetIdle();
        }
        for (;;) {
            // One burst: everything one recvmmsg brought, GRO runs cut into their datagrams.
            burst.clear();
            IoOutcome got;
            do {
                std::span<std::uint8_t> datagram;
                sockaddr_in from{};
                got = receiver.next(datagram, &from);
                if (got.done()) burst.push_back({endpointOf(from), datagram});
            } while (got.done() && receiver.holding());
            if (burst.empty()) {
                if (got.status == IoOutcome::Status::interrupted) continue;
                break;
            }
            {
                std::lock_guard lock(mutex_);
                std::erase_if(burst, [&](const Received& r) {
                    if (r.datagram.size() <= kMaxReceived) return false;
                    ++state_->stats.datagrams;
                    ++state_->stats.dropped;
                    ++generation_;
                    return true;
                });
                for (Received& r : burst) {
                    state_->handle(r);
                    ++generation_;
                }
                state_->flush();
            }
            changed_.notify_all();
            if (receiver.emptied()) break;
        }
    }
}

void TunnelServer::setMisbehaviour(const Misbehaviour& misbehave) {
    std::lock_guard lock(mutex_);
    state_->options.misbehave = misbehave;
}

bool TunnelServer::kick(const std::string& user) {
    std::lock_guard lock(mutex_);
    for (auto& [id, client] : state_->clients) {
        if (client.user == user) {
            state_->sendSealed(client, MessageType::Kick, {});
            state_->removeClient(id);
            state_->flush();
            ++generation_;
            changed_.notify_all();
            return true;
        }
    }
    return false;
}

std::vector<DisconnectSeen> TunnelServer::disconnects() const {
    std::lock_guard lock(mutex_);
    return state_->disconnects;
}

std::vector<SessionInfo> TunnelServer::sessions() const {
    std::lock_guard lock(mutex_);
    std::vector<SessionInfo> out;
    for (const auto& [id, c] : state_->clients) out.push_back({id, c.user, c.node, c.member.ip4, c.authTries});
    return out;
}

ServerStats TunnelServer::stats() const {
    std::lock_guard lock(mutex_);
    return state_->stats;
}

bool TunnelServer::waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) const {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::uint64_t seen;
        {
            std::lock_guard lock(mutex_);
            seen = generation_;
        }
        if (condition()) return true;
        std::unique_lock lock(mutex_);
        // The generation moves with every datagram, so no change is missed between check and wait.
        if (!changed_.wait_until(lock, deadline, [&] { return generation_ != seen; })) {
            lock.unlock();
            return condition();
        }
    }
}

}  // namespace ostrel::test_server
