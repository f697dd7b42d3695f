#pragma once

#include <QList>
#include <QString>

// The machine's process list and the right to end a process; on Windows a
// Toolhelp32 snapshot and TerminateProcess.
class ProcessTable
{
public:
    struct Entry {
        qint64 pid = 0;
        QString executableName; // file name only, no folder
        QString executablePath; // the file it runs, empty when it cannot be told
        bool ownAccount = false; // runs as this program's account
    };

    virtual ~ProcessTable() = default;
    // Processes that cannot be inspected are left out.
    virtual QList<Entry> snapshot() = 0;
    // False when the process could not be opened or ended.
    virtual bool terminate(qint64 pid, int exitCode) = 0;
};
