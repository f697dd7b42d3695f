#include "session/stray_process_cleaner.h"

#include "platform/process_table.h"

QString StrayProcessCleaner::tunnelClientName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("ostrel-client.exe");
#else
    return QStringLiteral("ostrel-client");
#endif
}

int StrayProcessCleaner::terminateAll(ProcessTable &table, const QString &name, qint64 selfPid)
{
    int ended = 0;
    const QList<ProcessTable::Entry> processes = table.snapshot();
    for (const ProcessTable::Entry &process : processes) {
        if (process.pid == selfPid
            || process.executableName.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (table.terminate(process.pid, 1))
            ++ended;
    }
    return ended;
}
