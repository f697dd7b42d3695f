// The REST core on its own: tokens, headers, the busy count and renewal.
#include "service/service_client.h"
#include "shell/logger.h"
#include "support/api_test_helpers.h"
#include "support/test_main.h"
#include "support/test_service.h"
#include "support/wait_bounds.h"

#include <QJsonDocument>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

QJsonObject lastCallTo(TestService &service, const QString &path)
{
    const QJsonArray calls = service.requestsTo(path);
    return calls.isEmpty() ? QJsonObject() : calls.last().toObject();
}

} // namespace

class ServiceClientTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestService> service;
    std::unique_ptr<ServiceClient> rest;

    bool signIn()
    {
        bool done = false;
        rest->request(QStringLiteral("POST"), QStringLiteral("/api/auth/login"),
                      {{QStringLiteral("username"), QStringLiteral("demo")},
                       {QStringLiteral("password"), QStringLiteral("demo1234")}},
                      [&](const QJsonObject &reply) {
                          rest->storeTokens(reply);
                          done = true;
                      },
                      RequestOptions{});
        return QTest::qWaitFor([&] { return done; }, kEventWaitMs) && !rest->accessToken().isEmpty();
    }

private slots:
    void initTestCase() { Logger::instance().init(); }

    void init()
    {
        service = std::make_unique<TestService>();
        QVERIFY(service->start());
        rest = std::make_unique<ServiceClient>();
        rest->setBaseUrl(service->baseUrl());
    }

    void cleanup()
    {
        rest.reset();
        service.reset();
    }

    void tokensChangeQuietlyAndEachCallCarriesTheOneItWasGiven()
    {
        QSignalSpy loggedIn(rest.get(), &ServiceClient::loggedInChanged);
        QVERIFY(signIn());
        QVERIFY(!rest->refreshToken().isEmpty());
        // The owner of the account announces sign-ins and sign-outs, not the core.
        QCOMPARE(loggedIn.count(), 0);

        rest->setLang(QStringLiteral("fa"));
        rest->postJson(QStringLiteral("/api/auth/motd"), {});
        rest->postJsonAs(QStringLiteral("/api/auth/logout"), {}, QStringLiteral("held-token"));
        QNetworkReply *bare = rest->postTimed(QStringLiteral("/api/auth/refresh"), {}, QString());
        QSignalSpy bareDone(bare, &QNetworkReply::finished);
        QVERIFY(bareDone.wait(kEventWaitMs));
        bare->deleteLater();
        QTRY_VERIFY_WITH_TIMEOUT(!lastCallTo(*service, QStringLiteral("/api/auth/logout")).isEmpty(), kEventWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!lastCallTo(*service, QStringLiteral("/api/auth/motd")).isEmpty(), kEventWaitMs);

        const auto header = [&](const char *path, const char *key) {
            return lastCallTo(*service, QString::fromLatin1(path)).value(QLatin1String(key)).toString();
        };
        QCOMPARE(header("/api/auth/motd", "authorization"), QStringLiteral("Bearer ") + rest->accessToken());
        QCOMPARE(header("/api/auth/logout", "authorization"), QStringLiteral("Bearer held-token"));
        QCOMPARE(header("/api/auth/refresh", "authorization"), QString());
        for (const char *path : {"/api/auth/motd", "/api/auth/logout", "/api/auth/refresh"})
            QCOMPARE(header(path, "x_lang"), QStringLiteral("fa"));

        rest->clearTokens();
        QVERIFY(rest->accessToken().isEmpty());
        QVERIFY(rest->refreshToken().isEmpty());
        QCOMPARE(loggedIn.count(), 0);
    }

    void fireAndForgetPostsLetGoOfTheirAnswer_data()
    {
        QTest::addColumn<QJsonObject>("rule");
        QTest::newRow("never answered") << QJsonObject{{QStringLiteral("hang"), true}};
        QTest::newRow("a body without end") << QJsonObject{{QStringLiteral("stream_bytes"), qint64(256) << 20}};
    }

    void fireAndForgetPostsLetGoOfTheirAnswer()
    {
        QFETCH(QJsonObject, rule);
        QVERIFY(signIn());
        rest->setTransferTimeout(300);
        const QString path = QStringLiteral("/api/vlans/v1/disconnect");
        service->nextCall(path, rule);
        rest->postJson(path, {});
        // The client closes the connection itself; the service would have gone on.
        QTRY_VERIFY_WITH_TIMEOUT(service->call("GET", QStringLiteral("/test/abandoned"))
                                     .value(QStringLiteral("items")).toArray().contains(path),
                                 kEventWaitMs);
    }

    void aGuardedCallHoldsBusyAndTurnsAwayASecond()
    {
        QVERIFY(signIn());
        service->nextCall(QStringLiteral("/api/auth/motd"), {{QStringLiteral("delay_ms"), 300}});
        QSignalSpy busy(rest.get(), &ServiceClient::busyChanged);
        int answers = 0;
        const RequestOptions guarded{true, false, false};
        for (int i = 0; i < 2; ++i)
            rest->request(QStringLiteral("GET"), QStringLiteral("/api/auth/motd"), {},
                          [&](const QJsonObject &) { ++answers; }, guarded);
        QVERIFY(rest->busy());
        QTRY_COMPARE_WITH_TIMEOUT(answers, 1, kEventWaitMs);
        QVERIFY(!rest->busy());
        QCOMPARE(busy.count(), 2);
        QCOMPARE(service->requestsTo(QStringLiteral("/api/auth/motd")).size(), 1);

        // A failed guarded call frees the count as well, and says why.
        service->nextCall(QStringLiteral("/api/auth/motd"),
                          {{QStringLiteral("status"), 500}, {QStringLiteral("detail"), QStringLiteral("down")}});
        QSignalSpy errors(rest.get(), &ServiceClient::requestError);
        rest->request(QStringLiteral("GET"), QStringLiteral("/api/auth/motd"), {},
                      [&](const QJsonObject &) { ++answers; }, guarded);
        QVERIFY(errors.wait(kEventWaitMs));
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("down"));
        QCOMPARE(answers, 1);
        QVERIFY(!rest->busy());
    }

    void aSlowAnswerComesWholeATricklingOneEndsAsAStallDoes()
    {
        const QString login = QStringLiteral("/api/auth/login");
        const QJsonObject credentials{{QStringLiteral("username"), QStringLiteral("demo")},
                                      {QStringLiteral("password"), QStringLiteral("demo1234")}};
        const RequestOptions guarded{true, false, false};
        QSignalSpy errors(rest.get(), &ServiceClient::requestError);
        // 16 KiB/s, a 128 kbit/s line: six seconds for the answer, twice the
        // (shortened) low-speed window.
        rest->setLowSpeedWindow(3000);
        const QString large(96 * 1024, u'm');
        service->nextCall(login, {{QStringLiteral("body"), QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("message"), large}}).toJson())},
                                  {QStringLiteral("bytes_per_second"), 16 * 1024}});
        QJsonObject answer;
        rest->request(QStringLiteral("POST"), login, credentials, [&](const QJsonObject &reply) { answer = reply; }, guarded);
        QTRY_VERIFY_WITH_TIMEOUT(!rest->busy(), kEventWaitMs);
        QCOMPARE(answer.value(QStringLiteral("message")).toString(), large);
        QCOMPARE(errors.count(), 0);

        // What the player is told when the service falls silent.
        rest->setTransferTimeout(300);
        service->nextCall(login, {{QStringLiteral("hang"), true}});
        rest->request(QStringLiteral("POST"), login, credentials, {}, guarded);
        QVERIFY(errors.wait(kEventWaitMs));
        const QString stalled = errors.takeFirst().at(0).toString();

        // One byte every 3 s never trips the silence limit.
        rest->setTransferTimeout(ServiceClient::kTransferTimeoutMs);
        rest->setLowSpeedWindow(4000);
        service->nextCall(login, {{QStringLiteral("trickle_ms"), 3000}});
        bool answered = false;
        rest->request(QStringLiteral("POST"), login, credentials, [&](const QJsonObject &) { answered = true; }, guarded);
        QVERIFY(rest->busy());
        QVERIFY(errors.wait(kEventWaitMs));
        QCOMPARE(errors.at(0).at(0).toString(), stalled);
        QVERIFY(!answered);
        // Free again, for the next call.
        QVERIFY(!rest->busy());
        QVERIFY(signIn());
    }

    void renewalReplaysWithTheNewTokenAndARefusalSignsOut()
    {
        QVERIFY(signIn());
        const QString oldToken = rest->accessToken();
        service->expireAccessTokens();
        QStringList order;
        connect(rest.get(), &ServiceClient::loggedInChanged, this, [&] { order << QStringLiteral("loggedIn"); });
        connect(rest.get(), &ServiceClient::tokenRotated, this, [&] {
            order << QStringLiteral("rotated:") + (rest->accessToken() != oldToken ? "new" : "old");
        });
        QJsonObject answer;
        rest->request(QStringLiteral("GET"), QStringLiteral("/api/auth/motd"), {},
                      [&](const QJsonObject &reply) { answer = reply; }, RequestOptions{false, true, false});
        QTRY_VERIFY_WITH_TIMEOUT(!answer.isEmpty(), kEventWaitMs);
        QCOMPARE(order, QStringList({"loggedIn", "rotated:new"}));
        QCOMPARE(lastCallTo(*service, QStringLiteral("/api/auth/motd")).value(QStringLiteral("authorization")).toString(),
                 QStringLiteral("Bearer ") + rest->accessToken());

        // Refused: both tokens go, the parked call is dropped, sign-in is asked for.
        service->expireAccessTokens();
        service->revokeRefreshTokens();
        order.clear();
        QSignalSpy authRequired(rest.get(), &ServiceClient::authRequired);
        bool replayed = false;
        rest->request(QStringLiteral("GET"), QStringLiteral("/api/auth/games"), {},
                      [&](const QJsonObject &) { replayed = true; }, RequestOptions{false, true, false});
        QVERIFY(authRequired.wait(kEventWaitMs));
        QCOMPARE(order, QStringList({"loggedIn"}));
        QVERIFY(rest->accessToken().isEmpty());
        QVERIFY(rest->refreshToken().isEmpty());
        QVERIFY(!replayed);
        QCOMPARE(service->requestsTo(QStringLiteral("/api/auth/games")).size(), 1);
    }
};

CORVANA_TEST_MAIN(ServiceClientTest)
#include "service_client_test.moc"
