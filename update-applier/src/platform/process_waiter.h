#pragma once

#include <chrono>
#include <cstdint>

// Waits for another process to end, given its id.
class ProcessWaiter {
public:
    enum class Outcome {
        Exited,     // the process ended within the limit
        NotFound,   // no process of that id: it has already ended
        OpenFailed, // the process could not be opened; error holds the reason
        TimedOut,
        WaitFailed, // the wait itself failed; error holds the reason
    };
    struct Result {
        Outcome outcome = Outcome::Exited;
        int error = 0;
    };

    virtual ~ProcessWaiter() = default;
    virtual Result waitForExit(std::uint32_t processId, std::chrono::milliseconds limit) = 0;
};
