#include "forwarding/port_forward.h"

#include "shell/logger.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <limits>

namespace {

// Largest UDP payload; every datagram fits the one reused buffer.
constexpr int kMaxDatagram = 65536;
constexpr int kRetireTimeoutMs = 5000;
constexpr int kSocketBufferBytes = 1024 * 1024;

void logLine(Logger::Level level, const QString &message)
{
    Logger::instance().log(level, QStringLiteral("portfwd"), message);
}

quint64 udpKey(quint32 ipv4, quint16 port)
{
    return (quint64(ipv4) << 16) | port;
}

} // namespace

QString forwardProtocolName(ForwardProtocol protocol)
{
    switch (protocol) {
    case ForwardProtocol::Tcp:
        return QStringLiteral("TCP");
    case ForwardProtocol::Udp:
        return QStringLiteral("UDP");
    case ForwardProtocol::Both:
        return QStringLiteral("TCP+UDP");
    }
    return QStringLiteral("?");
}

PortForward::PortForward(const QString &name, quint16 localPort, const QString &remoteIp, quint16 remotePort,
                         ForwardProtocol protocol, QObject *parent)
    : QObject(parent)
    , m_name(name)
    , m_localPort(localPort)
    , m_requestedPort(localPort)
    , m_remoteIp(remoteIp)
    , m_remoteAddress(remoteIp)
    , m_remotePort(remotePort)
    , m_protocol(protocol)
{
}

PortForward::~PortForward()
{
    stop();
}

int PortForward::tcpPairCount() const
{
    return int(std::count_if(m_tcp.begin(), m_tcp.end(), [](const auto &pair) { return pair->connected; }));
}

void PortForward::setUdpIdleMs(int ms)
{
    m_udpIdleMs = std::max(1, ms);
    if (m_idleTimer)
        m_idleTimer->setInterval(std::max(1, m_udpIdleMs / 4));
}

bool PortForward::start()
{
    if (m_running)
        return true;

    const bool tcp = m_protocol == ForwardProtocol::Tcp || m_protocol == ForwardProtocol::Both;
    const bool udp = m_protocol == ForwardProtocol::Udp || m_protocol == ForwardProtocol::Both;
    m_requestedPort = m_localPort;

    if (tcp) {
        m_listener = new QTcpServer(this);
        if (!m_listener->listen(QHostAddress::LocalHost, m_localPort)) {
            const QString message =
                QStringLiteral("TCP listen failed on port %1: %2").arg(m_localPort).arg(m_listener->errorString());
            logLine(Logger::Error, message);
            emit error(message);
            delete m_listener;
            m_listener = nullptr;
            return false;
        }
        m_localPort = m_listener->serverPort();
        connect(m_listener, &QTcpServer::newConnection, this, &PortForward::onTcpConnection);
    }

    if (udp) {
        m_localUdp = new QUdpSocket(this);
        // Without DontShareAddress a second forward could silently share the port.
        if (!m_localUdp->bind(QHostAddress::LocalHost, m_localPort, QAbstractSocket::DontShareAddress)) {
            const QString message =
                QStringLiteral("UDP bind failed on port %1: %2").arg(m_localPort).arg(m_localUdp->errorString());
            logLine(Logger::Error, message);
            emit error(message);
            if (m_listener) {
                m_listener->close();
                delete m_listener;
                m_listener = nullptr;
            }
            delete m_localUdp;
            m_localUdp = nullptr;
            m_localPort = m_requestedPort;
            return false;
        }
        m_localPort = m_localUdp->localPort();
        // Games send in bursts; a roomier buffer drops fewer of them while the GUI is busy.
        m_localUdp->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kSocketBufferBytes);
        m_datagram.resize(kMaxDatagram);
        m_clock.start();
        connect(m_localUdp, &QUdpSocket::readyRead, this, &PortForward::onUdpReadyRead);
        m_idleTimer = new QTimer(this);
        m_idleTimer->setInterval(std::max(1, m_udpIdleMs / 4));
        connect(m_idleTimer, &QTimer::timeout, this, &PortForward::expireIdleUdpClients);
        m_idleTimer->start();
    }

    m_running = true;
    logLine(Logger::Info, QStringLiteral("started: %1 localhost:%2 \u2192 %3:%4 (%5)")
                   .arg(m_name)
                   .arg(m_localPort)
                   .arg(m_remoteIp)
                   .arg(m_remotePort)
                   .arg(forwardProtocolName(m_protocol)));
    emit started();
    return true;
}

void PortForward::stop()
{
    if (!m_running)
        return;

    if (m_listener) {
        m_listener->close();
        auto connections = std::move(m_tcp);
        m_tcp.clear();
        for (auto &pair : connections) {
            pair->local->disconnect(this);
            pair->remote->disconnect(this);
            retireSocket(pair->local);
            retireSocket(pair->remote);
            pair->connectTimer->stop();
            pair->connectTimer->deleteLater();
        }
        delete m_listener;
        m_listener = nullptr;
    }

    if (m_localUdp) {
        delete m_idleTimer;
        m_idleTimer = nullptr;
        for (const UdpClient &client : std::as_const(m_udpClients)) {
            client.remote->close();
            delete client.remote;
        }
        m_udpClients.clear();
        m_localUdp->close();
        delete m_localUdp;
        m_localUdp = nullptr;
    }

    m_running = false;
    logLine(Logger::Info, QStringLiteral("stopped: %1").arg(m_name));
    emit stopped();
}

// ---- UDP ----

void PortForward::onUdpReadyRead()
{
    if (!m_localUdp)
        return;
    QUdpSocket *local = m_localUdp;
    // Datagrams left over after a batch wake the socket again on the next pass of the
    // event loop (each read re-arms its notifier), so a flood cannot starve other work.
    for (int handled = 0; handled < kDatagramBatch && local->hasPendingDatagrams(); ++handled) {
        QHostAddress sender;
        quint16 senderPort = 0;
        const qint64 size = local->readDatagram(m_datagram.data(), m_datagram.size(), &sender, &senderPort);
        if (size < 0 || senderPort == 0)
            continue;
        UdpClient *client = udpClientFor(sender, senderPort);
        if (!client)
            continue;
        client->lastActiveMs = m_clock.elapsed();
        m_bytes += size;
        client->remote->write(m_datagram.constData(), size);
    }
}

void PortForward::onUdpRemoteReadyRead(quint64 key)
{
    auto it = m_udpClients.find(key);
    if (it == m_udpClients.end() || !m_localUdp)
        return;
    QUdpSocket *remote = it->remote;
    // A datagram the server's host refused (its port closed for a moment) wakes this
    // connected socket with nothing to read, and hasPendingDatagrams() swallows the
    // refusal. Qt arms the socket's notifier again only in a read, so every wake-up
    // reads at least once: otherwise the socket never hears the server again. A failed
    // read ends the pass; what is still pending wakes the socket once more.
    for (int handled = 0; handled < kDatagramBatch; ++handled) {
        if (handled > 0 && !remote->hasPendingDatagrams())
            break;
        QHostAddress sender;
        quint16 senderPort = 0;
        const qint64 size = remote->readDatagram(m_datagram.data(), m_datagram.size(), &sender, &senderPort);
        if (size < 0)
            break;
        // Only the server we forward to may reach the local client through this socket:
        // another service on its host, or anyone sending from its address, may not.
        if (!sender.isEqual(m_remoteAddress) || senderPort != m_remotePort)
            continue;
        it->lastActiveMs = m_clock.elapsed();
        m_bytes += size;
        m_localUdp->writeDatagram(m_datagram.constData(), size, it->address, it->port);
    }
}

PortForward::UdpClient *PortForward::udpClientFor(const QHostAddress &address, quint16 port)
{
    bool ok = false;
    const quint32 ipv4 = address.toIPv4Address(&ok);
    if (!ok)
        return nullptr;
    const quint64 key = udpKey(ipv4, port);
    auto it = m_udpClients.find(key);
    if (it != m_udpClients.end())
        return &*it;

    if (m_udpClients.size() >= kMaxUdpClients) {
        auto oldest = std::min_element(m_udpClients.begin(), m_udpClients.end(),
                                       [](const UdpClient &a, const UdpClient &b) {
                                           return a.lastActiveMs < b.lastActiveMs;
                                       });
        dropUdpClient(oldest.key());
    }

    auto *remote = new QUdpSocket(this);
    // Connected: bound only where the server is reached, and the system drops what
    // comes from anywhere but the server's address and port.
    remote->connectToHost(m_remoteAddress, m_remotePort, QIODevice::ReadWrite);
    remote->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kSocketBufferBytes);
    connect(remote, &QUdpSocket::readyRead, this, [this, key] { onUdpRemoteReadyRead(key); });
    UdpClient client;
    client.address = QHostAddress(ipv4);
    client.port = port;
    client.remote = remote;
    client.lastActiveMs = m_clock.elapsed();
    return &*m_udpClients.insert(key, client);
}

void PortForward::dropUdpClient(quint64 key)
{
    auto it = m_udpClients.find(key);
    if (it == m_udpClients.end())
        return;
    QUdpSocket *remote = it->remote;
    m_udpClients.erase(it);
    remote->disconnect(this);
    remote->close();
    remote->deleteLater();
}

void PortForward::expireIdleUdpClients()
{
    const qint64 now = m_clock.elapsed();
    QList<quint64> idle;
    for (auto it = m_udpClients.cbegin(); it != m_udpClients.cend(); ++it) {
        if (now - it->lastActiveMs >= m_udpIdleMs)
            idle.append(it.key());
    }
    for (quint64 key : idle)
        dropUdpClient(key);
}

// ---- TCP ----

void PortForward::onTcpConnection()
{
    while (m_listener && m_listener->hasPendingConnections()) {
        QTcpSocket *local = m_listener->nextPendingConnection();
        if (!local)
            break;
        if (int(m_tcp.size()) >= kMaxTcpConnections) {
            logLine(Logger::Warn, QStringLiteral("%1: too many TCP connections, refusing one").arg(m_name));
            local->abort();
            local->deleteLater();
            continue;
        }
        local->setParent(this);
        // A bounded read buffer lets the kernel push back on a client faster than the remote.
        local->setReadBufferSize(kTcpBufferBytes);

        auto pair = std::make_unique<TcpPair>();
        TcpPair *p = pair.get();
        p->local = local;
        p->remote = new QTcpSocket(this);
        p->remote->setReadBufferSize(kTcpBufferBytes);
        p->connectTimer = new QTimer(this);
        p->connectTimer->setSingleShot(true);
        m_tcp.push_back(std::move(pair));

        connect(p->remote, &QTcpSocket::connected, this, [this, p] { onTcpRemoteConnected(p); });
        connect(p->remote, &QTcpSocket::errorOccurred, this,
                [this, p] { onTcpConnectError(p, p->remote->errorString()); });
        // A client that goes away before its remote side answers must not leave the attempt behind.
        connect(local, &QTcpSocket::disconnected, this, [this, p] { closeTcpPair(p); });
        connect(p->connectTimer, &QTimer::timeout, this,
                [this, p] { onTcpConnectError(p, QStringLiteral("Connection timed out")); });
        p->connectTimer->start(m_tcpConnectTimeoutMs);
        p->remote->connectToHost(m_remoteAddress, m_remotePort, QIODevice::ReadWrite);
    }
}

void PortForward::onTcpRemoteConnected(TcpPair *pair)
{
    logLine(Logger::Info, QStringLiteral("%1: TCP connected to %2").arg(m_name, m_remoteIp));
    pair->connected = true;
    pair->connectTimer->stop();

    QTcpSocket *local = pair->local;
    QTcpSocket *remote = pair->remote;
    connect(local, &QTcpSocket::readyRead, this, [this, local, remote] { relay(local, remote); });
    connect(remote, &QTcpSocket::readyRead, this, [this, local, remote] { relay(remote, local); });
    // Resume a direction that paused because its receiver was still busy writing.
    connect(remote, &QTcpSocket::bytesWritten, this, [this, local, remote] { relay(local, remote); });
    connect(local, &QTcpSocket::bytesWritten, this, [this, local, remote] { relay(remote, local); });
    connect(remote, &QTcpSocket::disconnected, this, [this, pair] { closeTcpPair(pair); });

    // What the client sent while the remote side was connecting is relayed now, not on its next write.
    relay(local, remote);
    if (local->state() != QAbstractSocket::ConnectedState)
        closeTcpPair(pair);
}

void PortForward::onTcpConnectError(TcpPair *pair, const QString &text)
{
    logLine(Logger::Error, QStringLiteral("%1: TCP connect failed: %2").arg(m_name, text));
    closeTcpPair(pair);
}

void PortForward::relay(QTcpSocket *from, QTcpSocket *to)
{
    while (from->bytesAvailable() > 0 && to->bytesToWrite() < kTcpBufferBytes) {
        const QByteArray chunk = from->read(std::min<qint64>(from->bytesAvailable(), kTcpBufferBytes));
        if (chunk.isEmpty())
            break;
        m_bytes += chunk.size();
        to->write(chunk);
    }
}

void PortForward::closeTcpPair(TcpPair *pair)
{
    auto it = std::find_if(m_tcp.begin(), m_tcp.end(), [pair](const auto &p) { return p.get() == pair; });
    if (it == m_tcp.end())
        return;
    std::unique_ptr<TcpPair> owned = std::move(*it);
    m_tcp.erase(it);

    owned->local->disconnect(this);
    owned->remote->disconnect(this);
    // The timer may be the one calling us.
    owned->connectTimer->stop();
    owned->connectTimer->disconnect(this);
    owned->connectTimer->deleteLater();
    if (owned->connected) {
        // Whatever already arrived still goes through before the pair closes.
        for (QTcpSocket *from : {owned->local, owned->remote}) {
            QTcpSocket *to = from == owned->local ? owned->remote : owned->local;
            const QByteArray rest = from->readAll();
            if (!rest.isEmpty() && to->state() == QAbstractSocket::ConnectedState) {
                m_bytes += rest.size();
                to->write(rest);
            }
        }
    }
    retireSocket(owned->local);
    retireSocket(owned->remote);
}

void PortForward::retireSocket(QTcpSocket *socket)
{
    if (socket->state() == QAbstractSocket::ConnectedState) {
        // A clean close lets the last bytes leave, but never waits on a peer that stopped reading.
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kRetireTimeoutMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        socket->disconnectFromHost();
        if (socket->state() == QAbstractSocket::UnconnectedState)
            socket->deleteLater();
        return;
    }
    socket->abort();
    socket->deleteLater();
}
