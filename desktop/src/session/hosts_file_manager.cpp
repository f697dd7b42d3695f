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

// A block between two lines takes one line break with it, not both, so its
// neighbours stay separate entries.
QString withoutBlocks(const QString &text, const QRegularExpression &block)
{
    QString out;
    qsizetype from = 0;
    auto it = block.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        out += QStringView(text).mid(from, m.capturedStart() - from);
        const QStringView found = m.capturedView();
        if (m.capturedStart() > 0 && found.startsWith(u'\n') && found.endsWith(u'\n'))
            out += u'\n';
        from = m.capturedEnd();
    }
    out += QStringView(text).mid(from);
    return out;
}

} // namespace

HostsFileManager::HostsFileManager(QObject *parent) : QObject(parent) {}

HostsFileManager::~HostsFileManager() = default;

QString HostsFileManager::hostsFilePath() const
{
    return m_pathOverride.isEmpty() ? platform::systemHostsFilePath() : m_pathOverride;
}

QRegularExpression HostsFileManager::managedBlockRegex(const QString &startMarker, const QString &endMarker)
{
    return QRegularExpression(QStringLiteral("\\r?\\n?") + QRegularExpression::escape(startMarker)
                                  + QStringLiteral(".*?") + QRegularExpression::escape(endMarker)
                                  + QStringLiteral("\\r?\\n?"),
                              QRegularExpression::DotMatchesEverythingOption);
}

bool HostsFileManager::removeManagedBlock()
{
    QString text = readHostsFile();
    if (text.isNull())
        return false;
    const QRegularExpression block = managedBlockRegex(kHostsBlockStartMarker, kHostsBlockEndMarker);
    if (!block.match(text).hasMatch())
        return true;
    text = withoutBlocks(text, block);
    if (!writeHostsFile(text))
        return false;
    flushDns();
    logHosts(Logger::Info, QStringLiteral("managed block removed"));
    return true;
}

QString HostsFileManager::readHostsFile()
{
    QFile file(hostsFilePath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        logHosts(Logger::Error, QStringLiteral("cannot read hosts file: ") + file.errorString());
        return {};
    }
    QString text = QString::fromUtf8(file.readAll());
    // An empty file still counts as read.
    if (text.isNull())
        text = QLatin1String("");
    return text;
}

bool HostsFileManager::writeHostsFile(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
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
