#include "service/api_client.h"
#include "session/credential_store.h"
#include "shell/deep_link_router.h"
#include "shell/logger.h"
#include "support/api_test_helpers.h"
#include "support/session_harness.h"
#include "support/test_main.h"
#include "support/wait_bounds.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString kReadyLine = QStringLiteral(R"(out {"event":"ready"})");

QStringList scriptThen(const QStringList &tail)
{
    // The ready walk without its final "wait", followed by the given lines.
    QStringList script = ScriptedClientFolder::readyScript();
    script.removeLast();
    return script + tail;
}

int countOf(const QStringList &list, const QString &value)
{
    return int(list.count(value));
}

} // namespace

class ApiClientVlanTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Logger::instance().init(); }

    void joinBringsTunnelUpAndLeaveEndsItInOrder()
    {
        SessionHarness h;
        QVERIFY(h.ready());
        ApiClient &api = h.api();
        h.service().call("POST", QStringLiteral("/test/tunnel-server"),
                         {{QStringLiteral("address"), QStringLiteral("198.51.100.7:4500")}});
        QString statusAtJoin;
        bool connectedAtJoin = false;
        connect(&api, &ApiClient::joinSuccess, this, [&]() {
            statusAtJoin = api.vpnStatus();
            connectedAtJoin = api.connected();
        });
        QSignalSpy ip(&api, &ApiClient::vpnIpChanged);

        QVERIFY(h.joinAndWaitLive(QStringLiteral("v3")));
        // The session is held from the reply on, before the tunnel is up.
        QVERIFY(connectedAtJoin);
        QVERIFY(statusAtJoin != QLatin1String("ready"));
        QCOMPARE(h.seen.mid(0, 3), QStringList({"connected:true", "users:3", "join:v3"}));
        QCOMPARE(api.connectedVlanId(), QStringLiteral("v3"));
        QCOMPARE(api.connectedVlanOwner(), QStringLiteral("Kaveh"));
        QCOMPARE(api.vpnStatus(), QStringLiteral("ready"));
        QCOMPARE(api.vpnIp(), QStringLiteral("10.20.0.5"));
        QVERIFY(ip.count() >= 1);

        const QStringList args = h.client().arguments();
        QCOMPARE(args.mid(0, 7), QStringList({"--server", "198.51.100.7:4500", "--user", "demo",
                                               "--pass=demo1234", "--node", "v3"}));

        // The lobby: authenticated with the access token, in the header and the first frame.
        const QJsonObject lobby = h.lobby();
        const QJsonObject opened = lobby.value(QStringLiteral("opened")).toArray().at(0).toObject();
        QCOMPARE(opened.value(QStringLiteral("path")).toString(), QStringLiteral("/api/ws/v3"));
        QCOMPARE(opened.value(QStringLiteral("authorization")).toString(),
                 QStringLiteral("Bearer ") + api.accessToken());
        QCOMPARE(lobby.value(QStringLiteral("frames")).toArray().at(0).toObject().value(QStringLiteral("text")).toString(),
                 QStringLiteral(R"({"token":"%1","type":"auth"})").arg(api.accessToken()));
        QCOMPARE(h.discordPresenceState(), DiscordPresence::State::InRoom);
        QCOMPARE(api.discordPresence().partyId(), QStringLiteral("v3"));

        // The clock counts from the join reply once the tunnel is ready.
        QSignalSpy tick(&api, &ApiClient::tickChanged);
        QVERIFY(tick.wait(kEventWaitMs));

        h.seen.clear();
        QSignalSpy done(&api, &ApiClient::disconnectSuccess);
        api.disconnectVlan();
        QVERIFY(api.vpnProcess().running());
        QCOMPARE(done.count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, kEventWaitMs);
        QCOMPARE(h.seen, QStringList({"connected:false", "disconnect"}));
        QCOMPARE(api.vpnStatus(), QStringLiteral("disconnected"));
        QCOMPARE(api.connectedVlanId(), QString());
        QCOMPARE(api.connectedSeconds(), 0);
        QCOMPARE(h.discordPresenceState(), DiscordPresence::State::Lobby);
        QTRY_COMPARE_WITH_TIMEOUT(countOf(h.apiPaths(), QStringLiteral("/api/vlans/v3/disconnect")), 1, kEventWaitMs);
        // The service's own member list no longer holds the user.
        const QJsonArray members = h.service().call("GET", QStringLiteral("/test/room/v3"))
                                       .value(QStringLiteral("members")).toArray();
        QCOMPARE(members.size(), 2);
        QVERIFY(!members.contains(QStringLiteral("demo")));
        // The client's second report of the same stop changes nothing.
        QTRY_VERIFY_WITH_TIMEOUT(!api.vpnProcess().running(), kEventWaitMs);
        QTest::qWait(50);
        QCOMPARE(done.count(), 1);
        QCOMPARE(h.count(QStringLiteral("error:")), 0);

        // Leaving without a session does nothing at all.
        api.disconnectVlan();
        QCOMPARE(done.count(), 1);
    }

    void createRoadSignalsCreateThenJoinWithoutMemberList()
    {
        SessionHarness h;
        QVERIFY(h.ready());
        h.api().createVlan(2, 6, true);
        QTRY_COMPARE_WITH_TIMEOUT(h.count(QStringLiteral("join:")), 1, kEventWaitMs);
        const QString id = h.api().connectedVlanId();
        QVERIFY(!id.isEmpty());
        QCOMPARE(h.seen, QStringList({"create:" + id, "connected:true", "join:" + id}));
        QCOMPARE(h.api().connectedVlanOwner(), QStringLiteral("demo"));
        const QJsonArray created = h.service().requestsTo(QStringLiteral("/api/vlans/create"));
        QCOMPARE(created.size(), 1);
        const QJsonObject body = QJsonDocument::fromJson(created.at(0).toObject().value(QStringLiteral("body"))
                                                             .toString().toUtf8()).object();
        QCOMPARE(body, QJsonObject({{"game_id", 2}, {"capacity", 6}, {"is_private", true}}));
        // The member list arrives through the lobby.
        QTRY_VERIFY_WITH_TIMEOUT(h.api().lobbyJoined(), kEventWaitMs);
        QCOMPARE(h.count(QStringLiteral("users:1")), 1);
        QVERIFY(h.api().discordPresence().isPrivate());
        QCOMPARE(h.api().discordPresence().partyMax(), 6);

        // A refused create leaves everything as it was.
        h.seen.clear();
        h.api().disconnectVlan();
        QVERIFY(h.waitFor(QStringLiteral("disconnect")));
        h.api().createVlan(99, 6, false);
        QVERIFY(h.waitFor(QStringLiteral("error:Game not found")));
        QVERIFY(!h.api().connected());
    }

    void missingPasswordEndsTheJoinWithOneMessage_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("message");
        QTest::newRow("en") << "en" << "VPN password not found. Please re-login.";
        QTest::newRow("fa") << "fa" << "رمز عبور VPN یافت نشد. لطفاً دوباره وارد شوید.";
    }

    void missingPasswordEndsTheJoinWithOneMessage()
    {
        QFETCH(QString, lang);
        QFETCH(QString, message);
        SessionHarness h;
        QVERIFY(h.ready());
        h.api().setLang(lang);
        CredentialStore::removeCredentials();
        h.api().joinVlan(QStringLiteral("v1"));
        QVERIFY(h.waitFor(QStringLiteral("join:v1")));
        QCOMPARE(h.seen, QStringList({"connected:true", "connected:false", "disconnect", "error:" + message,
                                      "users:1", "join:v1"}));
        QVERIFY(!h.api().vpnProcess().running());
        QTRY_COMPARE_WITH_TIMEOUT(countOf(h.apiPaths(), QStringLiteral("/api/vlans/v1/disconnect")), 1, kEventWaitMs);
        QVERIFY(SessionHarness::logText().contains(QStringLiteral("[ERR] vpn: password not found for: demo")));
    }

    void tunnelFailuresEndTheSessionWithExactlyOneMessage_data()
    {
        QTest::addColumn<QStringList>("tail");
        QTest::addColumn<QString>("message");
        // A fatal error, then the client exits non-zero and prints more on the break.
        QTest::newRow("fatal error") << QStringList{
            R"(on-break {"event":"error","code":"bad_credentials","message":"late"})",
            R"(out {"event":"error","code":"bad_credentials","message":"Invalid username or password"})",
            "sleep 300", "exit 1"} << "Invalid username or password";
        QTest::newRow("server end") << QStringList{R"(out {"event":"disconnected","reason":"server"})", "exit 0"}
                                    << "VPN connection lost";
        QTest::newRow("crash") << QStringList{"sleep 100", "exit 3"} << "VPN process exited unexpectedly";
        QTest::newRow("transient then fatal") << QStringList{
            R"(out {"event":"error","code":"node_full","message":"full"})",
            R"(out {"event":"reconnecting","backoff":"1"})",
            R"(out {"event":"error","code":"account_disabled","message":"Account disabled"})", "wait"}
                                              << "Account disabled";
    }

    void tunnelFailuresEndTheSessionWithExactlyOneMessage()
    {
        QFETCH(QStringList, tail);
        QFETCH(QString, message);
        SessionHarness h(scriptThen(tail));
        QVERIFY(h.ready());
        h.api().joinVlan(QStringLiteral("v2"));
        QVERIFY(h.waitFor(QStringLiteral("disconnect")));
        QTRY_VERIFY_WITH_TIMEOUT(!h.api().vpnProcess().running(), kEventWaitMs);
        QTest::qWait(100);
        const QStringList tailSeen = h.after(QStringLiteral("disconnect"));
        QCOMPARE(tailSeen.filter(QStringLiteral("error:")), QStringList({"error:" + message}));
        QCOMPARE(h.count(QStringLiteral("disconnect")), 1);
        QVERIFY(!h.api().connected());
        QTRY_COMPARE_WITH_TIMEOUT(countOf(h.apiPaths(), QStringLiteral("/api/vlans/v2/disconnect")), 1, kEventWaitMs);
        QCOMPARE(h.discordPresenceState(), DiscordPresence::State::Lobby);
    }

    void leaveWhileTheTunnelIsStarting()
    {
        SessionHarness h({QStringLiteral(R"(on-break {"event":"disconnected","reason":"user"})"),
                          QStringLiteral(R"(out {"event":"connecting"})"), QStringLiteral("wait")});
        QVERIFY(h.ready());
        h.api().joinVlan(QStringLiteral("v4"));
        QVERIFY(h.waitFor(QStringLiteral("join:v4")));
        QTRY_COMPARE_WITH_TIMEOUT(h.api().vpnStatus(), QStringLiteral("connecting"), kEventWaitMs);
        h.api().disconnectVlan();
        QCOMPARE(h.api().vpnStatus(), QStringLiteral("disconnecting"));
        QVERIFY(h.waitFor(QStringLiteral("disconnect")));
        QTRY_VERIFY_WITH_TIMEOUT(!h.api().vpnProcess().running(), kEventWaitMs);
        QTest::qWait(50);
        QCOMPARE(h.count(QStringLiteral("error:")), 0);
        QCOMPARE(h.count(QStringLiteral("disconnect")), 1);
        QCOMPARE(h.lobbyOpenings(), 0); // never ready, so no lobby
        QTRY_COMPARE_WITH_TIMEOUT(countOf(h.apiPaths(), QStringLiteral("/api/vlans/v4/disconnect")), 1, kEventWaitMs);
    }

    void aReadyAfterTheBreakStartsNothing_data()
    {
        QTest::addColumn<bool>("logout");
        QTest::newRow("leave") << false;
        QTest::newRow("logout") << true;
    }

    void aReadyAfterTheBreakStartsNothing()
    {
        QFETCH(bool, logout);
        // The client is still configuring when the break comes, and finishes
        // with "ready" before it reports the stop.
        QStringList script = ScriptedClientFolder::readyScript();
        script.removeAll(kReadyLine);
        script.replace(1, QStringLiteral(R"(on-break {"event":"ready"}\n{"event":"disconnected","reason":"user"})"));
        SessionHarness h(script);
        QVERIFY(h.ready());
        ApiClient &api = h.api();
        QSignalSpy lateReady(&api.vpnProcess(), &VpnProcess::vpnReady);
        api.joinVlan(QStringLiteral("v1"));
        QTRY_COMPARE_WITH_TIMEOUT(api.vpnStatus(), QStringLiteral("configuring"), kEventWaitMs);
        if (logout)
            api.logout();
        else
            api.disconnectVlan();
        QVERIFY(h.waitFor(QStringLiteral("disconnect")));
        QTRY_VERIFY_WITH_TIMEOUT(!api.vpnProcess().running(), kEventWaitMs);
        QCOMPARE(lateReady.count(), 1);
        QVERIFY(!api.lobbyOrTimersAlive());
        QVERIFY(!api.lobbyJoined());
        QCOMPARE(h.discordPresenceState(), logout ? DiscordPresence::State::None : DiscordPresence::State::Lobby);
        QCOMPARE(h.count(QStringLiteral("disconnect")), 1);
        QCOMPARE(h.count(QStringLiteral("error:")), 0);

        // Live in another room: a lobby socket of the old session would have
        // reached the service before this one did.
        h.client().setScript(ScriptedClientFolder::readyScript());
        if (logout)
            QVERIFY(signInDemo(api));
        QVERIFY(h.joinAndWaitLive(QStringLiteral("v2")));
        const QJsonObject lobby = h.lobby();
        QCOMPARE(column(lobby.value(QStringLiteral("opened")).toArray(), "vlan_id"), QStringList({"v2"}));
        QCOMPARE(column(lobby.value(QStringLiteral("open")).toArray(), "vlan_id"), QStringList({"v2"}));
    }

    void leaveWaitsForAClientThatIgnoresTheBreak()
    {
        QStringList script = ScriptedClientFolder::readyScript();
        script.replace(1, QStringLiteral("ignore-break"));
        SessionHarness h(script);
        QVERIFY(h.ready());
        QVERIFY(h.joinAndWaitLive(QStringLiteral("v1")));
        QElapsedTimer clock;
        clock.start();
        h.api().disconnectVlan();
        QTest::qWait(1500);
        // The post waits for the tunnel's end, here the kill after the grace time.
        QVERIFY(!h.apiPaths().contains(QStringLiteral("/api/vlans/v1/disconnect")));
        QCOMPARE(h.count(QStringLiteral("disconnect")), 0);
        QVERIFY(h.waitFor(QStringLiteral("disconnect")));
        QVERIFY(clock.elapsed() >= 4900);
        QTRY_COMPARE_WITH_TIMEOUT(countOf(h.apiPaths(), QStringLiteral("/api/vlans/v1/disconnect")), 1, kEventWaitMs);
        QCOMPARE(h.count(QStringLiteral("error:")), 0);
    }

    void leaveRemovesTheManagedHostsBlock()
    {
        SessionHarness h;
        QVERIFY(h.ready());
        QVERIFY(h.joinAndWaitLive(QStringLiteral("v1")));
        QFile hosts(h.hostsPath());
        QVERIFY(hosts.open(QIODevice::WriteOnly));
        hosts.write(("127.0.0.1 localhost\n" + kHostsBlockStartMarker + "\n10.20.0.9 peer\n"
                     + kHostsBlockEndMarker + "\n::1 ip6-localhost\n").toUtf8());
        hosts.close();
        h.api().disconnectVlan();
        QVERIFY(h.waitFor(QStringLiteral("disconnect")));
        QVERIFY(hosts.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(hosts.readAll()), QStringLiteral("127.0.0.1 localhost\n::1 ip6-localhost\n"));
    }

    void switchingRoomsFinishesTheOldLeaveFirst()
    {
        SessionHarness h;
        QVERIFY(h.ready());
        QVERIFY(h.joinAndWaitLive(QStringLiteral("v1")));
        h.seen.clear();
        // As a deep link does it: leave and join back to back.
        h.api().disconnectVlan();
        h.api().joinVlan(QStringLiteral("v2"));
        QVERIFY(h.waitFor(QStringLiteral("join:v2")));
        QTRY_VERIFY_WITH_TIMEOUT(h.api().lobbyJoined(), kEventWaitMs);
        QCOMPARE(h.api().connectedVlanId(), QStringLiteral("v2"));
        QCOMPARE(h.api().vpnStatus(), QStringLiteral("ready"));
        QCOMPARE(h.seen.mid(0, 3), QStringList({"connected:false", "disconnect", "connected:true"}));
        const QStringList paths = h.apiPaths();
        QVERIFY(paths.indexOf(QStringLiteral("/api/vlans/v1/disconnect"))
                < paths.indexOf(QStringLiteral("/api/vlans/v2/join")));
        QVERIFY(!paths.contains(QStringLiteral("/api/vlans/v2/disconnect")));
        QVERIFY(h.client().arguments().contains(QStringLiteral("v2")));
    }

    void craftedIdsReachOnlyTheirOwnJoinEndpoint_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("path");
        QTest::newRow("traversal") << "x/../../auth/logout?" << "/api/vlans/x%2F..%2F..%2Fauth%2Flogout%3F/join";
        QTest::newRow("fragment") << "v1#frag" << "/api/vlans/v1%23frag/join";
        QTest::newRow("query") << "v1?a=b&c" << "/api/vlans/v1%3Fa%3Db%26c/join";
        QTest::newRow("blank and utf-8") << "اتاق 1" << "/api/vlans/%D8%A7%D8%AA%D8%A7%D9%82%201/join";
        QTest::newRow("ordinary") << "room-1.a_b~" << "/api/vlans/room-1.a_b~/join";
    }

    void craftedIdsReachOnlyTheirOwnJoinEndpoint()
    {
        QFETCH(QString, id);
        QFETCH(QString, path);
        SessionHarness h;
        QVERIFY(h.ready());
        const QString refresh = h.api().refreshToken();
        h.service().reset();
        h.api().joinVlan(id);
        QVERIFY(h.waitFor(QStringLiteral("error:VLAN not found")));
        QCOMPARE(h.apiPaths(), QStringList({path}));
        // The session's token still works: nothing signed it out.
        int status = 0;
        h.service().call("GET", QStringLiteral("/api/auth/me"), {}, &status, h.api().accessToken());
        QCOMPARE(status, 200);
        QCOMPARE(h.api().refreshToken(), refresh);
        QVERIFY(!h.api().connected());
    }

    void craftedDeepLinkWhileLiveLeavesThenJoinsOnlyThatId()
    {
        SessionHarness h;
        QVERIFY(h.ready());
        QVERIFY(h.joinAndWaitLive(QStringLiteral("v1")));
        DeepLinkRouter router(&h.api());
        h.service().reset();
        h.seen.clear();
        router.handleInstanceMessage(QStringLiteral("corvana://join/x/../../auth/logout?#"));
        QVERIFY(h.waitFor(QStringLiteral("error:VLAN not found")));
        QCOMPARE(h.seen, QStringList({"connected:false", "disconnect", "error:VLAN not found"}));
        QTRY_COMPARE_WITH_TIMEOUT(h.apiPaths(), QStringList({"/api/vlans/v1/disconnect",
                                                "/api/vlans/x%2F..%2F..%2Fauth%2Flogout%3F%23/join"}), kEventWaitMs);
        QVERIFY(!h.api().refreshToken().isEmpty());
    }

    void idsThatCannotBeOneSegmentAreRefusedUnsent()
    {
        SessionHarness h;
        QVERIFY(h.ready());
        h.service().reset();
        for (const char *id : {"..", ".", ""})
            h.api().joinVlan(QString::fromLatin1(id));
        h.api().setLang(QStringLiteral("fa"));
        h.api().joinVlan(QStringLiteral(".."));
        QCOMPARE(h.seen, QStringList({"error:VLAN not found", "error:VLAN not found", "error:VLAN not found",
                                      QStringLiteral("error:شبکه یافت نشد")}));
        QVERIFY(!h.api().busy());
        QCOMPARE(h.apiPaths(), QStringList());
    }

    void encodedIdsAlsoReachTheLobbyAndTheLeave()
    {
        SessionHarness h;
        QVERIFY(h.ready());
        const QString id = QStringLiteral("a/b?c#d");
        h.control(QStringLiteral("/test/room"), {{QStringLiteral("id"), id}, {QStringLiteral("members"), QJsonArray{}}});
        QVERIFY(h.joinAndWaitLive(id));
        QCOMPARE(h.lobby().value(QStringLiteral("opened")).toArray().at(0).toObject().value(QStringLiteral("path")).toString(),
                 QStringLiteral("/api/ws/a%2Fb%3Fc%23d"));
        h.api().disconnectVlan();
        QVERIFY(h.waitFor(QStringLiteral("disconnect")));
        QTRY_VERIFY_WITH_TIMEOUT(h.apiPaths().contains(QStringLiteral("/api/vlans/a%2Fb%3Fc%23d/disconnect")), kEventWaitMs);
    }

    void logoutWhileLiveLeavesTheRoom()
    {
        SessionHarness h;
        QVERIFY(h.ready());
        QVERIFY(h.joinAndWaitLive(QStringLiteral("v5")));
        QSignalSpy out(&h.api(), &ApiClient::logoutDone);
        h.api().logout();
        QCOMPARE(out.count(), 1);
        QCOMPARE(h.discordPresenceState(), DiscordPresence::State::None);
        QVERIFY(h.waitFor(QStringLiteral("disconnect")));
        QVERIFY(!h.api().connected());
        QTRY_VERIFY_WITH_TIMEOUT(!h.api().vpnProcess().running(), kEventWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(h.apiPaths().contains(QStringLiteral("/api/auth/logout")), kEventWaitMs);
        QCOMPARE(countOf(h.apiPaths(), QStringLiteral("/api/vlans/v5/disconnect")), 1);
        QCOMPARE(h.count(QStringLiteral("error:")), 0);
        // The room was told while the tokens were still good, before the sign-out notice.
        const QStringList paths = h.apiPaths();
        QVERIFY(paths.indexOf(QStringLiteral("/api/vlans/v5/disconnect")) < paths.indexOf(QStringLiteral("/api/auth/logout")));
        const QJsonArray members = h.service().call("GET", QStringLiteral("/test/room/v5"))
                                       .value(QStringLiteral("members")).toArray();
        QVERIFY(!members.isEmpty());
        QVERIFY(!members.contains(QStringLiteral("demo")));
    }

    void aFailureWhileSigningOutKeepsThePresenceCleared()
    {
        QStringList script = ScriptedClientFolder::readyScript();
        script.replace(1, QStringLiteral(R"(on-break {"event":"error","code":"config_error","message":"late"})"));
        SessionHarness h(script);
        QVERIFY(h.ready());
        QVERIFY(h.joinAndWaitLive(QStringLiteral("v5")));
        h.api().logout();
        QCOMPARE(h.discordPresenceState(), DiscordPresence::State::None);
        QVERIFY(h.waitFor(QStringLiteral("error:late")));
        QTRY_VERIFY_WITH_TIMEOUT(!h.api().vpnProcess().running(), kEventWaitMs);
        QCOMPARE(h.discordPresenceState(), DiscordPresence::State::None);
        QCOMPARE(h.count(QStringLiteral("disconnect")), 1);
        QVERIFY(!h.api().lobbyOrTimersAlive());
        QTRY_COMPARE_WITH_TIMEOUT(countOf(h.apiPaths(), QStringLiteral("/api/vlans/v5/disconnect")), 1, kEventWaitMs);
    }
};

CORVANA_TEST_MAIN(ApiClientVlanTest)
#include "api_client_vlan_test.moc"
