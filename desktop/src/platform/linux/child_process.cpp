#include "platform/child_process.h"

#include <QProcess>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace platform {

void prepareTunnelChild(QProcess &process)
{
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent] {
        // Own group, so the break reaches the client and nothing else of ours.
        ::setpgid(0, 0);
        // Stands in for a kill-on-close job: the client never outlives us.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127); // we died between fork and prctl
    });
}

bool sendBreakToGroup(qint64 pid)
{
    if (pid <= 0)
        return false;
    return ::kill(-static_cast<pid_t>(pid), SIGINT) == 0;
}

} // namespace platform
