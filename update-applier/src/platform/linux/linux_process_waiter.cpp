#include "platform/linux/linux_process_waiter.h"

#include <cerrno>
#include <climits>
#include <thread>

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left > INT_MAX ? INT_MAX : left);
}

ProcessWaiter::Result pollWithKill(pid_t pid, Clock::time_point deadline)
{
    for (;;) {
        // EPERM means the process exists but is not ours to signal: keep waiting.
        if (::kill(pid, 0) != 0 && errno == ESRCH)
            return {ProcessWaiter::Outcome::Exited, 0};
        if (Clock::now() >= deadline)
            return {ProcessWaiter::Outcome::TimedOut, 0};
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace

ProcessWaiter::Result LinuxProcessWaiter::waitForExit(std::uint32_t processId, std::chrono::milliseconds limit)
{
    // Ids that cannot name a process are treated like an id nobody holds.
    if (processId == 0 || processId > static_cast<std::uint32_t>(INT_MAX))
        return {Outcome::NotFound, 0};
    const auto pid = static_cast<pid_t>(processId);
    const auto deadline = Clock::now() + limit;

    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) {
        const int err = errno;
        if (err == ESRCH || err == EINVAL)
            return {Outcome::NotFound, 0};
        if (err == ENOSYS) {
            if (::kill(pid, 0) != 0 && errno == ESRCH)
                return {Outcome::NotFound, 0};
            return pollWithKill(pid, deadline);
        }
        return {Outcome::OpenFailed, err};
    }

    Result result;
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        const int rc = ::poll(&pfd, 1, remainingMs(deadline));
        if (rc > 0) {
            result = {Outcome::Exited, 0};
            break;
        }
        if (rc == 0) {
            result = {Outcome::TimedOut, 0};
            break;
        }
        if (errno != EINTR) {
            result = {Outcome::WaitFailed, errno};
            break;
        }
    }
    ::close(fd);
    return result;
}
