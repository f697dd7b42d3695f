#include "updates/update_hash_cache.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

namespace {

const QString kCacheName = QStringLiteral("hash.json");

QJsonObject readOldCache(const QString &installDir)
{
    QFile file(installDir + QLatin1Char('/') + kCacheName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    return doc.isObject() ? doc.object().value(QStringLiteral("files")).toObject() : QJsonObject();
}

} // namespace

QString UpdateHashCache::utcTimeText(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODate);
}

QString UpdateHashCache::hashFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash sha(QCryptographicHash::Sha256);
    QByteArray chunk(kChunkBytes, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(chunk.data(), kChunkBytes);
        if (got < 0)
            return QString(); // a read error mid-file is as good as unreadable
        if (got == 0)
            break;
        sha.addData(QByteArrayView(chunk.constData(), got));
    }
    return QString::fromLatin1(sha.result().toHex());
}

bool UpdateHashCache::canList(const QString &relativePath, const QStringList &skipped)
{
    if (skipped.contains(relativePath) || QDir::cleanPath(relativePath) != relativePath)
        return false;
#ifndef Q_OS_WIN
    // Here a leading dot hides a name (on Windows hiding is an attribute).
    for (const QStringView part : QStringView(relativePath).split(QLatin1Char('/')))
        if (part.startsWith(QLatin1Char('.')))
            return false;
#endif
    return true;
}

bool UpdateHashCache::passesThroughLink(const QString &installDir, const QString &relativePath, FolderMemo &seen)
{
    for (qsizetype slash = relativePath.indexOf(QLatin1Char('/')); slash >= 0;
         slash = relativePath.indexOf(QLatin1Char('/'), slash + 1)) {
        const QString folder = relativePath.left(slash);
        auto known = seen.constFind(folder);
        if (known == seen.constEnd()) {
            // The walk's own test for a link it does not follow.
            const QFileInfo info(installDir + QLatin1Char('/') + folder);
            known = seen.insert(folder, info.isSymLink() ? FolderKind::Link
                                        : info.exists() ? FolderKind::Plain
                                                        : FolderKind::Missing);
        }
        // Nothing deeper than a missing folder can stand there either.
        if (*known != FolderKind::Plain)
            return *known == FolderKind::Link;
    }
    return false;
}

QJsonObject UpdateHashCache::scan(const QString &installDir, const QStringList &skipped)
{
    const QJsonObject old = readOldCache(installDir);
    const QDir root(installDir);
    QJsonObject files;

    QDirIterator it(installDir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QString relative = root.relativeFilePath(path);
        relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
        if (!canList(relative, skipped))
            continue;

        const QFileInfo info = it.fileInfo();
        const qint64 size = info.size();
        const QString mtime = utcTimeText(info.lastModified());

        const QJsonObject cached = old.value(relative).toObject();
        const QJsonValue cachedHash = cached.value(QStringLiteral("hash"));
        if (cached.value(QStringLiteral("size")).toInteger(-1) == size
            && cached.value(QStringLiteral("mtime_utc")).toString() == mtime && cachedHash.isString()
            && !cachedHash.toString().isEmpty()) {
            files.insert(relative, cached);
            continue;
        }
        files.insert(relative, QJsonObject{{QStringLiteral("hash"), hashFile(path)},
                                           {QStringLiteral("size"), size},
                                           {QStringLiteral("mtime_utc"), mtime}});
    }

    // Written through a temporary file so a crash never leaves half a cache.
    QSaveFile out(installDir + QLatin1Char('/') + kCacheName);
    if (out.open(QIODevice::WriteOnly)) {
        out.write(QJsonDocument(QJsonObject{{QStringLiteral("files"), files}}).toJson(QJsonDocument::Indented));
        out.commit();
    }
    return files;
}
