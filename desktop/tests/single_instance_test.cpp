#include "shell/single_instance.h"
#include "support/other_account.h"
#include "support/wait_bounds.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString uniqueName(const char *tag)
{
    static int counter = 0;
    return QStringLiteral("corvana-si-%1-%2-%3")
        .arg(QCoreApplication::applicationPid())
        .arg(QLatin1String(tag))
        .arg(++counter);
}

} // namespace

class SingleInstanceTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_runtime;

private slots:
    void initTestCase()
    {
        QVERIFY(m_runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
    }

    void channelLivesInTheRuntimeFolder()
    {
        QCOMPARE(SingleInstance::channelName("CorvanaApp"), m_runtime.path() + "/CorvanaApp");
        // Without one, a folder of this account's own in the temporary one; never a bare name there.
        qputenv("XDG_RUNTIME_DIR", (m_runtime.path() + "/missing").toUtf8());
        const QString fallback = QDir::tempPath() + "/corvana-" + QString::number(::geteuid());
        QCOMPARE(SingleInstance::channelName("CorvanaApp"), fallback + "/CorvanaApp");
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
    }

    // Where every account may create names (the shared temporary folder, a
    // runtime folder that is not the player's), another account can listen
    // first: the channel is never there, and such a listener hears nothing.
    void otherAccountsNeitherTakeNorHearTheChannel_data()
    {
        QTest::addColumn<QString>("runtime");  // "unset", "shared" or "theirs"
        QTest::addColumn<bool>("folderTaken"); // they made the first private folder name first
        QTest::newRow("no runtime folder") << "unset" << false;
        QTest::newRow("a runtime folder open to all") << "shared" << false;
        QTest::newRow("a runtime folder of theirs") << "theirs" << false;
        QTest::newRow("no runtime folder, the private name taken") << "unset" << true;
    }

    void otherAccountsNeitherTakeNorHearTheChannel()
    {
        QFETCH(QString, runtime);
        QFETCH(bool, folderTaken);
        if (!otherAccount::available())
            QSKIP("needs root to act as another account");
        QTemporaryDir top;
        QVERIFY(::chmod(QFile::encodeName(top.path()).constData(), 0755) == 0);
        const QString shared = top.path() + "/tmp";
        const QString theirs = top.path() + "/theirs";
        QVERIFY(otherAccount::makeShared(shared));
        QVERIFY(QDir().mkpath(theirs) && QFile::setPermissions(theirs, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(otherAccount::hand(theirs));
        const QByteArray savedTemp = qgetenv("TMPDIR");
        auto restore = qScopeGuard([&] {
            qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
            savedTemp.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", savedTemp);
        });
        qputenv("TMPDIR", shared.toUtf8());
        if (runtime == "unset")
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", (runtime == "shared" ? shared : theirs).toUtf8());
        const QString own = shared + "/corvana-" + QString::number(::geteuid());
        if (folderTaken) {
            QVERIFY(QDir().mkpath(own));
            QVERIFY(otherAccount::hand(own));
        }

        // The name a bare channel had: a socket in the shared folder.
        OtherAccountListener squatter;
        QVERIFY(squatter.listen(shared + "/CorvanaApp"));
        const QString link = "corvana://join/private-room-7f3a";
        QVERIFY(!SingleInstance::sendToRunningInstance(shared + "/CorvanaApp", link));

        const QString name = SingleInstance::channelName("CorvanaApp");
        QCOMPARE(QFileInfo(name).path(), folderTaken ? own + "-1" : own);
        struct stat folder {};
        QCOMPARE(::lstat(QFile::encodeName(QFileInfo(name).path()).constData(), &folder), 0);
        QCOMPARE(folder.st_uid, ::geteuid());
        QCOMPARE(folder.st_mode, mode_t(S_IFDIR | 0700));
        QVERIFY(!SingleInstance::sendToRunningInstance(name, link, 200));
        SingleInstance instance;
        QVERIFY(instance.listen(name));
        QSignalSpy spy(&instance, &SingleInstance::messageReceived);
        QVERIFY(SingleInstance::sendToRunningInstance(name, link));
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, kEventWaitMs);
        QCOMPARE(spy[0][0].toString(), link);

        const auto heard = squatter.heard();
        QVERIFY(heard.settled);
        QCOMPARE(heard.bytes, QByteArray());
    }

    void messagesArriveTrimmedOnePerConnection()
    {
        const QString name = SingleInstance::channelName(uniqueName("msg"));
        QVERIFY(!SingleInstance::sendToRunningInstance(name, "show", 200));

        SingleInstance instance;
        QVERIFY(instance.listen(name));
        QVERIFY(instance.isListening());
        // Only this account may reach the channel.
        QCOMPARE(QFileInfo(name).permissions() & (QFile::ReadOther | QFile::WriteOther
                                                  | QFile::ReadGroup | QFile::WriteGroup),
                 QFile::Permissions());

        QSignalSpy spy(&instance, &SingleInstance::messageReceived);
        QVERIFY(SingleInstance::sendToRunningInstance(name, "show"));
        QVERIFY(SingleInstance::sendToRunningInstance(
            name, QString::fromUtf8("  corvana://join/\xd8\xa7\xd9\x84\xd9\x81 \n")));
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, kEventWaitMs);
        QCOMPARE(spy[0][0].toString(), QString("show"));
        QCOMPARE(spy[1][0].toString(), QString::fromUtf8("corvana://join/\xd8\xa7\xd9\x84\xd9\x81"));

        // An empty connection delivers nothing.
        QLocalSocket empty;
        empty.connectToServer(name);
        QVERIFY(empty.waitForConnected(kEventWaitMs));
        empty.disconnectFromServer();
        QTest::qWait(100);
        QCOMPARE(spy.count(), 2);
    }

    void staleServerIsReplaced()
    {
        const QString name = SingleInstance::channelName(uniqueName("stale"));
        // A socket file left by a crashed run: nobody accepts on it any more.
        {
            QLocalServer crashed;
            QVERIFY(crashed.listen(name));
        }
        QFile leftover(name);
        QVERIFY(leftover.open(QIODevice::WriteOnly));
        leftover.close();
        QVERIFY(!SingleInstance::sendToRunningInstance(name, "show", 200));

        SingleInstance instance;
        QVERIFY(instance.listen(name));
        QSignalSpy spy(&instance, &SingleInstance::messageReceived);
        QVERIFY(SingleInstance::sendToRunningInstance(name, "show"));
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, kEventWaitMs);
    }

    void stalledAndOversizedSendersDoNotBlockOthers()
    {
        const QString name = SingleInstance::channelName(uniqueName("stall"));
        SingleInstance instance;
        instance.setReadTimeout(300);
        QVERIFY(instance.listen(name));
        QSignalSpy spy(&instance, &SingleInstance::messageReceived);

        // Writes but never closes: what it sent counts once the wait is over.
        QLocalSocket stalled;
        stalled.connectToServer(name);
        QVERIFY(stalled.waitForConnected(kEventWaitMs));
        stalled.write("corvana://join/slow");
        QVERIFY(stalled.waitForBytesWritten(kEventWaitMs));

        // Far more than a link: dropped without a message.
        QLocalSocket flood;
        flood.connectToServer(name);
        QVERIFY(flood.waitForConnected(kEventWaitMs));
        flood.write(QByteArray(SingleInstance::kMaxMessageBytes + 100, 'a'));

        QVERIFY(SingleInstance::sendToRunningInstance(name, "show"));
        QTRY_VERIFY_WITH_TIMEOUT(spy.count() >= 1, kEventWaitMs);
        QCOMPARE(spy[0][0].toString(), QString("show"));
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, kEventWaitMs);
        QCOMPARE(spy[1][0].toString(), QString("corvana://join/slow"));
        QTest::qWait(400);
        QCOMPARE(spy.count(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(flood.state(), QLocalSocket::UnconnectedState, kEventWaitMs);
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "single_instance_test.moc"
