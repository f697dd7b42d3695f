#include "service/api_client.h"
#include "shell/logger.h"
#include "support/test_main.h"
#include "support/wait_bounds.h"

#include <QFile>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

#include <memory>

namespace {

class UdpEcho : public QObject
{
public:
    UdpEcho()
    {
        socket.bind(QHostAddress::LocalHost, 0, QAbstractSocket::DontShareAddress);
        connect(&socket, &QUdpSocket::readyRead, this, [this] {
            while (socket.hasPendingDatagrams()) {
                const QNetworkDatagram d = socket.receiveDatagram();
                socket.writeDatagram("echo:" + d.data(), d.senderAddress(), d.senderPort());
            }
        });
    }
    quint16 port() const { return socket.localPort(); }
    QUdpSocket socket;
};

// Sends through the forward at 127.0.0.1:port and returns what came back.
QByteArray roundTrip(quint16 port, const QByteArray &payload)
{
    QUdpSocket client;
    client.bind(QHostAddress::LocalHost, 0);
    client.writeDatagram(payload, QHostAddress::LocalHost, port);
    QElapsedTimer t;
    t.start();
    while (!client.hasPendingDatagrams() && t.elapsed() < kEventWaitMs)
        QTest::qWait(1);
    return client.hasPendingDatagrams() ? client.receiveDatagram().data() : QByteArray("<nothing>");
}

QString logText()
{
    QFile file(Logger::instance().filePath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class DedicatedForwardTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Logger::instance().init(); }

    void forwardsToTheGivenServerAndPort()
    {
        UdpEcho echo;
        ApiClient api;
        QSignalSpy started(&api, &ApiClient::dedicatedUdpForwardStarted);
        QSignalSpy stopped(&api, &ApiClient::dedicatedUdpForwardStopped);
        QSignalSpy errors(&api, &ApiClient::requestError);

        // The port inside the address is used when none is given.
        const int first = api.startDedicatedUdpForward(QStringLiteral("  127.0.0.1:%1 ").arg(echo.port()), 0);
        QVERIFY(first > 0);
        QCOMPARE(api.dedicatedForwardPort(), first);
        QCOMPARE(started.size(), 1);
        QCOMPARE(started[0][0].toInt(), first);
        QCOMPARE(roundTrip(quint16(first), "a"), QByteArray("echo:a"));

        // An explicit port wins over the one in the text; the old forward goes first.
        const int second = api.startDedicatedUdpForward(QStringLiteral("127.0.0.1:9"), echo.port());
        QVERIFY(second > 0);
        QCOMPARE(stopped.size(), 1);
        QCOMPARE(started.size(), 2);
        QCOMPARE(roundTrip(quint16(second), "b"), QByteArray("echo:b"));
        if (second != first) {
            QUdpSocket probe; // the first forward's port is free again
            QVERIFY(probe.bind(QHostAddress::LocalHost, quint16(first), QAbstractSocket::DontShareAddress));
        }
        QCOMPARE(errors.size(), 0);

        const QString log = logText();
        QVERIFY2(log.contains(QStringLiteral("[INF] dedicated: UDP forward active: 127.0.0.1:%1 -> 127.0.0.1:%2")
                                  .arg(second)
                                  .arg(echo.port())),
                 qPrintable(log));
        QVERIFY(log.contains(QStringLiteral("[INF] portfwd: started: Dedicated Game localhost:%1 \u2192 127.0.0.1:%2 (UDP)")
                                 .arg(second)
                                 .arg(echo.port())));
        QVERIFY(log.contains(QStringLiteral("[INF] portfwd: stopped: Dedicated Game")));

        api.stopDedicatedUdpForward();
        QCOMPARE(stopped.size(), 2);
        QCOMPARE(api.dedicatedForwardPort(), 0);
        QUdpSocket probe;
        QVERIFY(probe.bind(QHostAddress::LocalHost, quint16(second), QAbstractSocket::DontShareAddress));
        api.stopDedicatedUdpForward(); // nothing left: no signal
        QCOMPARE(stopped.size(), 2);
    }

    void refusesBadAddressesInBothLanguages()
    {
        ApiClient api;
        QSignalSpy errors(&api, &ApiClient::requestError);
        QSignalSpy started(&api, &ApiClient::dedicatedUdpForwardStarted);
        const QString english = QStringLiteral("Invalid game server address");

        const struct
        {
            const char *address;
            int port;
        } bad[] = {
            {"1.2.3.4:abc", 0},          // unreadable port: the whole text is no address
            {"1.2.3.4:abc", 27015},
            {"game.example.com", 27015}, // names are never resolved
            {"", 27015},
            {"   ", 27015},
            {":27015", 0},
            {"1.2.3.4", 0},
            {"1.2.3.4", 65536},
            {"1.2.3.4:70000", 0},
            {"1.2.3.4:-5", 0},
            {"[::1]:27015", 0},
        };
        for (const auto &entry : bad)
            QCOMPARE(api.startDedicatedUdpForward(QString::fromLatin1(entry.address), entry.port), 0);
        QCOMPARE(errors.size(), int(std::size(bad)));
        for (const auto &error : errors)
            QCOMPARE(error[0].toString(), english);
        QCOMPARE(started.size(), 0);

        api.setLang(QStringLiteral("fa"));
        QCOMPARE(api.startDedicatedUdpForward(QStringLiteral("not-an-ip"), 1), 0);
        QCOMPARE(errors.last()[0].toString(), QString::fromUtf8("آدرس سرور بازی نامعتبر است"));

        // IPv6 literals with several colons stay whole and are accepted.
        const int port = api.startDedicatedUdpForward(QStringLiteral("::1"), 27015);
        QVERIFY(port > 0);
    }

    void logoutAndDestructionStopTheForward()
    {
        UdpEcho echo;
        int port = 0;
        auto api = std::make_unique<ApiClient>();
        QSignalSpy stopped(api.get(), &ApiClient::dedicatedUdpForwardStopped);
        QVERIFY(api->startDedicatedUdpForward(QStringLiteral("127.0.0.1"), echo.port()) > 0);
        api->logout();
        QCOMPARE(stopped.size(), 1);
        QCOMPARE(api->dedicatedForwardPort(), 0);

        port = api->startDedicatedUdpForward(QStringLiteral("127.0.0.1"), echo.port());
        QVERIFY(port > 0);
        QObject watcher;
        int stoppedAtDestruction = 0;
        connect(api.get(), &ApiClient::dedicatedUdpForwardStopped, &watcher, [&] { ++stoppedAtDestruction; });
        api.reset();
        QCOMPARE(stoppedAtDestruction, 1);
        QUdpSocket probe;
        QVERIFY(probe.bind(QHostAddress::LocalHost, quint16(port), QAbstractSocket::DontShareAddress));
    }
};

CORVANA_TEST_MAIN(DedicatedForwardTest)
#include "port_forward_dedicated_test.moc"
