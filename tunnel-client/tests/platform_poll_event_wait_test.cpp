// Waiting on the TAP and the socket with poll: what wakes it, and what a time-out costs.
#include "platform/linux/poll_event_wait.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <ctime>

using namespace ostrel;

namespace {

std::chrono::nanoseconds threadCpu() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

}  // namespace

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
    // millisecond: a thread asleep uses no CPU.
    const auto cpu = threadCpu();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 40; ++i) {
        auto woken = wait.waitAny(device[0], *event, 3);
        ASSERT_TRUE(woken);
        ASSERT_EQ(*woken, EventWait::Woken::Timeout);
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(120));
    EXPECT_LT(threadCpu() - cpu, std::chrono::milliseconds(15));

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
