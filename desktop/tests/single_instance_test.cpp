#include "shell/single_instance.h"
#include "support/wait_bounds.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

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
        qputenv("XDG_RUNTIME_DIR", (m_runtime.path() + "/missing").toUtf8());
        QCOMPARE(SingleInstance::channelName("CorvanaApp"), QString("CorvanaApp"));
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
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
