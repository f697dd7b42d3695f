#include "service/api_client.h"
#include "shell/logger.h"
#include "support/api_fixture.h"
#include "support/api_test_helpers.h"
#include "support/log_file_text.h"
#include "support/test_main.h"
#include "support/test_service.h"
#include "support/wait_bounds.h"

#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

#include <memory>

class ApiClientCoreTest : public QObject, private ApiFixture
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Logger::instance().init();
        QVERIFY(QFile::exists(Logger::instance().filePath()));
    }

    void init() { QVERIFY(startFixture()); }

    void cleanup() { stopFixture(); }

    void settersNormaliseAndNotifyOnChange()
    {
        QSignalSpy langSpy(api.get(), &ApiClient::langChanged);
        QSignalSpy urlSpy(api.get(), &ApiClient::baseUrlChanged);
        QSignalSpy nameSpy(api.get(), &ApiClient::usernameChanged);
        QCOMPARE(api->lang(), QStringLiteral("en"));
        for (const QString &value : {QStringLiteral("FA"), QStringLiteral("de"), QString()})
            api->setLang(value);
        QCOMPARE(api->lang(), QStringLiteral("en"));
        QCOMPARE(langSpy.count(), 0);
        api->setLang(QStringLiteral("fa"));
        api->setLang(QStringLiteral("fa"));
        QCOMPARE(api->lang(), QStringLiteral("fa"));
        QCOMPARE(langSpy.count(), 1);
        api->setLang(QStringLiteral("Fa"));
        QCOMPARE(api->lang(), QStringLiteral("en"));
        QCOMPARE(langSpy.count(), 2);

        api->setBaseUrl(service->baseUrl());
        QCOMPARE(urlSpy.count(), 0);
        api->setBaseUrl(service->baseUrl() + QStringLiteral("/"));
        QCOMPARE(api->baseUrl(), service->baseUrl() + QStringLiteral("/"));
        QCOMPARE(urlSpy.count(), 1);

        api->setUsername(QStringLiteral("a"));
        api->setUsername(QStringLiteral("a"));
        QCOMPARE(nameSpy.count(), 1);
        QVERIFY(!ApiClient::defaultBaseUrl().isEmpty());
    }

    void headersOnEveryCall()
    {
        QVERIFY(signInDemo(*api));
        api->setLang(QStringLiteral("fa"));
        QSignalSpy motd(api.get(), &ApiClient::motdReceived);
        api->fetchMotd();
        QVERIFY(motd.wait(kEventWaitMs));

        const QJsonArray calls = service->requestsTo(QStringLiteral("/api/"));
        QCOMPARE(column(calls, "path"),
                 QStringList({QStringLiteral("/api/auth/login"), QStringLiteral("/api/auth/motd")}));
        QCOMPARE(column(calls, "x_lang"), QStringList({QStringLiteral("en"), QStringLiteral("fa")}));
        QCOMPARE(column(calls, "content_type"),
                 QStringList({QStringLiteral("application/json"), QStringLiteral("application/json")}));
        QCOMPARE(column(calls, "authorization"),
                 QStringList({QString(), QStringLiteral("Bearer ") + api->accessToken()}));
        QCOMPARE(column(calls, "method"), QStringList({QStringLiteral("POST"), QStringLiteral("GET")}));
        // The login body is the indented JSON form of the object.
        const QString body = calls.at(0).toObject().value(QStringLiteral("body")).toString();
        QVERIFY(body.contains(QLatin1Char('\n')));
        QCOMPARE(QJsonDocument::fromJson(body.toUtf8()).object(),
                 QJsonObject({{QStringLiteral("username"), QStringLiteral("demo")},
                              {QStringLiteral("password"), QStringLiteral("demo1234")}}));
    }

    void failureMessages()
    {
        QSignalSpy errors(api.get(), &ApiClient::requestError);
        QSignalSpy success(api.get(), &ApiClient::loginSuccess);
        api->login(QStringLiteral("demo"), QStringLiteral("wrong"));
        QVERIFY(errors.wait(kEventWaitMs));
        QCOMPARE(errors.takeFirst().at(0).toString(), QStringLiteral("Invalid username or password"));

        api->setLang(QStringLiteral("fa"));
        api->login(QStringLiteral("nobody"), QStringLiteral("wrong"));
        QVERIFY(errors.wait(kEventWaitMs));
        QCOMPARE(errors.takeFirst().at(0).toString(),
                 QStringLiteral("نام کاربری یا رمز عبور اشتباه است"));
        QVERIFY(!api->busy());
        QVERIFY(!api->loggedIn());

        // A validation reply whose "detail" is a list gives the network layer's text.
        service->nextCall(QStringLiteral("/api/auth/login"),
                          {{QStringLiteral("status"), 422},
                           {QStringLiteral("body"), QStringLiteral(R"({"detail":[{"msg":"x"}]})")}});
        api->login(QStringLiteral("demo"), QStringLiteral("demo1234"));
        QVERIFY(errors.wait(kEventWaitMs));
        const QString listMessage = errors.takeFirst().at(0).toString();
        QVERIFY2(listMessage.contains(QStringLiteral("server replied")), qPrintable(listMessage));
        QVERIFY(!listMessage.contains(QStringLiteral("msg")));

        // A body that is not JSON at all, on an error status.
        service->nextCall(QStringLiteral("/api/auth/login"),
                          {{QStringLiteral("status"), 502}, {QStringLiteral("body"), QStringLiteral("<html>")}});
        api->login(QStringLiteral("demo"), QStringLiteral("demo1234"));
        QVERIFY(errors.wait(kEventWaitMs));
        QVERIFY(errors.takeFirst().at(0).toString().contains(QStringLiteral("server replied")));
        QCOMPARE(success.count(), 0);
        QVERIFY(logFileText().contains(QStringLiteral("[ERR] api: request failed: /api/auth/login status=502 msg=")));
        QVERIFY(logFileText().contains(QStringLiteral(" body=<html>")));

        // Nobody listening at all.
        api->setBaseUrl(QStringLiteral("http://127.0.0.1:1"));
        api->fetchMotd();
        QVERIFY(errors.wait(kEventWaitMs));
        QVERIFY(!errors.takeFirst().at(0).toString().isEmpty());
    }

    void busyGuardAndSilentCalls()
    {
        QSignalSpy busy(api.get(), &ApiClient::busyChanged);
        QSignalSpy success(api.get(), &ApiClient::loginSuccess);
        QSignalSpy errors(api.get(), &ApiClient::requestError);
        api->login(QStringLiteral("demo"), QStringLiteral("demo1234"));
        QVERIFY(api->busy());
        api->login(QStringLiteral("demo"), QStringLiteral("demo1234"));
        api->registerUser(QStringLiteral("x@y"), QStringLiteral("newbie"), QStringLiteral("secret1"));
        QVERIFY(success.wait(kEventWaitMs));
        QTest::qWait(200); // give a wrongly sent second call the time to show up
        QCOMPARE(success.count(), 1);
        QCOMPARE(service->requestsTo(QStringLiteral("/api/auth/")).size(), 1);
        QVERIFY(!api->busy());
        QCOMPARE(busy.count(), 2);

        // Not guarded: calls run side by side and do not touch busy.
        QSignalSpy games(api.get(), &ApiClient::gamesReceived);
        api->fetchGames();
        api->fetchGames();
        QTRY_COMPARE_WITH_TIMEOUT(games.count(), 2, kEventWaitMs);
        QCOMPARE(busy.count(), 2);

        // The silent avatar fetch shows no error, only its own failure; the same failure elsewhere does.
        service->nextCall(QStringLiteral("/api/users/demo/avatar"), {{QStringLiteral("status"), 500},
                                                                     {QStringLiteral("detail"), QStringLiteral("boom")}});
        service->nextCall(QStringLiteral("/api/auth/motd"), {{QStringLiteral("status"), 500},
                                                             {QStringLiteral("detail"), QStringLiteral("boom")}});
        QSignalSpy failed(api.get(), &ApiClient::avatarFetchFailed);
        api->fetchAvatar(QStringLiteral("demo"));
        api->fetchMotd();
        QVERIFY(errors.wait(kEventWaitMs));
        QTest::qWait(100);
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, kEventWaitMs);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("boom"));
        QCOMPARE(service->requestsTo(QStringLiteral("/api/users/demo/avatar")).size(), 1);
    }

    void malformedAndSlowReplies()
    {
        QVERIFY(signInDemo(*api));
        // A 200 whose body is not JSON reads as an empty object.
        service->nextCall(QStringLiteral("/api/auth/motd"), {{QStringLiteral("malformed"), true}});
        QSignalSpy motd(api.get(), &ApiClient::motdReceived);
        api->fetchMotd();
        QVERIFY(motd.wait(kEventWaitMs));
        QCOMPARE(motd.takeFirst().at(0).toString(), QString());

        service->nextCall(QStringLiteral("/api/vlans/public"),
                          {{QStringLiteral("body"), QStringLiteral(R"({"items":{"a":1},"total":"9"})")}});
        QSignalSpy vlans(api.get(), &ApiClient::vlansReceived);
        api->fetchPublicVlans(1, 10, QString());
        QVERIFY(vlans.wait(kEventWaitMs));
        const QList<QVariant> args = vlans.takeFirst();
        QCOMPARE(args.at(0).toJsonArray(), QJsonArray());
        QCOMPARE(args.at(1).toInt(), 0);

        // A reply that never comes ends at the transfer time-out and frees busy.
        api->setTransferTimeoutForTesting(300);
        service->nextCall(QStringLiteral("/api/auth/change-password"), {{QStringLiteral("hang"), true}});
        QSignalSpy errors(api.get(), &ApiClient::requestError);
        api->changePassword(QStringLiteral("demo1234"), QStringLiteral("another1"));
        QVERIFY(api->busy());
        QVERIFY(errors.wait(kEventWaitMs));
        QVERIFY(!errors.at(0).at(0).toString().isEmpty());
        QVERIFY(!api->busy());

        // A slow reply inside the time-out still arrives.
        api->setTransferTimeoutForTesting(ApiClient::kTransferTimeoutMs);
        service->nextCall(QStringLiteral("/api/auth/motd"), {{QStringLiteral("delay_ms"), 400}});
        api->fetchMotd();
        QVERIFY(motd.wait(kEventWaitMs));
        QCOMPARE(motd.takeFirst().at(0).toString(), QStringLiteral("Welcome back, demo"));
    }

    void parkedCallsReplayAfterOneRefresh()
    {
        QVERIFY(signInDemo(*api));
        const QString oldAccess = api->accessToken();
        const QString oldRefresh = api->refreshToken();
        service->expireAccessTokens();
        service->reset();
        // The refresh is slow so all three 401s park; their answers arrive
        // games first, then announcements, then motd, well before it.
        service->nextCall(QStringLiteral("/api/auth/refresh"), {{QStringLiteral("delay_ms"), 3000}});
        service->nextCall(QStringLiteral("/api/auth/motd"), {{QStringLiteral("delay_ms"), 700}});
        service->nextCall(QStringLiteral("/api/auth/announcements"), {{QStringLiteral("delay_ms"), 350}});

        QStringList order;
        connect(api.get(), &ApiClient::loggedInChanged, this, [&] { order << QStringLiteral("loggedIn"); });
        connect(api.get(), &ApiClient::tokenRotated, this, [&] { order << QStringLiteral("rotated"); });
        connect(api.get(), &ApiClient::motdReceived, this, [&] { order << QStringLiteral("motd"); });
        connect(api.get(), &ApiClient::gamesReceived, this, [&] { order << QStringLiteral("games"); });
        connect(api.get(), &ApiClient::announcementsReceived, this,
                [&] { order << QStringLiteral("announcements"); });
        QSignalSpy errors(api.get(), &ApiClient::requestError);
        QSignalSpy authRequired(api.get(), &ApiClient::authRequired);

        api->fetchMotd();
        api->fetchAnnouncements();
        api->fetchGames();
        QTRY_COMPARE_WITH_TIMEOUT(order.size(), 5, kEventWaitMs);
        QCOMPARE(order.mid(0, 2), QStringList({QStringLiteral("loggedIn"), QStringLiteral("rotated")}));
        QCOMPARE(errors.count(), 0);
        QCOMPARE(authRequired.count(), 0);
        QVERIFY(api->accessToken() != oldAccess);
        QVERIFY(api->refreshToken() != oldRefresh);

        // One refresh, without the old access token; the three calls before it
        // with the old token and again after it with the new one. The replays
        // leave together on separate connections, so the service may take
        // them in any order.
        const QJsonArray calls = service->requestsTo(QStringLiteral("/api/"));
        QCOMPARE(calls.size(), 7);
        const QStringList paths = column(calls, "path");
        QCOMPARE(paths.count(QStringLiteral("/api/auth/refresh")), 1);
        const qsizetype at = paths.indexOf(QStringLiteral("/api/auth/refresh"));
        const QJsonObject refresh = calls.at(at).toObject();
        QCOMPARE(refresh.value(QStringLiteral("authorization")).toString(), QString());
        QCOMPARE(refresh.value(QStringLiteral("x_lang")).toString(), QStringLiteral("en"));
        QCOMPARE(QJsonDocument::fromJson(refresh.value(QStringLiteral("body")).toString().toUtf8()).object(),
                 QJsonObject({{QStringLiteral("refresh_token"), oldRefresh}}));
        const QStringList three{QStringLiteral("/api/auth/announcements"), QStringLiteral("/api/auth/games"),
                                QStringLiteral("/api/auth/motd")};
        QStringList replayed = paths.mid(at + 1);
        replayed.sort();
        QCOMPARE(replayed, three);
        const QString bearer = QStringLiteral("Bearer ") + api->accessToken();
        for (int i = 0; i < calls.size(); ++i) {
            const QString sent = calls.at(i).toObject().value(QStringLiteral("authorization")).toString();
            if (i > at)
                QCOMPARE(sent, bearer);
            else if (i < at)
                QCOMPARE(sent, QStringLiteral("Bearer ") + oldAccess);
        }
    }

    void busyHeldWhileParked()
    {
        QVERIFY(signInDemo(*api));
        service->expireAccessTokens();
        service->nextCall(QStringLiteral("/api/auth/refresh"), {{QStringLiteral("delay_ms"), 500}});
        service->nextCall(QStringLiteral("/api/auth/change-password"), {{QStringLiteral("delay_ms"), 500}, {QStringLiteral("count"), 2}});
        QSignalSpy changed(api.get(), &ApiClient::passwordChanged);
        QSignalSpy refreshRequests(api.get(), &ApiClient::tokenRotated);
        api->changePassword(QStringLiteral("demo1234"), QStringLiteral("another1"));
        QVERIFY(api->busy());
        QVERIFY(refreshRequests.wait(kEventWaitMs));
        // The refresh is done and the call re-sent: busy is already free.
        QVERIFY(!api->busy());
        QCOMPARE(changed.count(), 0);
        QVERIFY(changed.wait(kEventWaitMs));
        QCOMPARE(changed.at(0).at(0).toString(), QStringLiteral("Password changed"));
        QVERIFY(!api->busy());
    }

    void replayedCallFailingAgainIsReported()
    {
        QVERIFY(signInDemo(*api));
        service->nextCall(QStringLiteral("/api/auth/motd"),
                          {{QStringLiteral("status"), 401}, {QStringLiteral("detail"), QStringLiteral("still no")},
                           {QStringLiteral("count"), 2}});
        QSignalSpy errors(api.get(), &ApiClient::requestError);
        QSignalSpy rotated(api.get(), &ApiClient::tokenRotated);
        api->fetchMotd();
        QVERIFY(errors.wait(kEventWaitMs));
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("still no"));
        QCOMPARE(rotated.count(), 1);
        QCOMPARE(service->requestsTo(QStringLiteral("/api/auth/refresh")).size(), 1);

        // Without a refresh token a 401 is an ordinary failure.
        ApiClient fresh;
        fresh.setBaseUrl(service->baseUrl());
        QSignalSpy freshErrors(&fresh, &ApiClient::requestError);
        fresh.fetchMotd();
        QVERIFY(freshErrors.wait(kEventWaitMs));
        QCOMPARE(freshErrors.at(0).at(0).toString(), QStringLiteral("Not authenticated"));
        QCOMPARE(service->requestsTo(QStringLiteral("/api/auth/refresh")).size(), 1);
    }

    void rejectedRefreshSignsOut()
    {
        QVERIFY(signInDemo(*api));
        service->expireAccessTokens();
        service->revokeRefreshTokens();
        // The refusal comes late, so both calls' 401s have parked by then.
        service->nextCall(QStringLiteral("/api/auth/refresh"), {{QStringLiteral("delay_ms"), 3000}});
        QSignalSpy authRequired(api.get(), &ApiClient::authRequired);
        QSignalSpy errors(api.get(), &ApiClient::requestError);
        QSignalSpy motd(api.get(), &ApiClient::motdReceived);
        QSignalSpy loggedIn(api.get(), &ApiClient::loggedInChanged);
        api->fetchMotd();
        api->fetchGames();
        QVERIFY(authRequired.wait(kEventWaitMs));
        QTest::qWait(200);
        QCOMPARE(authRequired.count(), 1);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(motd.count(), 0);
        QVERIFY(!api->loggedIn());
        QVERIFY(api->refreshToken().isEmpty());
        QVERIFY(loggedIn.count() >= 1);
        QVERIFY(logFileText().contains(QStringLiteral("[WRN] auth: refresh rejected by server \u2014 tokens invalidated")));

        // 403 is a rejection too.
        QVERIFY(signInDemo(*api));
        service->expireAccessTokens();
        service->nextCall(QStringLiteral("/api/auth/refresh"), {{QStringLiteral("status"), 403}});
        api->fetchMotd();
        QVERIFY(authRequired.wait(kEventWaitMs));
        QVERIFY(!api->loggedIn());
    }

    void transientRefreshFailureKeepsTokens()
    {
        QVERIFY(signInDemo(*api));
        const QString refresh = api->refreshToken();
        service->expireAccessTokens();
        service->nextCall(QStringLiteral("/api/auth/refresh"), {{QStringLiteral("status"), 500}});
        QSignalSpy errors(api.get(), &ApiClient::requestError);
        QSignalSpy authRequired(api.get(), &ApiClient::authRequired);
        api->fetchMotd();
        QVERIFY(errors.wait(kEventWaitMs));
        QCOMPARE(errors.takeFirst().at(0).toString(), QStringLiteral("Server connection error"));
        QCOMPARE(api->refreshToken(), refresh);
        QVERIFY(api->loggedIn());
        QVERIFY(logFileText().contains(QStringLiteral("[WRN] auth: refresh transient error status=500 \u2014 keeping tokens")));

        // No answer at all takes the same road, in Persian when asked.
        api->setLang(QStringLiteral("fa"));
        api->setTransferTimeoutForTesting(300);
        service->nextCall(QStringLiteral("/api/auth/refresh"), {{QStringLiteral("hang"), true}});
        api->fetchMotd();
        QVERIFY(errors.wait(kEventWaitMs));
        QCOMPARE(errors.takeFirst().at(0).toString(), QStringLiteral("خطا در ارتباط با سرور"));
        QCOMPARE(api->refreshToken(), refresh);
        QVERIFY(logFileText().contains(QStringLiteral("refresh transient error status=0")));

        // The tokens still work once the service is back.
        api->setTransferTimeoutForTesting(ApiClient::kTransferTimeoutMs);
        QSignalSpy motd(api.get(), &ApiClient::motdReceived);
        api->fetchMotd();
        QVERIFY(motd.wait(kEventWaitMs));
        QCOMPARE(authRequired.count(), 0);
    }

    void unusableSuccessReplies()
    {
        // A login "success" without tokens is reported, not taken as a sign-in.
        QSignalSpy errors(api.get(), &ApiClient::requestError);
        QSignalSpy success(api.get(), &ApiClient::loginSuccess);
        service->nextCall(QStringLiteral("/api/auth/login"), {{QStringLiteral("body"), QStringLiteral("{}")}});
        api->login(QStringLiteral("demo"), QStringLiteral("demo1234"));
        QVERIFY(errors.wait(kEventWaitMs));
        QCOMPARE(errors.takeFirst().at(0).toString(), QStringLiteral("Invalid response from server"));
        QCOMPARE(success.count(), 0);
        QVERIFY(!api->loggedIn());
        QVERIFY(!api->busy());

        // A refresh "success" without tokens keeps the old ones.
        QVERIFY(signInDemo(*api));
        const QString refresh = api->refreshToken();
        service->expireAccessTokens();
        service->nextCall(QStringLiteral("/api/auth/refresh"), {{QStringLiteral("body"), QStringLiteral("[]")}});
        QSignalSpy rotated(api.get(), &ApiClient::tokenRotated);
        api->fetchMotd();
        QVERIFY(errors.wait(kEventWaitMs));
        QCOMPARE(errors.takeFirst().at(0).toString(), QStringLiteral("Server connection error"));
        QCOMPARE(api->refreshToken(), refresh);
        QCOMPARE(rotated.count(), 0);

        // A huge reply is cut off instead of being read into memory whole.
        service->call("POST", QStringLiteral("/test/expire-access"));
        QSignalSpy motd(api.get(), &ApiClient::motdReceived);
        service->nextCall(QStringLiteral("/api/auth/motd"),
                          {{QStringLiteral("body"), QStringLiteral("0123456789abcdef")},
                           {QStringLiteral("body_repeat"), int(ApiClient::kMaxReplyBytes / 16) + 256}});
        QVERIFY(signInDemo(*api));
        api->fetchMotd();
        QVERIFY(errors.wait(kEventWaitMs));
        QCOMPARE(motd.count(), 0);
        QCOMPARE(errors.takeFirst().at(0).toString(), QStringLiteral("Server response too large"));
    }

    void failedManualRefreshDropsParkedCalls()
    {
        QVERIFY(signInDemo(*api));
        service->expireAccessTokens();
        service->nextCall(QStringLiteral("/api/auth/refresh"),
                          {{QStringLiteral("status"), 401}, {QStringLiteral("delay_ms"), 3000}});
        QSignalSpy authRequired(api.get(), &ApiClient::authRequired);
        QSignalSpy motd(api.get(), &ApiClient::motdReceived);
        QSignalSpy games(api.get(), &ApiClient::gamesReceived);
        api->refresh(api->refreshToken());
        api->fetchMotd(); // its 401 parks behind the refresh in flight
        QVERIFY(authRequired.wait(kEventWaitMs));
        QCOMPARE(authRequired.count(), 1);

        QVERIFY(signInDemo(*api));
        service->expireAccessTokens();
        service->reset();
        api->fetchGames();
        QVERIFY(games.wait(kEventWaitMs));
        QTest::qWait(200);
        QCOMPARE(motd.count(), 0);
        QCOMPARE(column(service->requestsTo(QStringLiteral("/api/")), "path"),
                 QStringList({QStringLiteral("/api/auth/games"), QStringLiteral("/api/auth/refresh"),
                              QStringLiteral("/api/auth/games")}));
    }

    void destroyedWithCallsOutstanding()
    {
        // Replies still open when the client goes away are abandoned quietly.
        QVERIFY(signInDemo(*api));
        service->expireAccessTokens();
        service->nextCall(QStringLiteral("/api/auth/refresh"), {{QStringLiteral("hang"), true}});
        service->nextCall(QStringLiteral("/api/auth/announcements"), {{QStringLiteral("hang"), true}});
        api->fetchMotd();           // 401, parks behind a refresh that never answers
        api->fetchAnnouncements();  // never answered
        QTRY_COMPARE_WITH_TIMEOUT(service->requestsTo(QStringLiteral("/api/auth/refresh")).size(), 1, kEventWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(service->requestsTo(QStringLiteral("/api/auth/announcements")).size(), 1, kEventWaitMs);
        service->nextCall(QStringLiteral("/api/auth/logout"), {{QStringLiteral("hang"), true}});
        api->logout(); // its notice is never answered either
        QTRY_COMPARE_WITH_TIMEOUT(service->requestsTo(QStringLiteral("/api/auth/logout")).size(), 1, kEventWaitMs);
        bool signalled = false;
        connect(api.get(), &ApiClient::requestError, this, [&] { signalled = true; });
        connect(api.get(), &ApiClient::authRequired, this, [&] { signalled = true; });
        api.reset();
        QTest::qWait(200);
        QVERIFY(!signalled);
    }

    void repliesOfAnEarlierSignInAreDropped()
    {
        QVERIFY(signInDemo(*api));
        // Answered only once the player has signed out and in again.
        const QJsonObject held{{QStringLiteral("hold"), true}};
        service->nextCall(QStringLiteral("/api/auth/motd"),
                          {{QStringLiteral("hold"), true}, {QStringLiteral("body"), QStringLiteral(R"({"message":"stale"})")}});
        service->nextCall(QStringLiteral("/api/vlans/public"), held);
        service->nextCall(QStringLiteral("/api/users/me/avatar"), held);
        api->fetchMotd();
        api->fetchPublicVlans(1, 5, QString());
        api->setMyAvatar(3);
        QTRY_COMPARE_WITH_TIMEOUT(service->requestsTo(QStringLiteral("/api/")).size(), 4, kEventWaitMs);
        api->logout();
        QVERIFY(signInDemo(*api));

        QSignalSpy motd(api.get(), &ApiClient::motdReceived);
        QSignalSpy vlans(api.get(), &ApiClient::vlansReceived);
        QSignalSpy avatar(api.get(), &ApiClient::avatarChangeSuccess);
        QCOMPARE(service->call("POST", QStringLiteral("/test/release")).value(QStringLiteral("released")).toInt(), 3);
        // Asked for by this sign-in: the answers it waits for, behind the released ones.
        api->fetchMotd();
        api->fetchPublicVlans(2, 5, QString());
        QTRY_VERIFY_WITH_TIMEOUT(!motd.isEmpty() && !vlans.isEmpty(), kEventWaitMs);
        QTest::qWait(200);
        QCOMPARE(motd.size(), 1);
        QCOMPARE(motd.at(0).at(0).toString(), QStringLiteral("Welcome back, demo"));
        QCOMPARE(vlans.size(), 1);
        QCOMPARE(vlans.at(0).at(2).toInt(), 2);
        QCOMPARE(avatar.size(), 0);
        QVERIFY(!api->busy());
    }

    void manualRefreshJoinsTheOneInFlight()
    {
        QVERIFY(signInDemo(*api));
        service->expireAccessTokens();
        // Slow enough that the manual refresh below is asked for while this one is in flight.
        service->nextCall(QStringLiteral("/api/auth/refresh"), {{QStringLiteral("delay_ms"), 3000}});
        QSignalSpy motd(api.get(), &ApiClient::motdReceived);
        QSignalSpy success(api.get(), &ApiClient::refreshSuccess);
        QSignalSpy authRequired(api.get(), &ApiClient::authRequired);
        api->fetchMotd();
        QTRY_COMPARE_WITH_TIMEOUT(service->requestsTo(QStringLiteral("/api/auth/refresh")).size(), 1, kEventWaitMs);
        api->refresh(api->refreshToken());
        QVERIFY(success.wait(kEventWaitMs));
        QTRY_COMPARE_WITH_TIMEOUT(motd.count(), 1, kEventWaitMs);
        QCOMPARE(authRequired.count(), 0);
        QVERIFY(api->loggedIn());
        QVERIFY(!api->busy());
        QCOMPARE(service->requestsTo(QStringLiteral("/api/auth/refresh")).size(), 1);
    }

    void refreshInvokable()
    {
        QSignalSpy authRequired(api.get(), &ApiClient::authRequired);
        QSignalSpy success(api.get(), &ApiClient::refreshSuccess);
        QSignalSpy busy(api.get(), &ApiClient::busyChanged);
        api->refresh(QString());
        QCOMPARE(authRequired.count(), 1);
        QVERIFY(!api->busy());
        QCOMPARE(service->requestsTo(QStringLiteral("/api/")).size(), 0);

        QVERIFY(signInDemo(*api));
        const QString kept = api->refreshToken();
        ApiClient later;
        later.setBaseUrl(service->baseUrl());
        QSignalSpy laterSuccess(&later, &ApiClient::refreshSuccess);
        QSignalSpy laterRotated(&later, &ApiClient::tokenRotated);
        later.refresh(kept);
        QVERIFY(later.busy());
        QVERIFY(laterSuccess.wait(kEventWaitMs));
        QVERIFY(!later.busy());
        QCOMPARE(laterRotated.count(), 1);
        QVERIFY(later.loggedIn());
        QVERIFY(later.refreshToken() != kept);

        // The spent token is refused by the service's rotation.
        ApiClient third;
        third.setBaseUrl(service->baseUrl());
        QSignalSpy thirdAuth(&third, &ApiClient::authRequired);
        third.refresh(kept);
        QVERIFY(thirdAuth.wait(kEventWaitMs));
        QVERIFY(!third.loggedIn());
        QVERIFY(logFileText().contains(QStringLiteral("[INF] auth: refresh token attempt")));
    }
};

CORVANA_TEST_MAIN(ApiClientCoreTest)
#include "api_client_core_test.moc"
