#pragma once

#include <chrono>
#include <cstdint>

namespace ostrel {

// A wait duration in whole milliseconds; 4294967295 (and anything longer) waits without limit.
class WaitTimeout {
public:
    static std::uint32_t millis(std::chrono::nanoseconds timeout) {
        if (timeout <= std::chrono::nanoseconds::zero()) return 0;
        auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
        auto nanos = (timeout - seconds).count();
        std::uint64_t total = static_cast<std::uint64_t>(seconds.count()) * 1000u +
                              static_cast<std::uint64_t>(nanos) / 1'000'000u;
        return total >= 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(total);
    }
};

}  // namespace ostrel
