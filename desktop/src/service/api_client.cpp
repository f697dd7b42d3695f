#include "service/api_client.h"

#include "shell/logger.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QUrl>

#ifndef CORVANA_API_BASE_URL
#define CORVANA_API_BASE_URL "https://api.corvana.net"
#endif

namespace {

QJsonObject replyObject(const QByteArray &body)
{
    // Anything but a JSON object reads as an empty one.
    return QJsonDocument::fromJson(body).object();
}

int httpStatus(QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

void logLine(Logger::Level level, const char *category, const QString &message)
{
    Logger::instance().log(level, QString::fromLatin1(category), message);
}

} // namespace

ApiClient::ApiClient(QObject *parent)
    : QObject(parent)
{
    connectSessionSignals();
    connectLobbySignals();
    connect(&m_dedicatedForward, &DedicatedForward::started, this, &ApiClient::dedicatedUdpForwardStarted);
    connect(&m_dedicatedForward, &DedicatedForward::stopped, this, &ApiClient::dedicatedUdpForwardStopped);
    connect(&m_dedicatedForward, &DedicatedForward::error, this, &ApiClient::requestError);
}

ApiClient::~ApiClient()
{
    stopDedicatedUdpForward();
    // The socket goes first and quietly: no reconnect or session road runs now,
    // and the supervisor's last status change must not reach a half-gone client.
    m_lobby.drop();
    m_vpn.disconnect(this);
}

QString ApiClient::defaultBaseUrl()
{
    return QStringLiteral(CORVANA_API_BASE_URL);
}

QString ApiClient::localized(const char *english, const char *persian) const
{
    return m_lang == QLatin1String("fa") ? QString::fromUtf8(persian) : QString::fromUtf8(english);
}

void ApiClient::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    emit busyChanged();
}

void ApiClient::setBaseUrl(const QString &url)
{
    if (url == m_baseUrl)
        return;
    m_baseUrl = url;
    emit baseUrlChanged();
}

void ApiClient::setLang(const QString &lang)
{
    const QString normalised = lang == QLatin1String("fa") ? QStringLiteral("fa") : QStringLiteral("en");
    if (normalised == m_lang)
        return;
    m_lang = normalised;
    m_dedicatedForward.setLang(m_lang);
    emit langChanged();
}

int ApiClient::startDedicatedUdpForward(const QString &remoteAddress, int remotePort)
{
    return m_dedicatedForward.start(remoteAddress, remotePort);
}

void ApiClient::stopDedicatedUdpForward()
{
    m_dedicatedForward.stop();
}

void ApiClient::setUsername(const QString &name)
{
    if (name == m_username)
        return;
    m_username = name;
    emit usernameChanged();
}

void ApiClient::applyAuthHeaders(QNetworkRequest &request, const QString &token,
                                 const QString &language)
{
    if (!token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    request.setRawHeader("x-lang", language.toUtf8());
}

QNetworkRequest ApiClient::jsonRequest(const QString &path, const QString &token) const
{
    QNetworkRequest request(QUrl(m_baseUrl + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    applyAuthHeaders(request, token, m_lang);
    return request;
}

void ApiClient::limitReplySize(QNetworkReply *reply)
{
    const auto cutOff = [reply]() {
        reply->setProperty("tooLarge", true);
        reply->abort();
    };
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, cutOff]() {
        if (reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > kMaxReplyBytes)
            cutOff();
    });
    connect(reply, &QNetworkReply::downloadProgress, reply, [cutOff](qint64 received, qint64) {
        if (received > kMaxReplyBytes)
            cutOff();
    });
}

bool ApiClient::replyTooLarge(QNetworkReply *reply, const QByteArray &body)
{
    return reply->property("tooLarge").toBool() || body.size() > kMaxReplyBytes;
}

void ApiClient::request(const QString &method, const QString &path, const QJsonObject &body,
                        ReplyCallback callback, RequestOptions options)
{
    if (options.busyGuard) {
        if (m_busy)
            return;
        setBusy(true);
    }
    QNetworkRequest req = jsonRequest(path, m_accessToken);
    req.setTransferTimeout(m_transferTimeoutMs);
    QNetworkReply *reply = method == QLatin1String("GET")
                               ? m_network.get(req)
                               : m_network.post(req, QJsonDocument(body).toJson(QJsonDocument::Indented));
    limitReplySize(reply);
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, method, path, body, callback = std::move(callback), options]() {
                onReplyFinished(reply, method, path, body, callback, options);
            });
}

void ApiClient::onReplyFinished(QNetworkReply *reply, const QString &method, const QString &path,
                                const QJsonObject &body, const ReplyCallback &callback,
                                RequestOptions options)
{
    reply->deleteLater();
    const QByteArray raw = reply->readAll();
    const QJsonObject object = replyObject(raw);
    const int status = httpStatus(reply);

    if (status == 401 && options.retryOn401 && !m_refreshToken.isEmpty()) {
        m_pending.append(PendingRequest{method, path, body, callback, options.silent});
        if (!m_refreshing)
            startTokenRefresh([this](bool ok) { onReplayRefreshDone(ok); });
        return;
    }

    if (options.busyGuard && m_busy)
        setBusy(false);

    const bool tooLarge = replyTooLarge(reply, raw);
    if (reply->error() != QNetworkReply::NoError || tooLarge) {
        QString message = object.value(QStringLiteral("detail")).toString();
        if (tooLarge)
            message = localized("Server response too large", "پاسخ سرور بیش از حد بزرگ است");
        else if (message.isEmpty())
            message = reply->errorString();
        logLine(Logger::Error, "api",
                QStringLiteral("request failed: %1 status=%2 msg=%3 body=%4")
                    .arg(path, QString::number(status), message,
                         QString::fromUtf8(raw.left(4096))));
        if (!options.silent)
            emit requestError(message);
        return;
    }
    if (callback)
        callback(object);
}

void ApiClient::startTokenRefresh(std::function<void(bool)> completion)
{
    if (m_refreshToken.isEmpty()) {
        completion(false);
        return;
    }
    m_refreshWaiters.append(std::move(completion));
    // A second refresh with the same token would be refused after the first
    // rotated it, signing the user out; wait for the one in flight instead.
    if (m_refreshing)
        return;
    m_refreshing = true;
    // Only "x-lang": the old access token must not ride along.
    QNetworkRequest req = jsonRequest(QStringLiteral("/api/auth/refresh"), QString());
    req.setTransferTimeout(m_transferTimeoutMs);
    const QJsonObject body{{QStringLiteral("refresh_token"), m_refreshToken}};
    QNetworkReply *reply = m_network.post(req, QJsonDocument(body).toJson(QJsonDocument::Indented));
    limitReplySize(reply);
    connect(reply, &QNetworkReply::finished, this, [this, reply]() { onRefreshReply(reply); });
}

void ApiClient::finishRefresh(bool ok)
{
    const QList<std::function<void(bool)>> waiters = std::exchange(m_refreshWaiters, {});
    for (const auto &completion : waiters)
        completion(ok);
}

void ApiClient::onRefreshReply(QNetworkReply *reply)
{
    reply->deleteLater();
    m_refreshing = false;
    const QByteArray raw = reply->readAll();
    const QJsonObject object = replyTooLarge(reply, raw) ? QJsonObject() : replyObject(raw);
    const int status = httpStatus(reply);

    // A success without an access token would sign the user out behind their
    // back; it counts as a transient failure instead.
    const bool usable = !object.value(QStringLiteral("access_token")).toString().isEmpty();
    if (reply->error() == QNetworkReply::NoError && usable) {
        m_accessToken = object.value(QStringLiteral("access_token")).toString();
        m_refreshToken = object.value(QStringLiteral("refresh_token")).toString();
        emit loggedInChanged();
        emit tokenRotated();
        const QList<PendingRequest> parked = std::exchange(m_pending, {});
        for (const PendingRequest &call : parked)
            request(call.method, call.path, call.body, call.callback,
                    RequestOptions{false, false, call.silent});
        if (m_lobby.joined())
            m_lobby.send(QJsonObject{{QStringLiteral("type"), QStringLiteral("refresh_token")},
                                  {QStringLiteral("token"), m_accessToken}});
        finishRefresh(true);
        return;
    }
    if (status == 401 || status == 403) {
        logLine(Logger::Warn, "auth",
                QStringLiteral("refresh rejected by server \u2014 tokens invalidated"));
        m_accessToken.clear();
        m_refreshToken.clear();
        emit loggedInChanged();
        finishRefresh(false);
        return;
    }
    logLine(Logger::Warn, "auth",
            QStringLiteral("refresh transient error status=%1 \u2014 keeping tokens").arg(status));
    finishRefresh(false);
}

void ApiClient::onReplayRefreshDone(bool ok)
{
    setBusy(false);
    if (ok)
        return;
    m_pending.clear();
    if (m_refreshToken.isEmpty())
        emit authRequired();
    else
        emit requestError(localized("Server connection error", "خطا در ارتباط با سرور"));
}

void ApiClient::refresh(const QString &refreshToken)
{
    logLine(Logger::Info, "auth", QStringLiteral("refresh token attempt"));
    m_refreshToken = refreshToken;
    setBusy(true);
    startTokenRefresh([this](bool ok) { onRefreshDone(ok); });
}

void ApiClient::onRefreshDone(bool ok)
{
    setBusy(false);
    if (ok) {
        emit refreshSuccess();
        return;
    }
    // Calls parked meanwhile are dropped too: replaying them after a later
    // sign-in would repeat actions the user has long given up on.
    m_pending.clear();
    emit authRequired();
}

void ApiClient::storeTokens(const QJsonObject &reply)
{
    m_accessToken = reply.value(QStringLiteral("access_token")).toString();
    m_refreshToken = reply.value(QStringLiteral("refresh_token")).toString();
    setUsername(reply.value(QStringLiteral("username")).toString());
    emit loggedInChanged();
}

void ApiClient::postJson(const QString &path, const QJsonObject &body)
{
    QNetworkReply *reply = m_network.post(jsonRequest(path, m_accessToken),
                                          QJsonDocument(body).toJson(QJsonDocument::Indented));
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
}
