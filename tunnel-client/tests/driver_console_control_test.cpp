// The Linux console-control layer: the stop signals reach the handler on its own
// thread and no longer end the process.

#include "driver/client.h"
#include "platform/linux/signal_console_control.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace ostrel;

namespace {

bool waitUntil(const std::function<bool()>& condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace

TEST(DriverConsoleControl, EachStopSignalClearsTheRunningFlagFromAnotherThread) {
    RunningFlag running;
    std::atomic<int> calls{0};
    std::atomic<bool> offMainThread{false};
    auto mainThread = std::this_thread::get_id();
    {
        SignalConsoleControl control;
        ASSERT_TRUE(control.install([&] {
            offMainThread = std::this_thread::get_id() != mainThread;
            Client::onConsoleControl(running);
            ++calls;
        }));
        // A second install would leave two waiters racing for the signals.
        EXPECT_FALSE(control.install([] {}));
        int expected = 0;
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
            ASSERT_EQ(::kill(::getpid(), sig), 0);
            ++expected;
            ASSERT_TRUE(waitUntil([&] { return calls.load() == expected; })) << "signal " << sig;
        }
    }
    EXPECT_TRUE(offMainThread.load());
    EXPECT_FALSE(running.running());
    // Cleared once, it stays cleared.
    Client::onConsoleControl(running);
    EXPECT_FALSE(running.running());
}
