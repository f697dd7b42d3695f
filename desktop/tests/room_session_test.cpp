// The room session on its own: a REST core and a presence of its own, no facade.
#include "discord/discord_presence.h"
#include "service/service_client.h"
#include "session/credential_store.h"
#include "session/room_session.h"
#include "shell/logger.h"
#include "support/api_test_helpers.h"
#include "support/scripted_client.h"
#include "support/test_main.h"
#include "support/test_service.h"
#include "support/wait_bounds.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A signed-in REST core, the room over it and a record of the room's signals.
struct Room
{
    TestService service;
    ScriptedClientFolder client{ScriptedClientFolder::readyScript()};
    QTemporaryDir hostsDir;
    ServiceClient rest;
    DiscordPresence discord;
    RoomSession room{rest, discord};
    QStringList seen;

    bool start()
    {
        if (!service.start())
            return false;
        rest.setBaseUrl(service.baseUrl());
        bool signedIn = false;
        rest.request(QStringLiteral("POST"), QStringLiteral("/api/auth/login"),
                     {{QStringLiteral("username"), QStringLiteral("demo")},
                      {QStringLiteral("password"), QStringLiteral("demo1234")}},
                     [&](const QJsonObject &reply) {
                         rest.storeTokens(reply);
                         signedIn = true;
                     },
                     RequestOptions{});
        if (!QTest::qWaitFor([&] { return signedIn; }, kEventWaitMs))
            return false;
        CredentialStore::savePassword(QStringLiteral("demo"), QStringLiteral("demo1234"));
        room.setUsername(QStringLiteral("demo"));
        room.vpnProcess().setProgramDirectory(client.path());
        room.hostsFileManager().setHostsFilePath(hostsDir.filePath(QStringLiteral("hosts")));
        room.hostsFileManager().setRetryDelayMs(1);
        QObject::connect(&room, &RoomSession::connectedChanged, &room, [this] {
            seen << QStringLiteral("connected:%1").arg(room.connected() ? "true" : "false");
        });
        QObject::connect(&room, &RoomSession::usersUpdated, &room,
                         [this](const QJsonArray &, int players) { seen << QStringLiteral("users:%1").arg(players); });
        QObject::connect(&room, &RoomSession::joinSuccess, &room,
                         [this](const QString &id) { seen << QStringLiteral("join:") + id; });
        QObject::connect(&room, &RoomSession::disconnectSuccess, &room, [this] { seen << QStringLiteral("disconnect"); });
        QObject::connect(&room, &RoomSession::requestError, &room,
                         [this](const QString &message) { seen << QStringLiteral("error:") + message; });
        return true;
    }

    bool joinLive(const QString &vlanId)
    {
        room.joinVlan(vlanId);
        return QTest::qWaitFor([&] { return room.lobbyJoined(); }, kEventWaitMs);
    }

    QStringList paths() { return column(service.requestsTo(QStringLiteral("/api/")), "path"); }
};

} // namespace

class RoomSessionTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Logger::instance().init(); }

    void joinRunsFromTheReplyToTheLobbyAndTakesRenewedTokens()
    {
        Room r;
        QVERIFY(r.start());
        QVERIFY(r.joinLive(QStringLiteral("v3")));
        QCOMPARE(r.seen.mid(0, 3), QStringList({"connected:true", "users:3", "join:v3"}));
        QCOMPARE(r.room.vlanId(), QStringLiteral("v3"));
        QCOMPARE(r.room.vpnStatus(), QStringLiteral("ready"));
        QCOMPARE(r.discord.state(), DiscordPresence::State::InRoom);
        QCOMPARE(r.client.arguments().mid(2, 3), QStringList({"--user", "demo", "--pass=demo1234"}));
        const QJsonObject opened = r.service.call("GET", QStringLiteral("/test/lobby"))
                                       .value(QStringLiteral("opened")).toArray().at(0).toObject();
        QCOMPARE(opened.value(QStringLiteral("authorization")).toString(),
                 QStringLiteral("Bearer ") + r.rest.accessToken());

        // A renewal inside the REST core reaches the lobby with the new token.
        const QString oldToken = r.rest.accessToken();
        r.service.expireAccessTokens();
        QSignalSpy rotated(&r.rest, &ServiceClient::tokenRotated);
        r.rest.request(QStringLiteral("GET"), QStringLiteral("/api/auth/motd"), {}, nullptr,
                       RequestOptions{false, true, false});
        QVERIFY(rotated.wait(kEventWaitMs));
        QVERIFY(r.rest.accessToken() != oldToken);
        const QString expected =
            QStringLiteral(R"({"token":"%1","type":"refresh_token"})").arg(r.rest.accessToken());
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const QJsonValue &frame : r.service.call("GET", QStringLiteral("/test/lobby"))
                                                   .value(QStringLiteral("frames")).toArray())
                    if (frame.toObject().value(QStringLiteral("text")).toString() == expected)
                        return true;
                return false;
            }(),
            kEventWaitMs);

        r.seen.clear();
        r.room.disconnectVlan();
        QTRY_COMPARE_WITH_TIMEOUT(r.seen, QStringList({"connected:false", "disconnect"}), kEventWaitMs);
        QCOMPARE(r.discord.state(), DiscordPresence::State::Lobby);
        QVERIFY(!r.room.lobbyOrTimersAlive());
        QTRY_VERIFY_WITH_TIMEOUT(r.paths().contains(QStringLiteral("/api/vlans/v3/disconnect")), kEventWaitMs);
    }

    void leaveForLogoutTellsTheRoomWithTheTokenItHeld()
    {
        Room r;
        QVERIFY(r.start());
        // Without a room nothing is sent, not even the notice.
        const QJsonObject notice{{QStringLiteral("refresh_token"), r.rest.refreshToken()}};
        QVERIFY(!r.room.leaveForLogout(notice));

        QVERIFY(r.joinLive(QStringLiteral("v5")));
        const QString token = r.rest.accessToken();
        QVERIFY(r.room.leaveForLogout(notice));
        // The sign-out forgets the tokens at once; the room's calls keep the old one.
        r.rest.clearTokens();
        QVERIFY(QTest::qWaitFor([&] { return r.seen.contains(QStringLiteral("disconnect")); }, kEventWaitMs));
        QTRY_VERIFY_WITH_TIMEOUT(r.paths().contains(QStringLiteral("/api/auth/logout")), kEventWaitMs);
        const QJsonArray calls = r.service.requestsTo(QStringLiteral("/api/"));
        const QStringList paths = column(calls, "path");
        QCOMPARE(paths.count(QStringLiteral("/api/auth/logout")), 1);
        QCOMPARE(paths.count(QStringLiteral("/api/vlans/v5/disconnect")), 1);
        const qsizetype leave = paths.indexOf(QStringLiteral("/api/vlans/v5/disconnect"));
        const qsizetype logout = paths.indexOf(QStringLiteral("/api/auth/logout"));
        QVERIFY(leave < logout);
        for (const qsizetype at : {leave, logout})
            QCOMPARE(calls.at(at).toObject().value(QStringLiteral("authorization")).toString(),
                     QStringLiteral("Bearer ") + token);
        QCOMPARE(r.seen.count(QStringLiteral("disconnect")), 1);
        QVERIFY(!r.seen.join(QLatin1Char(' ')).contains(QStringLiteral("error:")));
    }

    void aReplyWithoutATextIdIsAFailedJoin_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reply");
        QTest::newRow("join, id missing") << "/api/vlans/v2/join" << R"({"name":"Room","server_address":"127.0.0.1:7100"})";
        QTest::newRow("create, id a number") << "/api/vlans/create" << R"({"vlan_id":7,"name":"Room","server_address":"127.0.0.1:7100"})";
    }

    void aReplyWithoutATextIdIsAFailedJoin()
    {
        QFETCH(QString, path);
        QFETCH(QString, reply);
        Room r;
        QVERIFY(r.start());
        r.service.nextCall(path, {{QStringLiteral("body"), reply}});
        if (path.endsWith(QLatin1String("join")))
            r.room.joinVlan(QStringLiteral("v2"));
        else
            r.room.createVlan(2, 6, false);
        QVERIFY(QTest::qWaitFor([&] { return !r.seen.isEmpty(); }, kEventWaitMs));
        QTest::qWait(200);
        QCOMPARE(r.seen, QStringList({"error:Invalid response from server"}));
        // No tunnel was started, so nothing is left running.
        QVERIFY(!r.room.connected());
        QVERIFY(!r.room.vpnProcess().running());
        QCOMPARE(r.client.arguments(), QStringList());
        QVERIFY(!r.rest.busy());
    }

    void signingOutDropsAJoinWaitingForTheLeave()
    {
        Room r;
        QVERIFY(r.start());
        QVERIFY(r.joinLive(QStringLiteral("v3")));
        r.room.disconnectVlan();
        QVERIFY(r.room.vpnProcess().running());
        // The old client is still ending: the switch waits for it.
        r.room.joinVlan(QStringLiteral("v2"));
        QVERIFY(!r.rest.busy());
        QVERIFY(r.room.leaveForLogout({}));
        QTRY_VERIFY_WITH_TIMEOUT(!r.room.vpnProcess().running(), kEventWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(r.seen.contains(QStringLiteral("disconnect")), kEventWaitMs);
        // A join sent now would hold the busy count until its answer.
        QVERIFY(!r.rest.busy());
        QVERIFY(!r.room.connected());

        // Without the sign-out the same switch goes ahead once the client is gone.
        QVERIFY(r.joinLive(QStringLiteral("v3")));
        r.room.disconnectVlan();
        r.room.joinVlan(QStringLiteral("v2"));
        QTRY_COMPARE_WITH_TIMEOUT(r.room.vlanId(), QStringLiteral("v2"), kEventWaitMs);
        QCOMPARE(r.paths().count(QStringLiteral("/api/vlans/v2/join")), 1);
    }
};

CORVANA_TEST_MAIN(RoomSessionTest)
#include "room_session_test.moc"
