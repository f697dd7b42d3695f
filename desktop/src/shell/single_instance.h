#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// The channel through which a second start hands its deep link (or "show")
// to the running instance and exits.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    static constexpr int kTimeoutMs = 1000;
    // A deep link is short; anything longer is not ours.
    static constexpr qsizetype kMaxMessageBytes = 16 * 1024;

    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // The local-socket name for a channel key, in a folder only this account
    // can use (the runtime folder when it is one, else a private folder in the
    // temporary one), so other accounts neither see nor take it. Empty when
    // there is no such folder.
    static QString channelName(const QString &key);

    // Client side: true when an instance of this account accepted the
    // connection (the write itself is best effort, as the caller exits either
    // way); a listener of another account is sent nothing.
    static bool sendToRunningInstance(const QString &name, const QString &message,
                                      int timeoutMs = kTimeoutMs);

    // Server side: drops a stale server of that name and listens on it.
    bool listen(const QString &name);
    bool isListening() const;
    QString serverName() const;

    // How long a connection may take to deliver its message (tests shorten it).
    void setReadTimeout(int ms) { m_readTimeoutMs = ms; }

signals:
    // One per connection: the message as UTF-8 text, trimmed.
    void messageReceived(const QString &message);

private:
    void onNewConnection();
    void finish(QLocalSocket *socket);
    // Closes a connection once; false when it was already closed.
    bool drop(QLocalSocket *socket);

    QLocalServer *m_server = nullptr;
    int m_readTimeoutMs = kTimeoutMs;
};
