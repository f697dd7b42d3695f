#include "shell/logger.h"
#include "platform/notification_sound.h"
#include "support/test_main.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <vector>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// Makes a file of the given size without writing it all (sparse).
bool makeFileOfSize(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.resize(size);
}

class CountingSound final : public NotificationSound
{
public:
    explicit CountingSound(std::atomic<int> *count) : m_count(count) {}
    void play() override { ++*m_count; }

private:
    std::atomic<int> *m_count;
};

const QString kStamp = QStringLiteral(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})");

} // namespace

class LoggerTest : public QObject
{
    Q_OBJECT

private slots:
    void linesLevelsAndSecondInit()
    {
        QTemporaryDir dir;
        const QString logDir = dir.path() + QStringLiteral("/a/b/logs");
        {
            Logger logger;
            logger.log(Logger::Info, QStringLiteral("app"), QStringLiteral("before init is dropped"));
            logger.initIn(logDir);
            QCOMPARE(logger.filePath(), logDir + QStringLiteral("/corvana.log"));
            logger.log(Logger::Debug, QStringLiteral("api"), QStringLiteral("d"));
            logger.log(Logger::Warn, QStringLiteral("vpn"), QStringLiteral("w"));
            logger.logInfo(QStringLiteral("ui"), QStringLiteral("i \u0645"));
            logger.logError(QStringLiteral("ui"), QStringLiteral("e"));
            logger.log(static_cast<Logger::Level>(7), QStringLiteral("x"), QStringLiteral("odd"));

            // A second init, even elsewhere, neither moves the file nor logs.
            logger.initIn(dir.path() + QStringLiteral("/other"));
            QCOMPARE(logger.filePath(), logDir + QStringLiteral("/corvana.log"));
            QVERIFY(!QDir(dir.path() + QStringLiteral("/other")).exists());
        }
        const QStringList lines = readLines(logDir + QStringLiteral("/corvana.log"));
        const QStringList expected{
            QStringLiteral("[INF] app: started v1.5.0"), QStringLiteral("[DBG] api: d"),
            QStringLiteral("[WRN] vpn: w"), QStringLiteral("[INF] ui: i \u0645"),
            QStringLiteral("[ERR] ui: e"), QStringLiteral("[???] x: odd"),
            QStringLiteral("[INF] app: shutdown")};
        QCOMPARE(lines.size(), expected.size());
        for (int i = 0; i < lines.size(); ++i) {
            const QRegularExpression shape(QStringLiteral("^") + kStamp + QStringLiteral(" ")
                                           + QRegularExpression::escape(expected.at(i)) + QStringLiteral("$"));
            QVERIFY2(shape.match(lines.at(i)).hasMatch(), qPrintable(lines.at(i)));
        }
    }

    void appendsToAnExistingFile()
    {
        QTemporaryDir dir;
        {
            Logger first;
            first.initIn(dir.path());
            first.logInfo(QStringLiteral("app"), QStringLiteral("one"));
        }
        {
            Logger second;
            second.initIn(dir.path());
        }
        const QStringList lines = readLines(dir.path() + QStringLiteral("/corvana.log"));
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines.at(1).endsWith(QStringLiteral("app: one")));
        QVERIFY(lines.at(3).endsWith(QStringLiteral("app: started v1.5.0")));
    }

    void sizeLimitAtStart()
    {
        // Exactly the limit is kept; the start line then pushes it over, so
        // only the rotation notice remains. One byte more is deleted first.
        QTemporaryDir dir;
        const QString kept = dir.path() + QStringLiteral("/kept");
        QDir().mkpath(kept);
        QVERIFY(makeFileOfSize(kept + QStringLiteral("/corvana.log"), Logger::kMaxFileSize));
        {
            Logger logger;
            logger.initIn(kept);
            const QStringList lines = readLines(kept + QStringLiteral("/corvana.log"));
            QCOMPARE(lines.size(), 1);
            QVERIFY2(lines.at(0).endsWith(QStringLiteral("[INF] app: log rotated (exceeded 100MB)")),
                     qPrintable(lines.at(0)));
        }

        const QString dropped = dir.path() + QStringLiteral("/dropped");
        QDir().mkpath(dropped);
        QVERIFY(makeFileOfSize(dropped + QStringLiteral("/corvana.log"), Logger::kMaxFileSize + 1));
        Logger logger;
        logger.initIn(dropped);
        const QStringList lines = readLines(dropped + QStringLiteral("/corvana.log"));
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines.at(0).endsWith(QStringLiteral("[INF] app: started v1.5.0")));
    }

    void rotationAfterWrite()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/corvana.log");
        QVERIFY(makeFileOfSize(path, Logger::kMaxFileSize - 4096));
        Logger logger;
        logger.initIn(dir.path());
        QVERIFY(QFileInfo(path).size() > Logger::kMaxFileSize - 4096);
        logger.logInfo(QStringLiteral("app"), QStringLiteral("small"));
        QVERIFY(QFileInfo(path).size() < Logger::kMaxFileSize);

        logger.logInfo(QStringLiteral("app"), QStringLiteral("crossing ") + QString(5000, QLatin1Char('x')));
        logger.logInfo(QStringLiteral("app"), QStringLiteral("after"));
        const QStringList lines = readLines(path);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.at(0).endsWith(QStringLiteral("[INF] app: log rotated (exceeded 100MB)")));
        QVERIFY(lines.at(1).endsWith(QStringLiteral("[INF] app: after")));
    }

    void unopenableFileDropsEverything()
    {
        QTemporaryDir dir;
        // The log folder's place is taken by a file, so nothing can be created.
        const QString blocker = dir.path() + QStringLiteral("/logs");
        QVERIFY(makeFileOfSize(blocker, 3));
        Logger logger;
        logger.initIn(blocker);
        QVERIFY(logger.isInitialised());
        logger.logError(QStringLiteral("app"), QStringLiteral("lost"));
        QCOMPARE(QFileInfo(blocker).size(), 3);
    }

    // The log's name may be a link the player (or a test harness) put there:
    // the log is narrowed through what was opened, so the link's target keeps
    // its mode unless it is a plain file of this account.
    void aLinkedLogLeavesWhatItPointsAt_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a device") << QStringLiteral("device");
        QTest::newRow("another account's file") << QStringLiteral("foreign");
    }

    void aLinkedLogLeavesWhatItPointsAt()
    {
        if (::geteuid() != 0)
            QSKIP("making a device and another account's file needs root");
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QByteArray target = QFile::encodeName(dir.path() + QStringLiteral("/target"));
        if (kind == QLatin1String("device")) {
            QCOMPARE(::mknod(target.constData(), S_IFCHR | 0666, makedev(1, 3)), 0);
        } else {
            QVERIFY(makeFileOfSize(QString::fromLocal8Bit(target), 0));
            QCOMPARE(::chown(target.constData(), 65534, 65534), 0);
        }
        QCOMPARE(::chmod(target.constData(), 0666), 0);
        const QString logs = dir.path() + QStringLiteral("/logs");
        QVERIFY(QDir().mkpath(logs));
        QVERIFY(QFile::link(QString::fromLocal8Bit(target), logs + QStringLiteral("/corvana.log")));
        {
            Logger logger;
            logger.initIn(logs);
            logger.logInfo(QStringLiteral("app"), QStringLiteral("through the link"));
        }
        struct stat st {};
        QCOMPARE(::stat(target.constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0666));
    }

    void linesStayWholeAcrossThreads()
    {
        QTemporaryDir dir;
        constexpr int kThreads = 6;
        constexpr int kLines = 300;
        {
            Logger logger;
            logger.initIn(dir.path());
            std::vector<QThread *> threads;
            for (int t = 0; t < kThreads; ++t) {
                threads.push_back(QThread::create([&logger, t]() {
                    for (int i = 0; i < kLines; ++i)
                        logger.log(Logger::Info, QStringLiteral("t%1").arg(t),
                                   QStringLiteral("line %1 ").arg(i) + QString(200, QLatin1Char('z')));
                }));
                threads.back()->start();
            }
            for (QThread *thread : threads) {
                thread->wait();
                delete thread;
            }
        }
        const QStringList lines = readLines(dir.path() + QStringLiteral("/corvana.log"));
        QCOMPARE(lines.size(), kThreads * kLines + 2);
        const QRegularExpression shape(QStringLiteral("^") + kStamp
                                       + QStringLiteral(R"( \[INF\] t\d: line \d+ z{200}$)"));
        int matched = 0;
        for (const QString &line : lines)
            matched += shape.match(line).hasMatch() ? 1 : 0;
        QCOMPARE(matched, kThreads * kLines);
    }

    // Text from elsewhere (a peer's error, a server's reply) cannot forge a
    // record of its own nor fill the file: one record stays one bounded line.
    void foreignTextStaysOneBoundedLine_data()
    {
        QTest::addColumn<QString>("category");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("written");
        QTest::newRow("a forged record")
            << "discord" << "bad\n2030-01-01 00:00:00.000 [INF] auth: login success: admin\n"
            << "discord: bad\\n2030-01-01 00:00:00.000 [INF] auth: login success: admin\\n";
        QTest::newRow("carriage return, tab, terminal controls")
            << "peer" << "a\rb\tc\x1b[2J\x07\x7f" << "peer: a\\rb\\tc\\x1b[2J\\x07\\x7f";
        QTest::newRow("Unicode line breaks") << "peer" << QString::fromUtf8("a\u0085b\u2028c\u2029")
                                             << "peer: a\\u0085b\\u2028c\\u2029";
        QTest::newRow("a category of two lines") << "ui\n[ERR] x" << "m" << "ui\\n[ERR] x: m";
        QTest::newRow("Persian with its joiner") << "ui" << QString::fromUtf8("\u0645\u06cc\u200c\u0634\u0648\u062f")
                                                 << QString::fromUtf8("ui: \u0645\u06cc\u200c\u0634\u0648\u062f");
        // 60 KiB of line breaks, as one error frame of a chat-client peer.
        QTest::newRow("60 KiB of line breaks")
            << "discord" << QString(60 * 1024, QLatin1Char('\n'))
            << "discord: " + QStringLiteral("\\n").repeated(Logger::kMaxTextLength / 2)
                   + QStringLiteral(" [cut: %1 more characters]").arg(60 * 1024 - Logger::kMaxTextLength / 2);
        // Cut between the halves of a surrogate pair, the whole pair goes.
        QTest::newRow("a pair at the cut")
            << "peer" << QString(Logger::kMaxTextLength - 1, QLatin1Char('x')) + QString::fromUtf8("\U0001F600")
            << "peer: " + QString(Logger::kMaxTextLength - 1, QLatin1Char('x')) + " [cut: 2 more characters]";
    }

    void foreignTextStaysOneBoundedLine()
    {
        QFETCH(QString, category);
        QFETCH(QString, message);
        QFETCH(QString, written);
        QTemporaryDir dir;
        Logger logger;
        logger.initIn(dir.path());
        logger.log(Logger::Info, category, message);
        const QStringList lines = readLines(dir.path() + QStringLiteral("/corvana.log"));
        QCOMPARE(lines.size(), 2);
        QVERIFY2(QRegularExpression(QStringLiteral("^") + kStamp + QStringLiteral(" \\[INF\\] $")).match(lines.at(1).left(30)).hasMatch(),
                 qPrintable(lines.at(1).left(80)));
        QCOMPARE(lines.at(1).mid(30), written);
    }

    void notificationSoundGoesToThePlayer()
    {
        std::atomic<int> played{0};
        Logger logger;
        logger.setNotificationSound(std::make_unique<CountingSound>(&played));
        QVERIFY(QMetaObject::invokeMethod(&logger, "playNotificationSound"));
        logger.playNotificationSound();
        QCOMPARE(played.load(), 2);
    }
};

CORVANA_TEST_MAIN(LoggerTest)
#include "logger_test.moc"
