// The run loop against the real test tunnel server: two members of one l2 node.
#include "session/session.h"
#include "support/session_fixtures.h"
#include "tunnel_server.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

using namespace ostrel;
using namespace ostrel::testing;
using namespace std::chrono_literals;

namespace {

struct Member {
    RecordedEvents events;
    ManualClock clock;
    FakeDevice device;
    std::unique_ptr<Session> session;

    // Runs a few passes, each waiting (really) until the socket has something or 200 ms pass.
    std::expected<DisconnectReason, ClientError> runPasses(int passes) {
        RunningFlag running;
        device.clock = &clock;
        device.settleMs = 200;
        device.onWait = [&, passes](FakeDevice& d) {
            d.settle = true;
            if (d.waits >= passes) running.clear();
        };
        device.waits = 0;
        return session->run(device, running);
    }
};

std::unique_ptr<Member> join(const test_server::TunnelServer& server, const std::string& user) {
    auto m = std::make_unique<Member>();
    ConnectOptions options;
    options.clock = &m->clock;
    options.events = &m->events;
    auto s = Session::connect(server.address(), user, "pw-" + user, "room", TunnelMode::l2, std::nullopt, options);
    if (!s) throw std::runtime_error(s.error().detail());
    m->session = std::move(*s);
    return m;
}

// A running test server with alice and bob in one l2 node, "room".
std::unique_ptr<test_server::TunnelServer> roomServer() {
    test_server::ServerOptions options;
    if (!options.accounts.addText("alice:pw-alice:room:l2") || !options.accounts.addText("bob:pw-bob:room:l2"))
        throw std::runtime_error("accounts");
    auto server = std::make_unique<test_server::TunnelServer>(std::move(options));
    if (!server->start()) throw std::runtime_error("server did not start");
    return server;
}

}  // namespace

TEST(SessionServer, FramesCgnatKickAndDisconnectThroughTheTestServer) {
    auto room = roomServer();
    test_server::TunnelServer& server = *room;

    auto alice = join(server, "alice");
    auto bob = join(server, "bob");
    EXPECT_NE(alice->session->settings().sessionId, bob->session->settings().sessionId);
    EXPECT_TRUE(alice->session->settings().ipv4Valid());

    // A frame from alice to bob's MAC, and a small batch of two.
    Bytes toBob(60, 0x5a);
    std::memcpy(toBob.data(), bob->session->mac().data(), 6);
    std::memcpy(toBob.data() + 6, alice->session->mac().data(), 6);
    Bytes second = toBob;
    second[20] = 0x77;
    alice->device.incoming = {toBob};
    ASSERT_TRUE(alice->runPasses(1).has_value());
    alice->device.incoming = {toBob, second};
    ASSERT_TRUE(alice->runPasses(1).has_value());
    ASSERT_TRUE(server.waitFor([&] { return server.stats().dataPackets >= 3; }, 20s));

    ASSERT_TRUE(bob->runPasses(2).has_value());
    EXPECT_EQ(bob->device.written, (std::vector<Bytes>{toBob, toBob, second}));

    // The CGNAT request is answered with a reply the run loop prints.
    ASSERT_TRUE(alice->session->sendCgnatAnnounce().has_value());
    ASSERT_TRUE(alice->runPasses(2).has_value());
    ASSERT_EQ(alice->events.bridges.size(), 1u);
    EXPECT_TRUE(alice->device.written.empty());  // never handed to the adapter

    ASSERT_TRUE(server.kick("bob"));
    auto kicked = bob->runPasses(5);
    ASSERT_TRUE(kicked.has_value()) << kicked.error().detail();
    EXPECT_EQ(*kicked, DisconnectReason::kicked);
    EXPECT_EQ(bob->events.kicks, 1);

    const std::uint64_t next = alice->session->sendCounter();
    alice->session->sendDisconnect();
    ASSERT_TRUE(server.waitFor([&] { return !server.disconnects().empty(); }, 20s));
    EXPECT_EQ(server.disconnects()[0].user, "alice");
    EXPECT_EQ(server.disconnects()[0].counter, next);
    server.stop();
}

TEST(SessionServer, SmallFramesShareDatagramsOnTheWayToAMemberAndKeepTheirOrder) {
    auto room = roomServer();
    test_server::TunnelServer& server = *room;
    auto alice = join(server, "alice");
    auto bob = join(server, "bob");

    auto toBob = [&](std::size_t n, std::uint8_t mark) {
        Bytes f(n, mark);
        std::memcpy(f.data(), bob->session->mac().data(), 6);
        std::memcpy(f.data() + 6, alice->session->mac().data(), 6);
        f[12] = 0x08;
        f[13] = 0x00;
        return f;
    };
    // Small frames, full-sized ones between them, and one that bob's client would take for
    // a CGNAT frame: alone as DATA it never reaches his adapter, inside a batch it would.
    std::vector<Bytes> sent;
    for (std::uint8_t i = 0; i < 120; ++i) sent.push_back(toBob(60 + i % 40, i));
    sent[50] = toBob(1434, 50);
    sent[51] = toBob(1434, 51);
    Bytes cgnatLike = toBob(40, 0xCC);
    cgnatLike[12] = 0x88;
    cgnatLike[13] = 0xB6;
    alice->device.incoming.assign(sent.begin(), sent.begin() + 60);
    alice->device.incoming.push_back(cgnatLike);
    alice->device.incoming.insert(alice->device.incoming.end(), sent.begin() + 60, sent.end());
    ASSERT_TRUE(alice->runPasses(3).has_value());
    ASSERT_TRUE(server.waitFor([&] { return server.stats().relayed >= 121; }, 2s));

    ASSERT_TRUE(bob->runPasses(3).has_value());
    EXPECT_EQ(bob->device.written, sent);
    // Each datagram from the server moves bob's replay window by one counter.
    const std::uint64_t datagrams = bob->session->replay().highest();
    EXPECT_LE(datagrams, 20u) << "121 frames took " << datagrams << " datagrams";
    EXPECT_GE(datagrams, 4u);  // the two large frames and the CGNAT-like one went alone
    server.stop();
}
