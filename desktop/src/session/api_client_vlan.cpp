// VLAN session of ApiClient: join or create, bring the tunnel up, count the
// session, and leave, either on request or because something failed.
#include "service/api_client.h"

#include "session/session_texts.h"
#include "session/credential_store.h"
#include "shell/logger.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <utility>

namespace {

void logLine(Logger::Level level, const char *category, const QString &message)
{
    Logger::instance().log(level, QString::fromLatin1(category), message);
}

QString text(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toString();
}

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

constexpr RequestOptions kGuarded{true, true, false};

} // namespace

bool ApiClient::isVlanIdUsable(const QString &vlanId)
{
    // Dots are unreserved, so "." and ".." stay as they are and the URL layer
    // folds them away: the call would land on another endpoint.
    return !vlanId.isEmpty() && vlanId != QLatin1String(".") && vlanId != QLatin1String("..");
}

void ApiClient::connectSessionSignals()
{
    connect(&m_vpn, &VpnProcess::statusChanged, this, &ApiClient::vpnStatusChanged);
    connect(&m_vpn, &VpnProcess::vpnInfoChanged, this, &ApiClient::vpnIpChanged);
    connect(&m_vpn, &VpnProcess::vpnConnecting, this, &ApiClient::onVpnConnecting);
    connect(&m_vpn, &VpnProcess::vpnReady, this, [this](const QString &) { onTunnelReady(); });
    connect(&m_vpn, &VpnProcess::vpnError, this, &ApiClient::onVpnError);
    connect(&m_vpn, &VpnProcess::vpnDisconnected, this, &ApiClient::onVpnDisconnected);
    // A room switch waits for the old client to be gone, not only for the leave.
    connect(&m_vpn, &VpnProcess::runningChanged, this, &ApiClient::runDeferredAfterLeave);
    m_sessionTick.setInterval(1000);
    connect(&m_sessionTick, &QTimer::timeout, this, &ApiClient::onTick);
}

bool ApiClient::leaveInProgress() const
{
    // Leaving, or cleared while the old client is still ending.
    return m_session.userStopping || (!m_session.connected && m_vpn.running());
}

void ApiClient::runDeferredAfterLeave()
{
    if (!m_deferredAfterLeave || leaveInProgress())
        return;
    std::function<void()> next = std::exchange(m_deferredAfterLeave, nullptr);
    next();
}

void ApiClient::joinVlan(const QString &vlanId)
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
        emit requestError(sessionText(SessionText::VlanNotFound, m_lang));
        return;
    }
    // The id may come from a link anyone can craft: it must stay one path segment.
    request(QStringLiteral("POST"), QStringLiteral("/api/vlans/") + encodePathPiece(vlanId) + QStringLiteral("/join"),
            QJsonObject{}, [this](const QJsonObject &reply) { onJoinVlanReply(reply); }, kGuarded);
}

void ApiClient::enterSession(const QJsonObject &reply)
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

void ApiClient::resetSessionFields()
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

void ApiClient::onJoinVlanReply(const QJsonObject &reply)
{
    const QString vlanId = text(reply, "vlan_id");
    const QString name = text(reply, "name");
    enterSession(reply);
    const QString serverAddress = text(reply, "server_address");
    connectVpn(serverAddress, vlanId);
    emit usersUpdated(reply.value(QStringLiteral("users")).toArray(),
                      reply.value(QStringLiteral("players")).toInt());
    logLine(Logger::Info, "vlan",
            QStringLiteral("join success: %1 (%2) server=%3").arg(vlanId, name, serverAddress));
    emit joinSuccess(vlanId, name, serverAddress);
}

void ApiClient::createVlan(int gameId, int capacity, bool isPrivate)
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
    request(QStringLiteral("POST"), QStringLiteral("/api/vlans/create"), body,
            [this](const QJsonObject &reply) { onCreateVlanReply(reply); }, kGuarded);
}

void ApiClient::onCreateVlanReply(const QJsonObject &reply)
{
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

void ApiClient::connectVpn(const QString &serverAddress, const QString &vlanIdArg)
{
    const QString vlanId = vlanIdArg; // the session may be cleared underneath
    logLine(Logger::Info, "vpn", QStringLiteral("loading password for: ") + m_username);
    const QString password = CredentialStore::loadPassword(m_username);
    if (password.isEmpty()) {
        logLine(Logger::Error, "vpn", QStringLiteral("password not found for: ") + m_username);
        clearSession();
        postVlanDisconnect(vlanId);
        emit disconnectSuccess();
        emit requestError(sessionText(SessionText::PasswordNotFound, m_lang));
        return;
    }
    logLine(Logger::Info, "vpn",
            QStringLiteral("starting: server=%1 node=%2 user=%3").arg(serverAddress, vlanId, m_username));
    m_vpn.setLang(m_lang);
    m_vpn.start(serverAddress, m_username, password, vlanId);
}

void ApiClient::onVpnConnecting()
{
    m_discord.setConnecting();
}

void ApiClient::onTunnelReady()
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

void ApiClient::onTick()
{
    if (!m_session.connected || m_session.connectedSinceMs <= 0)
        return;
    m_session.connectedSeconds = int((nowMs() - m_session.connectedSinceMs) / 1000);
    emit tickChanged();
}

void ApiClient::disconnectVlan()
{
    if (!m_session.connected || m_session.vlanId.isEmpty())
        return;
    m_session.userStopping = true;
    m_discord.setInLobby();
    closeWebSocket();
    if (!m_vpn.running())
        finishDisconnect();
    else
        m_vpn.stop();
}

void ApiClient::onVpnDisconnected(const QString &reason)
{
    logLine(Logger::Info, "vpn", QStringLiteral("disconnected: reason=") + reason);
    if (reason == QLatin1String("user")) {
        if (m_session.userStopping)
            finishDisconnect();
        return;
    }
    handleVpnFailure(QStringLiteral("unexpected disconnect"),
                     sessionText(SessionText::ConnectionLost, m_lang));
}

void ApiClient::postVlanDisconnect(const QString &vlanId)
{
    if (!isVlanIdUsable(vlanId))
        return; // no such room to leave, and the path would name another endpoint
    postJson(QStringLiteral("/api/vlans/") + encodePathPiece(vlanId) + QStringLiteral("/disconnect"),
             QJsonObject{});
}

void ApiClient::leaveForLogout(const QJsonObject &logoutNotice)
{
    // Signing out revokes the tokens, so the room is told now, while they are
    // held, rather than when the tunnel has ended; the sign-out notice waits
    // for that answer so the service cannot take it first.
    const QString token = m_accessToken;
    const auto sendLogout = [this, token, logoutNotice]() {
        if (logoutNotice.isEmpty())
            return;
        QNetworkReply *reply = m_network.post(jsonRequest(QStringLiteral("/api/auth/logout"), token),
                                              QJsonDocument(logoutNotice).toJson(QJsonDocument::Indented));
        connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    };
    if (isVlanIdUsable(m_session.vlanId)) {
        QNetworkRequest request = jsonRequest(
            QStringLiteral("/api/vlans/") + encodePathPiece(m_session.vlanId) + QStringLiteral("/disconnect"), token);
        request.setTransferTimeout(m_transferTimeoutMs);
        QNetworkReply *reply = m_network.post(request, QJsonDocument(QJsonObject{}).toJson(QJsonDocument::Indented));
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

void ApiClient::finishDisconnect()
{
    if (!m_session.vlanId.isEmpty() && !std::exchange(m_session.disconnectPosted, false))
        postVlanDisconnect(m_session.vlanId);
    m_hosts.removeManagedBlock();
    m_session.userStopping = false;
    resetSessionFields();
    emit disconnectSuccess();
    runDeferredAfterLeave();
}

void ApiClient::onVpnError(const QString &code, const QString &message)
{
    handleVpnFailure(QStringLiteral("error: code=%1 msg=%2").arg(code, message), message);
}

void ApiClient::handleVpnFailure(const QString &logText, const QString &userMessage)
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

void ApiClient::clearSession()
{
    m_session.userStopping = false;
    m_session.disconnectPosted = false;
    m_hosts.removeManagedBlock();
    closeWebSocket();
    if (m_vpn.running())
        m_vpn.stop();
    resetSessionFields();
}
