#include "session/lobby_socket.h"

#include "shell/logger.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QWebSocket>

#include <algorithm>
#include <utility>

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

LobbySocket::LobbySocket(QObject *parent)
    : QObject(parent)
{
    m_pingTimer.setSingleShot(false);
    m_reconnectTimer.setSingleShot(true);
    m_steadyTimer.setSingleShot(true);
    m_watchdogTimer.setSingleShot(false);
    connect(&m_pingTimer, &QTimer::timeout, this, [this] {
        if (!m_joined)
            return;
        send(QJsonObject{{QStringLiteral("type"), QStringLiteral("ping")}});
        m_pinged = true;
    });
    connect(&m_steadyTimer, &QTimer::timeout, this, &LobbySocket::markSteady);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &LobbySocket::reconnectDue);
    connect(&m_watchdogTimer, &QTimer::timeout, this, &LobbySocket::checkTraffic);
}

LobbySocket::~LobbySocket()
{
    drop();
}

QString LobbySocket::address(const QString &baseUrl, const QString &encodedVlanId)
{
    QString address = baseUrl;
    address.replace(QStringLiteral("http://"), QStringLiteral("ws://"));
    address.replace(QStringLiteral("https://"), QStringLiteral("wss://"));
    return address + QStringLiteral("/api/ws/") + encodedVlanId;
}

void LobbySocket::open(const QString &vlanId, const QNetworkRequest &request)
{
    m_reconnectDelayMs = m_timings.firstReconnectDelayMs;
    m_reconnectAttempts = 0;
    reopen(vlanId, request);
}

void LobbySocket::reopen(const QString &vlanId, const QNetworkRequest &request)
{
    if (m_joined)
        close();
    m_vlanId = vlanId;
    m_awaitingFirstUsers = true;
    m_pinged = false;
    m_healthy = false;
    m_steadyTimer.stop();
    m_lostBecause.clear();
    m_lastTrafficMs = nowMs();
    m_openedMs = m_lastTrafficMs;
    m_watchdogTimer.start(m_timings.watchdogTickMs);

    drop();
    m_ws = new QWebSocket(QString(), QWebSocketProtocol::Version13);
    // Both, so neither one long frame nor many short ones are gathered past the limit.
    m_ws->setMaxAllowedIncomingFrameSize(quint64(kMaxMessageBytes));
    m_ws->setMaxAllowedIncomingMessageSize(quint64(kMaxMessageBytes));
    connect(m_ws, &QWebSocket::connected, this, &LobbySocket::onConnected);
    connect(m_ws, &QWebSocket::textMessageReceived, this, &LobbySocket::onTextMessage);
    connect(m_ws, &QWebSocket::disconnected, this, &LobbySocket::onDisconnected);
    m_ws->open(request);
}

bool LobbySocket::scheduleReconnect()
{
    const QString why = std::exchange(m_lostBecause, QString());
    m_reconnectAttempts += 1;
    if (m_reconnectAttempts <= kMaxReconnects) {
        logWs(Logger::Warn, QStringLiteral("%1 \u2014 reconnecting in %2ms (attempt %3/%4)")
                                .arg(why.isEmpty() ? QStringLiteral("disconnected unexpectedly") : why)
                                .arg(m_reconnectDelayMs)
                                .arg(m_reconnectAttempts)
                                .arg(kMaxReconnects));
        m_reconnectTimer.start(m_reconnectDelayMs);
        m_reconnectDelayMs = std::min(m_reconnectDelayMs * 2, m_timings.maxReconnectDelayMs);
        return true;
    }
    logWs(Logger::Error, QStringLiteral("giving up after %1 attempts \u2014 disconnecting")
                             .arg(m_reconnectAttempts - 1));
    return false;
}

void LobbySocket::close()
{
    m_pingTimer.stop();
    m_steadyTimer.stop();
    m_reconnectTimer.stop();
    m_watchdogTimer.stop();
    // The retired socket's own close notice is not connected any more, so it
    // cannot be taken for an unexpected close of the session's lobby.
    drop();
    m_joined = false;
}

void LobbySocket::drop()
{
    if (!m_ws)
        return;
    QWebSocket *old = std::exchange(m_ws, nullptr);
    old->disconnect(this);
    if (old->state() != QAbstractSocket::UnconnectedState)
        old->close(QWebSocketProtocol::CloseCodeNormal, QString());
    old->deleteLater();
}

bool LobbySocket::alive() const
{
    return m_ws || m_pingTimer.isActive() || m_reconnectTimer.isActive() || m_watchdogTimer.isActive();
}

void LobbySocket::send(const QJsonObject &message)
{
    if (m_ws)
        m_ws->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

void LobbySocket::failAttempt(const QString &why)
{
    drop();
    m_lostBecause = why;
    onDisconnected();
}

void LobbySocket::onConnected()
{
    send(QJsonObject{{QStringLiteral("type"), QStringLiteral("auth")}, {QStringLiteral("token"), m_token ? m_token() : QString()}});
    logWs(Logger::Info, QStringLiteral("connected \u2014 sent auth"));
}

void LobbySocket::checkTraffic()
{
    // The socket is closed as soon as a leave begins, so a running watchdog
    // always belongs to a room that is still wanted.
    if (!m_joined) {
        // Connecting, signing in or waiting for the member list: a lobby that
        // never gets that far has failed this attempt, whatever else it says.
        if (m_ws && nowMs() - m_openedMs > m_timings.silenceLimitMs)
            failAttempt(QStringLiteral("no member list within %1s").arg(m_timings.silenceLimitMs / 1000));
        return;
    }
    if (nowMs() - m_lastTrafficMs <= m_timings.silenceLimitMs)
        return;
    logWs(Logger::Warn, QStringLiteral("no traffic from server for >%1s \u2014 assuming dead, aborting")
                            .arg(m_timings.silenceLimitMs / 1000));
    if (m_ws)
        m_ws->abort();
}

void LobbySocket::onTextMessage(const QString &text)
{
    logWs(Logger::Info, QStringLiteral("recv: ") + text);
    m_lastTrafficMs = nowMs();
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString type = message.value(QStringLiteral("type")).toString();
    const bool users = type == QLatin1String("users");
    if (users && !m_joined) {
        m_joined = true;
        m_pingTimer.start(m_timings.pingMs);
        m_steadyTimer.start(m_timings.steadyMs);
        logWs(Logger::Info, QStringLiteral("connected to room ") + m_vlanId);
    }
    // A member list alone proves little: a lobby may list the members and
    // refuse at once, at every attempt. Staying up a while after it does, and
    // so does an answered ping.
    if (type == QLatin1String("pong") && m_joined && m_pinged)
        markSteady();
    emit messageReceived(type, message);
    // The handler may have reopened the socket; only this socket's first list counts.
    if (users && m_awaitingFirstUsers)
        m_awaitingFirstUsers = false;
}

void LobbySocket::markSteady()
{
    if (!m_joined || m_healthy)
        return;
    m_healthy = true;
    m_steadyTimer.stop();
    if (m_reconnectAttempts > 0)
        logWs(Logger::Info, QStringLiteral("connection steady \u2014 reconnect count reset"));
    m_reconnectDelayMs = m_timings.firstReconnectDelayMs;
    m_reconnectAttempts = 0;
}

void LobbySocket::onDisconnected()
{
    if (m_ws && m_ws->closeCode() == QWebSocketProtocol::CloseCodeTooMuchData)
        m_lostBecause = QStringLiteral("message larger than %1 bytes refused").arg(kMaxMessageBytes);
    m_joined = false;
    m_pingTimer.stop();
    m_steadyTimer.stop();
    emit closedUnexpectedly();
}
