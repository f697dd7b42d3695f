#pragma once
// Clock: the time source and sleep of the session and the driver, injectable so
// tests can step through 25 s keepalives, 90 s time-outs and back-off without waiting.
//   Clock::system()  steady clock and real sleeps
//   ManualClock      now() is a stored time; sleep() and advance() move it forward

#include <chrono>

namespace ostrel {

class Clock {
public:
    using duration = std::chrono::steady_clock::duration;
    using time_point = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;
    virtual time_point now() const = 0;
    virtual void sleep(duration d) = 0;

    static Clock& system();
};

class ManualClock : public Clock {
public:
    explicit ManualClock(time_point start = time_point{} + std::chrono::hours(1)) : now_(start) {}
    time_point now() const override { return now_; }
    void sleep(duration d) override { advance(d); }
    void advance(duration d) {
        if (d > duration::zero()) now_ += d;
    }

private:
    time_point now_;
};

}  // namespace ostrel
