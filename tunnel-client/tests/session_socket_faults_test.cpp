// Socket failures that loopback never produces, through a fault-injecting Network.
#include "session/session.h"
#include "support/session_fixtures.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <cerrno>

using namespace ostrel;
using namespace ostrel::testing;
using namespace std::chrono_literals;

namespace {

struct Faults {
    int openError = 0;
    int timeoutError = 0;
    int connectError = 0;
    int sendToError = 0;
    int sendError = 0;
    int receiveError = 0;       // run-loop receive
    int wouldBlockSends = 0;    // run-loop sends answered with would-block first
    bool shortSend = false;
    int nonBlockingError = 0;
    int wouldBlockBatches = 0;  // bursts answered with would-block first
    int partialBatches = 0;     // bursts the socket takes one datagram of, this many times
    bool cutBatch = false;      // a burst's second datagram goes out a byte short
    int batchedReceives = 0;    // counted, not a fault
};

class FaultySocket : public UdpSocket {
public:
    FaultySocket(std::unique_ptr<UdpSocket> real, Faults& faults) : real_(std::move(real)), f_(faults) {}
    int handle() const override { return real_->handle(); }
    void setBufferSizes(int bytes) override { real_->setBufferSizes(bytes); }
    std::expected<void, int> setReceiveTimeout(std::chrono::milliseconds t) override {
        if (f_.timeoutError) return std::unexpected(f_.timeoutError);
        return real_->setReceiveTimeout(t);
    }
    std::expected<void, int> setNonBlocking() override {
        if (f_.nonBlockingError) return std::unexpected(f_.nonBlockingError);
        return real_->setNonBlocking();
    }
    IoOutcome sendTo(std::span<const std::uint8_t> d, const SocketAddress& to) override {
        if (f_.sendToError) return failed(f_.sendToError);
        return real_->sendTo(d, to);
    }
    IoOutcome receiveFrom(std::span<std::uint8_t> b, SocketAddress& from) override { return real_->receiveFrom(b, from); }
    std::expected<void, int> connect(const SocketAddress& to) override {
        if (f_.connectError) return std::unexpected(f_.connectError);
        return real_->connect(to);
    }
    IoOutcome send(std::span<const std::uint8_t> d) override {
        if (f_.wouldBlockSends > 0) {
            --f_.wouldBlockSends;
            return IoOutcome{IoOutcome::Status::timedOut, 0, EAGAIN};
        }
        if (f_.sendError) return failed(f_.sendError);
        if (f_.shortSend) {
            IoOutcome o = real_->send(d.first(d.size() - 1));
            return o;
        }
        return real_->send(d);
    }
    IoOutcome receive(std::span<std::uint8_t> b) override {
        if (f_.receiveError) return failed(f_.receiveError);
        return real_->receive(b);
    }
    BatchOutcome sendBatch(std::span<const std::span<const std::uint8_t>> d) override {
        if (f_.wouldBlockBatches > 0) {
            --f_.wouldBlockBatches;
            return BatchOutcome{0, IoOutcome{IoOutcome::Status::timedOut, 0, EAGAIN}};
        }
        if (f_.partialBatches > 0 && d.size() > 1) {
            --f_.partialBatches;
            BatchOutcome o = real_->sendBatch(d.first(1));
            if (o.sent == 1) o.next.status = IoOutcome::Status::interrupted;
            return o;
        }
        if (f_.cutBatch && d.size() > 1) {
            BatchOutcome o = real_->sendBatch(d.first(1));
            o.next = real_->send(d[1].first(d[1].size() - 1));
            return o;
        }
        // Per-datagram faults need the datagrams one by one, through send().
        if (f_.sendError || f_.shortSend || f_.wouldBlockSends) return UdpSocket::sendBatch(d);
        return real_->sendBatch(d);
    }
    IoOutcome receiveBatch(std::span<const std::span<std::uint8_t>> b, std::span<std::size_t> lengths) override {
        if (f_.receiveError) return failed(f_.receiveError);
        ++f_.batchedReceives;
        return real_->receiveBatch(b, lengths);
    }

private:
    static IoOutcome failed(int e) { return IoOutcome{IoOutcome::Status::failed, 0, e}; }
    std::unique_ptr<UdpSocket> real_;
    Faults& f_;
};

class FaultyNetwork : public Network {
public:
    Faults faults;
    std::vector<SocketAddress> resolve(const std::string& host, std::uint16_t port) override {
        return Network::system().resolve(host, port);
    }
    std::expected<std::unique_ptr<UdpSocket>, int> openUdp(SocketAddress::Family family) override {
        if (faults.openError) return std::unexpected(faults.openError);
        auto real = Network::system().openUdp(family);
        if (!real) return std::unexpected(real.error());
        return std::make_unique<FaultySocket>(std::move(*real), faults);
    }
    std::unique_ptr<UdpSocket> adopt(int handle) override { return Network::system().adopt(handle); }
};

struct Rig {
    FaultyNetwork network;
    TestPeer peer;
    RecordedEvents events;
    ManualClock clock;

    std::expected<std::unique_ptr<Session>, ClientError> connect() {
        PeerScript script;
        script.settings = defaultSettings();
        peer.serve(script);
        ConnectOptions options;
        options.clock = &clock;
        options.events = &events;
        options.network = &network;
        // Answers come at once; the bound only has to outlast a busy machine.
        options.receiveTimeout = 5s;
        options.authReceiveTimeout = 5s;
        auto s = Session::connect(peer.address(), "u", "p", "n", TunnelMode::l2, std::nullopt, options);
        peer.join();
        return s;
    }
};

std::string detailOf(const std::expected<std::unique_ptr<Session>, ClientError>& r) {
    return r ? "connected" : r.error().detail();
}

}  // namespace

TEST(SessionSocketFaults, ConnectReportsEachFailureKind) {
    Rig open;
    open.network.faults.openError = EMFILE;
    auto a = open.connect();
    ASSERT_FALSE(a.has_value());
    EXPECT_EQ(a.error().code(), "socket_failed");
    EXPECT_EQ(a.error().detail(), "cannot create UDP socket: Too many open files (os error 24)");

    Rig timeout;
    timeout.network.faults.timeoutError = ENOPROTOOPT;
    auto b = timeout.connect();
    ASSERT_FALSE(b.has_value());
    EXPECT_EQ(b.error().code(), "internal_error");
    EXPECT_EQ(b.error().detail(), "I/O error: Protocol not available (os error 92)");

    Rig send;
    send.network.faults.sendToError = ENETUNREACH;
    EXPECT_EQ(detailOf(send.connect()), "I/O error: Network is unreachable (os error 101)");
    EXPECT_TRUE(send.events.steps.empty());

    // Connecting the socket to the server after AUTH_OK is the last step.
    Rig connect;
    connect.network.faults.connectError = EADDRNOTAVAIL;
    auto c = connect.connect();
    ASSERT_FALSE(c.has_value());
    EXPECT_EQ(c.error().code(), "socket_failed");
    EXPECT_EQ(connect.events.steps.back(), "auth_sent");
}

TEST(SessionSocketFaults, RunLoopSendAndReceiveFailures) {
    // Would-block sends are retried after 1 ms until they go out.
    Rig retry;
    auto s = retry.connect();
    ASSERT_TRUE(s.has_value()) << detailOf(s);
    retry.network.faults.wouldBlockSends = 3;
    const auto before = retry.clock.now();
    ASSERT_TRUE((*s)->sendMessage(MessageType::Keepalive, {}).has_value());
    EXPECT_EQ(retry.clock.now() - before, 3ms);
    auto got = retry.peer.receiveOpened();
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->header.type, static_cast<std::uint8_t>(MessageType::Keepalive));

    retry.network.faults.shortSend = true;
    auto shortSend = (*s)->sendMessage(MessageType::Keepalive, {});
    ASSERT_FALSE(shortSend.has_value());
    EXPECT_EQ(shortSend.error().detail(), "I/O error: short UDP packet send");
    retry.network.faults.shortSend = false;

    // A queued burst whose send fails ends the run with that error.
    FakeDevice device;
    device.clock = &retry.clock;
    RunningFlag running;
    device.incoming = {Bytes(100, 1)};
    retry.network.faults.sendError = EPERM;
    auto r = (*s)->run(device, running);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().detail(), "I/O error: Operation not permitted (os error 1)");
    retry.network.faults.sendError = 0;

    retry.network.faults.receiveError = ECONNREFUSED;
    auto refused = (*s)->run(device, running);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().detail(), "I/O error: Connection refused (os error 111)");
    retry.network.faults.receiveError = 0;

    retry.network.faults.nonBlockingError = EBADF;
    auto nonBlocking = (*s)->run(device, running);
    ASSERT_FALSE(nonBlocking.has_value());
    EXPECT_EQ(nonBlocking.error().code(), "internal_error");
}

TEST(SessionSocketFaults, QueuedBurstGoesOutWholeHoweverMuchEachCallTakes) {
    Rig rig;
    auto s = rig.connect();
    ASSERT_TRUE(s.has_value()) << detailOf(s);
    Session& session = **s;
    const std::uint64_t first = session.sendCounter();
    for (std::uint8_t i = 0; i < 5; ++i)
        ASSERT_TRUE(session.queueDatagram(MessageType::Data, Bytes(100 + i, i)).has_value());
    rig.network.faults.wouldBlockBatches = 2;
    rig.network.faults.partialBatches = 3;
    const auto before = rig.clock.now();
    ASSERT_TRUE(session.sendQueued().has_value());
    EXPECT_EQ(rig.clock.now() - before, 2ms);  // one 1 ms pause per would-block, none otherwise
    for (std::uint8_t i = 0; i < 5; ++i) {
        auto got = rig.peer.receiveOpened();
        ASSERT_TRUE(got.has_value()) << "datagram " << int(i) << " missing";
        EXPECT_EQ(got->header.counter, first + i);
        EXPECT_EQ(got->plaintext, Bytes(100 + i, i));
    }
    EXPECT_FALSE(rig.peer.receiveOpened(50ms).has_value()) << "a datagram went out twice";

    // A datagram that leaves cut ends the burst, as a short single send does.
    for (std::uint8_t i = 0; i < 3; ++i) ASSERT_TRUE(session.queueDatagram(MessageType::Data, Bytes(60, i)).has_value());
    rig.network.faults.cutBatch = true;
    auto cut = session.sendQueued();
    ASSERT_FALSE(cut.has_value());
    EXPECT_EQ(cut.error().detail(), "I/O error: short UDP packet send");
}

TEST(SessionSocketFaults, DrainEndsWhenABatchLeavesTheQueueEmpty) {
    Rig rig;
    auto s = rig.connect();
    ASSERT_TRUE(s.has_value()) << detailOf(s);
    Session& session = **s;
    FakeDevice device;
    device.clock = &rig.clock;
    std::uint64_t counter = kServerCounterBit | 8;
    // Everything sent is waiting on the socket before the pass starts.
    auto onePass = [&](std::size_t datagrams) {
        for (std::size_t i = 0; i < datagrams; ++i) rig.peer.sendSealed(MessageType::Data, Bytes(60, 7), counter++);
        pollfd p{session.socket(), POLLIN, 0};
        ::poll(&p, 1, 1000);
        rig.network.faults.batchedReceives = 0;
        device.written.clear();
        RunningFlag running;
        device.onWait = [&](FakeDevice&) { running.clear(); };
        auto r = session.run(device, running);
        ASSERT_TRUE(r.has_value()) << r.error().detail();
        EXPECT_EQ(device.written.size(), datagrams);
    };
    // One datagram: the batch that brought it showed nothing behind it, so the frame goes to
    // the adapter without a second receive that could only say "nothing".
    onePass(1);
    EXPECT_EQ(rig.network.faults.batchedReceives, 1);
    // Full batches go on being drained; the short one after them ends the drain.
    onePass(40);
    EXPECT_EQ(rig.network.faults.batchedReceives, 3);
}
