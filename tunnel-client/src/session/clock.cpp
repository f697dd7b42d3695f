#include "session/clock.h"

#include <thread>

namespace ostrel {

namespace {

class SystemClock final : public Clock {
public:
    time_point now() const override { return std::chrono::steady_clock::now(); }
    void sleep(duration d) override { std::this_thread::sleep_for(d); }
};

}  // namespace

Clock& Clock::system() {
    static SystemClock clock;
    return clock;
}

}  // namespace ostrel
