#include "session/hosts_file_manager.h"

#include <QDateTime>
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
        QCOMPARE(hosts.content(), QByteArray("a\r\nb\r\n")); // line ends as they were
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

    void markersAreTakenLiterally()
    {
        QCOMPARE(HostsFileManager::withoutBlocks("x\n(a+)\n1\n[b]\ny", "(a+)", "[b]"), QByteArray("x\ny"));
        QCOMPARE(HostsFileManager::withoutBlocks("x\naa\n1\nb\ny", "(a+)", "[b]"), QByteArray("x\naa\n1\nb\ny"));
    }

    // Only the program's own block goes; every other byte stays as it was read,
    // and a file with nothing to remove is not written at all.
    void cleanUpTakesExactlyItsBlock_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        const QByteArray block = kStart + "\n10.20.0.9 peer\n" + kEnd + "\n";
        QTest::newRow("start without end, then a player's line, then a block")
            << kStart + "\n192.168.1.10 nas.home\n" + block << kStart + "\n192.168.1.10 nas.home\n";
        QTest::newRow("a comment quoting the start marker")
            << "# was: " + kStart + "\n192.168.1.20 tv.home\n" + block + "::1 localhost\n"
            << "# was: " + kStart + "\n192.168.1.20 tv.home\n::1 localhost\n";
        // The end that would pair with the stray start at the next clean-up goes.
        QTest::newRow("the nearest start opens the block; the player's lines stay for good")
            << kStart + "\na\n" + kStart + "\nb\n" + kEnd + "\nc\n" + kEnd + "\nd\n" + kEnd
            << kStart + "\na\nc\nd";
        QTest::newRow("CRLF") << "127.0.0.1 localhost\r\n" + kStart + "\r\n10.0.0.1 a\r\n" + kEnd + "\r\n::1 x\r\n"
                              << QByteArray("127.0.0.1 localhost\r\n::1 x\r\n");
        QTest::newRow("mixed line ends") << "a\r\nb\n" + kStart + "\r\nx\n" + kEnd + "\r\nc\r\nd\n"
                                         << QByteArray("a\r\nb\nc\r\nd\n");
        QTest::newRow("Latin-1 comment") << "# caf\xe9 \xa0\n" + block + "\xff" << QByteArray("# caf\xe9 \xa0\n\xff");
        QTest::newRow("block last, no final line feed, CRLF")
            << "a\r\nb\r\n" + kStart + "\r\nx\r\n" + kEnd << QByteArray("a\r\nb");
        QTest::newRow("player's line last, no final line feed") << "a\n" + block + "b" << QByteArray("a\nb");
        QTest::newRow("only a block") << block << QByteArray();
        QTest::newRow("markers inside longer lines")
            << "  " + kStart + "\nx\n" + kEnd + " \n" << "  " + kStart + "\nx\n" + kEnd + " \n";
        QTest::newRow("an end without a start") << "a\r\n" + kEnd + "\r\nb" << "a\r\n" + kEnd + "\r\nb";
        QTest::newRow("nothing of ours, Latin-1 and CR") << QByteArray("caf\xe9\r\n\r") << QByteArray("caf\xe9\r\n\r");
    }

    void cleanUpTakesExactlyItsBlock()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        HostsFile hosts(before);
        const QDateTime old = QDateTime::fromSecsSinceEpoch(1000000000);
        {
            QFile f(hosts.path);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.setFileTime(old, QFileDevice::FileModificationTime));
        }
        HostsFileManager manager;
        manager.setHostsFilePath(hosts.path);
        QVERIFY(manager.removeManagedBlock());
        QCOMPARE(hosts.content(), after);
        // The next start finds nothing more to take.
        QCOMPARE(HostsFileManager::withoutManagedBlocks(after), after);
        if (after == before)
            QCOMPARE(QFileInfo(hosts.path).lastModified(), old);
    }
};

QTEST_GUILESS_MAIN(HostsFileManagerTest)
#include "hosts_file_manager_test.moc"
