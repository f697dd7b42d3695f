// The room's side of the lobby: what its messages mean for the session. The
// socket itself, with its ping, watchdog and reconnects, is LobbySocket.
#include "service/api_client.h"

#include "session/session_texts.h"
#include "shell/logger.h"

#include <QJsonArray>
#include <QNetworkRequest>
#include <QUrl>

namespace {

void logWs(Logger::Level level, const QString &message)
{
    Logger::instance().log(level, QStringLiteral("ws"), message);
}

} // namespace

void ApiClient::connectLobbySignals()
{
    connect(&m_lobby, &LobbySocket::messageReceived, this, &ApiClient::onLobbyMessage);
    connect(&m_lobby, &LobbySocket::closedUnexpectedly, this, &ApiClient::onLobbyClosed);
    connect(&m_lobby, &LobbySocket::reconnectDue, this, &ApiClient::reconnectWebSocket);
    m_lobby.setTokenSource([this] { return m_accessToken; });
}

QString ApiClient::lobbyAddress(const QString &vlanId) const
{
    return LobbySocket::address(m_baseUrl, encodePathPiece(vlanId));
}

QNetworkRequest ApiClient::lobbyRequest(const QString &vlanId) const
{
    const QString address = lobbyAddress(vlanId);
    QNetworkRequest request{QUrl(address)};
    applyAuthHeaders(request, m_accessToken, m_lang);
    logWs(Logger::Info, QStringLiteral("connecting to ") + address);
    return request;
}

void ApiClient::connectWebSocket(const QString &vlanId)
{
    m_lobby.open(vlanId, lobbyRequest(vlanId));
}

void ApiClient::reconnectWebSocket()
{
    if (!m_session.connected || m_session.vlanId.isEmpty() || m_session.userStopping)
        return;
    logWs(Logger::Info, QStringLiteral("reconnecting to ") + m_session.vlanId);
    m_lobby.reopen(m_session.vlanId, lobbyRequest(m_session.vlanId));
}

void ApiClient::endSessionFromLobby(const QString &userMessage)
{
    clearSession();
    m_discord.setInLobby();
    emit disconnectSuccess();
    emit requestError(userMessage);
    runDeferredAfterLeave();
}

void ApiClient::onLobbyMessage(const QString &type, const QJsonObject &message)
{
    const QString who = message.value(QStringLiteral("username")).toString();

    if (type == QLatin1String("users") || type == QLatin1String("pong")) {
        const int players = message.value(QStringLiteral("players")).toInt();
        emit usersUpdated(message.value(QStringLiteral("users")).toArray(), players);
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
            endSessionFromLobby(sessionText(SessionText::ConnectionLost, m_lang));
        }
    } else if (type == QLatin1String("user_kicked")) {
        emit vlanEvent(type, who);
        // An empty name would match a signed-out client; nobody is kicked by that.
        if (who == m_username && !who.isEmpty() && m_session.connected) {
            logWs(Logger::Warn, QStringLiteral("we were kicked from ") + m_session.vlanId);
            endSessionFromLobby(sessionText(SessionText::Kicked, m_lang));
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
    }
}

void ApiClient::onLobbyClosed()
{
    if (!m_session.connected || m_session.userStopping)
        return;
    if (!m_lobby.scheduleReconnect())
        endSessionFromLobby(sessionText(SessionText::ServerConnectionLost, m_lang));
}

bool ApiClient::lobbyOrTimersAlive() const
{
    return m_lobby.alive() || m_sessionTick.isActive();
}

void ApiClient::closeWebSocket()
{
    m_lobby.close();
    m_sessionTick.stop();
}
