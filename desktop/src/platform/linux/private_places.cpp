#include "platform/private_places.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Names tried in the temporary folder; another account may have taken some.
constexpr int kFolderNames = 10;

int openFolder(const QString &path)
{
    return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Owned by this account and closed to every other one.
bool isClosedFolder(int fd, struct stat &st)
{
    return ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

// A folder we made ourselves comes out of mkdir with at most 0700, and gets all of it.
bool claimFolder(const QString &path)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST)
        return false;
    const int fd = openFolder(path);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool ours = isClosedFolder(fd, st) && ((st.st_mode & 07777) == 0700 || ::fchmod(fd, 0700) == 0);
    ::close(fd);
    return ours;
}

// Deep enough for the picture cache's own folders; a deeper tree is no tree of ours.
constexpr int kNarrowDepth = 8;

// What group and others had of the entry name in folder, and below it; only
// entries of this account are touched, and no link is followed.
void narrowAt(int folder, const char *name, int depth)
{
    struct stat st {};
    if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_uid != ::geteuid())
        return;
    if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode))
        return;
    if ((st.st_mode & 077) != 0)
        ::fchmodat(folder, name, st.st_mode & 0700, 0);
    if (!S_ISDIR(st.st_mode) || depth >= kNarrowDepth)
        return;
    const int fd = ::openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    DIR *entries = ::fdopendir(fd);
    if (!entries) {
        ::close(fd);
        return;
    }
    while (const dirent *entry = ::readdir(entries)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            narrowAt(fd, entry->d_name, depth + 1);
    }
    ::closedir(entries);
}

} // namespace

bool makePrivateFolder(const QString &folder)
{
    const QString clean = QDir::cleanPath(QDir(folder).absolutePath());
    // The missing folders from the top down, each made 0700 (mkdir only narrows it).
    QStringList missing;
    for (QString at = clean; !at.isEmpty() && at != QLatin1String("/") && !QFileInfo::exists(at);
         at = QFileInfo(at).path())
        missing.prepend(at);
    for (const QString &path : std::as_const(missing)) {
        if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    const int fd = openFolder(clean);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0)
        ::fchmod(fd, st.st_mode & 0700);
    ::close(fd);
    return true;
}

void narrowToOwner(const QString &path)
{
    narrowAt(AT_FDCWD, QFile::encodeName(QDir::cleanPath(path)).constData(), 0);
}

bool makePrivateFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    narrowToOwner(path);
    return true;
}

void narrowOpenFile(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0)
        ::fchmod(fd, st.st_mode & 0700);
}

QString privateTempDir()
{
    const QString stem = QDir::tempPath() + QStringLiteral("/corvana-") + QString::number(::geteuid());
    for (int i = 0; i < kFolderNames; ++i) {
        const QString path = i == 0 ? stem : stem + QStringLiteral("-%1").arg(i);
        if (claimFolder(path))
            return path;
    }
    return {};
}

bool isPrivateFolder(const QString &path)
{
    const int fd = openFolder(path);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool closed = isClosedFolder(fd, st);
    ::close(fd);
    return closed;
}

bool peerIsThisAccount(qintptr socketDescriptor)
{
    ucred peer {};
    socklen_t size = sizeof peer;
    if (::getsockopt(static_cast<int>(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0
        || size != sizeof peer)
        return false;
    return peer.uid == ::geteuid();
}

} // namespace platform
