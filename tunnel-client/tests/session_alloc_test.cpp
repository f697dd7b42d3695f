// Fails if a steady-state pass of the run loop allocates. Counts every global
// operator new in this binary while the session works (not while the test talks).
#include "session/session.h"
#include "support/session_fixtures.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
}  // namespace

// These replace the global operators, so new taking from malloc and delete
// giving back with free is the pairing; g++ 12 at -O2 inlines them and takes
// it for a mismatch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    if (counting.load()) allocations.fetch_add(1);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

using namespace ostrel;
using namespace ostrel::testing;
using namespace std::chrono_literals;

namespace {

// Hands out packets from fixed storage and swallows what it is given.
class QuietDevice : public PacketDevice {
public:
    std::array<std::array<std::uint8_t, 1466>, 4> packets{};
    std::array<std::size_t, 4> sizes{100, 60, 1465, 200};
    std::size_t cursor = 0;
    std::size_t perPass = 0;
    std::size_t deliveredThisPass = 0;
    std::size_t written = 0;
    std::function<void()> onWait;

    std::string name() const override { return "quiet"; }
    std::expected<void, ClientError> configure(const HostSettings&) override { return {}; }
    std::expected<std::optional<std::size_t>, ClientError> receive(std::span<std::uint8_t> buffer) override {
        if (deliveredThisPass == perPass) return std::optional<std::size_t>{};
        ++deliveredThisPass;
        std::size_t i = cursor++ % packets.size();
        std::memcpy(buffer.data(), packets[i].data(), sizes[i]);
        return std::optional<std::size_t>{sizes[i]};
    }
    std::expected<void, ClientError> send(std::span<const std::uint8_t>) override {
        ++written;
        return {};
    }
    std::expected<void, ClientError> wait(int, std::chrono::nanoseconds) override {
        deliveredThisPass = 0;
        onWait();
        return {};
    }
};

}  // namespace

TEST(SessionAlloc, SteadyStatePassesDoNotAllocate) {
    auto c = connectToPeer();
    QuietDevice device;
    device.perPass = 10;
    for (auto& p : device.packets) p.fill(0x42);
    RunningFlag running;

    // Server traffic sealed up front: DATA, BATCH, bare keepalive, a replay and a forgery.
    std::vector<Bytes> server;
    std::uint64_t counter = kServerCounterBit | 100;
    Bytes batch;
    for (int i = 0; i < 3; ++i) {
        batch.push_back(40);
        batch.push_back(0);
        batch.insert(batch.end(), 40, 0x11);
    }
    for (int pass = 0; pass < 40; ++pass) {
        server.push_back(c->peer.seal(MessageType::Data, Bytes(300, 0x22), counter++, c->peer.sessionId));
        server.push_back(c->peer.seal(MessageType::Batch, batch, counter++, c->peer.sessionId));
        server.push_back(c->peer.seal(MessageType::Keepalive, {}, counter++, c->peer.sessionId));
        server.push_back(server[server.size() - 3]);  // replay
        Bytes forged = server.back();
        forged[30] ^= 1;
        server.push_back(forged);
    }
    std::size_t next = 0;
    int waits = 0;
    long duringRun = 0;
    device.onWait = [&] {
        counting = false;
        ++waits;
        if (waits == 1) allocations = 0;  // the first pass sets the run up
        if (waits % 10 == 0) c->clock.advance(25s);  // keepalives go out too
        // Feed the next pass its server datagrams.
        for (int k = 0; k < 5 && next < server.size(); ++k) c->peer.sendRaw(server[next++]);
        pollfd p{c->session->socket(), POLLIN, 0};
        ::poll(&p, 1, 1000);
        if (waits == 40) {
            duringRun = allocations.load();
            running.clear();
        }
        c->clock.advance(250ms);
        counting = true;
    };
    counting = true;
    auto r = c->session->run(device, running);
    counting = false;
    ASSERT_TRUE(r.has_value()) << r.error().detail();
    EXPECT_EQ(duringRun, 0);
    // The loop really did the work it was given.
    EXPECT_EQ(device.written, 39u * 4u);
    EXPECT_GT(c->session->sendCounter(), 100u);
    EXPECT_EQ(c->session->replay().highest(), 100u + 39u * 3u - 1u);
}
