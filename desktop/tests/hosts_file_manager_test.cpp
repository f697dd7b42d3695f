#include "session/hosts_file_manager.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Spelled out here, so a changed marker text fails the tests.
const QByteArray kStart = "# === Corvana VPN start (do not edit) ===";
const QByteArray kEnd = "# === Corvana VPN end ===";

struct HostsFile {
    QTemporaryDir dir;
    QString path = dir.filePath("hosts");
    explicit HostsFile(const QByteArray &content)
    {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(content);
    }
    QByteArray content() const
    {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }
    bool backupExists() const { return QFile::exists(path + ".corvana.bak"); }
};

} // namespace

class HostsFileManagerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void removesEveryBlockAndKeepsTheRest()
    {
        const QByteArray before = "127.0.0.1 localhost\n" + kStart + "\n10.0.0.1 a.test\n" + kEnd
                                  + "\n::1 localhost\n" + kStart + "\n10.0.0.2 b.test\n" + kEnd;
        HostsFile hosts(before);
        HostsFileManager manager;
        manager.setHostsFilePath(hosts.path);
        QVERIFY(manager.removeManagedBlock());
        // Neighbouring lines stay apart; the last block had no trailing line break,
        // so the one before it goes with it.
        QCOMPARE(hosts.content(), QByteArray("127.0.0.1 localhost\n::1 localhost"));
        QVERIFY(!hosts.backupExists());
    }

    void lineBreaksAroundABlockGoWithIt()
    {
        HostsFile hosts(kStart + "\r\n1\r\n" + kEnd + "\r\na\r\n" + kStart + "\r\nx\r\n" + kEnd + "\r\nb\r\n");
        HostsFileManager manager;
        manager.setHostsFilePath(hosts.path);
        QVERIFY(manager.removeManagedBlock());
        QCOMPARE(hosts.content(), QByteArray("a\nb\n")); // rewritten with LF line ends
    }

    void leavesFilesWithoutACompleteBlockUntouched()
    {
        for (const QByteArray &content :
             {QByteArray("127.0.0.1 localhost\r\n::1 localhost\r\n"),
              QByteArray("a\n" + kStart + "\n10.0.0.1 x\n# === Corvana VPN end\n"), QByteArray()}) {
            HostsFile hosts(content);
            const auto mtimeBefore = QFileInfo(hosts.path).lastModified();
            HostsFileManager manager;
            manager.setHostsFilePath(hosts.path);
            QVERIFY(manager.removeManagedBlock());
            QCOMPARE(hosts.content(), content);
            QCOMPARE(QFileInfo(hosts.path).lastModified(), mtimeBefore);
        }
    }

    void unreadableFileIsAFailure()
    {
        QTemporaryDir dir;
        HostsFileManager manager;
        manager.setHostsFilePath(dir.filePath("missing"));
        QVERIFY(manager.readHostsFile().isNull());
        QVERIFY(!manager.removeManagedBlock());
    }

    void unwritableFileIsRetriedFiveTimesAndLeftIntact()
    {
        const QByteArray before = "a\n" + kStart + "\nx\n" + kEnd + "\nb\n";
        HostsFile hosts(before);
        ::chmod(QFile::encodeName(hosts.dir.path()).constData(), 0755);
        ::chmod(QFile::encodeName(hosts.path).constData(), 0444);
        HostsFileManager manager;
        manager.setHostsFilePath(hosts.path);
        manager.setRetryDelayMs(20);

        // Root may write anything; act as an ordinary user for the attempt.
        const bool root = ::geteuid() == 0;
        if (root)
            QVERIFY(::seteuid(65534) == 0);
        QElapsedTimer timer;
        timer.start();
        const bool result = manager.removeManagedBlock();
        const qint64 elapsed = timer.elapsed();
        if (root)
            QVERIFY(::seteuid(0) == 0);

        QVERIFY(!result);
        QVERIFY(elapsed >= 5 * 20);
        QCOMPARE(hosts.content(), before);
    }

    void regexEscapesTheMarkers()
    {
        const auto re = HostsFileManager::managedBlockRegex("(a+)", "[b]");
        QVERIFY(re.isValid());
        QCOMPARE(QString("x\n(a+)\n1\n[b]\ny").remove(re), QString("xy"));
        QCOMPARE(QString("x\naa\n1\nb\ny").remove(re), QString("x\naa\n1\nb\ny"));
    }
};

QTEST_GUILESS_MAIN(HostsFileManagerTest)
#include "hosts_file_manager_test.moc"
