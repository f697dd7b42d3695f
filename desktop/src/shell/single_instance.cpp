#include "shell/single_instance.h"

#include "platform/private_places.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

namespace {
constexpr char kBufferProperty[] = "corvanaMessage";
constexpr char kDoneProperty[] = "corvanaDone";
} // namespace

SingleInstance::SingleInstance(QObject *parent) : QObject(parent) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::channelName(const QString &key)
{
#ifdef Q_OS_UNIX
    // A bare name would be a socket in the shared /tmp, where any account can
    // listen first and take the deep links meant for this player.
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeDir.isEmpty() && platform::isPrivateFolder(runtimeDir))
        return QDir(runtimeDir).filePath(key);
    const QString own = platform::privateTempDir();
    // Without a folder of our own there is no channel: every start runs alone.
    return own.isEmpty() ? QString() : QDir(own).filePath(key);
#else
    return key;
#endif
}

bool SingleInstance::sendToRunningInstance(const QString &name, const QString &message,
                                           int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(name, QIODevice::ReadWrite);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    // A listener of another account is no instance of ours: it hears nothing.
    if (!platform::peerIsThisAccount(socket.socketDescriptor())) {
        socket.abort();
        return false;
    }
    socket.write(message.toUtf8());
    socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(timeoutMs);
    return true;
}

bool SingleInstance::listen(const QString &name)
{
    delete m_server;
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    QLocalServer::removeServer(name);
    return m_server->listen(name);
}

bool SingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

QString SingleInstance::serverName() const
{
    return m_server ? m_server->fullServerName() : QString();
}

void SingleInstance::onNewConnection()
{
    // Read without blocking: a sender that stalls must not freeze the window.
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        socket->setProperty(kBufferProperty, QByteArray());
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            QByteArray buffer = socket->property(kBufferProperty).toByteArray();
            buffer += socket->readAll();
            socket->setProperty(kBufferProperty, buffer);
            if (buffer.size() > kMaxMessageBytes)
                drop(socket);
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] { finish(socket); });
        QPointer<QLocalSocket> guard(socket);
        QTimer::singleShot(m_readTimeoutMs, this, [this, guard] {
            if (guard)
                finish(guard);
        });
        if (socket->bytesAvailable() > 0)
            emit socket->readyRead();
        if (socket->state() == QLocalSocket::UnconnectedState)
            finish(socket);
    }
}

bool SingleInstance::drop(QLocalSocket *socket)
{
    if (socket->property(kDoneProperty).toBool())
        return false;
    socket->setProperty(kDoneProperty, true);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    return true;
}

void SingleInstance::finish(QLocalSocket *socket)
{
    if (socket->property(kDoneProperty).toBool())
        return;
    QByteArray buffer = socket->property(kBufferProperty).toByteArray();
    if (socket->bytesAvailable() > 0)
        buffer += socket->read(kMaxMessageBytes + 1 - buffer.size());
    if (!drop(socket) || buffer.isEmpty() || buffer.size() > kMaxMessageBytes)
        return;
    emit messageReceived(QString::fromUtf8(buffer).trimmed());
}
