#pragma once
// A program running inside a network namespace, its standard output read line
// by line with time limits. It dies with the test process, and the destructor
// kills and reaps it if it is still running.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace corvana::netns {

class NsProcess {
public:
    NsProcess(const std::string& ns, const std::vector<std::string>& argv);
    ~NsProcess();
    NsProcess(const NsProcess&) = delete;
    NsProcess& operator=(const NsProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    std::optional<std::string> readLine(std::chrono::milliseconds limit);
    // Lines until one contains text (returned), or nothing on time-out or end of output.
    std::optional<std::string> readUntil(const std::string& text, std::chrono::milliseconds limit);
    void signal(int sig);
    // Exit status, or nothing when it has not exited in time or died by a signal.
    std::optional<int> wait(std::chrono::milliseconds limit);
    // "running", "exit status N" or "killed by signal N", for failure messages.
    std::string state();

    std::vector<std::string> lines;  // every line read so far

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
    bool reaped_ = false;
    int status_ = 0;
};

}  // namespace corvana::netns
