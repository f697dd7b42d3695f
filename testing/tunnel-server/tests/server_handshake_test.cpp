// Each way the server can be told to misbehave, seen through the client's own connect.

#include "session/session.h"
#include "tunnel_server.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

using namespace ostrel;
using namespace ostrel::test_server;
using namespace std::chrono_literals;

namespace {

class QuietEvents final : public SessionEvents {
public:
    void handshake(std::string_view step) override { steps.emplace_back(step); }
    void kicked() override {}
    void bridgeInfo(const BridgeInfo&) override {}
    std::vector<std::string> steps;
};

struct Attempt {
    std::expected<std::unique_ptr<Session>, ClientError> result;
    std::vector<std::string> steps;
};

// How long the client waits for each answer. Answers that come are waited
// for far beyond what a loaded machine needs; a phase the server is told to
// leave silent gets a short wait, so the test does not sit out long ones.
struct Waits {
    std::chrono::milliseconds reply = 5s;      // cookie and key phases
    std::chrono::milliseconds authReply = 5s;  // AUTH phase
};

Attempt connectTo(const TunnelServer& server, TunnelMode mode = TunnelMode::l2,
                  const std::optional<Key32>& key = std::nullopt, const std::string& user = "u", Waits waits = {}) {
    QuietEvents events;
    ConnectOptions options;
    options.events = &events;
    options.receiveTimeout = waits.reply;
    options.authReceiveTimeout = waits.authReply;
    auto result = Session::connect(server.address(), user, "pw", mode == TunnelMode::l3 ? "n3" : "n", mode, key,
                                   options);
    return {std::move(result), events.steps};
}

ServerOptions accounts() {
    ServerOptions options;
    options.accounts.add({"u", "pw", "n", TunnelMode::l2, 1});
    options.accounts.add({"v", "pw", "n", TunnelMode::l2, 1});
    options.accounts.add({"w", "pw", "n3", TunnelMode::l3, 4});
    return options;
}

Misbehaviour misbehave(const std::function<void(Misbehaviour&)>& set) {
    Misbehaviour m;
    set(m);
    return m;
}

std::string codeOf(const Attempt& a) { return a.result ? "ok" : a.result.error().code(); }

}  // namespace

TEST(ServerHandshake, MisbehavioursGiveTheClientsMatchingFailures) {
    struct Case {
        Misbehaviour misbehave;
        std::string code;
        Waits waits = {};
    };
    // Without a server hello the cookie's answer still has five tries of 200 ms to arrive.
    std::vector<Case> cases = {
        {misbehave([](Misbehaviour& m) { m.silent = true; }), "no_cookie", {20ms, 20ms}},
        {misbehave([](Misbehaviour& m) { m.noServerHello = true; }), "no_server_key", {200ms, 20ms}},
        {misbehave([](Misbehaviour& m) { m.lowOrderKey = true; }), "bad_server_key"},
        {misbehave([](Misbehaviour& m) { m.ignoreAuth = true; }), "no_auth_response", {5s, 20ms}},
        {misbehave([](Misbehaviour& m) { m.shortAuthOk = true; }), "internal_error"},
        {misbehave([](Misbehaviour& m) { m.otherMode = true; }), "mode_mismatch"},
        {misbehave([](Misbehaviour& m) { m.authFail = {4, ""}; }), "account_disabled"},
        {misbehave([](Misbehaviour& m) { m.authFail = {9, "odd"}; }), "unknown"},
    };
    for (const auto& c : cases) {
        TunnelServer server(accounts());
        server.setMisbehaviour(c.misbehave);
        ASSERT_TRUE(server.start());
        auto attempt = connectTo(server, TunnelMode::l2, std::nullopt, "u", c.waits);
        EXPECT_EQ(codeOf(attempt), c.code);
        EXPECT_TRUE(server.sessions().empty() || c.code == "internal_error" || c.code == "mode_mismatch");
    }
}

TEST(ServerHandshake, ServerProofVerifiesOnlyWithTheRightKey) {
    Key32 key{};
    key.fill(0x5a);
    ServerOptions options = accounts();
    options.authKey = key;
    TunnelServer server(std::move(options));
    ASSERT_TRUE(server.start());

    EXPECT_EQ(codeOf(connectTo(server, TunnelMode::l2, key)), "ok");
    Key32 other = key;
    other[0] ^= 1;
    EXPECT_EQ(codeOf(connectTo(server, TunnelMode::l2, other)), "server_auth_failed");

    // A server without a key sends a 50-byte hello: enough without a key, a failure with one.
    TunnelServer keyless(accounts());
    ASSERT_TRUE(keyless.start());
    EXPECT_EQ(codeOf(connectTo(keyless, TunnelMode::l2, key)), "server_auth_failed");
    keyless.setMisbehaviour(misbehave([](Misbehaviour& m) { m.wrongProof = true; }));
    EXPECT_EQ(codeOf(connectTo(keyless)), "ok");
}

TEST(ServerHandshake, AccountsModesAndCapacityDecideTheAnswer) {
    TunnelServer server(accounts());
    ASSERT_TRUE(server.start());

    auto first = connectTo(server);
    ASSERT_TRUE(first.result) << first.result.error().detail();
    EXPECT_EQ(first.steps, (std::vector<std::string>{"cookie", "server_key", "auth_sent"}));
    const AuthOk& granted = (*first.result)->settings();
    EXPECT_TRUE(granted.ipv4Valid());
    EXPECT_FALSE(granted.ipv6Valid());
    EXPECT_EQ(granted.address, (Ipv4Address{10, 77, 0, 2}));
    EXPECT_EQ(granted.gateway, (Ipv4Address{10, 77, 0, 1}));
    EXPECT_EQ(granted.mtu, 1420);
    EXPECT_EQ((*first.result)->sendCounter(), 1u);

    // Node "n" holds one member: a second user is refused, the same user replaces itself.
    EXPECT_EQ(codeOf(connectTo(server, TunnelMode::l2, std::nullopt, "v")), "node_full");
    auto again = connectTo(server);
    ASSERT_TRUE(again.result);
    EXPECT_NE((*again.result)->settings().sessionId, granted.sessionId);
    EXPECT_EQ(server.sessions().size(), 1u);

    EXPECT_EQ(codeOf(connectTo(server, TunnelMode::l2, std::nullopt, "nobody")), "bad_credentials");
    // An l2 client on an l3 node is refused by the server, not by the client's mode check.
    QuietEvents events;
    ConnectOptions options;
    options.events = &events;
    auto wrongMode = Session::connect(server.address(), "w", "pw", "n3", TunnelMode::l2, std::nullopt, options);
    ASSERT_FALSE(wrongMode);
    EXPECT_EQ(wrongMode.error().code(), "unsupported_mode");
    auto l3 = connectTo(server, TunnelMode::l3, std::nullopt, "w");
    ASSERT_TRUE(l3.result);
    EXPECT_EQ((*l3.result)->settings().serverMode(), TunnelMode::l3);
    // Another node gets another subnet.
    EXPECT_NE((*l3.result)->settings().address[2], granted.address[2]);
    auto wrongNode = Session::connect(server.address(), "u", "pw", "n3", TunnelMode::l3, std::nullopt, options);
    ASSERT_FALSE(wrongNode);
    EXPECT_EQ(wrongNode.error().code(), "node_not_found");
}

TEST(ServerHandshake, UnansweredAuthTriesMoveTheClientsCounterAndTheNoticeFollowsThem) {
    ServerOptions options = accounts();
    options.misbehave.unansweredAuths = 2;
    TunnelServer server(std::move(options));
    ASSERT_TRUE(server.start());
    // Two AUTH tries sit out their whole wait, the third is answered.
    auto attempt = connectTo(server, TunnelMode::l2, std::nullopt, "u", {5s, 1s});
    ASSERT_TRUE(attempt.result) << attempt.result.error().detail();
    EXPECT_EQ(attempt.steps, (std::vector<std::string>{"cookie", "server_key", "auth_sent", "auth_sent", "auth_sent"}));
    EXPECT_EQ((*attempt.result)->sendCounter(), 3u);
    (*attempt.result)->sendDisconnect();
    ASSERT_TRUE(server.waitFor([&] { return !server.disconnects().empty(); }, 20s));
    auto seen = server.disconnects();
    EXPECT_EQ(seen[0].authTries, 3u);
    EXPECT_EQ(seen[0].counter, 3u);
    EXPECT_TRUE(server.sessions().empty());
}

TEST(ServerHandshake, SilentSessionsAreForgottenAndFreeTheirPlace) {
    ServerOptions options = accounts();
    options.idleLimit = 50ms;
    TunnelServer server(std::move(options));
    ASSERT_TRUE(server.start());
    auto first = connectTo(server);
    ASSERT_TRUE(first.result);
    // The sweep runs on the server's own timer, without any traffic.
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!server.sessions().empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(server.sessions().empty());
    EXPECT_EQ(codeOf(connectTo(server, TunnelMode::l2, std::nullopt, "v")), "ok");
}
