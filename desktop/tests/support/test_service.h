#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QString>

// Runs corvana-test-service on a free loopback port for one test and talks
// to its test controls.
class TestService
{
public:
    TestService();
    ~TestService();
    TestService(const TestService &) = delete;
    TestService &operator=(const TestService &) = delete;

    // Starts the program and waits for its address; false when it did not come up.
    bool start();
    QString baseUrl() const { return m_baseUrl; }

    // Synchronous call to the service; the reply object (empty on failure).
    QJsonObject call(const QByteArray &method, const QString &path, const QJsonObject &body = {},
                     int *status = nullptr, const QString &bearer = {});
    // The same, with the reply body as it came (pictures).
    QByteArray callRaw(const QByteArray &method, const QString &path, const QJsonObject &body = {},
                       int *status = nullptr, const QString &bearer = {});

    // The next `count` calls of path answer as the rule says (see /test/next).
    void nextCall(const QString &path, const QJsonObject &rule);
    // Every call the service saw since the last reset.
    QJsonArray requests();
    // Requests whose path starts with a prefix, controls excluded.
    QJsonArray requestsTo(const QString &pathPrefix);
    void reset();
    void expireAccessTokens();
    void revokeRefreshTokens();
    void setUser(const QJsonObject &fields);

private:
    QProcess m_process;
    QNetworkAccessManager m_network;
    QString m_baseUrl;
};
