#pragma once

#include <chrono>

class Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual void sleepFor(std::chrono::milliseconds duration) = 0;
};
