#include "support/session_fixtures.h"

#include "server_protocol.h"
#include "platform/linux/udp_burst.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ostrel::testing {

Bytes fromHex(const std::string& hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string toHex(std::span<const std::uint8_t> bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (auto b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

Key32 key32(const std::string& hex) {
    Bytes b = fromHex(hex);
    Key32 k{};
    if (b.size() != 32) throw std::runtime_error("not a 32-byte key: " + hex);
    std::memcpy(k.data(), b.data(), 32);
    return k;
}

Bytes sequence(std::size_t n, std::uint8_t first) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(first + i);
    return b;
}

const nlohmann::json& vectors() {
    static const nlohmann::json data = [] {
        std::ifstream in(std::string(CORVANA_SOURCE_DIR) + "/tunnel-client/tests/data/tunnel-vectors.json");
        if (!in) throw std::runtime_error("tunnel-vectors.json missing");
        return nlohmann::json::parse(in);
    }();
    return data;
}

std::expected<std::optional<std::size_t>, ClientError> FakeDevice::receive(std::span<std::uint8_t> buffer) {
    if (incoming.empty()) return std::optional<std::size_t>{};
    Bytes p = std::move(incoming.front());
    incoming.pop_front();
    std::size_t n = std::min(buffer.size(), p.size());
    std::memcpy(buffer.data(), p.data(), n);
    return std::optional<std::size_t>{n};
}

std::expected<void, ClientError> FakeDevice::send(std::span<const std::uint8_t> packet) {
    written.emplace_back(packet.begin(), packet.end());
    return {};
}

std::expected<void, ClientError> FakeDevice::wait(int socket, std::chrono::nanoseconds timeout) {
    ++waits;
    if (clock) clock->advance(timeout);
    if (onWait) onWait(*this);
    if (settle) {
        settle = false;
        pollfd p{socket, POLLIN, 0};
        ::poll(&p, 1, settleMs);
    }
    return {};
}

namespace {

int boundLoopbackSocket(std::uint16_t& port) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("bind");
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

}  // namespace

TestPeer::TestPeer() {
    fd_ = boundLoopbackSocket(port_);
    std::uint16_t otherPort = 0;
    other_ = boundLoopbackSocket(otherPort);
}

TestPeer::~TestPeer() {
    join();
    ::close(fd_);
    ::close(other_);
}

std::string TestPeer::address() const { return "127.0.0.1:" + std::to_string(port_); }

void TestPeer::serve(PeerScript script) {
    stop_ = false;
    thread_ = std::make_unique<std::thread>([this, script = std::move(script)] { run(script); });
}

void TestPeer::join() {
    stop_ = true;
    if (thread_ && thread_->joinable()) thread_->join();
    thread_.reset();
}

Bytes TestPeer::seal(MessageType type, std::span<const std::uint8_t> payload, std::uint64_t counter,
                     std::uint64_t session) const {
    return test_server::wire::seal(keys.serverToClient, type, session, counter, payload);
}

void TestPeer::run(PeerScript script) {
    timeval tv{0, 20000};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    EphemeralKeyPair server;
    if (script.serverSecret)
        EphemeralKeyPair::fromSecret(*script.serverSecret, server);
    else
        EphemeralKeyPair::generate(server);
    Key32 serverPublic = script.lowOrderKey ? Key32{} : server.publicKey;
    Key32 clientPublic{};
    Bytes buf(2048);
    while (!stop_ && !handshakeDone) {
        sockaddr_storage from{};
        socklen_t fromLen = sizeof from;
        ssize_t n = ::recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 0) continue;
        Bytes d(buf.begin(), buf.begin() + n);
        received.push_back(d);
        std::memcpy(&client_, &from, fromLen);
        clientLength_ = fromLen;
        if (script.silent || d.size() < kHeaderSize) continue;
        auto reply = [&](std::span<const std::uint8_t> bytes, bool fromOther = false) {
            ::sendto(fromOther ? other_ : fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&from),
                     fromLen);
        };
        auto type = static_cast<MessageType>(d[1]);
        if (type == MessageType::HandshakeInit && d.size() == 50) {
            if (script.strayBeforeCookie > 0) {
                --script.strayBeforeCookie;
                Bytes junk(20, 0x02);
                reply(junk);
                continue;
            }
            Bytes cookie = test_server::wire::plainHeader(MessageType::Cookie);
            cookie.insert(cookie.end(), script.cookie.begin(), script.cookie.end());
            reply(cookie, script.cookieFromOtherSocket);
        } else if (type == MessageType::HandshakeInit && d.size() == 82) {
            std::memcpy(clientPublic.data(), d.data() + 18, 32);
            Bytes hello = test_server::wire::plainHeader(MessageType::ServerHello);
            hello.insert(hello.end(), serverPublic.begin(), serverPublic.end());
            if (script.authKey && !script.helloWithoutProof) {
                Key32 proof = Handshake::serverProof(*script.authKey, clientPublic, script.cookie, serverPublic);
                if (script.wrongProof) proof[31] ^= 1;
                hello.insert(hello.end(), proof.begin(), proof.end());
            }
            bool fromOther = script.helloFromOtherSocket;
            script.helloFromOtherSocket = false;
            reply(hello, fromOther);
            if (!script.lowOrderKey) {
                auto k = Handshake::deriveServerKeys(server.secret, clientPublic, serverPublic);
                if (k) keys = *k;
            }
        } else if (type == MessageType::Auth && d.size() >= 50) {
            auto header = PacketHeader::decode(d);
            if (static_cast<int>(header->counter) != script.answerOnTry) continue;
            Bytes body;
            if (!test_server::wire::open(keys.clientToServer, d, 34, body)) continue;
            Bytes plain;
            MessageType answerType = MessageType::AuthOk;
            if (script.answer == PeerScript::Answer::ok) {
                auto e = script.settings.encode();
                plain.assign(e.begin(), e.end());
            } else if (script.answer == PeerScript::Answer::rawOk) {
                plain = script.rawPlaintext;
            } else {
                plain = AuthFail::encode(script.failCode, script.failReason);
                answerType = MessageType::AuthFail;
            }
            sessionId = script.settings.sessionId;
            Bytes out = seal(answerType, plain, script.okCounter, sessionId);
            reply(out);
            handshakeDone = true;
        }
    }
}

void TestPeer::sendRaw(std::span<const std::uint8_t> datagram) {
    ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&client_), clientLength_);
}

bool TestPeer::sendBurst(const std::vector<Bytes>& datagrams) {
    std::vector<std::span<const std::uint8_t>> views(datagrams.begin(), datagrams.end());
    if (views.empty()) return false;
    std::vector<sockaddr_in> to(views.size());
    std::memcpy(to.data(), &client_, sizeof(sockaddr_in));
    std::fill(to.begin() + 1, to.end(), to.front());
    UdpBurst burst(fd_);
    for (std::size_t done = 0; done < views.size();) {
        BatchOutcome o = burst.send(std::span(views).subspan(done), std::span(to).subspan(done));
        done += o.sent;
        if (o.sent == 0 && o.next.status == IoOutcome::Status::failed) return false;
    }
    return burst.gso();
}

void TestPeer::sendSealed(MessageType type, std::span<const std::uint8_t> payload, std::uint64_t counter,
                          std::optional<std::uint64_t> session) {
    Bytes d = seal(type, payload, counter, session.value_or(sessionId));
    sendRaw(d);
}

std::optional<Bytes> TestPeer::receiveRaw(std::chrono::milliseconds timeout) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
    Bytes buf(2048);
    ssize_t n = ::recv(fd_, buf.data(), buf.size(), MSG_DONTWAIT);
    if (n < 0) return std::nullopt;
    buf.resize(static_cast<std::size_t>(n));
    return buf;
}

std::optional<TestPeer::Opened> TestPeer::receiveOpened(std::chrono::milliseconds timeout) {
    auto d = receiveRaw(timeout);
    if (!d) return std::nullopt;
    Opened o;
    o.length = d->size();
    auto h = PacketHeader::decode(*d);
    if (!h || !test_server::wire::open(keys.clientToServer, *d, kHeaderSize, o.plaintext)) return std::nullopt;
    o.header = *h;
    return o;
}

std::vector<TestPeer::Opened> TestPeer::drain() {
    std::vector<Opened> all;
    while (auto o = receiveOpened(std::chrono::milliseconds(0))) all.push_back(*o);
    return all;
}

AuthOk defaultSettings(std::uint64_t sessionId) {
    AuthOk s;
    s.sessionId = sessionId;
    s.address = {10, 77, 0, 5};
    s.netmask = {255, 255, 255, 0};
    s.gateway = {10, 77, 0, 1};
    s.mtu = 1420;
    s.mode = 0;
    s.addressFlags = AuthOk::kIpv4Valid;
    return s;
}

std::unique_ptr<Connected> connectToPeer(TunnelMode mode, AuthOk settings) {
    auto c = std::make_unique<Connected>();
    settings.mode = mode == TunnelMode::l3 ? 1 : 0;
    PeerScript script;
    script.settings = settings;
    c->peer.serve(script);
    ConnectOptions options;
    options.clock = &c->clock;
    options.events = &c->events;
    // Answers come at once; the bound only has to outlast a busy machine.
    options.receiveTimeout = std::chrono::seconds(5);
    options.authReceiveTimeout = std::chrono::seconds(5);
    auto s = Session::connect(c->peer.address(), "u", "p", "n", mode, std::nullopt, options);
    c->peer.join();
    if (!s) throw std::runtime_error("connect failed: " + s.error().detail());
    c->session = std::move(*s);
    return c;
}

}  // namespace ostrel::testing
