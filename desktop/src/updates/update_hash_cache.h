#pragma once

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// The installation's hash cache (hash.json): one entry per file with its
// SHA-256, size and modification time, so unchanged files are not re-read.
class UpdateHashCache
{
public:
    static constexpr qint64 kChunkBytes = 65536;

    // Walks installDir, re-hashing only files whose size or time moved,
    // rewrites hash.json and returns the new "files" object. Whole relative
    // paths in `skipped` are left out.
    static QJsonObject scan(const QString &installDir, const QStringList &skipped);
    // Whether scan() could list a file at this relative path: not one of
    // `skipped`, in the walk's own form ("a/b", not "./a//b"), and not hidden
    // (a name beginning with a dot, which the walk neither lists nor enters).
    static bool canList(const QString &relativePath, const QStringList &skipped);
    // Whether a folder on the way to this relative path (in canList's form) is a
    // symbolic link: scan() does not enter one, so it never lists what lies behind.
    // Each folder is looked at once (lstat) and remembered in `seen`; the walk ends
    // at the first that is missing, so it stays within the installation's depth.
    enum class FolderKind { Plain, Link, Missing };
    using FolderMemo = QHash<QString, FolderKind>;
    static bool passesThroughLink(const QString &installDir, const QString &relativePath, FolderMemo &seen);

    // Lower-case hex SHA-256 of a file, read in chunks; empty when unreadable.
    static QString hashFile(const QString &path);
    static QString utcTimeText(const QDateTime &time);
};
