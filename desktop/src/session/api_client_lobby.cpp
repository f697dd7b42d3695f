// Lobby WebSocket of ApiClient: member list and room events while the tunnel
// is up, with a ping, a watchdog for a silent server and growing reconnects.
#include "service/api_client.h"

#include "session/session_texts.h"
#include "shell/logger.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkRequest>
#include <QUrl>
#include <QWebSocket>

namespace {

void logWs(Logger::Level level, const QString &message)
{
    Logger::instance().log(level, QStringLiteral("ws"), message);
}

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

void ApiClient::connectLobbySignals()
{
    m_pingTimer.setSingleShot(false);
    m_reconnectTimer.setSingleShot(true);
    m_watchdogTimer.setSingleShot(false);
    connect(&m_pingTimer, &QTimer::timeout, this, &ApiClient::sendPing);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &ApiClient::reconnectWebSocket);
    connect(&m_watchdogTimer, &QTimer::timeout, this, &ApiClient::checkWsTraffic);
}

QString ApiClient::lobbyAddress(const QString &vlanId) const
{
    QString address = m_baseUrl;
    address.replace(QStringLiteral("http://"), QStringLiteral("ws://"));
    address.replace(QStringLiteral("https://"), QStringLiteral("wss://"));
    return address + QStringLiteral("/api/ws/") + encodePathPiece(vlanId);
}

void ApiClient::dropLobbySocket()
{
    if (!m_ws)
        return;
    QWebSocket *old = std::exchange(m_ws, nullptr);
    old->disconnect(this);
    if (old->state() != QAbstractSocket::UnconnectedState)
        old->close(QWebSocketProtocol::CloseCodeNormal, QString());
    old->deleteLater();
}

void ApiClient::openLobbySocket(const QString &vlanId)
{
    if (m_lobby.joined)
        closeWebSocket();
    const QString address = lobbyAddress(vlanId);
    m_lobby.awaitingFirstUsers = true;
    m_lobby.lastTrafficMs = nowMs();
    m_watchdogTimer.start(m_lobbyTimings.watchdogTickMs);

    QNetworkRequest request{QUrl(address)};
    applyAuthHeaders(request, m_accessToken, m_lang);
    logWs(Logger::Info, QStringLiteral("connecting to ") + address);

    dropLobbySocket();
    m_ws = new QWebSocket(QString(), QWebSocketProtocol::Version13);
    connect(m_ws, &QWebSocket::connected, this, &ApiClient::onWsConnected);
    connect(m_ws, &QWebSocket::textMessageReceived, this, &ApiClient::onWsMessage);
    connect(m_ws, &QWebSocket::disconnected, this, &ApiClient::onWsDisconnected);
    m_ws->open(request);
}

void ApiClient::connectWebSocket(const QString &vlanId)
{
    m_lobby.reconnectDelayMs = m_lobbyTimings.firstReconnectDelayMs;
    m_lobby.reconnectAttempts = 0;
    openLobbySocket(vlanId);
}

void ApiClient::reconnectWebSocket()
{
    if (!m_session.connected || m_session.vlanId.isEmpty() || m_session.userStopping)
        return;
    logWs(Logger::Info, QStringLiteral("reconnecting to ") + m_session.vlanId);
    openLobbySocket(m_session.vlanId);
}

void ApiClient::sendLobby(const QJsonObject &message)
{
    if (m_ws)
        m_ws->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

void ApiClient::onWsConnected()
{
    sendLobby(QJsonObject{{QStringLiteral("type"), QStringLiteral("auth")},
                          {QStringLiteral("token"), m_accessToken}});
    logWs(Logger::Info, QStringLiteral("connected \u2014 sent auth"));
}

void ApiClient::sendPing()
{
    if (m_lobby.joined)
        sendLobby(QJsonObject{{QStringLiteral("type"), QStringLiteral("ping")}});
}

void ApiClient::checkWsTraffic()
{
    if (!m_lobby.joined || m_session.userStopping)
        return;
    if (nowMs() - m_lobby.lastTrafficMs <= m_lobbyTimings.silenceLimitMs)
        return;
    logWs(Logger::Warn, QStringLiteral("no traffic from server for >%1s \u2014 assuming dead, aborting")
                            .arg(m_lobbyTimings.silenceLimitMs / 1000));
    if (m_ws)
        m_ws->abort();
}

void ApiClient::endSessionFromLobby(const QString &userMessage)
{
    clearSession();
    m_discord.setInLobby();
    emit disconnectSuccess();
    emit requestError(userMessage);
    runDeferredAfterLeave();
}

void ApiClient::onWsMessage(const QString &text)
{
    logWs(Logger::Info, QStringLiteral("recv: ") + text);
    m_lobby.lastTrafficMs = nowMs();
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString type = message.value(QStringLiteral("type")).toString();
    const QString who = message.value(QStringLiteral("username")).toString();

    if (type == QLatin1String("users") || type == QLatin1String("pong")) {
        if (type == QLatin1String("users") && !m_lobby.joined) {
            m_lobby.joined = true;
            m_lobby.reconnectDelayMs = m_lobbyTimings.firstReconnectDelayMs;
            m_lobby.reconnectAttempts = 0;
            m_pingTimer.start(m_lobbyTimings.pingMs);
            logWs(Logger::Info, QStringLiteral("connected to room ") + m_session.vlanId);
        }
        const int players = message.value(QStringLiteral("players")).toInt();
        emit usersUpdated(message.value(QStringLiteral("users")).toArray(), players);
        m_discord.setInRoom(m_session.vlanName, m_session.vlanId, players, m_session.capacity,
                            m_session.isPrivate, m_session.connectedSinceMs);
    } else if (type == QLatin1String("user_connected")) {
        if (!m_lobby.awaitingFirstUsers)
            emit vlanEvent(type, who);
    } else if (type == QLatin1String("user_disconnected")) {
        if (!m_lobby.awaitingFirstUsers)
            emit vlanEvent(type, who);
        if (who == m_username && m_session.connected && !m_session.userStopping) {
            logWs(Logger::Warn, QStringLiteral("server reports self disconnected \u2014 forcing local disconnect"));
            endSessionFromLobby(sessionText(SessionText::ConnectionLost, m_lang));
            return;
        }
    } else if (type == QLatin1String("user_kicked")) {
        emit vlanEvent(type, who);
        // An empty name would match a signed-out client; nobody is kicked by that.
        if (who == m_username && !who.isEmpty() && m_session.connected) {
            logWs(Logger::Warn, QStringLiteral("we were kicked from ") + m_session.vlanId);
            endSessionFromLobby(sessionText(SessionText::Kicked, m_lang));
            return;
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
        logWs(Logger::Warn, QStringLiteral("token refresh rejected \u2014 reconnecting"));
        // The session clock keeps counting through a token reconnect.
        const bool ticking = m_sessionTick.isActive();
        closeWebSocket();
        if (ticking)
            m_sessionTick.start();
        reconnectWebSocket();
        return;
    }
    if (m_lobby.awaitingFirstUsers && type == QLatin1String("users"))
        m_lobby.awaitingFirstUsers = false;
}

void ApiClient::onWsDisconnected()
{
    m_lobby.joined = false;
    m_pingTimer.stop();
    if (!m_session.connected || m_session.userStopping)
        return;
    m_lobby.reconnectAttempts += 1;
    if (m_lobby.reconnectAttempts <= 5) {
        logWs(Logger::Warn, QStringLiteral("disconnected unexpectedly \u2014 reconnecting in %1ms (attempt %2/5)")
                                .arg(m_lobby.reconnectDelayMs)
                                .arg(m_lobby.reconnectAttempts));
        m_reconnectTimer.start(m_lobby.reconnectDelayMs);
        m_lobby.reconnectDelayMs = m_lobby.reconnectDelayMs * 2 < m_lobbyTimings.maxReconnectDelayMs
                                       ? m_lobby.reconnectDelayMs * 2
                                       : m_lobbyTimings.maxReconnectDelayMs;
        return;
    }
    logWs(Logger::Error, QStringLiteral("giving up after %1 attempts \u2014 disconnecting")
                             .arg(m_lobby.reconnectAttempts - 1));
    endSessionFromLobby(sessionText(SessionText::ServerConnectionLost, m_lang));
}

bool ApiClient::lobbyOrTimersAlive() const
{
    return m_ws || m_sessionTick.isActive() || m_pingTimer.isActive() || m_reconnectTimer.isActive()
           || m_watchdogTimer.isActive();
}

void ApiClient::closeWebSocket()
{
    m_pingTimer.stop();
    m_reconnectTimer.stop();
    m_watchdogTimer.stop();
    m_sessionTick.stop();
    // The retired socket's own close notice is not connected any more, so it
    // cannot be taken for an unexpected close of the session's lobby.
    dropLobbySocket();
    m_lobby.joined = false;
}
