#include "applier_main.h"
#include "platform/error_text.h"
#include "platform/linux/linux_process_launcher.h"
#include "platform/linux/linux_process_waiter.h"
#include "support/applier_test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(LinuxProcessWaiter, WaitsForALiveProcessAndTimesOutWhenItStays)
{
    LinuxProcessWaiter waiter;
    HeldChild child;
    ASSERT_GT(child.pid(), 0);

    const auto stayed = waiter.waitForExit(static_cast<std::uint32_t>(child.pid()), 50ms);
    EXPECT_EQ(stayed.outcome, ProcessWaiter::Outcome::TimedOut);

    child.letGo();
    // Ends as soon as the child does, long before the limit.
    const auto start = std::chrono::steady_clock::now();
    const auto ended = waiter.waitForExit(static_cast<std::uint32_t>(child.pid()), 60000ms);
    EXPECT_EQ(ended.outcome, ProcessWaiter::Outcome::Exited);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30000ms);
}

TEST(LinuxProcessWaiter, AParentThatOutlivesTheLimitEndsTheRunWithExitFour)
{
    TempDir tmp;
    writeFile(tmp.path() / "staging" / "apply.json", R"({"main_executable": "corvana"})");
    writeFile(tmp.path() / "install" / "corvana", "old");
    HeldChild parent;
    ASSERT_GT(parent.pid(), 0);

    StdFileOperations files;
    LinuxProcessWaiter waiter;
    RecordingLauncher launcher;
    RecordingSleeper sleeper;
    ApplierEnvironment env{files, waiter, launcher, sleeper, 100ms};
    const auto install = tmp.path() / "install";
    EXPECT_EQ(runApplier({"stub", (tmp.path() / "staging").string(), install.string(), "x", std::to_string(parent.pid())},
                         env),
              ApplierExitCode::ParentWaitFailed);
    EXPECT_EQ(logLines(install), std::vector<std::string>{
        "Timed out waiting for parent process PID " + std::to_string(parent.pid()) + " to exit."});
    EXPECT_EQ(readFile(install / "corvana"), "old");
    EXPECT_TRUE(sleeper.sleeps.empty());
}

TEST(LinuxProcessWaiter, AnIdNobodyHoldsCountsAsEnded)
{
    LinuxProcessWaiter waiter;
    pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ASSERT_GT(gone, 0);
    ::waitpid(gone, nullptr, 0);

    EXPECT_EQ(waiter.waitForExit(static_cast<std::uint32_t>(gone), 5000ms).outcome, ProcessWaiter::Outcome::NotFound);
    EXPECT_EQ(waiter.waitForExit(0, 5000ms).outcome, ProcessWaiter::Outcome::NotFound);
    EXPECT_EQ(waiter.waitForExit(4294967295u, 5000ms).outcome, ProcessWaiter::Outcome::NotFound);
}

TEST(LinuxProcessLauncher, StartsTheProgramInTheGivenDirectoryOrReportsWhy)
{
    TempDir tmp;
    LinuxProcessLauncher launcher;
    const fs::path probe = fs::path(CORVANA_BIN_DIR) / "applier_restart_probe";
    ASSERT_TRUE(fs::exists(probe)) << probe;

    const auto started = launcher.start(probe, tmp.path());
    ASSERT_EQ(started.error, 0);
    int status = -1;
    ASSERT_EQ(::waitpid(static_cast<pid_t>(started.processId), &status, 0), started.processId);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(readFile(tmp.path() / "restarted.txt"),
              "cwd=" + tmp.path().string() + "\nargc=1\nargv0=" + probe.string() + "\n");

    EXPECT_EQ(launcher.start(tmp.path() / "missing", tmp.path()).error, ENOENT);
    writeFile(tmp.path() / "not-executable", "#!/bin/sh\n");
    fs::permissions(tmp.path() / "not-executable", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(launcher.start(tmp.path() / "not-executable", tmp.path()).error, EACCES);
    EXPECT_EQ(launcher.start(probe, tmp.path() / "no-such-dir").error, ENOENT);
}

TEST(SystemErrorText, GivesTheSystemsTextOrUnknown)
{
    EXPECT_EQ(systemErrorText(ENOENT), "No such file or directory");
    EXPECT_EQ(systemErrorText(EACCES), "Permission denied");
    const std::string unknown = systemErrorText(999999);
    EXPECT_FALSE(unknown.empty());
    EXPECT_EQ(unknown.find('\n'), std::string::npos);
}
