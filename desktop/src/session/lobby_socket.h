#pragma once
// The lobby WebSocket of one room: signs in with the access token, pings while
// joined, gives up on a socket that has gone silent or never brought its member
// list, and reopens with a growing delay that starts over only once a
// connection has proved steady: its member list came and it stayed up a short
// while, or its first ping was answered, whichever comes first. What the
// messages mean is the room session's business.
#include <QJsonObject>
#include <QNetworkRequest>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <utility>

class QWebSocket;

class LobbySocket : public QObject
{
    Q_OBJECT

public:
    // Tests shorten these instead of waiting minutes.
    struct Timings
    {
        int pingMs = 30000;
        // Up this long after its member list, a connection counts as steady
        // even before its first ping: long enough that a lobby that lists the
        // members and refuses at once keeps backing off, short enough that a
        // flaky line dropping every few tens of seconds keeps the room.
        int steadyMs = 10000;
        int watchdogTickMs = 1000;
        int silenceLimitMs = 60000;
        int firstReconnectDelayMs = 1000;
        int maxReconnectDelayMs = 16000;
    };
    static constexpr int kMaxReconnects = 5;
    // The largest message the lobby takes; a longer one ends the connection
    // as a failed attempt before it is read whole. The largest the service
    // sends is a member list. One member is at most 287 bytes of JSON:
    // {"username":"","assigned_ip":"","is_admin":false} is 49, a name of up
    // to 32 bytes (what the tunnel's sign-in carries) with every byte escaped
    // as \u00XX is 192, an address in IPv6 text form up to 45, and a comma.
    // 512 bytes a member leaves room for spacing and a field or two more.
    // Rooms hold at most 64 players, but staff may join a full room: 1024
    // members is sixteen full rooms in one. 1024 x 512 bytes = 512 KiB.
    static constexpr qint64 kMaxMessageBytes = 1024 * 512;

    explicit LobbySocket(QObject *parent = nullptr);
    ~LobbySocket() override;

    void setTimings(const Timings &timings) { m_timings = timings; }
    // The access token as it is when the socket signs in (it may rotate while connecting).
    void setTokenSource(std::function<QString()> token) { m_token = std::move(token); }

    // "http://" becomes "ws://", "https://" becomes "wss://", then "/api/ws/<encoded id>".
    static QString address(const QString &baseUrl, const QString &encodedVlanId);

    // A fresh start: the reconnect delay and count begin again.
    void open(const QString &vlanId, const QNetworkRequest &request);
    // Another try within the same run of reconnects.
    void reopen(const QString &vlanId, const QNetworkRequest &request);
    // After an unexpected close: false once the tries are used up.
    bool scheduleReconnect();
    // Stops the timers and retires the socket without a close notice.
    void close();
    // Retires the socket only, quietly.
    void drop();

    // Sent only on an open socket.
    void send(const QJsonObject &message);
    // Ends this connection as a failed attempt, as if it had dropped (the
    // reconnect delay and count go on from where they are); `why` names it
    // in the reconnect's log line.
    void failAttempt(const QString &why);

    bool joined() const { return m_joined; }
    // True until the first member list of this socket has been handled.
    bool awaitingFirstUsers() const { return m_awaitingFirstUsers; }
    bool alive() const;

    // Fuzzing: a text message as if the open socket had received it.
    void receiveTextForTesting(const QString &text) { onTextMessage(text); }

signals:
    void messageReceived(const QString &type, const QJsonObject &message);
    // Closed by the other side or the network, not by close() or drop().
    void closedUnexpectedly();
    void reconnectDue();

private:
    void onConnected();
    void onTextMessage(const QString &text);
    void onDisconnected();
    void checkTraffic();
    void markSteady();

    Timings m_timings;
    bool m_joined = false;
    bool m_awaitingFirstUsers = true;
    bool m_pinged = false;  // a ping went out on this connection
    bool m_healthy = false; // this connection proved steady (see steadyMs)
    QString m_lostBecause; // why the last connection ended, for the reconnect's log line
    int m_reconnectDelayMs = 1000;
    int m_reconnectAttempts = 0;
    qint64 m_lastTrafficMs = 0;
    qint64 m_openedMs = 0;
    QString m_vlanId;
    std::function<QString()> m_token;
    QTimer m_pingTimer;
    QTimer m_steadyTimer;
    QTimer m_reconnectTimer;
    QTimer m_watchdogTimer;
    // One socket per connection, so a retired one's late notices are not mistaken for the current one's.
    QWebSocket *m_ws = nullptr;
};
