// A room session from joinVlan to the tunnel's "ready", then the lobby, and
// the ways out: the user's leave, a sign-out, a failed tunnel, the lobby.
#include "session/room_session.h"

#include "discord/discord_presence.h"
#include "service/list_bounds.h"
#include "service/service_client.h"
#include "service/service_texts.h"
#include "session/credential_store.h"
#include "session/session_texts.h"
#include "shell/logger.h"

#include <QDateTime>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <utility>

namespace {

void logLine(Logger::Level level, const char *category, const QString &message)
{
    Logger::instance().log(level, QString::fromLatin1(category), message);
}

void logWs(Logger::Level level, const QString &message)
{
    logLine(level, "ws", message);
}

QString text(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toString();
}

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QString vlanPath(const QString &vlanId, const char *action)
{
    return QStringLiteral("/api/vlans/") + ServiceClient::encodePathPiece(vlanId) + QLatin1Char('/')
           + QLatin1String(action);
}

constexpr RequestOptions kGuarded{true, true, false};

} // namespace

RoomSession::RoomSession(ServiceClient &service, DiscordPresence &discord, QObject *parent)
    : QObject(parent)
    , m_service(service)
    , m_discord(discord)
{
    connect(&m_vpn, &VpnProcess::statusChanged, this, &RoomSession::vpnStatusChanged);
    connect(&m_vpn, &VpnProcess::vpnInfoChanged, this, &RoomSession::vpnIpChanged);
    connect(&m_vpn, &VpnProcess::lastErrorChanged, this, &RoomSession::vpnLastErrorChanged);
    // A language switch while the client retries reaches the reason it gives.
    connect(&m_service, &ServiceClient::langChanged, this, [this] { m_vpn.setLang(m_service.lang()); });
    connect(&m_vpn, &VpnProcess::vpnConnecting, this, &RoomSession::onVpnConnecting);
    connect(&m_vpn, &VpnProcess::vpnReady, this, [this](const QString &) { onTunnelReady(); });
    connect(&m_vpn, &VpnProcess::vpnError, this, &RoomSession::onVpnError);
    connect(&m_vpn, &VpnProcess::vpnDisconnected, this, &RoomSession::onVpnDisconnected);
    // A room switch waits for the old client to be gone, not only for the leave.
    connect(&m_vpn, &VpnProcess::runningChanged, this, &RoomSession::runDeferredAfterLeave);
    m_sessionTick.setInterval(1000);
    connect(&m_sessionTick, &QTimer::timeout, this, &RoomSession::onTick);

    connect(&m_lobby, &LobbySocket::messageReceived, this, &RoomSession::onLobbyMessage);
    connect(&m_lobby, &LobbySocket::closedUnexpectedly, this, &RoomSession::onLobbyClosed);
    connect(&m_lobby, &LobbySocket::reconnectDue, this, &RoomSession::reconnectWebSocket);
    m_lobby.setTokenSource([this] { return m_service.accessToken(); });
    connect(&m_service, &ServiceClient::tokenRotated, this, &RoomSession::onTokenRotated);
}

RoomSession::~RoomSession()
{
    // The socket goes first and quietly: no reconnect or session road runs now,
    // and the supervisor's last status change must not reach a half-gone session.
    m_lobby.drop();
    m_vpn.disconnect(this);
}

bool RoomSession::isVlanIdUsable(const QString &vlanId)
{
    // Dots are unreserved, so "." and ".." stay as they are and the URL layer
    // folds them away: the call would land on another endpoint.
    return !vlanId.isEmpty() && vlanId != QLatin1String(".") && vlanId != QLatin1String("..");
}

// --- The way in ------------------------------------------------------------

void RoomSession::joinVlan(const QString &vlanId)
{
    if (leaveInProgress()) {
        // Joining now would let the old room's completion post for, and clear, the new one.
        logLine(Logger::Info, "vlan", QStringLiteral("join of %1 waits for the leave to finish").arg(vlanId));
        m_deferredAfterLeave = [this, vlanId]() { joinVlan(vlanId); };
        return;
    }
    logLine(Logger::Info, "vlan", QStringLiteral("join request: ") + vlanId);
    if (!isVlanIdUsable(vlanId)) {
        logLine(Logger::Warn, "vlan", QStringLiteral("join refused: not a VLAN id: \"%1\"").arg(vlanId));
        emit requestError(sessionText(SessionText::VlanNotFound, m_service.lang()));
        return;
    }
    // The id may come from a link anyone can craft: it must stay one path segment.
    m_service.request(QStringLiteral("POST"), vlanPath(vlanId, "join"), QJsonObject{},
                      [this](const QJsonObject &reply) { onJoinVlanReply(reply); }, kGuarded);
}

bool RoomSession::replyNamesARoom(const QJsonObject &reply)
{
    // The id becomes the tunnel's node and the lobby's path; without one the
    // tunnel would retry for ever against no room, and nothing could leave it.
    const QJsonValue id = reply.value(QStringLiteral("vlan_id"));
    if (id.isString() && isVlanIdUsable(id.toString()))
        return true;
    logLine(Logger::Error, "vlan", QStringLiteral("join or create reply without a usable vlan_id"));
    emit requestError(serviceText(ServiceText::InvalidResponse, m_service.lang()));
    return false;
}

int RoomSession::publishMembers(const QJsonObject &message)
{
    const int players = message.value(QStringLiteral("players")).toInt();
    emit usersUpdated(ListBounds::firstEntries(message.value(QStringLiteral("users")).toArray(),
                                               ListBounds::kMembers, "vlan", "members"),
                      players);
    return players;
}

void RoomSession::onJoinVlanReply(const QJsonObject &reply)
{
    if (!replyNamesARoom(reply))
        return;
    const QString vlanId = text(reply, "vlan_id");
    const QString name = text(reply, "name");
    enterSession(reply);
    const QString serverAddress = text(reply, "server_address");
    connectVpn(serverAddress, vlanId);
    publishMembers(reply);
    logLine(Logger::Info, "vlan",
            QStringLiteral("join success: %1 (%2) server=%3").arg(vlanId, name, serverAddress));
    emit joinSuccess(vlanId, name, serverAddress);
}

void RoomSession::createVlan(qint64 gameId, int capacity, bool isPrivate)
{
    if (leaveInProgress()) {
        logLine(Logger::Info, "vlan", QStringLiteral("create waits for the leave to finish"));
        m_deferredAfterLeave = [this, gameId, capacity, isPrivate]() { createVlan(gameId, capacity, isPrivate); };
        return;
    }
    logLine(Logger::Info, "vlan",
            QStringLiteral("create request: gameId=%1 capacity=%2 private=%3")
                .arg(gameId)
                .arg(capacity)
                .arg(isPrivate ? QStringLiteral("yes") : QStringLiteral("no")));
    const QJsonObject body{{QStringLiteral("game_id"), gameId},
                           {QStringLiteral("capacity"), capacity},
                           {QStringLiteral("is_private"), isPrivate}};
    m_service.request(QStringLiteral("POST"), QStringLiteral("/api/vlans/create"), body,
                      [this](const QJsonObject &reply) { onCreateVlanReply(reply); }, kGuarded);
}

void RoomSession::onCreateVlanReply(const QJsonObject &reply)
{
    if (!replyNamesARoom(reply))
        return;
    const QString vlanId = text(reply, "vlan_id");
    const QString name = text(reply, "name");
    const QString serverAddress = text(reply, "server_address");
    emit createSuccess(vlanId, name, serverAddress);
    enterSession(reply);
    logLine(Logger::Info, "vlan",
            QStringLiteral("created+joined: %1 (%2) server=%3").arg(vlanId, name, serverAddress));
    connectVpn(serverAddress, vlanId);
    emit joinSuccess(vlanId, name, serverAddress);
}

void RoomSession::enterSession(const QJsonObject &reply)
{
    m_session.vlanId = text(reply, "vlan_id");
    m_session.vlanName = text(reply, "name");
    m_session.vlanOwner = text(reply, "owner_username");
    m_session.capacity = reply.value(QStringLiteral("capacity")).toInt();
    m_session.isPrivate = reply.value(QStringLiteral("is_private")).toBool();
    m_session.connectedSinceMs = nowMs();
    m_session.connectedSeconds = 0;
    if (!m_session.connected) {
        m_session.connected = true;
        emit connectedChanged();
    }
}

void RoomSession::connectVpn(const QString &serverAddress, const QString &vlanIdArg)
{
    const QString vlanId = vlanIdArg; // the session may be cleared underneath
    logLine(Logger::Info, "vpn", QStringLiteral("loading password for: ") + m_username);
    const QString password = CredentialStore::loadPassword(m_username);
    if (password.isEmpty()) {
        logLine(Logger::Error, "vpn", QStringLiteral("password not found for: ") + m_username);
        clearSession();
        postVlanDisconnect(vlanId);
        emit disconnectSuccess();
        emit requestError(sessionText(SessionText::PasswordNotFound, m_service.lang()));
        return;
    }
    logLine(Logger::Info, "vpn",
            QStringLiteral("starting: server=%1 node=%2 user=%3").arg(serverAddress, vlanId, m_username));
    m_vpn.setLang(m_service.lang());
    m_vpn.start(serverAddress, m_username, password, vlanId);
}

void RoomSession::onVpnConnecting()
{
    m_discord.setConnecting();
}

void RoomSession::onTunnelReady()
{
    // A client that finishes setting up just as the break reaches it still
    // prints "ready": the session is being left or already gone, and a lobby,
    // clock or presence started now would outlive it.
    if (!m_session.connected || m_session.userStopping) {
        logLine(Logger::Info, "vpn", QStringLiteral("tunnel ready after the leave \u2014 ignored"));
        return;
    }
    logLine(Logger::Info, "vpn",
            QStringLiteral("tunnel ready \u2014 connecting WebSocket for ") + m_session.vlanId);
    connectWebSocket(m_session.vlanId);
    m_sessionTick.start();
    m_discord.setInRoom(m_session.vlanName, m_session.vlanId, 1, m_session.capacity,
                        m_session.isPrivate, m_session.connectedSinceMs);
}

void RoomSession::onTick()
{
    if (!m_session.connected || m_session.connectedSinceMs <= 0)
        return;
    m_session.connectedSeconds = int((nowMs() - m_session.connectedSinceMs) / 1000);
    emit tickChanged();
}

// --- The way out -----------------------------------------------------------

void RoomSession::disconnectVlan()
{
    // Whatever the room's id, a session that was entered can be left.
    if (!m_session.connected)
        return;
    m_session.userStopping = true;
    m_discord.setInLobby();
    closeWebSocket();
    if (!m_vpn.running())
        finishDisconnect();
    else
        m_vpn.stop();
}

bool RoomSession::leaveForLogout(const QJsonObject &logoutNotice)
{
    const bool inRoom = m_session.connected;
    if (inRoom) {
        // Signing out revokes the tokens, so the room is told now, while they
        // are held, rather than when the tunnel has ended; the sign-out notice
        // waits for that answer so the service cannot take it first.
        const QString token = m_service.accessToken();
        const auto sendLogout = [this, token, logoutNotice]() {
            if (!logoutNotice.isEmpty())
                m_service.postJsonAs(QStringLiteral("/api/auth/logout"), logoutNotice, token);
        };
        if (isVlanIdUsable(m_session.vlanId)) {
            QNetworkReply *reply = m_service.postTimed(vlanPath(m_session.vlanId, "disconnect"),
                                                       QJsonObject{}, token);
            connect(reply, &QNetworkReply::finished, this, [reply, sendLogout]() {
                reply->deleteLater();
                sendLogout();
            });
            m_session.disconnectPosted = true;
        } else {
            sendLogout();
        }
        disconnectVlan();
    }
    m_deferredAfterLeave = nullptr; // a room switch does not outlive the account
    return inRoom;
}

void RoomSession::onVpnDisconnected(const QString &reason)
{
    logLine(Logger::Info, "vpn", QStringLiteral("disconnected: reason=") + reason);
    if (reason == QLatin1String("user")) {
        if (m_session.userStopping)
            finishDisconnect();
        return;
    }
    handleVpnFailure(QStringLiteral("unexpected disconnect"),
                     sessionText(SessionText::ConnectionLost, m_service.lang()));
}

void RoomSession::finishDisconnect()
{
    if (!m_session.vlanId.isEmpty() && !std::exchange(m_session.disconnectPosted, false))
        postVlanDisconnect(m_session.vlanId);
    m_hosts.removeManagedBlock();
    m_session.userStopping = false;
    resetSessionFields();
    emit disconnectSuccess();
    runDeferredAfterLeave();
}

void RoomSession::postVlanDisconnect(const QString &vlanId)
{
    if (!isVlanIdUsable(vlanId))
        return; // no such room to leave, and the path would name another endpoint
    m_service.postJson(vlanPath(vlanId, "disconnect"), QJsonObject{});
}

void RoomSession::onVpnError(const QString &code, const QString &message)
{
    handleVpnFailure(QStringLiteral("error: code=%1 msg=%2").arg(code, message), message);
}

void RoomSession::handleVpnFailure(const QString &logText, const QString &userMessage)
{
    logLine(Logger::Error, "vpn", logText);
    if (!m_session.connected) {
        // The session already ended and its user was told once; a late report
        // of the stopped client must not raise a second message.
        return;
    }
    if (!m_session.disconnectPosted)
        postVlanDisconnect(m_session.vlanId);
    // A leave already set the presence, or a sign-out cleared it.
    const bool leaving = m_session.userStopping;
    clearSession();
    if (!leaving)
        m_discord.setInLobby();
    emit disconnectSuccess();
    if (!userMessage.isEmpty())
        emit requestError(userMessage);
    runDeferredAfterLeave();
}

void RoomSession::clearSession()
{
    m_session.userStopping = false;
    m_session.disconnectPosted = false;
    m_hosts.removeManagedBlock();
    closeWebSocket();
    if (m_vpn.running())
        m_vpn.stop();
    resetSessionFields();
}

void RoomSession::resetSessionFields()
{
    m_session.vlanId.clear();
    m_session.vlanName.clear();
    m_session.vlanOwner.clear();
    m_session.capacity = 0;
    m_session.isPrivate = false;
    m_session.connectedSeconds = 0;
    m_session.connectedSinceMs = 0;
    if (m_session.connected) {
        m_session.connected = false;
        emit connectedChanged();
    }
}

bool RoomSession::leaveInProgress() const
{
    // Leaving, or cleared while the old client is still ending.
    return m_session.userStopping || (!m_session.connected && m_vpn.running());
}

void RoomSession::runDeferredAfterLeave()
{
    if (!m_deferredAfterLeave || leaveInProgress())
        return;
    std::function<void()> next = std::exchange(m_deferredAfterLeave, nullptr);
    next();
}

// --- The lobby -------------------------------------------------------------

QString RoomSession::lobbyAddress(const QString &vlanId) const
{
    return LobbySocket::address(m_service.baseUrl(), ServiceClient::encodePathPiece(vlanId));
}

QNetworkRequest RoomSession::lobbyRequest(const QString &vlanId) const
{
    const QString address = lobbyAddress(vlanId);
    QNetworkRequest request{QUrl(address)};
    m_service.applyAuthHeaders(request);
    logWs(Logger::Info, QStringLiteral("connecting to ") + address);
    return request;
}

void RoomSession::connectWebSocket(const QString &vlanId)
{
    m_lobby.open(vlanId, lobbyRequest(vlanId));
}

void RoomSession::reconnectWebSocket()
{
    if (!m_session.connected || m_session.vlanId.isEmpty() || m_session.userStopping)
        return;
    logWs(Logger::Info, QStringLiteral("reconnecting to ") + m_session.vlanId);
    m_lobby.reopen(m_session.vlanId, lobbyRequest(m_session.vlanId));
}

void RoomSession::closeWebSocket()
{
    m_lobby.close();
    m_sessionTick.stop();
}

bool RoomSession::lobbyOrTimersAlive() const
{
    return m_lobby.alive() || m_sessionTick.isActive();
}

void RoomSession::onTokenRotated()
{
    if (m_lobby.joined())
        m_lobby.send(QJsonObject{{QStringLiteral("type"), QStringLiteral("refresh_token")},
                                 {QStringLiteral("token"), m_service.accessToken()}});
}

void RoomSession::endSessionFromLobby(const QString &userMessage)
{
    clearSession();
    m_discord.setInLobby();
    emit disconnectSuccess();
    emit requestError(userMessage);
    runDeferredAfterLeave();
}

void RoomSession::onLobbyMessage(const QString &type, const QJsonObject &message)
{
    const QString who = message.value(QStringLiteral("username")).toString();

    if (type == QLatin1String("users") || type == QLatin1String("pong")) {
        const int players = publishMembers(message);
        m_discord.setInRoom(m_session.vlanName, m_session.vlanId, players, m_session.capacity,
                            m_session.isPrivate, m_session.connectedSinceMs);
    } else if (type == QLatin1String("user_connected")) {
        if (!m_lobby.awaitingFirstUsers())
            emit vlanEvent(type, who);
    } else if (type == QLatin1String("user_disconnected")) {
        if (!m_lobby.awaitingFirstUsers())
            emit vlanEvent(type, who);
        if (who == m_username && m_session.connected && !m_session.userStopping) {
            logWs(Logger::Warn, QStringLiteral("server reports self disconnected \u2014 forcing local disconnect"));
            endSessionFromLobby(sessionText(SessionText::ConnectionLost, m_service.lang()));
        }
    } else if (type == QLatin1String("user_kicked")) {
        emit vlanEvent(type, who);
        // An empty name would match a signed-out client; nobody is kicked by that.
        if (who == m_username && !who.isEmpty() && m_session.connected) {
            logWs(Logger::Warn, QStringLiteral("we were kicked from ") + m_session.vlanId);
            endSessionFromLobby(sessionText(SessionText::Kicked, m_service.lang()));
        }
    } else if (type == QLatin1String("user_ip_assigned")) {
        emit userIpAssigned(who, message.value(QStringLiteral("assigned_ip")).toString());
    } else if (type == QLatin1String("name_changed")) {
        const QString name = message.value(QStringLiteral("name")).toString();
        if (!name.isEmpty() && name != m_session.vlanName) {
            m_session.vlanName = name;
            emit connectedChanged();
        }
    } else if (type == QLatin1String("token_ok")) {
        logWs(Logger::Info, QStringLiteral("token refresh accepted"));
    } else if (type == QLatin1String("token_error")) {
        // The lobby no longer takes the token, at sign-in or on renewal: signing
        // in again at once would be refused again, so it waits and counts like
        // a dropped connection. The session clock runs on, as through a drop.
        m_lobby.failAttempt(m_lobby.joined() ? QStringLiteral("token refresh rejected")
                                             : QStringLiteral("sign-in rejected (token_error)"));
    }
}

void RoomSession::onLobbyClosed()
{
    if (!m_session.connected || m_session.userStopping)
        return;
    if (!m_lobby.scheduleReconnect())
        endSessionFromLobby(sessionText(SessionText::ServerConnectionLost, m_service.lang()));
}
