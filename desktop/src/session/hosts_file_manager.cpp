#include "session/hosts_file_manager.h"

#include "shell/logger.h"
#include "platform/hosts_file.h"

#include <QFile>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const QString kHostsBlockStartMarker = QStringLiteral("# === Corvana VPN start (do not edit) ===");
const QString kHostsBlockEndMarker = QStringLiteral("# === Corvana VPN end ===");

namespace {

constexpr int kWriteAttempts = 5;

void logHosts(Logger::Level level, const QString &message)
{
    Logger::instance().log(level, QStringLiteral("hosts"), message);
}

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { close(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

QByteArray readWhole(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size <= 0)
        return {};
    QByteArray bytes(static_cast<qsizetype>(st.st_size), Qt::Uninitialized);
    const ssize_t got = ::pread(fd, bytes.data(), bytes.size(), 0);
    if (got < 0)
        return {};
    bytes.truncate(got);
    return bytes;
}

bool writeWhole(int fd, const QByteArray &bytes, ssize_t *written)
{
    *written = ::pwrite(fd, bytes.constData(), bytes.size(), 0);
    return *written == bytes.size();
}

} // namespace

HostsFileManager::HostsFileManager(QObject *parent) : QObject(parent) {}

HostsFileManager::~HostsFileManager() = default;

QString HostsFileManager::hostsFilePath() const
{
    return m_pathOverride.isEmpty() ? platform::systemHostsFilePath() : m_pathOverride;
}

QByteArray HostsFileManager::withoutManagedBlocks(const QByteArray &content)
{
    return withoutBlocks(content, kHostsBlockStartMarker.toLatin1(), kHostsBlockEndMarker.toLatin1());
}

QByteArray HostsFileManager::withoutBlocks(const QByteArray &content, QByteArrayView startMarker,
                                           QByteArrayView endMarker)
{
    QByteArray out;
    qsizetype kept = 0;       // content before this offset has been dealt with
    qsizetype openAt = -1;    // the start marker line of the block being read
    bool strayStart = false;  // a start marker without a partner stays before this point
    // Drops [from, the end of the line ending at `newline`).
    const auto cut = [&](qsizetype from, qsizetype newline) {
        out.append(content.constData() + kept, from - kept);
        // Cut on the file's last line, without a line break of its own, the text
        // takes the one before it, so the file still ends as it did.
        if (newline < 0 && out.endsWith('\n')) {
            out.chop(1);
            if (out.endsWith('\r'))
                out.chop(1);
        }
        kept = newline < 0 ? content.size() : newline + 1;
    };
    for (qsizetype pos = 0; pos < content.size();) {
        const qsizetype newline = content.indexOf('\n', pos);
        const qsizetype textEnd = newline < 0 ? content.size() : newline;
        QByteArrayView line(content.constData() + pos, textEnd - pos);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line == startMarker) {
            strayStart = strayStart || openAt >= 0;
            openAt = pos;
        } else if (line == endMarker && openAt >= 0) {
            cut(openAt, newline);
            openAt = -1;
        } else if (line == endMarker && strayStart) {
            // With the block between them gone, a stray start and this end would
            // pair at the next clean-up and take the player's lines between them:
            // the end marker goes now, and the lines stay for good.
            cut(pos, newline);
        }
        pos = newline < 0 ? content.size() : newline + 1;
    }
    if (kept == 0)
        return content;
    out.append(content.constData() + kept, content.size() - kept);
    return out;
}

bool HostsFileManager::removeManagedBlock()
{
    const QByteArray content = readHostsFile();
    if (content.isNull())
        return false;
    const QByteArray cleaned = withoutManagedBlocks(content);
    // Nothing of ours in it: the file is not written at all.
    if (cleaned == content)
        return true;
    if (!writeHostsFile(cleaned))
        return false;
    flushDns();
    logHosts(Logger::Info, QStringLiteral("managed block removed"));
    return true;
}

QByteArray HostsFileManager::readHostsFile()
{
    // Bytes, not text: line ends and bytes of any encoding are written back as they were.
    QFile file(hostsFilePath());
    if (!file.open(QIODevice::ReadOnly)) {
        logHosts(Logger::Error, QStringLiteral("cannot read hosts file: ") + file.errorString());
        return {};
    }
    QByteArray bytes = file.readAll();
    // An empty file still counts as read.
    if (bytes.isNull())
        bytes = QByteArray("");
    return bytes;
}

bool HostsFileManager::writeHostsFile(const QByteArray &bytes)
{
    const QString path = hostsFilePath();
    const QByteArray nativePath = QFile::encodeName(path);
    const QString backupPath = path + QStringLiteral(".corvana.bak");

    for (int attempt = 1; attempt <= kWriteAttempts; ++attempt) {
        // Written in place, so the file keeps its owner and permissions.
        Fd fd(::open(nativePath.constData(), O_RDWR | O_CLOEXEC));
        if (fd.get() < 0) {
            logHosts(Logger::Warn, QStringLiteral("attempt %1: CreateFile failed: error=%2").arg(attempt).arg(errno));
            QThread::msleep(m_retryDelayMs);
            continue;
        }

        const QByteArray original = readWhole(fd.get());
        if (!original.isEmpty()) {
            QFile backup(backupPath);
            if (backup.open(QIODevice::WriteOnly | QIODevice::Truncate))
                backup.write(original);
        }

        if (::ftruncate(fd.get(), 0) != 0) {
            logHosts(Logger::Warn, QStringLiteral("attempt %1: SetEndOfFile failed: error=%2").arg(attempt).arg(errno));
            fd.close();
            QThread::msleep(m_retryDelayMs);
            continue;
        }

        ssize_t written = 0;
        const bool ok = writeWhole(fd.get(), bytes, &written);
        const int writeError = ok ? 0 : (written < 0 ? errno : ENOSPC);
        if (!ok && !original.isEmpty()) {
            // Never leave the file shorter than we found it: put the old content back.
            ssize_t restored = 0;
            if (::ftruncate(fd.get(), 0) == 0)
                writeWhole(fd.get(), original, &restored);
        }
        fd.close();
        if (ok) {
            QFile::remove(backupPath);
            return true;
        }
        logHosts(Logger::Warn, QStringLiteral("attempt %1: WriteFile failed: error=%2 written=%3/%4")
                                   .arg(attempt)
                                   .arg(writeError)
                                   .arg(qMax<ssize_t>(written, 0))
                                   .arg(bytes.size()));
        QThread::msleep(m_retryDelayMs);
    }
    logHosts(Logger::Error, QStringLiteral("hosts file write failed after retries"));
    return false;
}

void HostsFileManager::flushDns()
{
    platform::flushDnsCache();
}
