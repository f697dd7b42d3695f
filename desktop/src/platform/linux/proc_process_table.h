#pragma once

#include "platform/process_table.h"

// Reads /proc; ending a process is SIGKILL (a signal carries no exit code).
class ProcProcessTable : public ProcessTable
{
public:
    explicit ProcProcessTable(QString procRoot = QStringLiteral("/proc"));

    QList<Entry> snapshot() override;
    bool terminate(qint64 pid, int exitCode) override;

    // The executable's file name for one /proc entry, empty when unknown.
    static QString executableNameOf(const QString &procEntryDir);
    // The file the entry runs, empty when unknown.
    static QString executablePathOf(const QString &procEntryDir);
    // True when the entry's real and effective user are uid.
    static bool runsAs(const QString &procEntryDir, uint uid);

private:
    QString m_procRoot;
};
