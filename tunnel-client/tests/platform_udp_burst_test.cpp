// Bursts of datagrams through real sockets on loopback: GSO runs on the way out, GRO runs
// cut back on the way in, and nothing reordered, merged, split or changed on the way.
#include "platform/linux/udp_burst.h"
#include "platform/udp_socket.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

using namespace ostrel;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Datagram i of a burst: its own length, and bytes that tell it and every offset apart.
Bytes datagram(std::size_t i, std::size_t length) {
    Bytes d(length);
    for (std::size_t k = 0; k < length; ++k) d[k] = static_cast<std::uint8_t>(i * 31 + k * 7);
    return d;
}

std::uint16_t portOf(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

std::unique_ptr<UdpSocket> openLoopback() {
    auto s = Network::system().openUdp(SocketAddress::Family::ipv4);
    if (!s) return nullptr;
    (*s)->setBufferSizes(8 << 20);
    (void)(*s)->setNonBlocking();
    return std::move(*s);
}

SocketAddress loopback(std::uint16_t port) {
    SocketAddress a;
    a.ip = {127, 0, 0, 1};
    a.port = port;
    return a;
}

struct Pair {
    std::unique_ptr<UdpSocket> sender = openLoopback();
    std::unique_ptr<UdpSocket> receiver = openLoopback();
    Pair() {
        EXPECT_TRUE(sender && receiver);
        EXPECT_TRUE(sender->connect(loopback(portOf(receiver->handle()))).has_value());
    }

    // The whole burst, by the run loop's rule: what was not taken goes again.
    void sendAll(const std::vector<Bytes>& burst) {
        std::vector<std::span<const std::uint8_t>> views(burst.begin(), burst.end());
        for (std::size_t done = 0; done < views.size();) {
            BatchOutcome o = sender->sendBatch(std::span(views).subspan(done));
            done += o.sent;
            if (done == views.size()) break;
            ASSERT_TRUE(o.next.status == IoOutcome::Status::interrupted ||
                        o.next.status == IoOutcome::Status::timedOut)
                << "send failed with error " << o.next.error;
        }
    }

    // Batched receives until `count` datagrams arrived or a second passes without any.
    std::vector<Bytes> receiveBatches(std::size_t count, std::size_t bufferSize, std::size_t* largestBatch = nullptr) {
        std::vector<Bytes> buffers(64, Bytes(bufferSize));
        std::vector<std::span<std::uint8_t>> views(buffers.begin(), buffers.end());
        std::array<std::size_t, 64> lengths{};
        std::vector<Bytes> got;
        while (got.size() < count) {
            IoOutcome o = receiver->receiveBatch(views, lengths);
            if (o.status == IoOutcome::Status::timedOut) {
                pollfd p{receiver->handle(), POLLIN, 0};
                if (::poll(&p, 1, 1000) != 1) break;
                continue;
            }
            if (!o.done()) break;
            if (largestBatch) *largestBatch = std::max(*largestBatch, o.length);
            for (std::size_t k = 0; k < o.length; ++k) got.emplace_back(buffers[k].begin(), buffers[k].begin() + lengths[k]);
        }
        return got;
    }
};

// Runs the kernel may join (equal sizes, a shorter last one), sizes that break runs, the
// largest datagram, a one-byte one, and more than one call takes.
std::vector<Bytes> mixedBurst() {
    std::vector<std::size_t> sizes = {1400, 1400, 1400, 1400, 900, 1400, 1400, 60, 60, 60, 1500, 1, 1468, 1468};
    for (int i = 0; i < 300; ++i) sizes.push_back(i % 50 == 49 ? 700 : 1468);
    std::vector<Bytes> burst;
    for (std::size_t i = 0; i < sizes.size(); ++i) burst.push_back(datagram(i, sizes[i]));
    return burst;
}

}  // namespace

TEST(UdpBurst, BurstsArriveWholeAndInOrderWithGsoAndGro) {
    Pair pair;
    auto burst = mixedBurst();
    pair.sendAll(burst);
    std::size_t largest = 0;
    auto got = pair.receiveBatches(burst.size(), 1756, &largest);
    ASSERT_EQ(got.size(), burst.size());
    for (std::size_t i = 0; i < burst.size(); ++i) ASSERT_EQ(got[i], burst[i]) << "datagram " << i;
    EXPECT_GT(largest, 1u) << "every receive brought one datagram";

    // A receiver without GRO sees exactly the same datagrams, one per receive.
    Pair plain;
    plain.sendAll(burst);
    std::vector<Bytes> one;
    Bytes buffer(1756);
    while (one.size() < burst.size()) {
        IoOutcome o = plain.receiver->receive(buffer);
        if (o.status == IoOutcome::Status::timedOut) {
            pollfd p{plain.receiver->handle(), POLLIN, 0};
            if (::poll(&p, 1, 1000) != 1) break;
            continue;
        }
        ASSERT_TRUE(o.done());
        one.emplace_back(buffer.begin(), buffer.begin() + o.length);
    }
    EXPECT_EQ(one, burst);
}

TEST(UdpBurst, BatchedReceiveCutsLongDatagramsAndSaysWhenNothingWaits) {
    Pair pair;
    auto nothing = pair.receiveBatches(1, 1756);
    EXPECT_TRUE(nothing.empty());
    Bytes buffer(16);
    std::array<std::span<std::uint8_t>, 1> one{buffer};
    std::array<std::size_t, 1> length{};
    EXPECT_EQ(pair.receiver->receiveBatch(one, length).status, IoOutcome::Status::timedOut);

    std::vector<Bytes> burst = {datagram(0, 3000), datagram(1, 10), datagram(2, 1756)};
    pair.sendAll(burst);
    auto got = pair.receiveBatches(3, 1756);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], Bytes(burst[0].begin(), burst[0].begin() + 1756));  // as recv cuts it
    EXPECT_EQ(got[1], burst[1]);
    EXPECT_EQ(got[2], burst[2]);
}

TEST(UdpBurst, AddressedBurstsReachEachDestinationInOrder) {
    auto a = openLoopback();
    auto b = openLoopback();
    auto out = openLoopback();
    ASSERT_TRUE(a && b && out);
    sockaddr_in toA{}, toB{};
    toA.sin_family = toB.sin_family = AF_INET;
    toA.sin_addr.s_addr = toB.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    toA.sin_port = htons(portOf(a->handle()));
    toB.sin_port = htons(portOf(b->handle()));

    // Equal sizes to alternating destinations must not be joined into one run.
    std::vector<Bytes> burst;
    std::vector<sockaddr_in> to;
    for (std::size_t i = 0; i < 40; ++i) {
        burst.push_back(datagram(i, 1200));
        to.push_back(i % 5 < 3 ? toA : toB);
    }
    std::vector<std::span<const std::uint8_t>> views(burst.begin(), burst.end());
    UdpBurst sender(out->handle());
    for (std::size_t done = 0; done < burst.size();) {
        BatchOutcome o = sender.send(std::span(views).subspan(done), std::span(to).subspan(done));
        done += o.sent;
        ASSERT_TRUE(done == burst.size() || o.next.status != IoOutcome::Status::failed);
    }
    UdpBurstReceiver inA(a->handle(), 4), inB(b->handle(), 4);
    for (auto [receiver, forA] : {std::pair{&inA, true}, std::pair{&inB, false}}) {
        const std::size_t expected = forA ? 24 : 16;
        std::vector<Bytes> got;
        for (int tries = 0; got.size() < expected && tries < 100;) {
            std::span<std::uint8_t> d;
            IoOutcome o = receiver->next(d);
            if (o.done()) {
                got.emplace_back(d.begin(), d.end());
                continue;
            }
            ++tries;
            pollfd p{receiver == &inA ? a->handle() : b->handle(), POLLIN, 0};
            ::poll(&p, 1, 10);
        }
        ASSERT_EQ(got.size(), expected);
        std::size_t k = 0;
        for (std::size_t i = 0; i < burst.size(); ++i)
            if ((i % 5 < 3) == forA) {
                EXPECT_EQ(got[k++], burst[i]) << "datagram " << i;
            }
    }
}

TEST(UdpBurst, BatchedReceiveSaysWhenTheQueueIsEmptyBehindIt) {
    Pair pair;
    std::vector<Bytes> burst;
    for (std::size_t i = 0; i < 20; ++i) burst.push_back(datagram(i, 100));
    pair.sendAll(burst);
    pollfd p{pair.receiver->handle(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);

    std::vector<Bytes> buffers(8, Bytes(1756));
    std::vector<std::span<std::uint8_t>> views(buffers.begin(), buffers.end());
    std::array<std::size_t, 8> lengths{};
    // Room for 8 of 20: the first two calls leave datagrams waiting, the third hands out
    // the last four and says nothing more was there.
    std::vector<Bytes> got;
    std::vector<bool> empty;
    for (int call = 0; call < 3; ++call) {
        IoOutcome o = pair.receiver->receiveBatch(views, lengths);
        ASSERT_TRUE(o.done()) << "call " << call;
        empty.push_back(o.queueEmpty);
        for (std::size_t k = 0; k < o.length; ++k) got.emplace_back(buffers[k].begin(), buffers[k].begin() + lengths[k]);
    }
    EXPECT_EQ(empty, (std::vector<bool>{false, false, true}));
    EXPECT_EQ(got, burst);
    EXPECT_EQ(pair.receiver->receiveBatch(views, lengths).status, IoOutcome::Status::timedOut);
}
