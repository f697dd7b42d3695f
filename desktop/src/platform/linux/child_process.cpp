#include "platform/child_process.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace platform {

void prepareTunnelChild(QProcess &process)
{
    const pid_t parent = ::getpid();
    // Stands in for a kill-on-close job: should we die without our own teardown, the
    // client is asked to stop (it says goodbye to the server and undoes its host
    // changes) and ends itself a few seconds later whatever its stop reached. The
    // variable tells it to arm that again after exec, which clears it for an
    // executable with file capabilities.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("OSTREL_PARENT_PID"), QString::number(parent));
    process.setProcessEnvironment(environment);
    process.setChildProcessModifier([parent] {
        // Own group, so the break reaches the client and nothing else of ours.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
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
