// The whole client side of a session, byte for byte against the known-answer vectors.
#include "session/session.h"
#include "support/session_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace ostrel;
using namespace ostrel::testing;

namespace {

const nlohmann::json& v() { return vectors(); }

struct VectorSession {
    TestPeer peer;
    RecordedEvents events;
    ManualClock clock;
    std::expected<std::unique_ptr<Session>, ClientError> session = std::unexpected(ClientError::noCookie());
};

std::unique_ptr<VectorSession> connectWithVectors(int answerOnTry) {
    auto s = std::make_unique<VectorSession>();
    PeerScript script;
    script.cookie = key32(v()["server_proof"]["cookie"]);
    script.serverSecret = key32(v()["x25519"]["server_secret"]);
    script.answer = PeerScript::Answer::rawOk;
    script.rawPlaintext = fromHex(v()["auth_ok"]["plaintext"]);
    script.okCounter = std::stoull(v()["auth_ok"]["server_counter"].get<std::string>());
    script.answerOnTry = answerOnTry;
    script.authKey = key32(v()["server_proof"]["auth_key"]);
    s->peer.serve(script);
    ConnectOptions options;
    options.clock = &s->clock;
    options.events = &s->events;
    // Answers come at once; an AUTH try left unanswered sits out its whole wait.
    options.receiveTimeout = std::chrono::seconds(5);
    options.authReceiveTimeout = answerOnTry > 0 ? std::chrono::seconds(1) : std::chrono::seconds(5);
    options.ephemeralSecret = key32(v()["x25519"]["client_secret"]);
    const auto& body = v()["auth_request_body"];
    s->session = Session::connect(s->peer.address(), body["user"], body["password"], body["node"], TunnelMode::l2,
                                  key32(v()["server_proof"]["auth_key"]), options);
    s->peer.join();
    return s;
}

}  // namespace

TEST(WireVectors, HandshakeDatagramsAndThreeAuthTries) {
    auto s = connectWithVectors(2);
    ASSERT_TRUE(s->session.has_value()) << s->session.error().detail();
    const auto& got = s->peer.received;
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(toHex(got[0]), v()["handshake_init"]["first"]);
    EXPECT_EQ(toHex(got[1]), v()["handshake_init"]["with_cookie"]);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(toHex(got[2 + i]), v()["auth_datagrams_l2_try_0_1_2"][i]) << i;
    EXPECT_EQ(s->events.steps,
              (std::vector<std::string>{"cookie", "server_key", "auth_sent", "auth_sent", "auth_sent"}));

    Session& session = **s->session;
    EXPECT_EQ(session.sendCounter(), 3u);
    EXPECT_EQ(toHex(session.mac()), "020011223344");
    EXPECT_EQ(session.settings().mtu, 1420);
    EXPECT_EQ(session.replay().highest(), 7u);
    // The AUTH_OK the peer sealed is the vector's datagram.
    Bytes authOk = s->peer.seal(MessageType::AuthOk, fromHex(v()["auth_ok"]["plaintext"]),
                                std::stoull(v()["auth_ok"]["server_counter"].get<std::string>()),
                                0xaabbccdd11223344ull);
    EXPECT_EQ(toHex(authOk), v()["auth_ok"]["datagram"]);

    // The first data-phase packet continues the counters of the AUTH tries.
    session.sendDisconnect();
    auto d = s->peer.receiveOpened();
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->header.type, static_cast<std::uint8_t>(MessageType::Disconnect));
    EXPECT_EQ(d->header.counter, 3u);
}

TEST(WireVectors, DataBatchKeepaliveAndDisconnectAfterFirstTry) {
    auto s = connectWithVectors(0);
    ASSERT_TRUE(s->session.has_value()) << s->session.error().detail();
    Session& session = **s->session;
    ASSERT_EQ(session.sendCounter(), 1u);
    const auto& want = v()["client_datagrams_after_auth_on_first_try"];

    FakeDevice device;
    device.clock = &s->clock;
    RunningFlag running;
    device.incoming.push_back(sequence(100));
    device.onWait = [&](FakeDevice& d) {
        if (d.waits == 1) {
            d.incoming.push_back(sequence(100));
            Bytes reversed = sequence(100);
            std::reverse(reversed.begin(), reversed.end());
            d.incoming.push_back(reversed);
        }
        if (d.waits == 2) s->clock.advance(std::chrono::seconds(25));
        if (d.waits == 3) running.clear();
    };
    auto reason = session.run(device, running);
    ASSERT_TRUE(reason.has_value()) << reason.error().detail();
    EXPECT_EQ(*reason, DisconnectReason::user);
    session.sendDisconnect();

    std::vector<std::string> sent;
    while (auto raw = s->peer.receiveRaw(std::chrono::milliseconds(200))) sent.push_back(toHex(*raw));
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0], want["data_counter_1_payload_0_to_99"]);
    EXPECT_EQ(sent[1], want["batch_counter_2_two_100_byte_entries"]);
    EXPECT_EQ(sent[2], want["keepalive_counter_3"]);
    EXPECT_EQ(sent[3], want["disconnect_counter_4"]);
}
