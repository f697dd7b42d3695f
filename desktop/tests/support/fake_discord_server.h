#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <QPointer>
#include <QString>

// Plays the Discord desktop client on a local socket: records every frame a
// client sends and sends whatever a test asks for, well-formed or not.
class FakeDiscordServer : public QObject
{
    Q_OBJECT

public:
    struct Frame
    {
        quint32 opcode = 0;
        QJsonObject body;
    };

    explicit FakeDiscordServer(QObject *parent = nullptr);
    ~FakeDiscordServer() override;

    bool listen(const QString &path);
    // Closes the listening socket and every connection, and removes the path.
    void stop();

    int acceptedCount() const { return m_accepted; }
    bool clientConnected() const;
    QList<Frame> frames() const { return m_frames; }
    // Frames of one kind: opcode 1 with this "cmd".
    QList<QJsonObject> commands(const QString &cmd) const;
    // The "activity" of every SET_ACTIVITY (null for a clear).
    QList<QJsonValue> activities() const;

    void send(quint32 opcode, const QJsonObject &body);
    void sendRaw(const QByteArray &bytes);
    void sendReady(const QString &username, const QString &discriminator);
    void sendJoin(const QString &secret);
    void dropClient();

    static QByteArray frame(quint32 opcode, const QByteArray &body);

private:
    void onNewConnection();
    void onReadyRead();

    QLocalServer m_server;
    QPointer<QLocalSocket> m_client;
    QByteArray m_buffer;
    QList<Frame> m_frames;
    int m_accepted = 0;
};
