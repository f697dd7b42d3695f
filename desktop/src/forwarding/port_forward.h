#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class QTcpServer;
class QTcpSocket;
class QTimer;
class QUdpSocket;

enum class ForwardProtocol { Tcp = 0, Udp = 1, Both = 2 };

// "TCP", "UDP", "TCP+UDP", or "?" for anything else.
QString forwardProtocolName(ForwardProtocol protocol);

// Relays one loopback port to a remote address: TCP connections, UDP datagrams or both.
class PortForward : public QObject
{
    Q_OBJECT
public:
    // Bounds that keep a flood of local clients or a stalled remote from growing memory.
    static constexpr int kMaxUdpClients = 256;
    static constexpr int kDefaultUdpIdleMs = 120000;
    static constexpr int kMaxTcpConnections = 256;
    static constexpr int kTcpConnectTimeoutMs = 10000;
    static constexpr qint64 kTcpBufferBytes = 256 * 1024;
    // Datagrams handled per wake-up before the event loop gets its turn again.
    static constexpr int kDatagramBatch = 256;

    PortForward(const QString &name, quint16 localPort, const QString &remoteIp, quint16 remotePort,
                ForwardProtocol protocol, QObject *parent = nullptr);
    ~PortForward() override;

    bool start();
    void stop();

    QString name() const { return m_name; }
    quint16 localPort() const { return m_localPort; }
    QString remoteIp() const { return m_remoteIp; }
    quint16 remotePort() const { return m_remotePort; }
    ForwardProtocol protocol() const { return m_protocol; }
    bool isRunning() const { return m_running; }
    qint64 bytes() const { return m_bytes; }

    int udpClientCount() const { return int(m_udpClients.size()); }
    int tcpPairCount() const;
    int tcpConnectionCount() const { return int(m_tcp.size()); }
    // Tests shorten the idle time to watch clients expire.
    void setUdpIdleMs(int ms);
    void setTcpConnectTimeoutMs(int ms) { m_tcpConnectTimeoutMs = ms; }

signals:
    void started();
    void stopped();
    void error(const QString &message);

private slots:
    void onTcpConnection();
    void onUdpReadyRead();

private:
    struct UdpClient
    {
        QHostAddress address;
        quint16 port = 0;
        QUdpSocket *remote = nullptr;
        qint64 lastActiveMs = 0;
    };
    struct TcpPair
    {
        QTcpSocket *local = nullptr;
        QTcpSocket *remote = nullptr;
        QTimer *connectTimer = nullptr;
        bool connected = false;
    };

    void onUdpRemoteReadyRead(quint64 key);
    UdpClient *udpClientFor(const QHostAddress &address, quint16 port);
    void dropUdpClient(quint64 key);
    void expireIdleUdpClients();

    void onTcpRemoteConnected(TcpPair *pair);
    void onTcpConnectError(TcpPair *pair, const QString &text);
    void relay(QTcpSocket *from, QTcpSocket *to);
    void closeTcpPair(TcpPair *pair);
    static void retireSocket(QTcpSocket *socket);

    QString m_name;
    quint16 m_localPort;
    quint16 m_requestedPort;
    QString m_remoteIp;
    QHostAddress m_remoteAddress;
    quint16 m_remotePort;
    ForwardProtocol m_protocol;
    bool m_running = false;
    qint64 m_bytes = 0;

    QTcpServer *m_listener = nullptr;
    std::vector<std::unique_ptr<TcpPair>> m_tcp;

    QUdpSocket *m_localUdp = nullptr;
    QHash<quint64, UdpClient> m_udpClients;
    QTimer *m_idleTimer = nullptr;
    int m_udpIdleMs = kDefaultUdpIdleMs;
    int m_tcpConnectTimeoutMs = kTcpConnectTimeoutMs;
    QElapsedTimer m_clock;
    QByteArray m_datagram;
};
