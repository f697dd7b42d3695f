#pragma once

#include "platform/process_waiter.h"

// pidfd_open and poll; kernels without pidfd fall back to kill(pid, 0) polling.
class LinuxProcessWaiter : public ProcessWaiter {
public:
    Result waitForExit(std::uint32_t processId, std::chrono::milliseconds limit) override;
};
