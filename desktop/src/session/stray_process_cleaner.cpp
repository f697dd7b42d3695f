#include "session/stray_process_cleaner.h"

#include "platform/process_table.h"

#include <QDir>
#include <QFileInfo>

int StrayProcessCleaner::terminateAll(ProcessTable &table, const QString &clientPath, qint64 selfPid)
{
    if (clientPath.isEmpty())
        return 0;
    // The table names files as the system resolved them.
    const QString canonical = QFileInfo(clientPath).canonicalFilePath();
    const QString client = QDir::cleanPath(canonical.isEmpty() ? clientPath : canonical);
#ifdef Q_OS_WIN
    const Qt::CaseSensitivity sensitivity = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity sensitivity = Qt::CaseSensitive;
#endif
    int ended = 0;
    const QList<ProcessTable::Entry> processes = table.snapshot();
    for (const ProcessTable::Entry &process : processes) {
        if (process.pid == selfPid || !process.ownAccount
            || QDir::cleanPath(process.executablePath).compare(client, sensitivity) != 0)
            continue;
        if (table.terminate(process.pid, 1))
            ++ended;
    }
    return ended;
}
