#pragma once
// One room at a time: join or create it through the REST core, read the
// tunnel credential, supervise the tunnel client, keep the lobby socket and
// the session clock, drive the rich presence and leave again, on request or
// because something failed. What the lobby's messages mean is decided here.
#include "session/hosts_file_manager.h"
#include "session/lobby_socket.h"
#include "session/vpn_process.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class DiscordPresence;
class QNetworkRequest;
class ServiceClient;

class RoomSession : public QObject
{
    Q_OBJECT

public:
    RoomSession(ServiceClient &service, DiscordPresence &discord, QObject *parent = nullptr);
    ~RoomSession() override;

    // The signed-in user: whose credential is read and whose name the lobby reports.
    void setUsername(const QString &name) { m_username = name; }

    void joinVlan(const QString &vlanId);
    void createVlan(qint64 gameId, int capacity, bool isPrivate);
    void disconnectVlan();
    // Leaves the room while the tokens still hold and sends `logoutNotice`
    // (when not empty) behind the leave; false, with nothing sent, when there
    // was no room. A join waiting for a leave is dropped either way.
    bool leaveForLogout(const QJsonObject &logoutNotice);

    bool connected() const { return m_session.connected; }
    QString vlanId() const { return m_session.vlanId; }
    QString vlanName() const { return m_session.vlanName; }
    QString vlanOwner() const { return m_session.vlanOwner; }
    int connectedSeconds() const { return m_session.connectedSeconds; }
    QString vpnStatus() const { return m_vpn.status(); }
    QString vpnIp() const { return m_vpn.vpnIp(); }
    QString vpnLastError() const { return m_vpn.lastError(); }

    // False for ids that cannot be one path segment: empty, "." and "..".
    static bool isVlanIdUsable(const QString &vlanId);
    // "http://" becomes "ws://", "https://" becomes "wss://", then "/api/ws/<id>".
    QString lobbyAddress(const QString &vlanId) const;

    // Lobby timings; tests shorten them instead of waiting minutes.
    void setLobbyTimings(const LobbySocket::Timings &timings) { m_lobby.setTimings(timings); }
    bool lobbyJoined() const { return m_lobby.joined(); }
    // A lobby socket or the session clock still runs.
    bool lobbyOrTimersAlive() const;

    // The parts the session drives, for tests to point at stand-ins.
    VpnProcess &vpnProcess() { return m_vpn; }
    HostsFileManager &hostsFileManager() { return m_hosts; }
    LobbySocket &lobbySocket() { return m_lobby; }

    // Fuzzing: the room a join reply names, entered as if its tunnel had just
    // come up (lobby open, clock running), without the service or a tunnel client.
    void enterRoomForTesting(const QJsonObject &joinReply)
    {
        enterSession(joinReply);
        onTunnelReady();
    }

signals:
    void connectedChanged();
    void tickChanged();
    void vpnStatusChanged();
    void vpnIpChanged();
    void vpnLastErrorChanged();
    void joinSuccess(const QString &vlanId, const QString &name, const QString &serverAddress);
    void createSuccess(const QString &vlanId, const QString &name, const QString &serverAddress);
    void disconnectSuccess();
    void usersUpdated(const QJsonArray &users, int playerCount);
    void vlanEvent(const QString &type, const QString &username);
    void userIpAssigned(const QString &username, const QString &assignedIp);
    void requestError(const QString &message);

private:
    // The way in, in the order it runs.
    // The "users" and "players" of a join reply or a lobby message, the list cut to its bound.
    int publishMembers(const QJsonObject &message);
    void onJoinVlanReply(const QJsonObject &reply);
    void onCreateVlanReply(const QJsonObject &reply);
    // Join and create replies carry the same session fields. A reply without
    // a usable "vlan_id" is a failed join, told to the user; false then.
    bool replyNamesARoom(const QJsonObject &reply);
    void enterSession(const QJsonObject &reply);
    void connectVpn(const QString &serverAddress, const QString &vlanId);
    void onVpnConnecting();
    void onTunnelReady();
    void onTick();

    // The way out.
    void finishDisconnect();
    void postVlanDisconnect(const QString &vlanId);
    void onVpnError(const QString &code, const QString &message);
    void onVpnDisconnected(const QString &reason);
    void handleVpnFailure(const QString &logText, const QString &userMessage);
    void clearSession();
    // Shared by the orderly leave and the failure path.
    void resetSessionFields();
    bool leaveInProgress() const;
    void runDeferredAfterLeave();

    // The lobby.
    void connectWebSocket(const QString &vlanId);
    void closeWebSocket();
    void reconnectWebSocket();
    // The lobby's address with the session's headers (logs the address).
    QNetworkRequest lobbyRequest(const QString &vlanId) const;
    void onTokenRotated();
    void onLobbyMessage(const QString &type, const QJsonObject &message);
    void onLobbyClosed();
    void endSessionFromLobby(const QString &userMessage);

    ServiceClient &m_service;
    DiscordPresence &m_discord;
    QString m_username;
    VpnProcess m_vpn;
    HostsFileManager m_hosts;

    struct VlanSession
    {
        bool connected = false;
        bool userStopping = false;
        QString vlanId;
        QString vlanName;
        QString vlanOwner;
        int capacity = 0;
        bool isPrivate = false;
        qint64 connectedSinceMs = 0;
        int connectedSeconds = 0;
        bool disconnectPosted = false; // the room was told already (sign-out)
    };
    VlanSession m_session;
    QTimer m_sessionTick;
    // A join or create asked for while the previous room is still being left.
    std::function<void()> m_deferredAfterLeave;

    LobbySocket m_lobby;
};
