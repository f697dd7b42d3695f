#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QWebSocket;
class ServiceServer;
struct ServiceState;
struct Vlan;

// A room's members as the lobby and the join reply list them ("LobbyUser"):
// "is_admin" marks staff accounts, not the room's owner.
QJsonArray lobbyUsers(const ServiceState &state, const Vlan &vlan);

// The lobby WebSocket of every VLAN, at "/api/ws/<id>" on the service's own
// port, with test controls that bend its behaviour.
class LobbyHub : public QObject
{
    Q_OBJECT

public:
    LobbyHub(ServiceServer &server, QObject *parent = nullptr);
    ~LobbyHub() override;

    // To every signed-in socket of the room, except one user's.
    void broadcast(const QString &vlanId, const QJsonObject &message, const QString &except = {});
    // Any text to every socket of a room (every room when vlanId is empty), in
    // frames of at most frameBytes (0: the socket's own size).
    void sendRaw(const QString &vlanId, const QString &text, qint64 frameBytes = 0);
    // Abort every socket; the next `refuse` sign-ins are cut off before "users".
    void dropAll(int refuse);
    void setSilent(bool silent) { m_silent = silent; }
    void setRejectTokens(bool reject) { m_rejectTokens = reject; }
    // Every sign-in is answered "token_error", as for a token the service no longer takes;
    // `afterUsers`: only once the member list has gone out, as if accepted first.
    void setRejectSignIns(bool reject, bool afterUsers = false)
    {
        m_rejectSignIns = reject;
        m_rejectAfterUsers = afterUsers;
    }
    // A flaky line: every connection signed in from now on is cut `ms` after
    // its member list went out (0: never).
    void setCutAfterUsers(int ms) { m_cutAfterUsersMs = ms; }
    QJsonObject status() const;
    void reset();

    QJsonObject usersMessage(const QString &type, const QString &vlanId) const;

    // Someone joins or leaves a room as a real member would: the event, then
    // the new member list, then (on joining) the address assignment.
    void announceJoin(const QString &vlanId, const QStringList &names);
    void announceLeave(const QString &vlanId, const QStringList &names);

private:
    struct Client
    {
        QWebSocket *socket = nullptr;
        QString vlanId;
        QString username;
        bool signedIn = false;
        qint64 sentBytes = 0; // handed to the network, of every frame sent to it
    };

    void onNewConnection();
    void onMessage(QWebSocket *socket, const QString &text);
    void onGone(QWebSocket *socket);
    Client *find(QWebSocket *socket);

    ServiceServer &m_server;
    QList<Client> m_clients;
    QJsonArray m_frames;  // every frame received, with its room
    QJsonArray m_opened;  // every accepted connection: path and headers
    QJsonArray m_closed;  // every connection gone: its room and the bytes sent on it
    int m_signIns = 0;
    bool m_silent = false;
    bool m_rejectTokens = false;
    bool m_rejectSignIns = false;
    bool m_rejectAfterUsers = false;
    int m_refuse = 0;
    int m_cutAfterUsersMs = 0;
};
