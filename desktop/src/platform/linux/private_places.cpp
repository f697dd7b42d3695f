#include "platform/private_places.h"

#include <QDir>
#include <QFile>

#include <cerrno>
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

} // namespace

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
