#include "session/session.h"
#include "support/session_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace ostrel;
using namespace ostrel::testing;
using namespace std::chrono_literals;

namespace {

// Moves forward a fixed step every time it is read, so deadlines pass on schedule.
class SteppingClock : public Clock {
public:
    explicit SteppingClock(duration step) : step_(step) {}
    time_point now() const override { return now_ += step_; }
    void sleep(duration d) override { now_ += d; }

private:
    duration step_;
    mutable time_point now_{};
};

struct Attempt {
    TestPeer peer;
    RecordedEvents events;
    ManualClock manual;
    std::expected<std::unique_ptr<Session>, ClientError> result = std::unexpected(ClientError::noCookie());

    std::size_t count(MessageType type, std::size_t length = 0) const {
        return std::count_if(peer.received.begin(), peer.received.end(), [&](const Bytes& d) {
            return d.size() >= 2 && d[1] == static_cast<std::uint8_t>(type) && (length == 0 || d.size() == length);
        });
    }
    std::string detail() const { return result ? "connected" : result.error().detail(); }
    std::string code() const { return result ? "connected" : result.error().code(); }
};

struct Client {
    std::string user = "u";
    std::string password = "p";
    std::string node = "n";
    TunnelMode mode = TunnelMode::l2;
    std::optional<Key32> authKey = std::nullopt;
    Clock* clock = nullptr;
    // Answers that come are waited for far beyond a busy machine's delay; a
    // phase the peer leaves silent gets a short wait, so the test does not sit it out.
    std::chrono::milliseconds reply = 5s;
    std::chrono::milliseconds authReply = 5s;
};

std::unique_ptr<Attempt> attempt(PeerScript script, Client client = {}) {
    auto a = std::make_unique<Attempt>();
    if (script.settings.sessionId == 0) script.settings = defaultSettings();
    if (client.mode == TunnelMode::l3 && script.settings.mode == 0 && script.answer != PeerScript::Answer::rawOk)
        script.settings.mode = 1;
    a->peer.serve(script);
    ConnectOptions options;
    options.clock = client.clock ? client.clock : &a->manual;
    options.events = &a->events;
    options.receiveTimeout = client.reply;
    options.authReceiveTimeout = client.authReply;
    a->result = Session::connect(a->peer.address(), client.user, client.password, client.node, client.mode,
                                 client.authKey, options);
    a->peer.join();
    return a;
}

Key32 someKey(std::uint8_t fill) {
    Key32 k;
    k.fill(fill);
    return k;
}

}  // namespace

TEST(SessionConnect, SourceAddressRules) {
    // A COOKIE from anywhere counts; a SERVER_HELLO from another port uses up the exchange.
    PeerScript script;
    script.cookieFromOtherSocket = true;
    script.helloFromOtherSocket = true;
    auto a = attempt(script);
    ASSERT_TRUE(a->result.has_value()) << a->detail();
    EXPECT_EQ(a->count(MessageType::HandshakeInit, 50), 1u);
    EXPECT_EQ(a->count(MessageType::HandshakeInit, 82), 2u);
    EXPECT_EQ(a->count(MessageType::Auth), 1u);
    EXPECT_EQ(a->events.steps, (std::vector<std::string>{"cookie", "server_key", "auth_sent"}));
}

TEST(SessionConnect, StrayDatagramsUseUpCookieExchanges) {
    PeerScript four;
    four.strayBeforeCookie = 4;
    auto a = attempt(four);
    ASSERT_TRUE(a->result.has_value()) << a->detail();
    EXPECT_EQ(a->count(MessageType::HandshakeInit, 50), 5u);

    PeerScript five;
    five.strayBeforeCookie = 5;
    auto b = attempt(five);
    EXPECT_EQ(b->code(), "no_cookie");
    EXPECT_EQ(b->count(MessageType::HandshakeInit, 50), 5u);
    EXPECT_TRUE(b->events.steps.empty());
}

TEST(SessionConnect, SilentServerAndUnresolvableNames) {
    PeerScript silent;
    silent.silent = true;
    auto a = attempt(silent, Client{.reply = 60ms, .authReply = 60ms});
    EXPECT_EQ(a->code(), "no_cookie");
    EXPECT_EQ(a->peer.received.size(), 5u);

    RecordedEvents events;
    ConnectOptions options;
    options.events = &events;
    for (std::string server : {"no-such-host.invalid:7100", "127.0.0.1:notaport", "127.0.0.1:70000", "nocolon",
                               "::1"}) {
        auto r = Session::connect(server, "u", "p", "n", TunnelMode::l2, std::nullopt, options);
        ASSERT_FALSE(r.has_value()) << server;
        EXPECT_EQ(r.error().code(), "resolve_failed") << server;
    }
}

TEST(SessionConnect, ServerAuthentication) {
    Key32 key = someKey(0x5a);
    PeerScript good;
    good.authKey = key;
    auto ok = attempt(good, Client{.authKey = key});
    EXPECT_TRUE(ok->result.has_value()) << ok->detail();

    // A 50-byte SERVER_HELLO fails at once when a key is configured, and is enough without one.
    PeerScript bare;
    auto noProof = attempt(bare, Client{.authKey = key});
    EXPECT_EQ(noProof->code(), "server_auth_failed");
    EXPECT_EQ(noProof->count(MessageType::HandshakeInit, 82), 1u);
    EXPECT_EQ(noProof->count(MessageType::Auth), 0u);
    EXPECT_EQ(noProof->events.steps, (std::vector<std::string>{"cookie"}));
    auto skipped = attempt(bare);
    EXPECT_TRUE(skipped->result.has_value()) << skipped->detail();

    PeerScript wrong;
    wrong.authKey = key;
    wrong.wrongProof = true;
    EXPECT_EQ(attempt(wrong, Client{.authKey = key})->code(), "server_auth_failed");
    PeerScript otherKey;
    otherKey.authKey = someKey(0x5b);
    EXPECT_EQ(attempt(otherKey, Client{.authKey = key})->code(), "server_auth_failed");
    // Without a key of its own the client ignores a proof, right or wrong.
    EXPECT_TRUE(attempt(wrong)->result.has_value());
}

TEST(SessionConnect, LowOrderKeyAndBadFieldsStopBeforeAuth) {
    PeerScript lowOrder;
    lowOrder.lowOrderKey = true;
    auto a = attempt(lowOrder);
    EXPECT_EQ(a->code(), "bad_server_key");
    EXPECT_EQ(a->count(MessageType::Auth), 0u);

    PeerScript plain;
    auto longUser = attempt(plain, Client{.user = std::string(33, 'u')});
    EXPECT_EQ(longUser->detail(), "protocol error: username");
    EXPECT_EQ(longUser->count(MessageType::HandshakeInit, 82), 1u);
    EXPECT_EQ(longUser->count(MessageType::Auth), 0u);
    EXPECT_EQ(longUser->events.steps, (std::vector<std::string>{"cookie", "server_key"}));
    EXPECT_EQ(attempt(plain, Client{.password = ""})->detail(), "protocol error: password");
    EXPECT_EQ(attempt(plain, Client{.node = std::string("a\0b", 3)})->detail(), "protocol error: node");
}

TEST(SessionConnect, AuthAnswers) {
    PeerScript fail;
    fail.answer = PeerScript::Answer::fail;
    fail.failCode = 1;
    auto bad = attempt(fail);
    EXPECT_EQ(bad->code(), "bad_credentials");
    EXPECT_EQ(bad->detail(), "authentication failed: code=1");

    fail.failCode = 3;
    fail.failReason = "room is full";
    auto full = attempt(fail);
    EXPECT_EQ(full->code(), "node_full");
    EXPECT_EQ(full->result.error().message(), "room is full");
    EXPECT_EQ(full->detail(), "authentication failed: code=3 reason=room is full");

    PeerScript shortOk;
    shortOk.answer = PeerScript::Answer::rawOk;
    auto encoded = defaultSettings().encode();
    shortOk.rawPlaintext.assign(encoded.begin(), encoded.begin() + 76);
    EXPECT_EQ(attempt(shortOk)->detail(), "protocol error: short AUTH_OK");

    PeerScript longOk = shortOk;
    longOk.rawPlaintext.assign(encoded.begin(), encoded.end());
    longOk.rawPlaintext.resize(90, 0xab);
    auto accepted = attempt(longOk);
    ASSERT_TRUE(accepted->result.has_value()) << accepted->detail();
    EXPECT_EQ((*accepted->result)->settings().sessionId, defaultSettings().sessionId);

    // A client in l3 told the node runs l2.
    auto mismatch = attempt(longOk, Client{.mode = TunnelMode::l3});
    EXPECT_EQ(mismatch->code(), "mode_mismatch");
    EXPECT_EQ(mismatch->detail(), "server selected l2, but client was started in l3");
}

TEST(SessionConnect, UnansweredAuthAndDeadline) {
    PeerScript never;
    never.answerOnTry = 3;
    auto a = attempt(never, Client{.authReply = 60ms});
    EXPECT_EQ(a->code(), "no_auth_response");
    EXPECT_EQ(a->count(MessageType::Auth), 3u);
    EXPECT_EQ(std::count(a->events.steps.begin(), a->events.steps.end(), "auth_sent"), 3);

    // Each read of the clock moves 4 s: the cookie (4 s), key (8 s) and first AUTH (12 s)
    // go out, the second AUTH (16 s) would pass the 15 s deadline.
    SteppingClock stepping(4s);
    auto late = attempt(never, Client{.clock = &stepping, .authReply = 60ms});
    EXPECT_EQ(late->code(), "no_auth_response");
    EXPECT_EQ(late->count(MessageType::Auth), 1u);

    // Answered on the third try, the session continues at counter 3.
    PeerScript third;
    third.answerOnTry = 2;
    auto b = attempt(third, Client{.authReply = 1s});
    ASSERT_TRUE(b->result.has_value()) << b->detail();
    EXPECT_EQ((*b->result)->sendCounter(), 3u);
}
