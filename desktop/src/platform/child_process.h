#pragma once
// How the desktop program keeps the tunnel client in its own process group,
// ties its life to ours, and asks it to stop.
#include <QtGlobal>

class QProcess;

namespace platform {

// Makes the child lead its own process group and end, cleanly, with the desktop program.
void prepareTunnelChild(QProcess &process);

// Sends the console break to the process group led by pid; false when it could not be sent.
bool sendBreakToGroup(qint64 pid);

} // namespace platform
