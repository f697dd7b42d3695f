#pragma once

#include <QString>

class ProcessTable;

// Ends tunnel clients left running by an earlier run, which would hold the
// adapter the next join needs.
class StrayProcessCleaner
{
public:
    // The tunnel client's program file name on this platform.
    static QString tunnelClientName();

    // Ends (exit code 1) every process except selfPid whose executable name
    // equals name, ignoring case; returns how many were ended.
    static int terminateAll(ProcessTable &table, const QString &name, qint64 selfPid);
};
