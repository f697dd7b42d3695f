// The helper every program-starting test relies on: streams kept apart, lines cut
// right, endings reported as they happened, nothing left running.

#include "child_program.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>

using corvana::process::ChildProgram;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> shell(const std::string& script) { return {"sh", "-c", script}; }

}  // namespace

TEST(ChildProgram, FinishKeepsTheStreamsApartAndReportsHowItEnded) {
    ChildProgram both(shell("printf 'one\\ntwo'; printf 'bad\\n' >&2; exit 3"),
                      {.errors = ChildProgram::Errors::capture});
    ASSERT_TRUE(both.started());
    auto finished = both.finish(30s);
    EXPECT_EQ(finished.out, "one\ntwo");
    EXPECT_EQ(finished.err, "bad\n");
    EXPECT_EQ(finished.exitStatus, 3);
    EXPECT_EQ(finished.signal, 0);

    // Errors not captured stay out of the output; a line already read is not read twice.
    ChildProgram quiet(shell("echo first; echo second; echo noise >&2"));
    EXPECT_EQ(quiet.readLine(30s), "first");
    finished = quiet.finish(30s);
    EXPECT_EQ(finished.out, "second\n");
    EXPECT_EQ(finished.err, "");
    EXPECT_EQ(finished.exitStatus, 0);

    ChildProgram killed(shell("kill -TERM $$"));
    finished = killed.finish(30s);
    EXPECT_EQ(finished.exitStatus, std::nullopt);
    EXPECT_EQ(finished.signal, SIGTERM);
    EXPECT_EQ(killed.state(), "killed by signal 15");

    ChildProgram missing({"/nonexistent/program"});
    EXPECT_EQ(missing.finish(30s).exitStatus, 127);
}

TEST(ChildProgram, LinesComeWholeAndTimeOutsLeaveTheProgramRunning) {
    // The second line arrives in two pieces; the third never ends with a newline.
    ChildProgram program(shell("echo ready; printf 'spl'; sleep 0.2; echo 'it'; printf 'tail'; exec sleep 60"));
    EXPECT_EQ(program.readUntil("ready", 30s), "ready");
    EXPECT_EQ(program.readLine(30s), "split");
    EXPECT_EQ(program.readLine(100ms), std::nullopt);
    EXPECT_TRUE(program.running());
    EXPECT_EQ(program.wait(50ms), std::nullopt);
    EXPECT_EQ(program.lines, (std::vector<std::string>{"ready", "split"}));

    program.signal(SIGKILL);
    EXPECT_EQ(program.wait(30s), std::nullopt);
    EXPECT_EQ(program.state(), "killed by signal 9");
    EXPECT_FALSE(program.running());
}

TEST(ChildProgram, OutputCanGoToAGivenDescriptorAndTheDestructorReaps) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    pid_t pid = -1;
    {
        // A loop of the shell's own keeps one process with one command line until killed.
        ChildProgram program(shell("echo elsewhere; while :; do :; done"), {.output = fds[1]});
        ASSERT_TRUE(program.started());
        pid = program.pid();
        // Nothing comes through the helper's own reader.
        EXPECT_EQ(program.readLine(100ms), std::nullopt);
        char buffer[32] = {};
        ASSERT_GT(::read(fds[0], buffer, sizeof buffer - 1), 0);
        EXPECT_STREQ(buffer, "elsewhere\n");
        // Its arguments, NULs read as spaces.
        EXPECT_EQ(program.cmdline(), "sh -c echo elsewhere; while :; do :; done ");
    }
    // Killed and reaped: the process id no longer names a process of ours.
    EXPECT_NE(::kill(pid, 0), 0);
    ::close(fds[0]);
    ::close(fds[1]);
}
