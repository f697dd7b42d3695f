#pragma once

#include <QString>

class ProcessTable;

// Ends tunnel clients left running by an earlier run, which would hold the
// adapter the next join needs.
class StrayProcessCleaner
{
public:
    // Ends (exit code 1) every process of this account except selfPid that runs
    // the program at clientPath, the client this program starts; returns how many
    // were ended. Another account's processes, and other programs of the same
    // name, are left alone.
    static int terminateAll(ProcessTable &table, const QString &clientPath, qint64 selfPid);
};
