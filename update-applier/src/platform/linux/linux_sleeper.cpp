#include "platform/linux/linux_sleeper.h"

#include <thread>

void LinuxSleeper::sleepFor(std::chrono::milliseconds duration)
{
    std::this_thread::sleep_for(duration);
}
