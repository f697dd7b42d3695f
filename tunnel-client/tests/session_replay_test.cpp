#include "session/replay_window.h"
#include "session/wire.h"

#include <gtest/gtest.h>

using ostrel::kServerCounterBit;
using ostrel::ReplayWindow;

TEST(SessionReplay, RepeatsAndAgeLimits) {
    ReplayWindow w;
    w.seed(kServerCounterBit | 7);
    EXPECT_EQ(w.highest(), 7u);
    EXPECT_FALSE(w.accept(kServerCounterBit | 7));  // the AUTH_OK counter itself
    EXPECT_TRUE(w.accept(6));                          // older, unseen, bit 63 is not part of the value
    EXPECT_FALSE(w.accept(kServerCounterBit | 6));
    EXPECT_TRUE(w.accept(300));
    EXPECT_FALSE(w.accept(300));
    EXPECT_TRUE(w.accept(300 - 255));
    EXPECT_FALSE(w.accept(300 - 255));
    EXPECT_FALSE(w.accept(300 - 256));
    EXPECT_TRUE(w.accept(299));
    EXPECT_EQ(w.highest(), 300u);
}

TEST(SessionReplay, MovingForwardForgetsExactlyTheReusedPositions) {
    ReplayWindow w;
    w.seed(0);
    for (std::uint64_t c = 1; c <= 20; ++c) ASSERT_TRUE(w.accept(c));
    // A step of 200 keeps what is still inside the window.
    ASSERT_TRUE(w.accept(220));
    EXPECT_FALSE(w.accept(20));
    EXPECT_TRUE(w.accept(100));
    // 256 + 10 shares a position with 10 and is new, so it must be accepted.
    ASSERT_TRUE(w.accept(266));
    EXPECT_FALSE(w.accept(20));   // still inside the window and seen
    EXPECT_FALSE(w.accept(10));   // too old now
    // A jump of 300 clears everything: old positions no longer mark anything as seen.
    ASSERT_TRUE(w.accept(566));
    EXPECT_TRUE(w.accept(356));             // position 100, which 100 occupied before the jump
    EXPECT_TRUE(w.accept(522));             // position 10, which 266 occupied
    EXPECT_FALSE(w.accept(566));
}
