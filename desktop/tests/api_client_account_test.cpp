#include "service/api_client.h"
#include "service/list_bounds.h"
#include "session/credential_store.h"
#include "shell/logger.h"
#include "support/api_fixture.h"
#include "support/api_test_helpers.h"
#include "support/log_file_text.h"
#include "support/test_main.h"
#include "support/test_service.h"
#include "support/wait_bounds.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>

class ApiClientAccountTest : public QObject, private ApiFixture
{
    Q_OBJECT

private:
    // What the service itself answers, to compare with what reaches QML.
    QJsonArray direct(const QString &path)
    {
        return service->call("GET", path, {}, nullptr, api->accessToken())
            .value(QStringLiteral("items"))
            .toArray();
    }

    QString lastPath()
    {
        const QJsonArray calls = service->requestsTo(QStringLiteral("/api/"));
        return calls.isEmpty() ? QString()
                               : calls.last().toObject().value(QStringLiteral("path")).toString();
    }

private slots:
    void initTestCase() { Logger::instance().init(); }

    void init() { QVERIFY(startFixture()); }

    void cleanup() { stopFixture(); }

    void loginStoresTokensAndPassword()
    {
        CredentialStore::removeCredentials();
        QSignalSpy user(api.get(), &ApiClient::usernameChanged);
        QSignalSpy loggedIn(api.get(), &ApiClient::loggedInChanged);
        QSignalSpy success(api.get(), &ApiClient::loginSuccess);
        // The service spells the name its own way; that spelling is kept.
        api->login(QStringLiteral("DEMO"), QStringLiteral("demo1234"));
        QVERIFY(success.wait(kEventWaitMs));
        QCOMPARE(success.at(0).at(0).toString(), QStringLiteral("demo"));
        QCOMPARE(api->username(), QStringLiteral("demo"));
        QCOMPARE(user.count(), 1);
        QCOMPARE(loggedIn.count(), 1);
        QVERIFY(!api->refreshToken().isEmpty());
        QCOMPARE(CredentialStore::loadPassword(QStringLiteral("demo")), QStringLiteral("demo1234"));
        QVERIFY(logFileText().contains(QStringLiteral("[INF] auth: login attempt: DEMO")));
        QVERIFY(logFileText().contains(QStringLiteral("[INF] auth: login success: demo")));
    }

    void registerUserAndItsFailures()
    {
        QSignalSpy success(api.get(), &ApiClient::registerSuccess);
        QSignalSpy logins(api.get(), &ApiClient::loginSuccess);
        QSignalSpy errors(api.get(), &ApiClient::requestError);
        api->registerUser(QStringLiteral("n@example.com"), QStringLiteral("Newbie"), QStringLiteral("secret1"));
        QVERIFY(success.wait(kEventWaitMs));
        QCOMPARE(success.at(0).at(0).toString(), QStringLiteral("Newbie"));
        QCOMPARE(logins.count(), 0);
        QVERIFY(api->loggedIn());
        QCOMPARE(CredentialStore::loadPassword(QStringLiteral("Newbie")), QStringLiteral("secret1"));
        QVERIFY(logFileText().contains(QStringLiteral("[INF] auth: register success: Newbie")));

        ApiClient other;
        other.setBaseUrl(service->baseUrl());
        QSignalSpy otherErrors(&other, &ApiClient::requestError);
        other.registerUser(QStringLiteral("d@example.com"), QStringLiteral("demo"), QStringLiteral("secret1"));
        QVERIFY(otherErrors.wait(kEventWaitMs));
        QCOMPARE(otherErrors.takeFirst().at(0).toString(), QStringLiteral("Username already taken"));
        other.setLang(QStringLiteral("fa"));
        other.registerUser(QStringLiteral("d@example.com"), QStringLiteral("demo"), QStringLiteral("secret1"));
        QVERIFY(otherErrors.wait(kEventWaitMs));
        QCOMPARE(otherErrors.takeFirst().at(0).toString(), QStringLiteral("این نام کاربری قبلا گرفته شده است"));
        QVERIFY(!other.loggedIn());
        QCOMPARE(errors.count(), 0);
    }

    void logoutClearsEverythingInOrder()
    {
        QVERIFY(signInDemo(*api));
        service->setUser({{QStringLiteral("username"), QStringLiteral("demo")}, {QStringLiteral("vip"), true}});
        QSignalSpy me(api.get(), &ApiClient::meReceived);
        api->fetchMe();
        QVERIFY(me.wait(kEventWaitMs));
        QVERIFY(api->isAdmin());
        const QString refresh = api->refreshToken();
        const QString access = api->accessToken();
        service->reset();

        QStringList order;
        connect(api.get(), &ApiClient::isAdminChanged, this, [&] { order << QStringLiteral("isAdmin"); });
        connect(api.get(), &ApiClient::usernameChanged, this, [&] { order << QStringLiteral("username"); });
        connect(api.get(), &ApiClient::loggedInChanged, this, [&] { order << QStringLiteral("loggedIn"); });
        connect(api.get(), &ApiClient::logoutDone, this, [&] { order << QStringLiteral("done"); });
        api->logout();
        QCOMPARE(order, QStringList({QStringLiteral("isAdmin"), QStringLiteral("username"),
                                     QStringLiteral("loggedIn"), QStringLiteral("done")}));
        QVERIFY(!api->loggedIn());
        QVERIFY(!api->isAdmin());
        QVERIFY(api->username().isEmpty());
        QVERIFY(api->refreshToken().isEmpty());
        QVERIFY(CredentialStore::loadPassword(QStringLiteral("demo")).isEmpty());

        QTRY_COMPARE_WITH_TIMEOUT(service->requestsTo(QStringLiteral("/api/auth/logout")).size(), 1, kEventWaitMs);
        const QJsonObject notice = service->requestsTo(QStringLiteral("/api/auth/logout")).at(0).toObject();
        QCOMPARE(notice.value(QStringLiteral("authorization")).toString(), QStringLiteral("Bearer ") + access);
        QCOMPARE(QJsonDocument::fromJson(notice.value(QStringLiteral("body")).toString().toUtf8()).object(),
                 QJsonObject({{QStringLiteral("refresh_token"), refresh}}));
        // The service spent the token.
        int status = 0;
        service->call("POST", QStringLiteral("/api/auth/refresh"), {{QStringLiteral("refresh_token"), refresh}}, &status);
        QCOMPARE(status, 401);

        // Signed out already: nothing is sent, the signals still come.
        order.clear();
        service->reset();
        api->logout();
        QCOMPARE(order, QStringList({QStringLiteral("username"), QStringLiteral("loggedIn"), QStringLiteral("done")}));
        QTest::qWait(200);
        QCOMPARE(service->requestsTo(QStringLiteral("/api/")).size(), 0);
    }

    void meSetsAdminOnlyOnChange()
    {
        QVERIFY(signInDemo(*api));
        QSignalSpy me(api.get(), &ApiClient::meReceived);
        QSignalSpy admin(api.get(), &ApiClient::isAdminChanged);
        QSignalSpy user(api.get(), &ApiClient::usernameChanged);
        api->fetchMe();
        QVERIFY(me.wait(kEventWaitMs));
        QCOMPARE(admin.count(), 0);
        service->setUser({{QStringLiteral("username"), QStringLiteral("demo")}, {QStringLiteral("vip"), true}});
        api->fetchMe();
        QVERIFY(me.wait(kEventWaitMs));
        api->fetchMe();
        QVERIFY(me.wait(kEventWaitMs));
        QCOMPARE(admin.count(), 1);
        QVERIFY(api->isAdmin());
        const QList<QVariant> args = me.last();
        QCOMPARE(args.at(0).toString(), QStringLiteral("demo"));
        QCOMPARE(args.at(3).toBool(), true);

        // No "vip" at all reads as false.
        service->nextCall(QStringLiteral("/api/auth/me"),
                          {{QStringLiteral("body"), QStringLiteral(R"({"username":"someone else"})")}});
        api->fetchMe();
        QVERIFY(me.wait(kEventWaitMs));
        QVERIFY(!api->isAdmin());
        QCOMPARE(admin.count(), 2);
        QCOMPARE(me.last().at(0).toString(), QStringLiteral("someone else"));
        QCOMPARE(me.last().at(1).toString(), QString());
        QCOMPARE(api->username(), QStringLiteral("demo"));
        QCOMPARE(user.count(), 0);
    }

    void cataloguePayloadsPassUnchanged()
    {
        QVERIFY(signInDemo(*api));
        QSignalSpy games(api.get(), &ApiClient::gamesReceived);
        QSignalSpy announcements(api.get(), &ApiClient::announcementsReceived);
        QSignalSpy dedicated(api.get(), &ApiClient::dedicatedGamesReceived);
        QSignalSpy servers(api.get(), &ApiClient::dedicatedGameServersReceived);
        QSignalSpy pictures(api.get(), &ApiClient::pfpListReceived);
        QSignalSpy motd(api.get(), &ApiClient::motdReceived);

        api->fetchGames();
        QVERIFY(games.wait(kEventWaitMs));
        QCOMPARE(games.at(0).at(0).toJsonArray(), direct(QStringLiteral("/api/auth/games")));
        QVERIFY(!games.at(0).at(0).toJsonArray().isEmpty());

        api->fetchAnnouncements();
        QVERIFY(announcements.wait(kEventWaitMs));
        QCOMPARE(announcements.at(0).at(0).toJsonArray(), direct(QStringLiteral("/api/auth/announcements")));

        api->fetchDedicatedGames();
        QVERIFY(dedicated.wait(kEventWaitMs));
        QCOMPARE(dedicated.at(0).at(0).toJsonArray(), direct(QStringLiteral("/api/games/dedicated")));
        QVERIFY(logFileText().contains(QStringLiteral("[DBG] api: dedicated games raw: {\"items\":[")));

        api->fetchDedicatedGameServers(QStringLiteral("mc java"));
        QVERIFY(servers.wait(kEventWaitMs));
        QCOMPARE(lastPath(), QStringLiteral("/api/games/mc%20java/servers"));
        QCOMPARE(servers.at(0).at(0).toString(), QStringLiteral("mc java"));
        QCOMPARE(servers.at(0).at(1).toJsonArray(), direct(QStringLiteral("/api/games/mc%20java/servers")));

        api->fetchPfpList();
        QVERIFY(pictures.wait(kEventWaitMs));
        QCOMPARE(pictures.at(0).at(0).toJsonArray(), direct(QStringLiteral("/api/pfp/list")));

        api->fetchMotd();
        QVERIFY(motd.wait(kEventWaitMs));
        QCOMPARE(motd.at(0).at(0).toString(), QStringLiteral("Welcome back, demo"));

        // Items are handed on whatever their shape.
        const QString odd = QStringLiteral(R"({"items":[1,"two",{"x":null},[3]]})");
        service->nextCall(QStringLiteral("/api/auth/games"), {{QStringLiteral("body"), odd}});
        api->fetchGames();
        QVERIFY(games.wait(kEventWaitMs));
        QCOMPARE(games.at(1).at(0).toJsonArray(),
                 QJsonDocument::fromJson(odd.toUtf8()).object().value(QStringLiteral("items")).toArray());
    }

    // A list longer than its bound reaches QML cut to its first entries, with a warning.
    void longListsAreCutToTheirBound_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("bound");
        QTest::addColumn<QByteArray>("signal");
        QTest::addColumn<int>("argument");
        QTest::addColumn<QString>("what");
        const auto row = [](const char *name, const char *path, qsizetype bound, const char *signal,
                            int argument) {
            QTest::newRow(name) << QString::fromLatin1(path) << int(bound) << QByteArray(signal) << argument
                                << QString::fromLatin1(name);
        };
        row("announcements", "/api/auth/announcements", ListBounds::kAnnouncements,
            SIGNAL(announcementsReceived(QJsonArray)), 0);
        row("games", "/api/auth/games", ListBounds::kGames, SIGNAL(gamesReceived(QJsonArray)), 0);
        row("dedicated games", "/api/games/dedicated", ListBounds::kGames,
            SIGNAL(dedicatedGamesReceived(QJsonArray)), 0);
        row("dedicated servers", "/api/games/cs2/servers", ListBounds::kDedicatedServers,
            SIGNAL(dedicatedGameServersReceived(QString, QJsonArray)), 1);
        row("public rooms", "/api/vlans/public", ListBounds::kRoomsOnAPage,
            SIGNAL(vlansReceived(QJsonArray, int, int, int)), 0);
        row("pictures", "/api/pfp/list", ListBounds::kPictures, SIGNAL(pfpListReceived(QJsonArray)), 0);
    }
    void longListsAreCutToTheirBound()
    {
        QFETCH(QString, path);
        QFETCH(int, bound);
        QFETCH(QByteArray, signal);
        QFETCH(int, argument);
        QFETCH(QString, what);
        QVERIFY(signInDemo(*api));
        QJsonArray many;
        for (int i = 0; i < bound + 30; ++i)
            many.append(QJsonObject{{QStringLiteral("id"), i + 1}});
        service->nextCall(path, {{QStringLiteral("body"),
                                  QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("items"), many}})
                                                        .toJson(QJsonDocument::Compact))}});
        QSignalSpy received(api.get(), signal.constData());
        const QHash<QString, std::function<void()>> calls{
            {QStringLiteral("announcements"), [&] { api->fetchAnnouncements(); }},
            {QStringLiteral("games"), [&] { api->fetchGames(); }},
            {QStringLiteral("dedicated games"), [&] { api->fetchDedicatedGames(); }},
            {QStringLiteral("dedicated servers"), [&] { api->fetchDedicatedGameServers(QStringLiteral("cs2")); }},
            {QStringLiteral("public rooms"), [&] { api->fetchPublicVlans(0, 10, QString()); }},
            {QStringLiteral("pictures"), [&] { api->fetchPfpList(); }}};
        calls.value(what)();
        QVERIFY(received.wait(kEventWaitMs));
        const QJsonArray shown = received.at(0).at(argument).toJsonArray();
        QCOMPARE(shown.size(), bound);
        QCOMPARE(shown.first().toObject().value(QStringLiteral("id")).toInt(), 1);
        QCOMPARE(shown.last().toObject().value(QStringLiteral("id")).toInt(), bound);
        QVERIFY(logFileText().contains(QStringLiteral("[WRN] api: %1: %2 entries in the reply, only the first %3 kept")
                                           .arg(what).arg(bound + 30).arg(bound)));
    }

    void publicVlanPaging()
    {
        QVERIFY(signInDemo(*api));
        QSignalSpy vlans(api.get(), &ApiClient::vlansReceived);
        api->fetchPublicVlans(2, 20, QString());
        QVERIFY(vlans.wait(kEventWaitMs));
        QCOMPARE(lastPath(), QStringLiteral("/api/vlans/public?page=2&page_size=20"));
        QList<QVariant> args = vlans.takeFirst();
        QCOMPARE(args.at(0).toJsonArray(), direct(QStringLiteral("/api/vlans/public?page=2&page_size=20")));
        // Pages count from 0: page 2 of 20 is the last five of 45.
        QCOMPARE(args.at(0).toJsonArray().size(), 5);
        QCOMPARE(args.at(1).toInt(), 45);
        QCOMPARE(args.at(2).toInt(), 2);
        QCOMPARE(args.at(3).toInt(), 3);

        api->fetchPublicVlans(1, 3, QStringLiteral("Might & M"));
        QVERIFY(vlans.wait(kEventWaitMs));
        QCOMPARE(lastPath(), QStringLiteral("/api/vlans/public?page=1&page_size=3&search=Might%20%26%20M"));
        args = vlans.takeFirst();
        const QJsonArray items = args.at(0).toJsonArray();
        QCOMPARE(items.size(), 2);
        for (const QJsonValue &item : items)
            QVERIFY(item.toObject().value(QStringLiteral("name")).toString().endsWith(QStringLiteral(" (Heroes of Might & Magic III)")));
        QCOMPARE(args.at(1).toInt(), 5);
        QCOMPARE(args.at(3).toInt(), 2);
    }

    void avatars()
    {
        QVERIFY(signInDemo(*api));
        QSignalSpy received(api.get(), &ApiClient::avatarReceived);
        QSignalSpy failed(api.get(), &ApiClient::avatarFetchFailed);
        QSignalSpy errors(api.get(), &ApiClient::requestError);

        // No avatar yet.
        api->fetchAvatar(QStringLiteral("demo"));
        QVERIFY(failed.wait(kEventWaitMs));
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("demo"));

        api->registerUser(QStringLiteral("s@example.com"), QStringLiteral("Space Man"), QStringLiteral("secret1"));
        QSignalSpy registered(api.get(), &ApiClient::registerSuccess);
        QVERIFY(registered.wait(kEventWaitMs));
        service->setUser({{QStringLiteral("username"), QStringLiteral("Space Man")},
                          {QStringLiteral("avatar_url"), QStringLiteral("/static/pfp/2.png")}});
        api->fetchAvatar(QStringLiteral("Space Man"));
        QVERIFY(received.wait(kEventWaitMs));
        QCOMPARE(lastPath(), QStringLiteral("/api/users/Space%20Man/avatar"));
        QCOMPARE(received.at(0).at(0).toString(), QStringLiteral("Space Man"));
        QCOMPARE(received.at(0).at(1).toString(), service->baseUrl() + QStringLiteral("/static/pfp/2.png"));

        service->setUser({{QStringLiteral("username"), QStringLiteral("demo")},
                          {QStringLiteral("avatar_url"), QStringLiteral("https://cdn.example/a.png")}});
        api->fetchAvatar(QStringLiteral("demo"));
        QVERIFY(received.wait(kEventWaitMs));
        QCOMPARE(received.at(1).at(1).toString(), QStringLiteral("https://cdn.example/a.png"));

        // The empty name sends nothing; the unknown user's 404 fails quietly.
        const int before = int(service->requestsTo(QStringLiteral("/api/users/")).size());
        api->fetchAvatar(QString());
        api->fetchAvatar(QStringLiteral("ghost"));
        QVERIFY(failed.wait(kEventWaitMs));
        QCOMPARE(failed.at(1).at(0).toString(), QStringLiteral("ghost"));
        QCOMPARE(service->requestsTo(QStringLiteral("/api/users/")).size(), before + 1);
        QCOMPARE(received.count(), 2);
        QCOMPARE(errors.count(), 0);
    }

    // However a fetch fails, the window hears of it: it asks for the name again
    // only after an answer. A 401 is renewed and the fetch replayed first.
    void avatarFetchFailuresAreReported_data()
    {
        QTest::addColumn<QStringList>("avatarRules");  // the avatar path's next answers, in order
        QTest::addColumn<bool>("refreshFails");
        QTest::addColumn<int>("fetches");
        QTest::addColumn<int>("errorsShown");
        QTest::newRow("not found") << QStringList{"404"} << false << 1 << 0;
        QTest::newRow("no answer") << QStringList{"hang"} << false << 1 << 0;
        QTest::newRow("renewed, then not found") << QStringList{"401", "404"} << false << 2 << 0;
        // The renewal's own failure is reported as a connection error, as for any call.
        QTest::newRow("renewal fails") << QStringList{"401"} << true << 1 << 1;
    }
    void avatarFetchFailuresAreReported()
    {
        QFETCH(QStringList, avatarRules);
        QFETCH(bool, refreshFails);
        QFETCH(int, fetches);
        QFETCH(int, errorsShown);
        QVERIFY(signInDemo(*api));
        api->setTransferTimeoutForTesting(500);
        const QString path = QStringLiteral("/api/users/demo/avatar");
        for (const QString &rule : std::as_const(avatarRules))
            service->nextCall(path, rule == QLatin1String("hang")
                                        ? QJsonObject{{QStringLiteral("hang"), true}}
                                        : QJsonObject{{QStringLiteral("status"), rule.toInt()}});
        if (refreshFails)
            service->nextCall(QStringLiteral("/api/auth/refresh"), {{QStringLiteral("status"), 503}});
        QSignalSpy failed(api.get(), &ApiClient::avatarFetchFailed);
        QSignalSpy errors(api.get(), &ApiClient::requestError);
        api->fetchAvatar(QStringLiteral("demo"));
        QVERIFY(failed.wait(kEventWaitMs));
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("demo"));
        QCOMPARE(service->requestsTo(path).size(), fetches);
        QCOMPARE(errors.count(), errorsShown);
        // Ended, it is no fetch of this sign-in any more: signing out cancels nothing.
        QSignalSpy cancelled(api.get(), &ApiClient::avatarFetchCancelled);
        api->logout();
        QTRY_COMPARE_WITH_TIMEOUT(service->requestsTo(QStringLiteral("/api/auth/logout")).size(), 1, kEventWaitMs);
        QCOMPARE(cancelled.count(), 0);
        QCOMPARE(failed.count(), 1);
    }

    // A remembered sign-in: the player's own avatar, asked for before the saved
    // token is renewed, will not be answered; it is reported cancelled, not left waiting.
    void avatarOfAnEndedSignInIsCancelled()
    {
        QVERIFY(signInDemo(*api));
        const QString saved = api->refreshToken();
        ApiClient next;
        next.setBaseUrl(service->baseUrl());
        QSignalSpy cancelled(&next, &ApiClient::avatarFetchCancelled);
        QSignalSpy signedIn(&next, &ApiClient::refreshSuccess);
        next.setUsername(QStringLiteral("demo"));
        next.fetchAvatar(QStringLiteral("demo"));
        next.refresh(saved);
        QVERIFY(cancelled.wait(kEventWaitMs));
        QCOMPARE(cancelled.at(0).at(0).toString(), QStringLiteral("demo"));
        // Asked again under the new sign-in, it is answered and nothing more is cancelled.
        QVERIFY(signedIn.wait(kEventWaitMs));
        QSignalSpy failed(&next, &ApiClient::avatarFetchFailed);
        next.fetchAvatar(QStringLiteral("demo"));
        QVERIFY(failed.wait(kEventWaitMs));
        QCOMPARE(cancelled.count(), 1);
    }

    void changingTheAvatar()
    {
        QVERIFY(signInDemo(*api));
        QSignalSpy success(api.get(), &ApiClient::avatarChangeSuccess);
        QSignalSpy received(api.get(), &ApiClient::avatarReceived);
        QSignalSpy cooldown(api.get(), &ApiClient::avatarChangeCooldown);
        QSignalSpy errors(api.get(), &ApiClient::requestError);

        api->setMyAvatar(3);
        QVERIFY(success.wait(kEventWaitMs));
        QCOMPARE(success.at(0).at(0).toLongLong(), 3);
        QCOMPARE(success.at(0).at(1).toString(), service->baseUrl() + QStringLiteral("/static/pfp/3.png"));
        QCOMPARE(received.count(), 1);
        QCOMPARE(received.at(0).at(0).toString(), QStringLiteral("demo"));
        QCOMPARE(received.at(0).at(2).toString(), QString());
        const QJsonObject sent = service->requestsTo(QStringLiteral("/api/users/me/avatar")).at(0).toObject();
        QCOMPARE(QJsonDocument::fromJson(sent.value(QStringLiteral("body")).toString().toUtf8()).object(),
                 QJsonObject({{QStringLiteral("image_id"), 3}}));

        api->setMyAvatar(4);
        QVERIFY(cooldown.wait(kEventWaitMs));
        QVERIFY(cooldown.at(0).at(0).toInt() > 0);
        service->nextCall(QStringLiteral("/api/users/me/avatar"),
                          {{QStringLiteral("status"), 429}, {QStringLiteral("body"), QStringLiteral(R"({"cooldown_seconds":30})")}});
        api->setMyAvatar(4);
        QVERIFY(cooldown.wait(kEventWaitMs));
        QCOMPARE(cooldown.at(1).at(0).toInt(), 30);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(success.count(), 1);

        service->setUser({{QStringLiteral("avatar_cooldown_seconds"), 0}});
        api->setMyAvatar(99);
        QVERIFY(errors.wait(kEventWaitMs));
        QCOMPARE(errors.takeFirst().at(0).toString(), QStringLiteral("Picture not found"));

        // 200 without "url": the base address alone.
        service->nextCall(QStringLiteral("/api/users/me/avatar"), {{QStringLiteral("body"), QStringLiteral("{}")}});
        api->setMyAvatar(5);
        QVERIFY(success.wait(kEventWaitMs));
        QCOMPARE(success.at(1).at(1).toString(), service->baseUrl());

        // A 401 is not parked here: it is an error, no refresh happens.
        service->expireAccessTokens();
        api->setMyAvatar(5);
        QVERIFY(errors.wait(kEventWaitMs));
        QCOMPARE(errors.takeFirst().at(0).toString(), QStringLiteral("Not authenticated"));
        QCOMPARE(service->requestsTo(QStringLiteral("/api/auth/refresh")).size(), 0);
    }

    void passwordAndUsernameChange()
    {
        QVERIFY(signInDemo(*api));
        QSignalSpy changed(api.get(), &ApiClient::passwordChanged);
        QSignalSpy renamed(api.get(), &ApiClient::usernameChangedRemote);
        QSignalSpy errors(api.get(), &ApiClient::requestError);

        api->changePassword(QStringLiteral("wrong"), QStringLiteral("another1"));
        QVERIFY(errors.wait(kEventWaitMs));
        QCOMPARE(errors.takeFirst().at(0).toString(), QStringLiteral("Current password is incorrect"));
        api->setLang(QStringLiteral("fa"));
        api->changePassword(QStringLiteral("demo1234"), QStringLiteral("another1"));
        QVERIFY(changed.wait(kEventWaitMs));
        QCOMPARE(changed.at(0).at(0).toString(), QStringLiteral("رمز عبور تغییر کرد"));
        // The stored tunnel password stays as it was.
        QCOMPARE(CredentialStore::loadPassword(QStringLiteral("demo")), QStringLiteral("demo1234"));

        api->setLang(QStringLiteral("en"));
        api->changeUsername(QStringLiteral("demo2"), QStringLiteral("another1"));
        api->changeUsername(QStringLiteral("demo3"), QStringLiteral("another1"));
        QVERIFY(renamed.wait(kEventWaitMs));
        QTest::qWait(200);
        QCOMPARE(renamed.count(), 1);
        QCOMPARE(renamed.at(0).at(0).toString(), QStringLiteral("demo2"));
        QCOMPARE(api->username(), QStringLiteral("demo"));
        QVERIFY(logFileText().contains(QStringLiteral("[INF] auth: username changed: demo -> demo2")));
        QCOMPARE(service->requestsTo(QStringLiteral("/api/auth/change-username")).size(), 1);
    }

    void localInvokables()
    {
        QVERIFY(api->discordEnabled());
        api->setDiscordEnabled(false);
        QVERIFY(!api->discordEnabled());
        QVERIFY(logFileText().contains(QStringLiteral("[INF] discord: disabled")));
        QVERIFY(QMetaObject::invokeMethod(api.get(), "setDiscordEnabled", Q_ARG(bool, true)));
        QVERIFY(api->discordEnabled());
        QVERIFY(logFileText().contains(QStringLiteral("[INF] discord: enabled")));

        QString token;
        QVERIFY(QMetaObject::invokeMethod(api.get(), "refreshToken", Q_RETURN_ARG(QString, token)));
        QVERIFY(token.isEmpty());

        api->copyToClipboard(QStringLiteral("10.0.0.7"));
        if (QClipboard *clipboard = QGuiApplication::clipboard())
            QCOMPARE(clipboard->text(QClipboard::Clipboard), QStringLiteral("10.0.0.7"));
    }
};

CORVANA_TEST_MAIN(ApiClientAccountTest)
#include "api_client_account_test.moc"
