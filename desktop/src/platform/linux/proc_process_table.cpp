#include "platform/linux/proc_process_table.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <sys/types.h>

ProcProcessTable::ProcProcessTable(QString procRoot) : m_procRoot(std::move(procRoot)) {}

QString ProcProcessTable::executableNameOf(const QString &procEntryDir)
{
    // The exe link names the real file; a replaced binary shows " (deleted)".
    QString target = QFile::symLinkTarget(procEntryDir + QStringLiteral("/exe"));
    if (!target.isEmpty()) {
        const QString deleted = QStringLiteral(" (deleted)");
        if (target.endsWith(deleted))
            target.chop(deleted.size());
        return QFileInfo(target).fileName();
    }
    // Without the right to read the link, comm still holds the first 15 characters.
    QFile comm(procEntryDir + QStringLiteral("/comm"));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(comm.readAll()).trimmed();
}

QList<ProcessTable::Entry> ProcProcessTable::snapshot()
{
    QList<Entry> entries;
    const QStringList names = QDir(m_procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        bool numeric = false;
        const qint64 pid = name.toLongLong(&numeric);
        if (!numeric || pid <= 0)
            continue;
        const QString exe = executableNameOf(m_procRoot + QLatin1Char('/') + name);
        if (exe.isEmpty())
            continue;
        entries.append({pid, exe});
    }
    return entries;
}

bool ProcProcessTable::terminate(qint64 pid, int exitCode)
{
    Q_UNUSED(exitCode);
    if (pid <= 0)
        return false;
    return ::kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}
