#include "platform/hosts_file.h"

#include <QProcess>
#include <QStandardPaths>

namespace platform {

QString systemHostsFilePath()
{
    return QStringLiteral("/etc/hosts");
}

void flushDnsCache()
{
    // Only systemd-resolved keeps a cache worth flushing; without it there is nothing to do.
    const QString resolvectl = QStandardPaths::findExecutable(QStringLiteral("resolvectl"));
    if (resolvectl.isEmpty())
        return;
    QProcess run;
    run.start(resolvectl, {QStringLiteral("flush-caches")});
    run.waitForFinished(5000);
}

} // namespace platform
