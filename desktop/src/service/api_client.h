#pragma once

#include "discord/discord_presence.h"
#include "forwarding/dedicated_forward.h"
#include "session/hosts_file_manager.h"
#include "session/lobby_socket.h"
#include "service/request_options.h"
#include "session/vpn_process.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class QNetworkReply;
class QNetworkRequest;

// The user interface's way to the service: JSON calls with a bearer token that
// is renewed transparently on a 401. Exposed to QML as `api`. Definitions are
// split by area: service/api_client.cpp (request core, tokens, setters),
// service/api_client_account.cpp (account and catalogue calls),
// session/api_client_vlan.cpp (the room session, from joinVlan to the tunnel's
// "ready" and back) and session/api_client_lobby.cpp (what the lobby's
// messages mean). The lobby socket (LobbySocket) and the dedicated forward
// (DedicatedForward) are classes of their own that this one owns.
class ApiClient : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString baseUrl READ baseUrl WRITE setBaseUrl NOTIFY baseUrlChanged)
    Q_PROPERTY(QString lang READ lang WRITE setLang NOTIFY langChanged)
    Q_PROPERTY(QString username READ username WRITE setUsername NOTIFY usernameChanged)
    Q_PROPERTY(bool isAdmin READ isAdmin NOTIFY isAdminChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(bool loggedIn READ loggedIn NOTIFY loggedInChanged)
    // VLAN session (api_client_vlan.cpp)
    Q_PROPERTY(bool connected READ connected NOTIFY connectedChanged)
    Q_PROPERTY(QString connectedVlanId READ connectedVlanId NOTIFY connectedChanged)
    Q_PROPERTY(QString connectedVlanName READ connectedVlanName NOTIFY connectedChanged)
    Q_PROPERTY(QString connectedVlanOwner READ connectedVlanOwner NOTIFY connectedChanged)
    Q_PROPERTY(int connectedSeconds READ connectedSeconds NOTIFY tickChanged)
    Q_PROPERTY(QString vpnStatus READ vpnStatus NOTIFY vpnStatusChanged)
    Q_PROPERTY(QString vpnIp READ vpnIp NOTIFY vpnIpChanged)

public:
    static constexpr int kTransferTimeoutMs = 10000;
    // Replies beyond this are cut off: no service record comes near it.
    static constexpr qint64 kMaxReplyBytes = 16 * 1024 * 1024;

    explicit ApiClient(QObject *parent = nullptr);
    ~ApiClient() override;

    // The build's service address (CORVANA_API_BASE_URL when defined).
    static QString defaultBaseUrl();

    QString baseUrl() const { return m_baseUrl; }
    QString lang() const { return m_lang; }
    QString username() const { return m_username; }
    bool isAdmin() const { return m_isAdmin; }
    bool busy() const { return m_busy; }
    bool loggedIn() const { return !m_accessToken.isEmpty(); }
    QString accessToken() const { return m_accessToken; }

    void setBaseUrl(const QString &url);
    void setLang(const QString &lang);
    void setUsername(const QString &name);

    // Tests shorten the transfer time-out instead of waiting ten seconds.
    void setTransferTimeoutForTesting(int ms) { m_transferTimeoutMs = ms; }

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
    Q_INVOKABLE void createVlan(int gameId, int capacity, bool isPrivate);
    Q_INVOKABLE void disconnectVlan();
    Q_INVOKABLE void copyToClipboard(const QString &text);
    Q_INVOKABLE void changePassword(const QString &oldPassword, const QString &newPassword);
    Q_INVOKABLE void changeUsername(const QString &newUsername, const QString &password);
    Q_INVOKABLE void fetchAvatar(const QString &username);
    Q_INVOKABLE void fetchPfpList();
    Q_INVOKABLE void setMyAvatar(qint64 imageId);
    Q_INVOKABLE void fetchMe();
    Q_INVOKABLE void fetchAnnouncements();
    Q_INVOKABLE QString refreshToken() const { return m_refreshToken; }
    Q_INVOKABLE void setDiscordEnabled(bool enabled);
    Q_INVOKABLE bool discordEnabled() const;

    // Dedicated-server forward.
    Q_INVOKABLE int startDedicatedUdpForward(const QString &remoteAddress, int remotePort);
    Q_INVOKABLE void stopDedicatedUdpForward();
    int dedicatedForwardPort() const { return m_dedicatedForward.localPort(); }

    // Percent-encodes all but the unreserved characters, for path pieces.
    static QString encodePathPiece(const QString &text);
    // A "url" beginning with "http" stays; anything else is put after baseUrl.
    QString absoluteUrl(const QString &url) const;

    // --- VLAN session and lobby -------------------------------------------
    bool connected() const { return m_session.connected; }
    QString connectedVlanId() const { return m_session.vlanId; }
    QString connectedVlanName() const { return m_session.vlanName; }
    QString connectedVlanOwner() const { return m_session.vlanOwner; }
    int connectedSeconds() const { return m_session.connectedSeconds; }
    QString vpnStatus() const { return m_vpn.status(); }
    QString vpnIp() const { return m_vpn.vpnIp(); }

    // False for ids that cannot be one path segment: empty, "." and "..".
    static bool isVlanIdUsable(const QString &vlanId);
    // "http://" becomes "ws://", "https://" becomes "wss://", then "/api/ws/<id>".
    QString lobbyAddress(const QString &vlanId) const;

    // Lobby timings; tests shorten them instead of waiting minutes.
    using LobbyTimings = LobbySocket::Timings;
    void setLobbyTimingsForTesting(const LobbyTimings &timings) { m_lobby.setTimings(timings); }
    bool lobbyJoined() const { return m_lobby.joined(); }
    // Tests: a lobby socket or a session or lobby timer still exists.
    bool lobbyOrTimersAlive() const;

    // The parts the session drives, for tests to point at stand-ins.
    VpnProcess &vpnProcess() { return m_vpn; }
    HostsFileManager &hostsFileManager() { return m_hosts; }
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
    void pfpListReceived(const QJsonArray &items);
    void avatarChangeSuccess(qint64 imageId, const QString &absoluteUrl);
    void avatarChangeCooldown(int secondsRemaining);
    void meReceived(const QString &username, const QString &avatarRotatedAt,
                    const QString &usernameChangedAt, bool isAdmin);
    void announcementsReceived(const QJsonArray &items);

protected:
    // The request core, used by every area of the class.
    void request(const QString &method, const QString &path, const QJsonObject &body,
                 ReplyCallback callback, RequestOptions options);
    void postJson(const QString &path, const QJsonObject &body);
    static void applyAuthHeaders(QNetworkRequest &request, const QString &token,
                                 const QString &language);
    void storeTokens(const QJsonObject &reply);
    void startTokenRefresh(std::function<void(bool)> completion);

    // English or Persian, by the current language.
    QString localized(const char *english, const char *persian) const;
    void setBusy(bool busy);

private:
    void onReplyFinished(QNetworkReply *reply, const QString &method, const QString &path,
                         const QJsonObject &body, const ReplyCallback &callback,
                         RequestOptions options);
    void onRefreshReply(QNetworkReply *reply);
    void finishRefresh(bool ok);
    void onReplayRefreshDone(bool ok);
    void onRefreshDone(bool ok);
    void onLoginReply(const QJsonObject &reply, const QString &password, bool registering);
    void onAvatarChangeReply(QNetworkReply *reply, qint64 imageId);
    QNetworkRequest jsonRequest(const QString &path, const QString &token) const;
    static void limitReplySize(QNetworkReply *reply);
    static bool replyTooLarge(QNetworkReply *reply, const QByteArray &body);

    // --- VLAN session (api_client_vlan.cpp) ----------------------------------
    void connectSessionSignals();
    void onJoinVlanReply(const QJsonObject &reply);
    void onCreateVlanReply(const QJsonObject &reply);
    // Join and create replies carry the same session fields.
    void enterSession(const QJsonObject &reply);
    // Shared by the orderly leave and the failure path.
    void resetSessionFields();
    void connectVpn(const QString &serverAddress, const QString &vlanId);
    void onVpnConnecting();
    void onTunnelReady();
    void onVpnError(const QString &code, const QString &message);
    void onVpnDisconnected(const QString &reason);
    void onTick();
    void handleVpnFailure(const QString &logText, const QString &userMessage);
    void clearSession();
    void finishDisconnect();
    void postVlanDisconnect(const QString &vlanId);
    void leaveForLogout(const QJsonObject &logoutNotice);
    bool leaveInProgress() const;
    void runDeferredAfterLeave();

    // --- Lobby messages (api_client_lobby.cpp) --------------------------------
    void connectLobbySignals();
    void connectWebSocket(const QString &vlanId);
    void closeWebSocket();
    void reconnectWebSocket();
    // The lobby's address with the session's headers (logs the address).
    QNetworkRequest lobbyRequest(const QString &vlanId) const;
    void onLobbyMessage(const QString &type, const QJsonObject &message);
    void onLobbyClosed();
    void endSessionFromLobby(const QString &userMessage);

    QNetworkAccessManager m_network;
    VpnProcess m_vpn;
    DiscordPresence m_discord;
    HostsFileManager m_hosts;
    QString m_baseUrl;
    QString m_lang = QStringLiteral("en");
    QString m_username;
    bool m_isAdmin = false;
    bool m_busy = false;
    QString m_accessToken;
    QString m_refreshToken;
    bool m_refreshing = false;
    QList<std::function<void(bool)>> m_refreshWaiters; // completions of the refresh in flight
    QList<PendingRequest> m_pending;
    int m_transferTimeoutMs = kTransferTimeoutMs;

    DedicatedForward m_dedicatedForward;

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
