#pragma once
// A program a test starts: its standard output read line by line with time limits,
// or both streams read to their end. It dies with the test process, and the
// destructor kills and reaps it if it is still running.
//   ChildProgram p({path, "--flag"});                 output piped, errors to /dev/null
//   ChildProgram p(argv, {.errors = Errors::inherit, .netns = "lab-a"})   inside a namespace
//   p.readUntil("ready", 10s);  p.signal(SIGTERM);  p.wait(5s) -> exit status
//   ChildProgram(argv, {.errors = Errors::capture}).finish(30s) -> {out, err, exit status or signal}

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace corvana::process {

class ChildProgram {
public:
    enum class Errors { discard, inherit, capture };

    struct Options {
        Errors errors = Errors::discard;
        int output = -1;                // standard output goes here instead of a pipe the test reads
        std::string netns{};            // a name under /run/netns; empty: the test's own
    };

    // Both streams to their end and how the program ended.
    struct Finished {
        std::string out;
        std::string err;
        std::optional<int> exitStatus;  // nothing when killed by a signal or still running at the limit
        int signal = 0;                 // the signal that killed it
    };

    // argv[0] without a slash is looked up on PATH.
    explicit ChildProgram(const std::vector<std::string>& argv, Options options);
    explicit ChildProgram(const std::vector<std::string>& argv) : ChildProgram(argv, Options{}) {}
    ~ChildProgram();
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // The next line of standard output, or nothing at its end or when `limit` passes.
    std::optional<std::string> readLine(std::chrono::milliseconds limit);
    // Lines until one contains `text` (returned), or nothing on time-out or end of output.
    std::optional<std::string> readUntil(const std::string& text, std::chrono::milliseconds limit);
    // Every line until the end of output or the limit.
    std::vector<std::string> readAll(std::chrono::milliseconds limit);
    // Reads both streams until they close, then waits for the exit, all within `limit`.
    Finished finish(std::chrono::milliseconds limit);
    void signal(int sig);
    // Exit status, or nothing when it has not exited in time or died by a signal.
    std::optional<int> wait(std::chrono::milliseconds limit);
    bool running();
    // "running", "exit status N" or "killed by signal N", for failure messages.
    std::string state();
    // The argument memory as /proc shows it, NULs turned into spaces.
    std::string cmdline() const;

    std::vector<std::string> lines;  // every line read so far

private:
    bool fill(int& fd, std::string& into, std::chrono::steady_clock::time_point deadline);
    bool reap(bool block);

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string pending_;
    bool reaped_ = false;
    int status_ = 0;
};

}  // namespace corvana::process
