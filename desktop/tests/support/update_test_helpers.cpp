#include "support/update_test_helpers.h"

#include "support/log_file_text.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>

bool writeTestFile(const QString &path, const QByteArray &bytes)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray readTestFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString sha256Of(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString updateLogText() { return logFileText(); }

QStringList downloadedPaths(const QJsonArray &requests)
{
    const QString prefix = QStringLiteral("/api/update/file/");
    QStringList paths;
    for (const QJsonValue &entry : requests) {
        const QString path = entry.toObject().value(QStringLiteral("path")).toString();
        if (path.startsWith(prefix))
            paths.append(QString::fromUtf8(QByteArray::fromHex(path.mid(prefix.size()).toLatin1())));
    }
    return paths;
}
