#include "service/service_client.h"

#include "service/service_texts.h"
#include "shell/logger.h"
#include "shell/transfer_guard.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <utility>

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

QByteArray jsonBody(const QJsonObject &body)
{
    return QJsonDocument(body).toJson(QJsonDocument::Indented);
}

void logLine(Logger::Level level, const char *category, const QString &message)
{
    Logger::instance().log(level, QString::fromLatin1(category), message);
}

} // namespace

ServiceClient::ServiceClient(QObject *parent)
    : QObject(parent)
{
}

ServiceClient::~ServiceClient() = default;

void ServiceClient::setBaseUrl(const QString &url)
{
    if (url == m_baseUrl)
        return;
    m_baseUrl = url;
    emit baseUrlChanged();
}

void ServiceClient::setLang(const QString &lang)
{
    const QString normalised = lang == QLatin1String("fa") ? QStringLiteral("fa") : QStringLiteral("en");
    if (normalised == m_lang)
        return;
    m_lang = normalised;
    emit langChanged();
}

QString ServiceClient::encodePathPiece(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QString ServiceClient::absoluteUrl(const QString &url) const
{
    return url.startsWith(QLatin1String("http")) ? url : m_baseUrl + url;
}

void ServiceClient::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    emit busyChanged();
}

void ServiceClient::applyAuthHeaders(QNetworkRequest &request) const
{
    if (!m_accessToken.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + m_accessToken.toUtf8());
    request.setRawHeader("x-lang", m_lang.toUtf8());
}

QNetworkRequest ServiceClient::jsonRequest(const QString &path, const QString &token) const
{
    QNetworkRequest request(QUrl(m_baseUrl + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    if (!token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    request.setRawHeader("x-lang", m_lang.toUtf8());
    return request;
}

void ServiceClient::limitReply(QNetworkReply *reply) const
{
    TransferGuard::watch(reply, m_transferTimeoutMs, m_lowSpeedWindowMs);
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

bool ServiceClient::replyTooLarge(QNetworkReply *reply, const QByteArray &body)
{
    return reply->property("tooLarge").toBool() || body.size() > kMaxReplyBytes;
}

QNetworkReply *ServiceClient::postTimed(const QString &path, const QJsonObject &body,
                                        const QString &token)
{
    QNetworkRequest req = jsonRequest(path, token);
    QNetworkReply *reply = m_network.post(req, jsonBody(body));
    limitReply(reply);
    return reply;
}

void ServiceClient::request(const QString &method, const QString &path, const QJsonObject &body,
                            ReplyCallback callback, RequestOptions options, FailureCallback failure)
{
    if (options.busyGuard) {
        if (m_busy)
            return;
        setBusy(true);
    }
    QNetworkReply *reply = nullptr;
    if (method == QLatin1String("GET")) {
        QNetworkRequest req = jsonRequest(path, m_accessToken);
        reply = m_network.get(req);
        limitReply(reply);
    } else {
        reply = postTimed(path, body, m_accessToken);
    }
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, generation = m_generation, method, path, body, callback = std::move(callback),
             options, failure = std::move(failure)]() {
                onReplyFinished(reply, generation, method, path, body, callback, options, failure);
            });
}

void ServiceClient::onReplyFinished(QNetworkReply *reply, quint64 generation, const QString &method,
                                    const QString &path, const QJsonObject &body,
                                    const ReplyCallback &callback, RequestOptions options,
                                    const FailureCallback &failure)
{
    reply->deleteLater();
    if (generation != m_generation) {
        // Asked for by an earlier sign-in; its busy hold ended with it.
        logLine(Logger::Info, "api", QStringLiteral("reply of an earlier sign-in dropped: ") + path);
        return;
    }
    const QByteArray raw = reply->readAll();
    const QJsonObject object = replyObject(raw);
    const int status = httpStatus(reply);

    if (status == 401 && options.retryOn401 && !m_refreshToken.isEmpty()) {
        m_pending.append(PendingRequest{method, path, body, callback, options.silent, failure});
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
            message = serviceText(ServiceText::ResponseTooLarge, m_lang);
        else if (message.isEmpty())
            message = reply->errorString();
        // The log also says why a transfer that stopped making progress was ended.
        const QString logged = message == reply->errorString() ? TransferGuard::errorText(reply) : message;
        logLine(Logger::Error, "api",
                QStringLiteral("request failed: %1 status=%2 msg=%3 body=%4")
                    .arg(path, QString::number(status), logged,
                         QString::fromUtf8(raw.left(4096))));
        if (!options.silent)
            emit requestError(message);
        if (failure)
            failure();
        return;
    }
    if (callback)
        callback(object);
}

void ServiceClient::startTokenRefresh(std::function<void(bool)> completion)
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
    QNetworkReply *reply = postTimed(QStringLiteral("/api/auth/refresh"),
                                     QJsonObject{{QStringLiteral("refresh_token"), m_refreshToken}},
                                     QString());
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, generation = m_generation]() { onRefreshReply(reply, generation); });
}

void ServiceClient::finishRefresh(bool ok)
{
    const QList<std::function<void(bool)>> waiters = std::exchange(m_refreshWaiters, {});
    for (const auto &completion : waiters)
        completion(ok);
}

void ServiceClient::onRefreshReply(QNetworkReply *reply, quint64 generation)
{
    reply->deleteLater();
    // Tokens renewed for a sign-in that has ended must not sign anyone in again.
    if (generation != m_generation)
        return;
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
        const QList<PendingRequest> parked = std::exchange(m_pending, {});
        for (const PendingRequest &call : parked)
            request(call.method, call.path, call.body, call.callback,
                    RequestOptions{false, false, call.silent}, call.failure);
        // After the parked calls are on their way: a listener passing the new
        // token on (the lobby) sends it behind them.
        emit tokenRotated();
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
        // Signed out: what this sign-in still has on the way is not wanted.
        beginGeneration();
        return;
    }
    logLine(Logger::Warn, "auth",
            QStringLiteral("refresh transient error status=%1 \u2014 keeping tokens").arg(status));
    finishRefresh(false);
}

void ServiceClient::onReplayRefreshDone(bool ok)
{
    setBusy(false);
    if (ok)
        return;
    const QList<PendingRequest> dropped = std::exchange(m_pending, {});
    // Refused: the sign-in ends, and with it what it was waiting for.
    if (m_refreshToken.isEmpty()) {
        emit authRequired();
        return;
    }
    emit requestError(serviceText(ServiceText::ConnectionError, m_lang));
    for (const PendingRequest &call : dropped) {
        if (call.failure)
            call.failure();
    }
}

void ServiceClient::refresh(const QString &refreshToken)
{
    logLine(Logger::Info, "auth", QStringLiteral("refresh token attempt"));
    // Signed out, this resumes a saved sign-in: a new one. Signed in, it is a
    // renewal of the same one, which joins a renewal already in flight.
    if (m_accessToken.isEmpty())
        beginGeneration();
    m_refreshToken = refreshToken;
    setBusy(true);
    startTokenRefresh([this](bool ok) { onRefreshDone(ok); });
}

void ServiceClient::onRefreshDone(bool ok)
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

void ServiceClient::storeTokens(const QJsonObject &reply)
{
    beginGeneration();
    m_accessToken = reply.value(QStringLiteral("access_token")).toString();
    m_refreshToken = reply.value(QStringLiteral("refresh_token")).toString();
}

void ServiceClient::clearTokens()
{
    beginGeneration();
    m_accessToken.clear();
    m_refreshToken.clear();
}

void ServiceClient::beginGeneration()
{
    ++m_generation;
    // Parked calls and a renewal in flight belong to the sign-in that ended;
    // so does the busy hold of any call of it still on its way.
    m_pending.clear();
    m_refreshWaiters.clear();
    m_refreshing = false;
    setBusy(false);
    emit signInGenerationChanged();
}

void ServiceClient::postJson(const QString &path, const QJsonObject &body)
{
    postJsonAs(path, body, m_accessToken);
}

void ServiceClient::postJsonAs(const QString &path, const QJsonObject &body, const QString &token)
{
    QNetworkRequest request = jsonRequest(path, token);
    QNetworkReply *reply = m_network.post(request, jsonBody(body));
    limitReply(reply);
    // Nobody reads the answer: once its status is in, the rest is not fetched.
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply]() {
        if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, reply, [reply, path]() {
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (!status.isValid())
            logLine(Logger::Warn, "api",
                    QStringLiteral("no answer to %1: %2").arg(path, TransferGuard::errorText(reply)));
        else if (status.toInt() >= 400)
            logLine(Logger::Warn, "api", QStringLiteral("%1 answered status=%2").arg(path).arg(status.toInt()));
        reply->deleteLater();
    });
}
