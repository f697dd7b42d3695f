#include "shell/logger.h"

#include "platform/notification_sound.h"
#include "platform/private_places.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QStandardPaths>

#include <cstdio>
#include <ctime>

Logger &Logger::instance()
{
    // Function-local static: thread-safe first use, destroyed at process exit.
    static Logger logger;
    return logger;
}

Logger::Logger(QObject *parent)
    : QObject(parent)
{
}

Logger::~Logger()
{
    QMutexLocker lock(&m_mutex);
    if (m_file.isOpen()) {
        writeLineLocked(formatLine(Info, QStringLiteral("app"), QStringLiteral("shutdown")));
        m_file.close();
    }
}

QString Logger::defaultLogDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
           + QStringLiteral("/logs");
}

void Logger::init()
{
    initIn(defaultLogDirectory());
}

void Logger::initIn(const QString &directory)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_initialised)
            return;
        platform::makePrivateFolder(directory);
        m_path = directory + QStringLiteral("/corvana.log");
        const QFileInfo existing(m_path);
        if (existing.exists() && existing.size() > kMaxFileSize)
            QFile::remove(m_path);
        m_file.setFileName(m_path);
        openLocked();
        // A failed open is final: later records are dropped, never retried.
        m_initialised = true;
    }
    log(Info, QStringLiteral("app"),
        QStringLiteral("started v") + QCoreApplication::applicationVersion());
}

QString Logger::levelWord(int level)
{
    switch (level) {
    case Debug: return QStringLiteral("DBG");
    case Info: return QStringLiteral("INF");
    case Warn: return QStringLiteral("WRN");
    case Error: return QStringLiteral("ERR");
    default: return QStringLiteral("???");
    }
}

namespace {

// Formatted by hand: the "shutdown" line is written at process exit, after the
// locale data QDateTime::toString needs may already be gone.
QString localTimestamp()
{
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local {};
    ::localtime_r(&now.tv_sec, &local);
    char text[96]; // wide enough for any int fields, so nothing is cut
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03ld", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  now.tv_nsec / 1000000);
    return QString::fromLatin1(text);
}

} // namespace

// Much of what is logged comes from elsewhere (a peer's error, a server's
// reply): it must neither start a record of its own nor fill the file.
QString Logger::oneLine(QStringView text)
{
    QString out;
    out.reserve(qMin(text.size(), kMaxTextLength) + 8);
    qsizetype used = 0;
    for (; used < text.size() && out.size() < kMaxTextLength; ++used) {
        const char16_t c = text[used].unicode();
        if (c == u'\n')
            out += QLatin1String("\\n");
        else if (c == u'\r')
            out += QLatin1String("\\r");
        else if (c == u'\t')
            out += QLatin1String("\\t");
        else if (c < 0x20 || c == 0x7f)
            out += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
        else if ((c >= 0x80 && c <= 0x9f) || c == 0x2028 || c == 0x2029)
            out += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
        else
            out += QChar(c);
    }
    if (used < text.size()) {
        // Never half a surrogate pair at the cut.
        if (out.back().isHighSurrogate()) {
            out.chop(1);
            --used;
        }
        out += QStringLiteral(" [cut: %1 more characters]").arg(text.size() - used);
    }
    return out;
}

QByteArray Logger::formatLine(int level, const QString &category, const QString &message)
{
    const QString line = localTimestamp() + QStringLiteral(" [") + levelWord(level) + QStringLiteral("] ")
                         + oneLine(category) + QStringLiteral(": ") + oneLine(message) + QLatin1Char('\n');
    return line.toUtf8();
}

bool Logger::openLocked()
{
    // What the player did is the player's: the log is theirs alone, also one an
    // earlier version left open to every account.
    const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text, ownerOnly))
        return false;
    platform::narrowOpenFile(m_file.handle());
    return true;
}

void Logger::writeLineLocked(const QByteArray &line)
{
    m_file.write(line);
    m_file.flush();
}

void Logger::log(Level level, const QString &category, const QString &message)
{
    QMutexLocker lock(&m_mutex);
    if (!m_file.isOpen())
        return;
    writeLineLocked(formatLine(level, category, message));
    if (m_file.size() <= kMaxFileSize)
        return;
    // Start over; the record that crossed the limit goes with the old file.
    m_file.close();
    QFile::remove(m_path);
    if (openLocked())
        writeLineLocked(formatLine(Info, QStringLiteral("app"),
                                   QStringLiteral("log rotated (exceeded 100MB)")));
}

QString Logger::filePath() const
{
    QMutexLocker lock(&m_mutex);
    return m_path;
}

bool Logger::isInitialised() const
{
    QMutexLocker lock(&m_mutex);
    return m_initialised;
}

void Logger::setNotificationSound(std::unique_ptr<NotificationSound> sound)
{
    m_sound = std::move(sound);
}

void Logger::logInfo(const QString &cat, const QString &msg)
{
    log(Info, cat, msg);
}

void Logger::logError(const QString &cat, const QString &msg)
{
    log(Error, cat, msg);
}

void Logger::playNotificationSound()
{
    if (!m_sound)
        m_sound = NotificationSound::createDefault();
    m_sound->play();
}
