#include "platform/linux/proc_process_table.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

ProcProcessTable::ProcProcessTable(QString procRoot) : m_procRoot(std::move(procRoot)) {}

namespace {

QByteArray readSmall(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(4096);
}

// The name for an entry whose path is known (empty when it is not): without it,
// comm still holds the first 15 characters.
QString nameFor(const QString &procEntryDir, const QString &path)
{
    if (!path.isEmpty())
        return QFileInfo(path).fileName();
    return QString::fromUtf8(readSmall(procEntryDir + QStringLiteral("/comm"))).trimmed();
}

} // namespace

QString ProcProcessTable::executablePathOf(const QString &procEntryDir)
{
    // The exe link names the real file; a replaced binary shows " (deleted)".
    QString target = QFile::symLinkTarget(procEntryDir + QStringLiteral("/exe"));
    if (!target.isEmpty()) {
        const QString deleted = QStringLiteral(" (deleted)");
        if (target.endsWith(deleted))
            target.chop(deleted.size());
        return target;
    }
    // A process that gained a right at its start cannot be inspected, not even by its
    // own account: the path it was started by stands in (only its account can set it).
    const QByteArray argv0 = readSmall(procEntryDir + QStringLiteral("/cmdline")).split('\0').value(0);
    return argv0.startsWith('/') ? QDir::cleanPath(QFile::decodeName(argv0)) : QString();
}

QString ProcProcessTable::executableNameOf(const QString &procEntryDir)
{
    return nameFor(procEntryDir, executablePathOf(procEntryDir));
}

bool ProcProcessTable::runsAs(const QString &procEntryDir, uint uid)
{
    // "Uid:" real, effective, saved, file system.
    const QList<QByteArray> lines = readSmall(procEntryDir + QStringLiteral("/status")).split('\n');
    for (const QByteArray &line : lines) {
        if (!line.startsWith("Uid:"))
            continue;
        const QList<QByteArray> ids = line.mid(4).simplified().split(' ');
        return ids.size() >= 2 && ids[0] == QByteArray::number(uid) && ids[1] == QByteArray::number(uid);
    }
    return false;
}

QList<ProcessTable::Entry> ProcProcessTable::snapshot()
{
    QList<Entry> entries;
    const uint self = ::geteuid();
    const QStringList names = QDir(m_procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        bool numeric = false;
        const qint64 pid = name.toLongLong(&numeric);
        if (!numeric || pid <= 0)
            continue;
        const QString dir = m_procRoot + QLatin1Char('/') + name;
        const QString path = executablePathOf(dir);
        const QString exe = nameFor(dir, path);
        if (exe.isEmpty())
            continue;
        entries.append({pid, exe, path, runsAs(dir, self)});
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
