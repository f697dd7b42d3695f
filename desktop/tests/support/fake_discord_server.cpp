#include "support/fake_discord_server.h"

#include <QFile>
#include <QJsonDocument>
#include <QtEndian>

FakeDiscordServer::FakeDiscordServer(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QLocalServer::newConnection, this, &FakeDiscordServer::onNewConnection);
}

FakeDiscordServer::~FakeDiscordServer()
{
    stop();
}

bool FakeDiscordServer::listen(const QString &path)
{
    QFile::remove(path);
    return m_server.listen(path);
}

void FakeDiscordServer::stop()
{
    dropClient();
    const QString path = m_server.fullServerName();
    m_server.close();
    if (!path.isEmpty())
        QFile::remove(path);
}

bool FakeDiscordServer::clientConnected() const
{
    return m_client && m_client->state() == QLocalSocket::ConnectedState;
}

QList<QJsonObject> FakeDiscordServer::commands(const QString &cmd) const
{
    QList<QJsonObject> found;
    for (const Frame &f : m_frames) {
        if (f.opcode == 1 && f.body.value(QStringLiteral("cmd")).toString() == cmd)
            found << f.body;
    }
    return found;
}

QList<QJsonValue> FakeDiscordServer::activities() const
{
    QList<QJsonValue> found;
    for (const QJsonObject &c : commands(QStringLiteral("SET_ACTIVITY")))
        found << c.value(QStringLiteral("args")).toObject().value(QStringLiteral("activity"));
    return found;
}

QByteArray FakeDiscordServer::frame(quint32 opcode, const QByteArray &body)
{
    QByteArray bytes(8, Qt::Uninitialized);
    qToLittleEndian<quint32>(opcode, bytes.data());
    qToLittleEndian<quint32>(static_cast<quint32>(body.size()), bytes.data() + 4);
    return bytes + body;
}

void FakeDiscordServer::send(quint32 opcode, const QJsonObject &body)
{
    sendRaw(frame(opcode, QJsonDocument(body).toJson(QJsonDocument::Compact)));
}

void FakeDiscordServer::sendRaw(const QByteArray &bytes)
{
    if (m_client) {
        m_client->write(bytes);
        m_client->flush();
    }
}

void FakeDiscordServer::sendReady(const QString &username, const QString &discriminator)
{
    const QJsonObject user{{QStringLiteral("id"), QStringLiteral("4242")},
                           {QStringLiteral("username"), username},
                           {QStringLiteral("discriminator"), discriminator},
                           {QStringLiteral("avatar"), QString()}};
    send(1, QJsonObject{{QStringLiteral("cmd"), QStringLiteral("DISPATCH")},
                        {QStringLiteral("evt"), QStringLiteral("READY")},
                        {QStringLiteral("data"), QJsonObject{{QStringLiteral("v"), 1},
                                                             {QStringLiteral("user"), user}}}});
}

void FakeDiscordServer::sendJoin(const QString &secret)
{
    send(1, QJsonObject{{QStringLiteral("cmd"), QStringLiteral("DISPATCH")},
                        {QStringLiteral("evt"), QStringLiteral("ACTIVITY_JOIN")},
                        {QStringLiteral("data"), QJsonObject{{QStringLiteral("secret"), secret}}}});
}

void FakeDiscordServer::dropClient()
{
    if (m_client) {
        m_client->abort();
        m_client->deleteLater();
        m_client = nullptr;
    }
    m_buffer.clear();
}

void FakeDiscordServer::onNewConnection()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        ++m_accepted;
        dropClient(); // one client at a time, the newest
        m_client = socket;
        connect(socket, &QLocalSocket::readyRead, this, &FakeDiscordServer::onReadyRead);
        onReadyRead();
    }
}

void FakeDiscordServer::onReadyRead()
{
    if (!m_client)
        return;
    m_buffer += m_client->readAll();
    while (m_buffer.size() >= 8) {
        const quint32 opcode = qFromLittleEndian<quint32>(m_buffer.constData());
        const quint32 length = qFromLittleEndian<quint32>(m_buffer.constData() + 4);
        if (m_buffer.size() < 8 + static_cast<qsizetype>(length))
            return;
        const QByteArray body = m_buffer.mid(8, length);
        m_buffer.remove(0, 8 + length);
        m_frames << Frame{opcode, QJsonDocument::fromJson(body).object()};
    }
}
