// Waiting on the TAP and the socket with poll: what wakes it, and what a time-out costs.
#include "platform/linux/poll_event_wait.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

using namespace ostrel;

namespace {

std::atomic<int> pollCalls{0};

}  // namespace

// Counts the waits' poll calls: a count does not depend on how loaded the machine is,
// where a measure of CPU time did.
extern "C" int poll(pollfd* fds, nfds_t n, int timeout) {
    using Poll = int (*)(pollfd*, nfds_t, int);
    static const auto real = reinterpret_cast<Poll>(::dlsym(RTLD_NEXT, "poll"));
    pollCalls.fetch_add(1, std::memory_order_relaxed);
    return real(fds, n, timeout);
}

TEST(PollEventWait, WakesForWhatIsReadableAndSleepsThroughItsTimeOuts) {
    int device[2];
    int socket[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM, 0, device), 0);
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM, 0, socket), 0);
    PollEventWait wait;
    auto event = wait.createSocketEvent();
    ASSERT_TRUE(event);
    ASSERT_TRUE(wait.selectSocket(*event, socket[0]));

    // Time-outs end at their deadline without spinning on the last fraction of a
    // millisecond: one poll per wait, a second only where poll woke early.
    pollCalls = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 40; ++i) {
        auto woken = wait.waitAny(device[0], *event, 3);
        ASSERT_TRUE(woken);
        ASSERT_EQ(*woken, EventWait::Woken::Timeout);
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(120));
    EXPECT_LE(pollCalls.load(), 80);

    ASSERT_EQ(::write(socket[1], "s", 1), 1);
    auto woken = wait.waitAny(device[0], *event, EventWait::kInfinite);
    ASSERT_TRUE(woken);
    EXPECT_EQ(*woken, EventWait::Woken::Socket);
    // The device goes first when both have something.
    ASSERT_EQ(::write(device[1], "d", 1), 1);
    woken = wait.waitAny(device[0], *event, 1000);
    ASSERT_TRUE(woken);
    EXPECT_EQ(*woken, EventWait::Woken::Device);

    wait.closeSocketEvent(*event);
    for (int fd : {device[0], device[1], socket[0], socket[1]}) ::close(fd);
}
