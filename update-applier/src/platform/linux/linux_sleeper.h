#pragma once

#include "platform/sleeper.h"

class LinuxSleeper : public Sleeper {
public:
    void sleepFor(std::chrono::milliseconds duration) override;
};
