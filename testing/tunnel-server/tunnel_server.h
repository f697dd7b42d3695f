#pragma once
// A tunnel server for tests and local runs, listening on 127.0.0.1 (or the address it is given).
//   TunnelServer server(options); server.start(); server.port();
//   server.waitFor([&] { return !server.disconnects().empty(); }, 5s);
//   server.kick("user"); server.setMisbehaviour({...}); server.stop();
// It serves on its own thread; every public call is safe from any thread.

#include "account_table.h"
#include "server_protocol.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ostrel::test_server {

// Ways to break the protocol on purpose, so clients can be tested against them.
struct Misbehaviour {
    bool silent = false;            // answer nothing at all
    bool noServerHello = false;     // send cookies, never a SERVER_HELLO
    bool lowOrderKey = false;       // SERVER_HELLO carries the all-zero public key
    bool wrongProof = false;        // SERVER_HELLO carries a proof that does not verify
    bool ignoreAuth = false;        // never answer AUTH
    unsigned unansweredAuths = 0;   // leave this many AUTH tries of each handshake unanswered
    bool shortAuthOk = false;       // AUTH_OK plaintext of 76 bytes
    bool otherMode = false;         // AUTH_OK names the mode the client did not ask for
    bool cgnatUnavailable = false;  // CGNAT replies report status unavailable
    std::optional<std::pair<std::uint8_t, std::string>> authFail;  // answer AUTH with this code and reason
};

struct ServerOptions {
    AccountTable accounts;
    std::optional<Key32> authKey;  // proves the server to clients that know it
    Misbehaviour misbehave;
    std::string bind = "127.0.0.1";  // an IPv4 address; loopback unless told otherwise
    std::uint16_t port = 0;  // 0: any free port
    std::uint16_t mtu = 1420;
    bool grantIpv4 = true;
    bool grantIpv6 = false;
    // Sessions and handshakes silent this long are forgotten, so vanished clients free their places.
    std::chrono::milliseconds idleLimit{120000};
    // Told of each session's start and of each DISCONNECT, on the serving thread.
    std::function<void(const std::string& line)> onSessionEvent;
};

struct DisconnectSeen {
    std::uint64_t sessionId = 0;
    std::string user;
    std::uint64_t counter = 0;   // header counter of the DISCONNECT
    std::uint64_t authTries = 0; // AUTH datagrams that session's handshake needed
};

struct SessionInfo {
    std::uint64_t sessionId = 0;
    std::string user;
    std::string node;
    std::array<std::uint8_t, 4> ip4{};
    std::uint64_t authTries = 0;
};

struct ServerStats {
    std::uint64_t datagrams = 0;     // every datagram received
    std::uint64_t handshakeInits = 0;
    std::uint64_t authRequests = 0;
    std::uint64_t dataPackets = 0;   // packets inside DATA and BATCH from clients
    std::uint64_t dataBytes = 0;
    std::uint64_t keepalives = 0;
    std::uint64_t relayed = 0;       // packets relayed to other members (in DATA or BATCH)
    std::uint64_t dropped = 0;       // datagrams that failed a check
};

class TunnelServer {
public:
    explicit TunnelServer(ServerOptions options);
    ~TunnelServer();
    TunnelServer(const TunnelServer&) = delete;
    TunnelServer& operator=(const TunnelServer&) = delete;

    std::expected<void, std::string> start();
    void stop();
    std::uint16_t port() const { return port_; }
    std::string address() const { return bind_ + ":" + std::to_string(port_); }

    void setMisbehaviour(const Misbehaviour& misbehave);
    bool kick(const std::string& user);
    std::vector<DisconnectSeen> disconnects() const;
    std::vector<SessionInfo> sessions() const;
    ServerStats stats() const;

    // Waits until `condition` holds (checked after every datagram) or `timeout` passes.
    bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) const;

private:
    struct State;
    void serve();

    std::unique_ptr<State> state_;
    int socket_ = -1;
    int wake_ = -1;
    std::uint16_t port_ = 0;
    std::string bind_;
    std::thread thread_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::uint64_t generation_ = 0;
};

}  // namespace ostrel::test_server
