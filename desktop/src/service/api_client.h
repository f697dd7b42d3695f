#pragma once

#include "discord/discord_presence.h"
#include "forwarding/dedicated_forward.h"
#include "service/service_client.h"
#include "session/room_session.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

class QNetworkReply;

// The user interface's way to the service, exposed to QML as `api`. It holds
// the account (who is signed in, their profile and the catalogue calls) and
// passes the rest on: REST calls and tokens to ServiceClient, the room to
// RoomSession, the dedicated-server forward to DedicatedForward.
class ApiClient : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString baseUrl READ baseUrl WRITE setBaseUrl NOTIFY baseUrlChanged)
    Q_PROPERTY(QString lang READ lang WRITE setLang NOTIFY langChanged)
    Q_PROPERTY(QString username READ username WRITE setUsername NOTIFY usernameChanged)
    Q_PROPERTY(bool isAdmin READ isAdmin NOTIFY isAdminChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(bool loggedIn READ loggedIn NOTIFY loggedInChanged)
    // The room (RoomSession)
    Q_PROPERTY(bool connected READ connected NOTIFY connectedChanged)
    Q_PROPERTY(QString connectedVlanId READ connectedVlanId NOTIFY connectedChanged)
    Q_PROPERTY(QString connectedVlanName READ connectedVlanName NOTIFY connectedChanged)
    Q_PROPERTY(QString connectedVlanOwner READ connectedVlanOwner NOTIFY connectedChanged)
    Q_PROPERTY(int connectedSeconds READ connectedSeconds NOTIFY tickChanged)
    Q_PROPERTY(QString vpnStatus READ vpnStatus NOTIFY vpnStatusChanged)
    Q_PROPERTY(QString vpnIp READ vpnIp NOTIFY vpnIpChanged)
    Q_PROPERTY(QString vpnLastError READ vpnLastError NOTIFY vpnLastErrorChanged)

public:
    static constexpr int kTransferTimeoutMs = ServiceClient::kTransferTimeoutMs;
    static constexpr qint64 kMaxReplyBytes = ServiceClient::kMaxReplyBytes;

    explicit ApiClient(QObject *parent = nullptr);
    ~ApiClient() override;

    // The build's service address (CORVANA_API_BASE_URL when defined).
    static QString defaultBaseUrl();

    QString baseUrl() const { return m_service.baseUrl(); }
    QString lang() const { return m_service.lang(); }
    QString username() const { return m_username; }
    bool isAdmin() const { return m_isAdmin; }
    bool busy() const { return m_service.busy(); }
    bool loggedIn() const { return !m_service.accessToken().isEmpty(); }
    QString accessToken() const { return m_service.accessToken(); }

    void setBaseUrl(const QString &url);
    void setLang(const QString &lang);
    void setUsername(const QString &name);

    // Tests shorten the transfer time-out instead of waiting ten seconds.
    void setTransferTimeoutForTesting(int ms) { m_service.setTransferTimeout(ms); }

    Q_INVOKABLE void login(const QString &username, const QString &password);
    Q_INVOKABLE void registerUser(const QString &email, const QString &username,
                                  const QString &password);
    Q_INVOKABLE void refresh(const QString &refreshToken);
    Q_INVOKABLE void logout();
    Q_INVOKABLE void fetchPublicVlans(int page, int pageSize, const QString &search);
    Q_INVOKABLE void fetchMotd();
    Q_INVOKABLE void joinVlan(const QString &vlanId);
    Q_INVOKABLE void fetchGames();
    Q_INVOKABLE void fetchDedicatedGames();
    Q_INVOKABLE void fetchDedicatedGameServers(const QString &gameId);
    Q_INVOKABLE void createVlan(qint64 gameId, int capacity, bool isPrivate);
    Q_INVOKABLE void disconnectVlan();
    Q_INVOKABLE void copyToClipboard(const QString &text);
    Q_INVOKABLE void changePassword(const QString &oldPassword, const QString &newPassword);
    Q_INVOKABLE void changeUsername(const QString &newUsername, const QString &password);
    Q_INVOKABLE void fetchAvatar(const QString &username);
    Q_INVOKABLE void fetchPfpList();
    Q_INVOKABLE void setMyAvatar(qint64 imageId);
    Q_INVOKABLE void fetchMe();
    Q_INVOKABLE void fetchAnnouncements();
    Q_INVOKABLE QString refreshToken() const { return m_service.refreshToken(); }
    Q_INVOKABLE void setDiscordEnabled(bool enabled);
    Q_INVOKABLE bool discordEnabled() const;

    // Dedicated-server forward.
    Q_INVOKABLE int startDedicatedUdpForward(const QString &remoteAddress, int remotePort);
    Q_INVOKABLE void stopDedicatedUdpForward();
    int dedicatedForwardPort() const { return m_dedicatedForward.localPort(); }

    // --- The room ---------------------------------------------------------
    bool connected() const { return m_room.connected(); }
    QString connectedVlanId() const { return m_room.vlanId(); }
    QString connectedVlanName() const { return m_room.vlanName(); }
    QString connectedVlanOwner() const { return m_room.vlanOwner(); }
    int connectedSeconds() const { return m_room.connectedSeconds(); }
    QString vpnStatus() const { return m_room.vpnStatus(); }
    QString vpnIp() const { return m_room.vpnIp(); }
    QString vpnLastError() const { return m_room.vpnLastError(); }

    QString lobbyAddress(const QString &vlanId) const { return m_room.lobbyAddress(vlanId); }

    // Lobby timings; tests shorten them instead of waiting minutes.
    using LobbyTimings = LobbySocket::Timings;
    void setLobbyTimingsForTesting(const LobbyTimings &timings) { m_room.setLobbyTimings(timings); }
    bool lobbyJoined() const { return m_room.lobbyJoined(); }
    // Tests: a lobby socket or the session clock still runs.
    bool lobbyOrTimersAlive() const { return m_room.lobbyOrTimersAlive(); }

    // The parts the session drives, for tests to point at stand-ins.
    VpnProcess &vpnProcess() { return m_room.vpnProcess(); }
    HostsFileManager &hostsFileManager() { return m_room.hostsFileManager(); }
    const DiscordPresence &discordPresence() const { return m_discord; }
    // ------------------------------------------------------------------------

signals:
    void baseUrlChanged();
    void langChanged();
    void usernameChanged();
    void isAdminChanged();
    void busyChanged();
    void loggedInChanged();
    void connectedChanged();
    void tickChanged();
    void vpnStatusChanged();
    void vpnIpChanged();
    void vpnLastErrorChanged();
    void tokenRotated();
    void loginSuccess(const QString &username);
    void registerSuccess(const QString &username);
    void refreshSuccess();
    void logoutDone();
    void authRequired();
    void requestError(const QString &message);
    void gamesReceived(const QJsonArray &items);
    void dedicatedGamesReceived(const QJsonArray &items);
    void dedicatedGameServersReceived(const QString &gameId, const QJsonArray &items);
    void dedicatedUdpForwardStarted(int localPort);
    void dedicatedUdpForwardStopped();
    void vlansReceived(const QJsonArray &items, int total, int page, int totalPages);
    void motdReceived(const QString &message);
    void joinSuccess(const QString &vlanId, const QString &name, const QString &serverAddress);
    void createSuccess(const QString &vlanId, const QString &name, const QString &serverAddress);
    void vpnCrashed();
    void disconnectSuccess();
    void usersUpdated(const QJsonArray &users, int playerCount);
    void vlanEvent(const QString &type, const QString &username);
    void userIpAssigned(const QString &username, const QString &assignedIp);
    void passwordChanged(const QString &message);
    void usernameChangedRemote(const QString &newUsername);
    void avatarReceived(const QString &username, const QString &absoluteUrl,
                        const QString &rotatedAt);
    void avatarFetchFailed(const QString &username);
    // The fetch was made by a sign-in that has ended and its answer will not come.
    void avatarFetchCancelled(const QString &username);
    void pfpListReceived(const QJsonArray &items);
    void avatarChangeSuccess(qint64 imageId, const QString &absoluteUrl);
    void avatarChangeCooldown(int secondsRemaining);
    void meReceived(const QString &username, const QString &avatarRotatedAt,
                    const QString &usernameChangedAt, bool isAdmin);
    void announcementsReceived(const QJsonArray &items);

private:
    void forwardSignals();
    void onLoginReply(const QJsonObject &reply, const QString &password, bool registering);
    void onAvatarChangeReply(QNetworkReply *reply, qint64 imageId);
    void cancelAvatarFetchesOfEndedSignIns();

    // Declared in the order they are built: the room uses the REST core and
    // the presence, and goes before them.
    ServiceClient m_service;
    DiscordPresence m_discord;
    RoomSession m_room;
    DedicatedForward m_dedicatedForward;
    QString m_username;
    bool m_isAdmin = false;
    QHash<QString, quint64> m_avatarFetches; // name -> the sign-in that asked for it
};
