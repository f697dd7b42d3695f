// The driver with real sessions against the in-process test server: back-off against a
// silent server on an injected clock, and whole sessions with a test device.

#include "support/driver_fakes.h"
#include "core/text.h"
#include "tunnel_server.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

using namespace ostrel;
using namespace ostrel::testing;
using namespace ostrel::test_server;
using namespace std::chrono_literals;

namespace {

class RecordingSessionEvents final : public SessionEvents {
public:
    explicit RecordingSessionEvents(Timeline& timeline, std::mutex& mutex) : timeline_(timeline), mutex_(mutex) {}
    void handshake(std::string_view step) override { add("handshake step=" + std::string(step)); }
    void kicked() override { add("kicked"); }
    void bridgeInfo(const BridgeInfo& info) override {
        add(info.available ? "bridge_info ip=" + ipv4Text(info.ip) + " cgnat_ip=" + ipv4Text(info.cgnatIp)
                           : "bridge_info status=unavailable");
    }

private:
    void add(std::string line) {
        std::lock_guard lock(mutex_);
        timeline_.push_back(std::move(line));
    }
    Timeline& timeline_;
    std::mutex& mutex_;
};

// Packets queued by the test go into the tunnel; packets from the tunnel are collected.
class QueueDevice final : public PacketDevice {
public:
    std::string name() const override { return "queue0"; }
    std::expected<void, ClientError> configure(const HostSettings&) override { return {}; }
    std::expected<std::optional<std::size_t>, ClientError> receive(std::span<std::uint8_t> buffer) override {
        std::lock_guard lock(mutex_);
        if (outgoing_.empty()) return std::optional<std::size_t>{};
        auto packet = std::move(outgoing_.front());
        outgoing_.pop_front();
        std::size_t n = std::min(packet.size(), buffer.size());
        std::copy_n(packet.begin(), n, buffer.begin());
        return std::optional<std::size_t>{n};
    }
    std::expected<void, ClientError> send(std::span<const std::uint8_t> packet) override {
        std::lock_guard lock(mutex_);
        received_.emplace_back(packet.begin(), packet.end());
        changed_.notify_all();
        return {};
    }
    std::expected<void, ClientError> wait(int socket, std::chrono::nanoseconds timeout) override {
        // Short polls, so packets queued from the test thread are picked up quickly.
        auto ms = std::min<long>(std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count(), 5);
        pollfd fd{socket, POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(ms));
        return {};
    }

    void queue(std::vector<std::uint8_t> packet) {
        std::lock_guard lock(mutex_);
        outgoing_.push_back(std::move(packet));
    }
    // Queued together, so one pass of the run loop reads them all and coalesces them into one BATCH.
    void queueAll(std::vector<std::vector<std::uint8_t>> packets) {
        std::lock_guard lock(mutex_);
        for (auto& p : packets) outgoing_.push_back(std::move(p));
    }
    bool waitReceived(std::size_t count, std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return received_.size() >= count; });
    }
    std::vector<std::vector<std::uint8_t>> received() {
        std::lock_guard lock(mutex_);
        return received_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<std::uint8_t>> outgoing_;
    std::vector<std::vector<std::uint8_t>> received_;
};

// Real sessions, and each attempt's device handed over from the test.
class LoopbackSteps final : public TunnelSteps {
public:
    LoopbackSteps(ConnectOptions options, QueueDevice* device) : real_(options), device_(device) {}
    ~LoopbackSteps() override { delete device_; }
    std::expected<std::unique_ptr<TunnelSession>, ClientError> connect(const ConnectRequest& request) override {
        return real_.connect(request);
    }
    std::expected<std::unique_ptr<PacketDevice>, ClientError> openDevice(const DeviceOptions&) override {
        if (device_ == nullptr) return std::unexpected(ClientError::deviceOpen("no test device left"));
        return std::unique_ptr<PacketDevice>(std::exchange(device_, nullptr));
    }

private:
    RealTunnelSteps real_;
    QueueDevice* device_;
};

// Guards the timeline, which the client thread writes while the test reads.
class LockedRecorder final : public DriverEvents {
public:
    LockedRecorder(Timeline& timeline, std::mutex& mutex) : inner_(timeline), mutex_(mutex) {}
    void emit(std::string_view name, const EventFields& fields) override {
        std::lock_guard lock(mutex_);
        inner_.emit(name, fields);
    }
    void emitError(const ClientError& error) override {
        std::lock_guard lock(mutex_);
        inner_.emitError(error);
    }

private:
    EventRecorder inner_;
    std::mutex& mutex_;
};

Args argsFor(const TunnelServer& server, const std::string& user) {
    Args args;
    args.server = server.address();
    args.user = user;
    args.password = "pw-" + user;
    args.node = "lan";
    args.insecure_skip_server_auth = true;
    return args;
}

ServerOptions twoUsers() {
    ServerOptions options;
    options.accounts.add({"a", "pw-a", "lan", TunnelMode::l2, 4});
    options.accounts.add({"b", "pw-b", "lan", TunnelMode::l2, 4});
    return options;
}

std::vector<std::uint8_t> frame(const Mac& dest, const Mac& source, std::uint8_t fill, std::size_t size) {
    std::vector<std::uint8_t> f(size, fill);
    std::copy(dest.begin(), dest.end(), f.begin());
    std::copy(source.begin(), source.end(), f.begin() + 6);
    f[12] = 0x08;
    f[13] = 0x00;
    return f;
}

}  // namespace

TEST(DriverLoopback, SilentServerGivesNoCookieAndTheBackoffSeriesOnTheInjectedClock) {
    ServerOptions options = twoUsers();
    options.misbehave.silent = true;
    TunnelServer server(std::move(options));
    ASSERT_TRUE(server.start());

    std::mutex mutex;
    Timeline timeline;
    LockedRecorder events(timeline, mutex);
    RecordingSessionEvents sessionEvents(timeline, mutex);
    RecordingClock clock(timeline);
    RunningFlag running;
    int sleeps = 0;
    clock.onSleep = [&] {
        // Stop in the wait after the sixth failure (1+2+4+8+16 seconds, then one of 30).
        if (++sleeps == 32) Client::onConsoleControl(running);
    };
    ConnectOptions connect;
    connect.events = &sessionEvents;
    connect.receiveTimeout = 5ms;
    Args args = argsFor(server, "a");
    args.reconnect = true;
    LoopbackSteps steps(connect, nullptr);
    Client client(args, {steps, events, clock, running});
    EXPECT_EQ(client.runAttempts(), 0);

    std::vector<std::string> printed;
    for (const auto& line : timeline)
        if (line != "sleep") printed.push_back(line);
    std::vector<std::string> expected;
    for (const char* backoff : {"1", "2", "4", "8", "16", "30"}) {
        expected.push_back("connecting mode=l2 node=lan server=" + server.address());
        expected.push_back("error no_cookie");
        expected.push_back(std::string("reconnecting backoff=") + backoff);
    }
    EXPECT_EQ(printed, expected);
    // Five cookie exchanges per attempt reached the server (its thread may still be reading the last).
    server.waitFor([&] { return server.stats().datagrams >= 30; }, 20s);
    EXPECT_EQ(server.stats().datagrams, 30u);
}

TEST(DriverLoopback, TwoClientsShareTheSegmentUntilTheServerKicksThem) {
    TunnelServer server(twoUsers());
    ASSERT_TRUE(server.start());

    struct Side {
        std::mutex mutex;
        Timeline timeline;
        QueueDevice* device = new QueueDevice;
        RunningFlag running;
        int status = -1;
        std::thread thread;
    };
    Side a, b;
    auto start = [&](Side& side, const std::string& user) {
        side.thread = std::thread([&side, &server, user] {
            LockedRecorder events(side.timeline, side.mutex);
            RecordingSessionEvents sessionEvents(side.timeline, side.mutex);
            RecordingClock clock(side.timeline);
            ConnectOptions connect;
            connect.events = &sessionEvents;
            LoopbackSteps steps(connect, side.device);
            Client client(argsFor(server, user), {steps, events, clock, side.running});
            side.status = client.runAttempts();
        });
    };
    start(a, "a");
    start(b, "b");
    ASSERT_TRUE(server.waitFor([&] { return server.sessions().size() == 2; }, 10s));

    auto sessions = server.sessions();
    auto macOf = [&](const std::string& user) {
        for (const auto& s : sessions)
            if (s.user == user) return sessionMac(s.sessionId);
        return Mac{};
    };
    // Queue before the kick; the device stays owned by its client until the session ends.
    Mac broadcast{0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    a.device->queue(frame(broadcast, macOf("a"), 0x11, 60));
    a.device->queue(frame(macOf("b"), macOf("a"), 0x22, 1400));
    ASSERT_TRUE(b.device->waitReceived(2, 10s));
    // Read before the kick: the client releases its device when the session ends.
    auto got = b.device->received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], frame(broadcast, macOf("a"), 0x11, 60));
    EXPECT_EQ(got[1], frame(macOf("b"), macOf("a"), 0x22, 1400));

    // Small frames travel in a BATCH; the server hands each entry on by itself.
    b.device->queueAll({frame(macOf("a"), macOf("b"), 0x31, 100), frame(macOf("a"), macOf("b"), 0x32, 14),
                        frame(broadcast, macOf("b"), 0x33, 200)});
    ASSERT_TRUE(a.device->waitReceived(3, 10s));
    auto back = a.device->received();
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[0], frame(macOf("a"), macOf("b"), 0x31, 100));
    EXPECT_EQ(back[1], frame(macOf("a"), macOf("b"), 0x32, 14));
    EXPECT_EQ(back[2], frame(broadcast, macOf("b"), 0x33, 200));

    EXPECT_TRUE(server.kick("a"));
    EXPECT_TRUE(server.kick("b"));
    a.thread.join();
    b.thread.join();
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(b.status, 0);
    for (Side* side : {&a, &b}) {
        ASSERT_GE(side->timeline.size(), 2u);
        EXPECT_EQ(side->timeline[side->timeline.size() - 2], "kicked");
        EXPECT_EQ(side->timeline.back(), "disconnected reason=kicked");
        EXPECT_NE(std::find(side->timeline.begin(), side->timeline.end(), "ready"), side->timeline.end());
    }
    // Kicked sessions send no disconnect notice.
    EXPECT_TRUE(server.disconnects().empty());
}

TEST(DriverLoopback, AStopDuringTheSessionSendsTheNoticeAndEndsWithUser) {
    ServerOptions options = twoUsers();
    options.grantIpv6 = true;
    TunnelServer server(std::move(options));
    ASSERT_TRUE(server.start());

    std::mutex mutex;
    Timeline timeline;
    LockedRecorder events(timeline, mutex);
    RecordingSessionEvents sessionEvents(timeline, mutex);
    RecordingClock clock(timeline);
    RunningFlag running;
    ConnectOptions connect;
    connect.events = &sessionEvents;
    Args args = argsFor(server, "a");
    args.reconnect = true;  // a stop never reconnects
    LoopbackSteps steps(connect, new QueueDevice);
    int status = -1;
    std::thread thread([&] {
        Client client(args, {steps, events, clock, running});
        status = client.runAttempts();
    });
    auto sawReady = [&] {
        std::lock_guard lock(mutex);
        return std::find(timeline.begin(), timeline.end(), "ready") != timeline.end();
    };
    bool ready = server.waitFor(sawReady, 10s);
    for (int i = 0; i < 1000 && !ready; ++i) {
        std::this_thread::sleep_for(5ms);
        ready = sawReady();
    }
    ASSERT_TRUE(ready);
    Client::onConsoleControl(running);
    thread.join();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(timeline.back(), "disconnected reason=user");
    auto connected = std::find_if(timeline.begin(), timeline.end(),
                                  [](const std::string& l) { return l.starts_with("connected"); });
    ASSERT_NE(connected, timeline.end());
    EXPECT_NE(connected->find(" ip6=fd77::2 prefix6=64 gateway6=fd77::1"), std::string::npos) << *connected;
    ASSERT_TRUE(server.waitFor([&] { return !server.disconnects().empty(); }, 20s));
    // AUTH took counter 0 and the CGNAT request 1, so the notice carries 2.
    EXPECT_EQ(server.disconnects()[0].counter, 2u);
}
