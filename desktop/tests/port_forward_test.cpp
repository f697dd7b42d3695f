#include "forwarding/port_forward.h"
#include "support/wait_bounds.h"

#include <QNetworkDatagram>
#include <QProcess>
#include <QScopeGuard>
#include <QThread>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// Answers every datagram to its sender with "echo:" in front, and notes who sent it.
class UdpEcho : public QObject
{
public:
    explicit UdpEcho(const QHostAddress &address = QHostAddress::LocalHost)
    {
        socket.bind(address, 0, QAbstractSocket::DontShareAddress);
        connect(&socket, &QUdpSocket::readyRead, this, [this] {
            while (socket.hasPendingDatagrams()) {
                const QNetworkDatagram d = socket.receiveDatagram();
                senders.append(d.senderPort());
                socket.writeDatagram(prefix + d.data(), d.senderAddress(), d.senderPort());
            }
        });
    }
    quint16 port() const { return socket.localPort(); }
    QUdpSocket socket;
    QByteArray prefix = "echo:";
    QList<quint16> senders;
};

// Sends each connection's bytes straight back.
class TcpEcho : public QObject
{
public:
    TcpEcho()
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = server.nextPendingConnection()) {
                ++accepted;
                connect(s, &QTcpSocket::readyRead, s, [s] { s->write(s->readAll()); });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    quint16 port() const { return server.serverPort(); }
    QTcpServer server;
    int accepted = 0;
};

QByteArray receiveOne(QUdpSocket &socket, int timeoutMs = kEventWaitMs)
{
    if (!socket.hasPendingDatagrams())
        socket.waitForReadyRead(0);
    QElapsedTimer t;
    t.start();
    while (!socket.hasPendingDatagrams() && t.elapsed() < timeoutMs)
        QTest::qWait(1);
    if (!socket.hasPendingDatagrams())
        return "<nothing>";
    return socket.receiveDatagram().data();
}

// The game server as a program of its own on a fixed port, so it can go away and come back there.
class UdpEchoProgram
{
public:
    explicit UdpEchoProgram(quint16 port) : m_port(port) {}
    ~UdpEchoProgram() { stop(); }

    bool start()
    {
        QByteArray output;
        m_process.start(QStringLiteral(CORVANA_BIN_DIR "/udp-echo"), {QStringLiteral("127.0.0.1:%1").arg(m_port)});
        return QTest::qWaitFor([&] {
            output += m_process.readAllStandardOutput();
            return output.contains("echoing\n") || m_process.state() == QProcess::NotRunning;
        }, kEventWaitMs) && m_process.state() == QProcess::Running;
    }
    void stop()
    {
        m_process.kill();
        m_process.waitForFinished(kEventWaitMs);
    }

private:
    quint16 m_port;
    QProcess m_process;
};

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

quint16 freeTcpPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QByteArray pattern(int size, char seed)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char(seed + i * 7);
    return data;
}

} // namespace

class PortForwardTest : public QObject
{
    Q_OBJECT

private slots:
    void udpServesSeveralClientsEachThroughItsOwnSocket()
    {
        UdpEcho echo;
        PortForward forward("test", 0, "127.0.0.1", echo.port(), ForwardProtocol::Udp);
        QSignalSpy started(&forward, &PortForward::started);
        QVERIFY(forward.start());
        QCOMPARE(started.size(), 1);
        QVERIFY(forward.localPort() != 0);
        QVERIFY(forward.isRunning());

        std::vector<std::unique_ptr<QUdpSocket>> clients;
        for (int i = 0; i < 3; ++i) {
            clients.push_back(std::make_unique<QUdpSocket>());
            QVERIFY(clients.back()->bind(QHostAddress::LocalHost, 0));
        }
        // Interleaved traffic: every client must get back only its own replies.
        for (int round = 0; round < 3; ++round) {
            for (int i = 0; i < 3; ++i) {
                const QByteArray payload = QByteArray("c") + QByteArray::number(i) + "r" + QByteArray::number(round);
                clients[i]->writeDatagram(payload, QHostAddress::LocalHost, forward.localPort());
            }
            for (int i = 0; i < 3; ++i) {
                const QByteArray expected =
                    QByteArray("echo:c") + QByteArray::number(i) + "r" + QByteArray::number(round);
                QCOMPARE(receiveOne(*clients[i]), expected);
            }
        }
        QCOMPARE(forward.udpClientCount(), 3);
        // The remote sees three distinct senders, one per local client.
        QCOMPARE(QSet<quint16>(echo.senders.begin(), echo.senders.end()).size(), 3);
        QCOMPARE(forward.bytes(), qint64(9 * 4 + 9 * 9));
    }

    void udpKeepsFlowingUnderSustainedLoad()
    {
        // Echo and forward each on their own thread, as busy as they get; the client blocks here.
        QThread echoThread, forwardThread;
        echoThread.start();
        forwardThread.start();
        auto *echo = new UdpEcho;
        echo->prefix.clear();
        const quint16 echoPort = echo->port();
        echo->moveToThread(&echoThread);
        echo->socket.moveToThread(&echoThread);
        auto *forward = new PortForward("load", 0, "127.0.0.1", echoPort, ForwardProtocol::Udp);
        forward->moveToThread(&forwardThread);
        bool started = false;
        QMetaObject::invokeMethod(forward, [&] { started = forward->start(); }, Qt::BlockingQueuedConnection);
        auto cleanup = qScopeGuard([&] {
            QMetaObject::invokeMethod(forward, [forward] { delete forward; }, Qt::BlockingQueuedConnection);
            QMetaObject::invokeMethod(echo, [echo] { delete echo; }, Qt::BlockingQueuedConnection);
            forwardThread.quit();
            echoThread.quit();
            forwardThread.wait();
            echoThread.wait();
        });
        QVERIFY(started);

        QUdpSocket client;
        QVERIFY(client.bind(QHostAddress::LocalHost, 0));
        const QByteArray payload = pattern(1200, 'L');
        constexpr int kTotal = 20000;
        constexpr int kWindow = 32;
        int received = 0, silentWaits = 0;
        auto sendBatch = [&](int n) {
            for (int i = 0; i < n; ++i)
                client.writeDatagram(payload, QHostAddress::LocalHost, forward->localPort());
        };
        sendBatch(kWindow);
        // Losses are allowed on loopback under load; a forward that stops reading is not.
        while (received < kTotal && silentWaits < 5) {
            if (!client.waitForReadyRead(300)) {
                ++silentWaits;
                sendBatch(kWindow);
                continue;
            }
            int got = 0;
            while (client.hasPendingDatagrams()) {
                client.receiveDatagram();
                ++got;
            }
            received += got;
            silentWaits = 0;
            sendBatch(got);
        }
        QVERIFY2(received >= kTotal, qPrintable(QStringLiteral("stalled after %1 datagrams").arg(received)));
    }

    void udpCarriesEverySizeAndOnlyTheRemotesReplies()
    {
        // The remote lives on another loopback address so a stray sender can be told apart.
        UdpEcho echo(QHostAddress("127.0.0.2"));
        if (echo.port() == 0)
            QSKIP("127.0.0.2 is not usable here");
        echo.prefix.clear();
        PortForward forward("sizes", 0, "127.0.0.2", echo.port(), ForwardProtocol::Udp);
        QVERIFY(forward.start());
        QUdpSocket client;
        QVERIFY(client.bind(QHostAddress::LocalHost, 0));
        client.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1 << 20);

        for (int size : {0, 1, 100, 1200, 1472, 9000, 65507}) {
            const QByteArray payload = pattern(size, char(size));
            QCOMPARE(client.writeDatagram(payload, QHostAddress::LocalHost, forward.localPort()), qint64(size));
            const QByteArray back = receiveOne(client);
            QCOMPARE(back.size(), size);
            QVERIFY(back == payload);
        }

        // Someone else writing to the forward's remote-side socket must not reach the client,
        // not even from another port of the server's own address.
        QVERIFY(!echo.senders.isEmpty());
        QUdpSocket stranger;
        QVERIFY(stranger.bind(QHostAddress::LocalHost, 0));
        QUdpSocket neighbour;
        QVERIFY(neighbour.bind(QHostAddress("127.0.0.2"), 0));
        for (QUdpSocket *from : {&stranger, &neighbour}) {
            from->writeDatagram("spoofed", QHostAddress("127.0.0.2"), echo.senders.last());
            from->writeDatagram("spoofed", QHostAddress::LocalHost, echo.senders.last());
        }
        QTest::qWait(50);
        QVERIFY(!client.hasPendingDatagrams());
        client.writeDatagram("after", QHostAddress::LocalHost, forward.localPort());
        QCOMPARE(receiveOne(client), QByteArray("after"));
    }

    void udpServerThatWentAwayIsHeardAgainWhenBack_data()
    {
        QTest::addColumn<int>("atOnce");  // sent together, before the forward reads any
        QTest::addColumn<int>("oneByOne"); // then each sent once the forward has passed the last on
        QTest::newRow("one refused datagram") << 0 << 1;
        QTest::newRow("three, one by one") << 0 << 3;
        // The forward sends them while the refusal of the one before is still
        // pending, so every other send fails; the last goes alone. 40 stays within
        // the burst of "port unreachable" answers the system allows.
        QTest::newRow("a burst, then one") << 40 << 1;
    }

    void udpServerThatWentAwayIsHeardAgainWhenBack()
    {
        QFETCH(int, atOnce);
        QFETCH(int, oneByOne);
        const quint16 port = freeUdpPort();
        UdpEchoProgram server(port);
        QVERIFY(server.start());
        PortForward forward("restart", 0, "127.0.0.1", port, ForwardProtocol::Udp);
        QVERIFY(forward.start());
        QUdpSocket game;
        QVERIFY(game.bind(QHostAddress::LocalHost, 0));
        game.writeDatagram("hello", QHostAddress::LocalHost, forward.localPort());
        QCOMPARE(receiveOne(game), QByteArray("hello"));

        // The server goes away: the system answers what the forward sends it with "port unreachable".
        server.stop();
        qint64 sent = forward.bytes();
        for (int i = 0; i < atOnce + oneByOne; ++i) {
            game.writeDatagram("gone", QHostAddress::LocalHost, forward.localPort());
            sent += 4;
            if (i >= atOnce || i + 1 == atOnce)
                QVERIFY(QTest::qWaitFor([&] { return forward.bytes() == sent; }, kEventWaitMs));
        }

        // Back on the same port, its answers reach the game through the same mapping.
        QVERIFY(server.start());
        game.writeDatagram("back", QHostAddress::LocalHost, forward.localPort());
        QCOMPARE(receiveOne(game), QByteArray("back"));
        QCOMPARE(forward.udpClientCount(), 1);
    }

    void udpClientsExpireAndStayBounded()
    {
        UdpEcho echo;
        PortForward forward("flood", 0, "127.0.0.1", echo.port(), ForwardProtocol::Udp);
        forward.setUdpIdleMs(100);
        QVERIFY(forward.start());

        QUdpSocket client;
        QVERIFY(client.bind(QHostAddress::LocalHost, 0));
        client.writeDatagram("one", QHostAddress::LocalHost, forward.localPort());
        QCOMPARE(receiveOne(client), QByteArray("echo:one"));
        QCOMPARE(forward.udpClientCount(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(forward.udpClientCount(), 0, kEventWaitMs);
        // An expired client simply gets a new mapping when it speaks again.
        client.writeDatagram("two", QHostAddress::LocalHost, forward.localPort());
        QCOMPARE(receiveOne(client), QByteArray("echo:two"));

        forward.setUdpIdleMs(60000);
        std::vector<std::unique_ptr<QUdpSocket>> flood;
        for (int i = 0; i < PortForward::kMaxUdpClients + 40; ++i) {
            flood.push_back(std::make_unique<QUdpSocket>());
            QVERIFY(flood.back()->bind(QHostAddress::LocalHost, 0));
            flood.back()->writeDatagram("x", QHostAddress::LocalHost, forward.localPort());
            // Paced so the kernel's socket buffers, not the forward, are never the limit.
            if (i % 32 == 31)
                QTRY_COMPARE_WITH_TIMEOUT(echo.senders.size(), 2 + i + 1, kEventWaitMs);
        }
        QTRY_COMPARE_WITH_TIMEOUT(echo.senders.size(), 2 + PortForward::kMaxUdpClients + 40, kEventWaitMs);
        QCOMPARE(forward.udpClientCount(), PortForward::kMaxUdpClients);
        // The newest sender is among those kept.
        QCOMPARE(receiveOne(*flood.back()), QByteArray("echo:x"));
    }

    void tcpRelaysBothWaysForSeveralClients()
    {
        TcpEcho echo;
        PortForward forward("tcp", 0, "127.0.0.1", echo.port(), ForwardProtocol::Tcp);
        QVERIFY(forward.start());

        std::vector<std::unique_ptr<QTcpSocket>> clients;
        std::vector<QByteArray> sent, received(3);
        for (int i = 0; i < 3; ++i) {
            clients.push_back(std::make_unique<QTcpSocket>());
            QTcpSocket *c = clients.back().get();
            connect(c, &QTcpSocket::readyRead, c, [c, &received, i] { received[i] += c->readAll(); });
            c->connectToHost(QHostAddress::LocalHost, forward.localPort());
            // Written at once, before the forward has reached the remote.
            sent.push_back(pattern(300000 + i, char('a' + i)));
            c->write(sent.back());
        }
        for (int i = 0; i < 3; ++i)
            QTRY_COMPARE_WITH_TIMEOUT(received[i].size(), sent[i].size(), kEventWaitMs);
        for (int i = 0; i < 3; ++i)
            QVERIFY(received[i] == sent[i]);
        QCOMPARE(echo.accepted, 3);
        QCOMPARE(forward.tcpPairCount(), 3);
        QCOMPARE(forward.bytes(), qint64(2 * (300000 + 300001 + 300002)));

        // Clients that vanish take their pairs with them.
        for (auto &c : clients)
            c->abort();
        QTRY_COMPARE_WITH_TIMEOUT(forward.tcpConnectionCount(), 0, kEventWaitMs);
    }

    void tcpDeliversWhatTheRemoteSentBeforeClosing()
    {
        const QByteArray blob = pattern(2 * 1024 * 1024, 'z');
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        connect(&server, &QTcpServer::newConnection, &server, [&] {
            QTcpSocket *s = server.nextPendingConnection();
            s->write(blob);
            s->disconnectFromHost();
            connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        });
        PortForward forward("burst", 0, "127.0.0.1", server.serverPort(), ForwardProtocol::Tcp);
        QVERIFY(forward.start());

        QTcpSocket client;
        QByteArray received;
        bool closed = false;
        connect(&client, &QTcpSocket::readyRead, &client, [&] { received += client.readAll(); });
        connect(&client, &QTcpSocket::disconnected, &client, [&] { closed = true; });
        client.connectToHost(QHostAddress::LocalHost, forward.localPort());
        QTRY_VERIFY_WITH_TIMEOUT(closed, kEventWaitMs);
        received += client.readAll();
        QCOMPARE(received.size(), blob.size());
        QVERIFY(received == blob);
        QTRY_COMPARE_WITH_TIMEOUT(forward.tcpConnectionCount(), 0, kEventWaitMs);
    }

    void tcpRemoteThatRefusesClosesTheClient()
    {
        PortForward forward("refused", 0, "127.0.0.1", freeTcpPort(), ForwardProtocol::Tcp);
        QVERIFY(forward.start());
        QTcpSocket client;
        QSignalSpy closed(&client, &QTcpSocket::disconnected);
        client.connectToHost(QHostAddress::LocalHost, forward.localPort());
        QVERIFY(client.waitForConnected(kEventWaitMs));
        client.write("hello");
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, kEventWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(forward.tcpConnectionCount(), 0, kEventWaitMs);
        QCOMPARE(forward.tcpPairCount(), 0);
        QVERIFY(forward.isRunning());
    }

    void tcpRemoteThatNeverAnswersTimesOut()
    {
        // A listener whose queue is full and never accepts: further handshakes go unanswered.
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        auto closeFd = qScopeGuard([fd] { ::close(fd); });
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0);
        QVERIFY(::listen(fd, 0) == 0);
        socklen_t len = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
        const quint16 port = ntohs(addr.sin_port);
        std::vector<std::unique_ptr<QTcpSocket>> fillers;
        for (int i = 0; i < 2; ++i) {
            fillers.push_back(std::make_unique<QTcpSocket>());
            fillers.back()->connectToHost(QHostAddress::LocalHost, port);
            fillers.back()->waitForConnected(500);
        }

        PortForward forward("silent", 0, "127.0.0.1", port, ForwardProtocol::Tcp);
        forward.setTcpConnectTimeoutMs(300);
        QVERIFY(forward.start());
        QTcpSocket waiting, leaving;
        QSignalSpy closed(&waiting, &QTcpSocket::disconnected);
        waiting.connectToHost(QHostAddress::LocalHost, forward.localPort());
        leaving.connectToHost(QHostAddress::LocalHost, forward.localPort());
        QVERIFY(waiting.waitForConnected(kEventWaitMs));
        QVERIFY(leaving.waitForConnected(kEventWaitMs));
        QTRY_COMPARE_WITH_TIMEOUT(forward.tcpConnectionCount(), 2, kEventWaitMs);
        QCOMPARE(forward.tcpPairCount(), 0);
        // A client that gives up first takes its attempt along at once.
        leaving.abort();
        QTRY_COMPARE_WITH_TIMEOUT(forward.tcpConnectionCount(), 1, kEventWaitMs);
        // The other is closed when the attempt times out.
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, kEventWaitMs);
        QCOMPARE(forward.tcpConnectionCount(), 0);
    }

    void tcpSlowRemoteHoldsBackTheClient()
    {
        // The remote accepts but never reads: the forward must not buffer the client's stream.
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QTcpSocket *accepted = nullptr;
        connect(&server, &QTcpServer::newConnection, &server, [&] {
            accepted = server.nextPendingConnection();
            accepted->setReadBufferSize(1);
        });
        PortForward forward("slow", 0, "127.0.0.1", server.serverPort(), ForwardProtocol::Tcp);
        QVERIFY(forward.start());

        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, forward.localPort());
        QVERIFY(client.waitForConnected(kEventWaitMs));
        QTRY_VERIFY_WITH_TIMEOUT(forward.tcpPairCount() == 1, kEventWaitMs);
        const qint64 total = 64 * 1024 * 1024;
        client.write(QByteArray(total, 'q'));
        QTest::qWait(500);
        // Kernel buffers take some megabytes; the rest must still wait at the client.
        QVERIFY2(client.bytesToWrite() > total / 2, qPrintable(QString::number(client.bytesToWrite())));
        QVERIFY(forward.bytes() < total / 2);
    }

    void startFailuresLeaveNothingBound()
    {
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::LocalHost, 0, QAbstractSocket::DontShareAddress));
        const quint16 udpPort = holder.localPort();

        PortForward udp("busy", udpPort, "127.0.0.1", 9, ForwardProtocol::Udp);
        QSignalSpy errors(&udp, &PortForward::error);
        QSignalSpy started(&udp, &PortForward::started);
        QVERIFY(!udp.start());
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors[0][0].toString().startsWith(QStringLiteral("UDP bind failed on port %1: ").arg(udpPort)));
        QCOMPARE(started.size(), 0);
        QVERIFY(!udp.isRunning());
        QCOMPARE(udp.localPort(), udpPort);

        QTcpServer tcpHolder;
        QVERIFY(tcpHolder.listen(QHostAddress::LocalHost, 0));
        PortForward tcp("busy", tcpHolder.serverPort(), "127.0.0.1", 9, ForwardProtocol::Tcp);
        QSignalSpy tcpErrors(&tcp, &PortForward::error);
        QVERIFY(!tcp.start());
        QVERIFY(tcpErrors[0][0].toString().startsWith(
            QStringLiteral("TCP listen failed on port %1: ").arg(tcpHolder.serverPort())));

        // TCP free but UDP taken: the listener made on the way must be released again.
        tcpHolder.close();
        PortForward both("both", udpPort, "127.0.0.1", 9, ForwardProtocol::Both);
        QVERIFY(!both.start());
        QTcpServer again;
        QVERIFY(again.listen(QHostAddress::LocalHost, udpPort));

        // Two forwards never share one UDP port.
        PortForward first("first", 0, "127.0.0.1", 9, ForwardProtocol::Udp);
        QVERIFY(first.start());
        PortForward second("second", first.localPort(), "127.0.0.1", 9, ForwardProtocol::Udp);
        QVERIFY(!second.start());
    }

    void stopFreesThePortAndRestarts()
    {
        UdpEcho echo;
        TcpEcho tcpEcho;
        PortForward forward("cycle", 0, "127.0.0.1", echo.port(), ForwardProtocol::Both);
        QSignalSpy started(&forward, &PortForward::started);
        QSignalSpy stopped(&forward, &PortForward::stopped);
        QVERIFY(forward.start());
        QVERIFY(forward.start()); // already running: no second signal
        QCOMPARE(started.size(), 1);
        const quint16 port = forward.localPort();

        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(client.waitForConnected(kEventWaitMs));

        forward.stop();
        QCOMPARE(stopped.size(), 1);
        QVERIFY(!forward.isRunning());
        forward.stop();
        QCOMPARE(stopped.size(), 1);

        QUdpSocket udpProbe;
        QVERIFY(udpProbe.bind(QHostAddress::LocalHost, port, QAbstractSocket::DontShareAddress));
        udpProbe.close();
        QTcpServer tcpProbe;
        QVERIFY(tcpProbe.listen(QHostAddress::LocalHost, port));
        tcpProbe.close();

        // Started again on the port it had, it relays as before.
        QVERIFY(forward.start());
        QCOMPARE(forward.localPort(), port);
        QCOMPARE(started.size(), 2);
        QUdpSocket udpClient;
        udpClient.bind(QHostAddress::LocalHost, 0);
        udpClient.writeDatagram("again", QHostAddress::LocalHost, port);
        QCOMPARE(receiveOne(udpClient), QByteArray("echo:again"));
    }

    void protocolNames()
    {
        QCOMPARE(forwardProtocolName(ForwardProtocol::Tcp), QStringLiteral("TCP"));
        QCOMPARE(forwardProtocolName(ForwardProtocol::Udp), QStringLiteral("UDP"));
        QCOMPARE(forwardProtocolName(ForwardProtocol::Both), QStringLiteral("TCP+UDP"));
        QCOMPARE(forwardProtocolName(ForwardProtocol(7)), QStringLiteral("?"));
    }
};

QTEST_GUILESS_MAIN(PortForwardTest)
#include "port_forward_test.moc"
