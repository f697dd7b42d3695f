#include "test_service.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

TestService::TestService() = default;

TestService::~TestService()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
}

bool TestService::start()
{
    m_process.setProgram(QStringLiteral(CORVANA_BIN_DIR "/corvana-test-service"));
    m_process.setArguments({QStringLiteral("--port"), QStringLiteral("0")});
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start();
    if (!m_process.waitForStarted(10000))
        return false;
    QByteArray line;
    while (!line.contains('\n')) {
        if (!m_process.waitForReadyRead(20000))
            return false;
        line += m_process.readAllStandardOutput();
    }
    const QByteArray prefix = "listening on ";
    const qsizetype at = line.indexOf(prefix);
    if (at < 0)
        return false;
    m_baseUrl = QString::fromUtf8(line.mid(at + prefix.size()).trimmed());
    return true;
}

QJsonObject TestService::call(const QByteArray &method, const QString &path, const QJsonObject &body,
                              int *status, const QString &bearer)
{
    return QJsonDocument::fromJson(callRaw(method, path, body, status, bearer)).object();
}

QByteArray TestService::callRaw(const QByteArray &method, const QString &path, const QJsonObject &body,
                                int *status, const QString &bearer)
{
    QNetworkRequest request(QUrl(m_baseUrl + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(10000);
    if (!bearer.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + bearer.toUtf8());
    QNetworkReply *reply = method == "GET"
                               ? m_network.get(request)
                               : m_network.post(request, QJsonDocument(body).toJson());
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    if (status)
        *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray raw = reply->readAll();
    reply->deleteLater();
    return raw;
}

void TestService::nextCall(const QString &path, const QJsonObject &rule)
{
    QJsonObject body = rule;
    body.insert(QStringLiteral("path"), path);
    call("POST", QStringLiteral("/test/next"), body);
}

QJsonArray TestService::requests()
{
    return call("GET", QStringLiteral("/test/requests")).value(QStringLiteral("items")).toArray();
}

QJsonArray TestService::requestsTo(const QString &pathPrefix)
{
    QJsonArray matching;
    for (const QJsonValue &entry : requests()) {
        const QString path = entry.toObject().value(QStringLiteral("path")).toString();
        if (path.startsWith(pathPrefix) && !path.startsWith(QLatin1String("/test/")))
            matching.append(entry);
    }
    return matching;
}

void TestService::reset()
{
    call("POST", QStringLiteral("/test/reset"));
}

void TestService::expireAccessTokens()
{
    call("POST", QStringLiteral("/test/expire-access"));
}

void TestService::revokeRefreshTokens()
{
    call("POST", QStringLiteral("/test/revoke-refresh"));
}

void TestService::setUser(const QJsonObject &fields)
{
    call("POST", QStringLiteral("/test/user"), fields);
}
