#pragma once

#include <QFile>
#include <QMutex>
#include <QObject>
#include <QString>

#include <memory>

class NotificationSound;

// The program's single log file. One process-wide instance; every service
// class writes through it, and QML reaches it as `logger`.
class Logger : public QObject
{
    Q_OBJECT

public:
    // Fixed underlying type: any int is a valid Level, so stray values reach "???".
    enum Level : int { Debug = 0, Info = 1, Warn = 2, Error = 3 };
    Q_ENUM(Level)

    static constexpr qint64 kMaxFileSize = 104857600; // 100 MiB
    // Longest category or message a record keeps, in characters once escaped.
    static constexpr qsizetype kMaxTextLength = 4096;

    static Logger &instance();

    // Public for tests, which need loggers of their own on their own folders.
    explicit Logger(QObject *parent = nullptr);
    ~Logger() override;

    // Opens <app data>/logs/corvana.log; runs once.
    void init();
    // Same, on a given folder (created with its parents).
    void initIn(const QString &directory);

    void log(Level level, const QString &category, const QString &message);

    QString filePath() const;
    bool isInitialised() const;

    // Replaces the sound player (tests); the default is the platform's.
    void setNotificationSound(std::unique_ptr<NotificationSound> sound);

    static QString levelWord(int level);
    static QString defaultLogDirectory();

    Q_INVOKABLE void logInfo(const QString &cat, const QString &msg);
    Q_INVOKABLE void logError(const QString &cat, const QString &msg);
    Q_INVOKABLE void playNotificationSound();

private:
    void writeLineLocked(const QByteArray &line);
    // Opens the file at m_path for appending, readable by the player alone.
    bool openLocked();
    static QByteArray formatLine(int level, const QString &category, const QString &message);
    // The text as it goes into a record: line breaks and other control
    // characters escaped (\n, \x1b, \u2028 as written here), cut after kMaxTextLength
    // characters with a note of how many more there were.
    static QString oneLine(QStringView text);

    QFile m_file;
    mutable QMutex m_mutex;
    QString m_path;
    bool m_initialised = false;
    std::unique_ptr<NotificationSound> m_sound;
};
