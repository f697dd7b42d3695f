#pragma once
// A running ostrel-client for end-to-end tests: its stdout read line by line with a
// time limit, signals, exit status. The destructor kills and reaps it if still running.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::testing {

class ClientProcess {
public:
    // Starts CORVANA_BIN_DIR/ostrel-client with `args`; stderr goes to /dev/null.
    explicit ClientProcess(const std::vector<std::string>& args);
    ~ClientProcess();
    ClientProcess(const ClientProcess&) = delete;
    ClientProcess& operator=(const ClientProcess&) = delete;

    pid_t pid() const { return pid_; }
    // The next stdout line, or nothing at end of output or when `limit` passes.
    std::optional<std::string> readLine(std::chrono::milliseconds limit);
    // Lines until one contains `text` (included), or nothing on time-out / end of output.
    std::optional<std::string> readUntil(const std::string& text, std::chrono::milliseconds limit);
    std::vector<std::string> readAll(std::chrono::milliseconds limit);
    void signal(int sig);
    // Exit status, or nothing when it has not exited within `limit` (or died by a signal).
    std::optional<int> wait(std::chrono::milliseconds limit);
    // The process's argument memory as /proc shows it, NULs turned into spaces.
    std::string cmdline() const;

    std::vector<std::string> lines;  // every line read so far

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
    bool reaped_ = false;
    bool eof_ = false;
};

}  // namespace ostrel::testing
