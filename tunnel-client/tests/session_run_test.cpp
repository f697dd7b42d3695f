#include "session/session.h"
#include "support/session_fixtures.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <cstring>

using namespace ostrel;
using namespace ostrel::testing;
using namespace std::chrono_literals;

namespace {

constexpr std::uint64_t S = kServerCounterBit;

// A frame for the VLAN: destination MAC first (not the gateway unless asked), then filler.
Bytes frame(std::size_t n, std::uint8_t fill = 0x11, Mac dest = Mac{0x02, 0x00, 9, 9, 9, 9}) {
    Bytes f(n, fill);
    std::memcpy(f.data(), dest.data(), std::min<std::size_t>(6, n));
    return f;
}

const Mac kGatewayMac{0x02, 0x00, 10, 77, 0, 1};

struct Harness {
    std::unique_ptr<Connected> c;
    FakeDevice device;
    RunningFlag running;

    explicit Harness(TunnelMode mode = TunnelMode::l2, AuthOk settings = defaultSettings()) {
        c = connectToPeer(mode, settings);
        device.clock = &c->clock;
    }
    Session& session() { return *c->session; }
    TestPeer& peer() { return c->peer; }
    // Runs until `passes` waits have happened (or the session ends first).
    std::expected<DisconnectReason, ClientError> run(int passes) {
        auto hook = device.onWait;
        device.onWait = [this, hook, passes](FakeDevice& d) {
            if (hook) hook(d);
            if (d.waits >= passes) running.clear();
        };
        return session().run(device, running);
    }
    // Server datagrams sent before the run are all read in its first pass.
    void fromServer(MessageType type, std::span<const std::uint8_t> payload, std::uint64_t counter) {
        peer().sendSealed(type, payload, counter);
        arrived();
    }
    void arrived() {
        pollfd p{session().socket(), POLLIN, 0};
        ::poll(&p, 1, 1000);
    }
    std::vector<TestPeer::Opened> sent() {
        std::vector<TestPeer::Opened> all;
        while (auto o = peer().receiveOpened(50ms)) all.push_back(*o);
        return all;
    }
};

std::uint8_t t(MessageType m) { return static_cast<std::uint8_t>(m); }

}  // namespace

TEST(SessionRun, CoalescingSizesAndOrder) {
    Harness h;
    // Pass 1: two small packets -> one BATCH. Pass 2: one -> DATA. Pass 3: 1464 alone -> DATA;
    // pass 4: small, 1465, small, 1466 -> each big one alone, order kept; 13 bytes are skipped.
    h.device.incoming = {frame(100, 1), frame(100, 2)};
    h.device.onWait = [](FakeDevice& d) {
        if (d.waits == 1) d.incoming = {frame(100, 3)};
        if (d.waits == 2) d.incoming = {frame(1464, 4)};
        if (d.waits == 3) d.incoming = {frame(50, 5), frame(1465, 6), frame(13, 7), frame(60, 8), frame(1466, 9)};
    };
    auto r = h.run(4);
    ASSERT_TRUE(r.has_value()) << r.error().detail();
    auto sent = h.sent();
    ASSERT_EQ(sent.size(), 7u);  // the 13-byte frame never leaves
    EXPECT_EQ(sent[0].header.type, t(MessageType::Batch));
    EXPECT_EQ(sent[0].length, 238u);
    ASSERT_EQ(sent[0].plaintext.size(), 204u);
    EXPECT_EQ(loadLe16(sent[0].plaintext.data()), 100);
    EXPECT_EQ(sent[0].plaintext[2 + 6], 1);
    EXPECT_EQ(loadLe16(sent[0].plaintext.data() + 102), 100);
    EXPECT_EQ(sent[0].plaintext[104 + 6], 2);
    EXPECT_EQ(sent[1].header.type, t(MessageType::Data));
    EXPECT_EQ(sent[1].length, 134u);
    EXPECT_EQ(sent[1].plaintext, frame(100, 3));
    EXPECT_EQ(sent[2].length, 1498u);
    const std::vector<std::pair<std::size_t, std::uint8_t>> tail{{50, 5}, {1465, 6}, {60, 8}, {1466, 9}};
    for (std::size_t i = 0; i < tail.size(); ++i) {
        EXPECT_EQ(sent[3 + i].header.type, t(MessageType::Data)) << i;
        EXPECT_EQ(sent[3 + i].plaintext, frame(tail[i].first, tail[i].second)) << i;
    }
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i].header.counter, 1 + i);
        EXPECT_EQ(sent[i].header.sessionId, defaultSettings().sessionId);
    }
}

TEST(SessionRun, BatchLimitsAndOversizedPackets) {
    Harness h;
    // 15 entries of 102 bytes do not fit 1466: 14 go in the first BATCH. 70 packets: 64 per pass.
    for (int i = 0; i < 15; ++i) h.device.incoming.push_back(frame(100, static_cast<std::uint8_t>(i)));
    h.device.onWait = [](FakeDevice& d) {
        if (d.waits == 1)
            for (int i = 0; i < 70; ++i) d.incoming.push_back(frame(14));
    };
    ASSERT_TRUE(h.run(3).has_value());
    auto sent = h.sent();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].plaintext.size(), 14u * 102u);
    EXPECT_EQ(sent[1].header.type, t(MessageType::Data));
    EXPECT_EQ(sent[1].plaintext, frame(100, 14));
    EXPECT_EQ(sent[2].plaintext.size(), 64u * 16u);
    EXPECT_EQ(sent[3].plaintext.size(), 6u * 16u);

    Harness big;
    big.device.incoming = {frame(100), frame(1467)};
    auto r = big.run(5);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().code(), "encrypt_failed");
}

TEST(SessionRun, UrgentFramesToTheGatewayGoOutAtOnce) {
    AuthOk settings = defaultSettings();
    settings.addressFlags = AuthOk::kIpv4Valid | AuthOk::kIpv6Valid;
    settings.gateway6 = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xaa, 0xbb, 0xcc, 0xdd};
    Harness h(TunnelMode::l2, settings);
    h.device.incoming = {frame(40, 1), frame(40, 2), frame(40, 3, kGatewayMac), frame(40, 4),
                         frame(40, 5, Mac{2, 0, 0xaa, 0xbb, 0xcc, 0xdd}), frame(40, 6)};
    ASSERT_TRUE(h.run(1).has_value());
    auto sent = h.sent();
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent[0].header.type, t(MessageType::Batch));  // 1 and 2, flushed before the urgent frame
    EXPECT_EQ(sent[1].plaintext, frame(40, 3, kGatewayMac));
    EXPECT_EQ(sent[2].plaintext, frame(40, 4));
    EXPECT_EQ(sent[3].plaintext, frame(40, 5, Mac{2, 0, 0xaa, 0xbb, 0xcc, 0xdd}));
    EXPECT_EQ(sent[4].plaintext, frame(40, 6));

    // Without valid IPv4 settings the gateway MAC means nothing, and in l3 nothing is urgent.
    AuthOk noV4 = defaultSettings();
    noV4.addressFlags = 0;
    Harness plain(TunnelMode::l2, noV4);
    plain.device.incoming = {frame(40, 1), frame(40, 3, kGatewayMac), frame(40, 4)};
    ASSERT_TRUE(plain.run(1).has_value());
    auto one = plain.sent();
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].header.type, t(MessageType::Batch));

    Harness l3(TunnelMode::l3);
    l3.device.incoming = {frame(40, 1), frame(40, 3, kGatewayMac)};
    ASSERT_TRUE(l3.run(1).has_value());
    EXPECT_EQ(l3.sent().size(), 1u);
}

TEST(SessionRun, ServerDatagramsReachTheDeviceOnlyWhenGenuineAndNew) {
    Harness h;
    Bytes f1 = frame(60, 1), f2 = frame(60, 2), f3 = frame(60, 3), f4 = frame(60, 4);
    h.fromServer(MessageType::Data, f1, S | 8);
    h.fromServer(MessageType::Data, f1, S | 8);                   // repeat
    h.peer().sendSealed(MessageType::Data, f2, S | 9, 0x1234);   // other session id, valid tag
    h.peer().sendSealed(MessageType::Data, f2, 10);               // bit 63 clear, valid tag
    Bytes forged = h.peer().seal(MessageType::Data, f3, S | 5000, h.peer().sessionId);
    forged.back() ^= 1;                                           // would move the window if trusted
    h.peer().sendRaw(forged);
    Bytes wrongVersion = h.peer().seal(MessageType::Data, f3, S | 11, h.peer().sessionId);
    wrongVersion[0] = 3;
    h.peer().sendRaw(wrongVersion);
    h.peer().sendRaw(Bytes(17, 2));
    h.peer().sendRaw(Bytes(33, 2));
    h.fromServer(MessageType::Data, frame(13), S | 12);           // below the l2 minimum
    h.fromServer(MessageType::Data, f4, S | 20);
    h.fromServer(MessageType::Data, f3, S | 19);                  // older but unseen
    h.fromServer(MessageType::Keepalive, {}, S | 21);
    h.fromServer(MessageType::HandshakeInit, f1, S | 22);         // unknown to the data phase
    ASSERT_TRUE(h.run(1).has_value());
    EXPECT_EQ(h.device.written, (std::vector<Bytes>{f1, f4, f3}));
    EXPECT_EQ(h.session().replay().highest(), 22u);
    EXPECT_TRUE(h.sent().empty());
}

TEST(SessionRun, ReplayWindowEdgesThroughTheSocket) {
    Harness h;
    auto data = [](std::uint8_t n) { return frame(20, n); };
    h.fromServer(MessageType::Data, data(1), S | 300);
    h.fromServer(MessageType::Data, data(2), S | 45);   // 255 below
    h.fromServer(MessageType::Data, data(3), S | 44);   // 256 below
    h.fromServer(MessageType::Data, data(4), S | 300);  // repeat of the highest
    h.fromServer(MessageType::Data, data(5), S | 600);  // jump of 300
    h.fromServer(MessageType::Data, data(6), S | 346);  // 254 below, unseen
    h.arrived();
    ASSERT_TRUE(h.run(1).has_value());
    EXPECT_EQ(h.device.written, (std::vector<Bytes>{data(1), data(2), data(5), data(6)}));
}

TEST(SessionRun, BatchWalkAndCgnatFrames) {
    Harness h;
    auto entry = [](Bytes& out, std::uint16_t claimed, const Bytes& body) {
        out.push_back(static_cast<std::uint8_t>(claimed));
        out.push_back(static_cast<std::uint8_t>(claimed >> 8));
        out.insert(out.end(), body.begin(), body.end());
    };
    Bytes a = frame(20, 1), b = frame(30, 2);
    Bytes batch;
    entry(batch, 20, a);
    entry(batch, 30, b);
    Bytes overlong;
    entry(overlong, 20, a);
    entry(overlong, 31, b);  // claims one byte more than remains
    Bytes tooSmall;
    entry(tooSmall, 20, a);
    entry(tooSmall, 13, frame(13));
    entry(tooSmall, 20, a);

    Bytes reply(36, 0);
    reply[12] = 0x88;
    reply[13] = 0xB6;
    std::memcpy(reply.data() + 14, "OSRCGN1", 7);
    reply[22] = 2;
    reply[23] = 0;
    Bytes addrs{10, 77, 0, 5, 100, 64, 1, 2, 0x01, 0x02, 0x00, 0x07};
    std::memcpy(reply.data() + 24, addrs.data(), addrs.size());
    Bytes unavailable = reply;
    unavailable[23] = 9;
    Bytes badMagic = reply;
    badMagic.resize(40, 0);
    badMagic[14] = 'X';
    Bytes request = reply;
    request[22] = 1;
    Bytes shortCgnat(30, 0x33);
    shortCgnat[12] = 0x88;
    shortCgnat[13] = 0xB6;
    Bytes cgnatInBatch;
    entry(cgnatInBatch, 36, reply);

    h.fromServer(MessageType::Batch, batch, S | 8);
    h.fromServer(MessageType::Batch, overlong, S | 9);
    h.fromServer(MessageType::Batch, tooSmall, S | 10);
    h.fromServer(MessageType::Batch, Bytes{1}, S | 11);
    h.fromServer(MessageType::Data, reply, S | 12);
    h.fromServer(MessageType::Data, unavailable, S | 13);
    h.fromServer(MessageType::Data, badMagic, S | 14);
    h.fromServer(MessageType::Data, request, S | 15);
    h.fromServer(MessageType::Data, shortCgnat, S | 16);
    h.fromServer(MessageType::Batch, cgnatInBatch, S | 17);
    h.arrived();
    ASSERT_TRUE(h.run(1).has_value());
    EXPECT_EQ(h.device.written, (std::vector<Bytes>{a, b, a, a, shortCgnat, reply}));
    ASSERT_EQ(h.c->events.bridges.size(), 2u);
    const BridgeInfo& ok = h.c->events.bridges[0];
    EXPECT_TRUE(ok.available);
    EXPECT_EQ(ok.ip, (Ipv4Address{10, 77, 0, 5}));
    EXPECT_EQ(ok.cgnatIp, (Ipv4Address{100, 64, 1, 2}));
    EXPECT_EQ(ok.instanceId, 0x0102);
    EXPECT_EQ(ok.nodeId, 7);
    EXPECT_FALSE(h.c->events.bridges[1].available);
    EXPECT_EQ(h.c->events.bridges[1].ip, (Ipv4Address{10, 77, 0, 5}));

    // In l3 the same frame is just a packet.
    Harness l3(TunnelMode::l3);
    l3.fromServer(MessageType::Data, reply, S | 8);
    l3.fromServer(MessageType::Data, Bytes{0x45}, S | 9);
    ASSERT_TRUE(l3.run(1).has_value());
    EXPECT_EQ(l3.device.written, (std::vector<Bytes>{reply, Bytes{0x45}}));
    EXPECT_TRUE(l3.c->events.bridges.empty());
}

TEST(SessionRun, CgnatRequestFrame) {
    Harness h;
    ASSERT_TRUE(h.session().sendCgnatAnnounce().has_value());
    auto sent = h.sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].header.type, t(MessageType::Data));
    EXPECT_EQ(toHex(sent[0].plaintext),
              "02000a4d0001" "020011223344" "88b6" "4f535243474e31" "00" "01" "00" "0a4d0005" "00000000" "0000" "0000");

    Harness l3(TunnelMode::l3);
    ASSERT_TRUE(l3.session().sendCgnatAnnounce().has_value());
    AuthOk noV4 = defaultSettings();
    noV4.addressFlags = AuthOk::kIpv6Valid;
    Harness v6only(TunnelMode::l2, noV4);
    ASSERT_TRUE(v6only.session().sendCgnatAnnounce().has_value());
    EXPECT_TRUE(l3.sent().empty());
    EXPECT_TRUE(v6only.sent().empty());
}

TEST(SessionRun, EndingsUserServerAndKick) {
    Harness stopped;
    stopped.running.clear();
    stopped.device.incoming = {frame(100)};
    auto user = stopped.session().run(stopped.device, stopped.running);
    ASSERT_TRUE(user.has_value());
    EXPECT_EQ(*user, DisconnectReason::user);
    EXPECT_TRUE(stopped.sent().empty());
    EXPECT_EQ(stopped.device.incoming.size(), 1u);

    Harness server;
    server.fromServer(MessageType::Disconnect, Bytes{1, 2, 3}, S | 8);
    auto byServer = server.run(10);
    ASSERT_TRUE(byServer.has_value());
    EXPECT_EQ(*byServer, DisconnectReason::server);

    Harness kicked;
    kicked.fromServer(MessageType::Kick, {}, S | 8);
    auto byKick = kicked.run(10);
    ASSERT_TRUE(byKick.has_value());
    EXPECT_EQ(*byKick, DisconnectReason::kicked);
    EXPECT_EQ(kicked.c->events.kicks, 1);

    // A forged DISCONNECT does not end anything.
    Harness forged;
    Bytes d = forged.peer().seal(MessageType::Disconnect, {}, S | 8, forged.peer().sessionId);
    d[20] ^= 1;
    forged.peer().sendRaw(d);
    forged.arrived();
    auto still = forged.run(3);
    ASSERT_TRUE(still.has_value());
    EXPECT_EQ(*still, DisconnectReason::user);
}

TEST(SessionRun, KeepaliveScheduleDuringTraffic) {
    Harness h;
    const auto start = h.c->clock.now();
    std::vector<Clock::duration> keepalives;
    std::size_t data = 0;
    h.device.onWait = [&](FakeDevice& d) {
        d.incoming.push_back(frame(40));
        while (auto o = h.peer().receiveOpened(0ms)) {
            if (o->header.type == t(MessageType::Keepalive)) keepalives.push_back(h.c->clock.now() - start);
            if (o->header.type == t(MessageType::Data)) ++data;
        }
        // The server stays alive so the 90 s time-out never fires.
        if (d.waits % 40 == 0) h.fromServer(MessageType::Keepalive, {}, S | (100 + d.waits));
    };
    auto r = h.run(4 * 80);  // 80 s of 250 ms waits
    ASSERT_TRUE(r.has_value()) << r.error().detail();
    for (auto o : h.sent())
        if (o.header.type == t(MessageType::Keepalive)) keepalives.push_back(h.c->clock.now() - start);
    ASSERT_EQ(keepalives.size(), 3u);
    // Seen at the wait after the send: the send itself happened 25, 50 and 75 s in.
    EXPECT_EQ(keepalives[0], 25s + 250ms);
    EXPECT_EQ(keepalives[1], 50s + 250ms);
    EXPECT_EQ(keepalives[2], 75s + 250ms);
    EXPECT_GT(data, 300u);
}

TEST(SessionRun, TimeoutAfterNinetySecondsOfSilence) {
    // A keepalive with a payload is no sign of life; a bare one is.
    for (bool bare : {false, true}) {
        Harness h;
        const auto start = h.c->clock.now();
        h.device.onWait = [&](FakeDevice& d) {
            if (d.waits == 200) {  // 50 s in
                if (bare)
                    h.fromServer(MessageType::Keepalive, {}, S | 8);
                else
                    h.fromServer(MessageType::Keepalive, Bytes{0}, S | 8);
            }
        };
        auto r = h.run(100000);
        ASSERT_TRUE(r.has_value()) << r.error().detail();
        EXPECT_EQ(*r, DisconnectReason::timeout);
        auto elapsed = h.c->clock.now() - start;
        EXPECT_EQ(elapsed, bare ? 140s : 90s) << bare;
    }
}

namespace {

class FailingDevice : public FakeDevice {
public:
    std::expected<void, ClientError> send(std::span<const std::uint8_t>) override {
        return std::unexpected(ClientError::deviceOpen("WintunAllocateSendPacket failed: error 8"));
    }
};

}  // namespace

TEST(SessionRun, DeviceErrorsEndTheRunUnchanged) {
    Harness h;
    FailingDevice failing;
    failing.clock = &h.c->clock;
    h.fromServer(MessageType::Data, frame(40), S | 8);
    failing.onWait = [&](FakeDevice& d) {
        if (d.waits > 5) h.running.clear();
    };
    auto r = h.session().run(failing, h.running);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().code(), "tap_open_failed");
    EXPECT_EQ(r.error().detail(), "device open failed: WintunAllocateSendPacket failed: error 8");
}

TEST(SessionRun, SendCounterExhaustion) {
    auto c = connectToPeer();
    auto parts = Session::Parts{};
    parts.socket = -1;
    parts.settings = defaultSettings();
    parts.sendCounter = (std::uint64_t{1} << 63);
    parts.clock = &c->clock;
    parts.events = &c->events;
    auto s = Session::fromParts(parts);
    auto r = s->sendMessage(MessageType::Keepalive, {});
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().code(), "encrypt_failed");
    EXPECT_EQ(s->sendCounter(), std::uint64_t{1} << 63);
    auto big = c->session->sendMessage(MessageType::Data, Bytes(1467));
    ASSERT_FALSE(big.has_value());
    EXPECT_EQ(big.error().code(), "encrypt_failed");
}

TEST(SessionRun, FloodOfServerDatagramsCannotHoldOffTheStopFlag) {
    Harness h;
    for (std::uint64_t i = 0; i < 300; ++i) h.peer().sendSealed(MessageType::Data, frame(20), S | (8 + i));
    h.arrived();
    // One pass reads a bounded share, then the flag is seen before the rest.
    auto r = h.run(1);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, DisconnectReason::user);
    EXPECT_EQ(h.device.written.size(), 256u);
    // Nothing was lost: the next run reads what is left.
    RunningFlag again;
    h.device.onWait = [&](FakeDevice&) { again.clear(); };
    ASSERT_TRUE(h.session().run(h.device, again).has_value());
    EXPECT_EQ(h.device.written.size(), 300u);
}

TEST(SessionRun, AGroBurstLargerThanOnePassReachesTheDeviceBeforeTheLoopSleeps) {
    Harness h;
    // 320 equal datagrams leave as five GSO messages; one batched receive takes them all,
    // more than one pass hands out.
    std::vector<Bytes> frames, burst;
    for (std::uint64_t i = 0; i < 320; ++i) {
        Bytes f = frame(100);
        f[6] = static_cast<std::uint8_t>(i >> 8);
        f[7] = static_cast<std::uint8_t>(i);
        burst.push_back(h.peer().seal(MessageType::Data, f, S | (8 + i), h.peer().sessionId));
        frames.push_back(std::move(f));
    }
    ASSERT_TRUE(h.peer().sendBurst(burst)) << "the burst went without GSO";
    h.arrived();
    const auto start = h.c->clock.now();
    std::vector<Clock::duration> sleptWhileHeld;
    h.device.onWait = [&](FakeDevice& d) {
        if (d.written.size() < frames.size()) sleptWhileHeld.push_back(h.c->clock.now() - start);
    };
    ASSERT_TRUE(h.run(3).has_value());
    EXPECT_EQ(h.device.written, frames);
    // The pass that reached its share only polled: the clock moves by every wait's time-out.
    EXPECT_EQ(sleptWhileHeld, std::vector<Clock::duration>(1, Clock::duration::zero()));
}

namespace {

// Holds what it is sent until flush, as the TAP does while it joins TCP segments.
struct HoldingDevice : FakeDevice {
    std::vector<Bytes> held;
    std::size_t heldAtWaits = 0;
    std::expected<void, ClientError> send(std::span<const std::uint8_t> packet) override {
        held.emplace_back(packet.begin(), packet.end());
        return {};
    }
    std::expected<void, ClientError> flush() override {
        written.insert(written.end(), held.begin(), held.end());
        held.clear();
        return {};
    }
    std::expected<void, ClientError> wait(int socket, std::chrono::nanoseconds timeout) override {
        heldAtWaits += held.size();
        return FakeDevice::wait(socket, timeout);
    }
};

}  // namespace

TEST(SessionRun, HeldFramesReachTheDeviceBeforeEveryWaitAndBeforeTheEnd) {
    auto c = connectToPeer();
    HoldingDevice device;
    device.clock = &c->clock;
    RunningFlag running;
    auto arrived = [&] {
        pollfd p{c->session->socket(), POLLIN, 0};
        ::poll(&p, 1, 1000);
    };
    c->peer.sendSealed(MessageType::Data, frame(60, 1), S | 8);
    c->peer.sendSealed(MessageType::Data, frame(70, 2), S | 9);
    arrived();
    device.onWait = [&](FakeDevice& d) {
        if (d.waits == 2) {
            // A frame and the server's end in one drain: the frame still goes to the adapter.
            c->peer.sendSealed(MessageType::Data, frame(80, 3), S | 10);
            c->peer.sendSealed(MessageType::Disconnect, {}, S | 11);
            arrived();
        }
        if (d.waits >= 10) running.clear();
    };
    auto r = c->session->run(device, running);
    ASSERT_TRUE(r.has_value()) << r.error().detail();
    EXPECT_EQ(*r, DisconnectReason::server);
    EXPECT_EQ(device.heldAtWaits, 0u) << "a frame was still held while the loop slept";
    EXPECT_EQ(device.written, (std::vector<Bytes>{frame(60, 1), frame(70, 2), frame(80, 3)}));
}
