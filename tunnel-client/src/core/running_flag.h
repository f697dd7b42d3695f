#pragma once
// RunningFlag: true at start, cleared once by the console-control thread, never set again.
//   running() is read by the run loop every pass and by the driver between attempts.

#include <atomic>

namespace ostrel {

class RunningFlag {
public:
    bool running() const noexcept { return value_.load(std::memory_order_relaxed); }
    void clear() noexcept { value_.store(false, std::memory_order_relaxed); }

private:
    std::atomic<bool> value_{true};
};

}  // namespace ostrel
