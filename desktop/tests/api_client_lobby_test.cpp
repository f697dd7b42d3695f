#include "service/api_client.h"
#include "service/list_bounds.h"
#include "session/lobby_socket.h"
#include "shell/logger.h"
#include "support/session_harness.h"
#include "support/test_main.h"
#include "support/wait_bounds.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

namespace {

ApiClient::LobbyTimings fastTimings()
{
    ApiClient::LobbyTimings t;
    t.pingMs = 100;
    t.steadyMs = 300;
    t.watchdogTickMs = 20;
    // Far above any stall of a loaded machine: only the watchdog's own test shortens it.
    t.silenceLimitMs = 10000;
    t.firstReconnectDelayMs = 20;
    t.maxReconnectDelayMs = 320;
    return t;
}

// Log text written from now on.
class LogMark
{
public:
    LogMark() : m_at(SessionHarness::logText().size()) {}
    QString text() const { return SessionHarness::logText().mid(m_at); }
    int count(const QString &line) const { return int(text().count(line)); }

private:
    qsizetype m_at;
};

bool signedInOnLobby(SessionHarness &h)
{
    return QTest::qWaitFor([&]() {
        const QJsonArray open = h.lobby().value(QStringLiteral("open")).toArray();
        return !open.isEmpty() && open.at(0).toObject().value(QStringLiteral("signed_in")).toBool();
    }, kEventWaitMs);
}

QStringList frameTexts(SessionHarness &h)
{
    QStringList texts;
    for (const QJsonValue &frame : h.lobbyFrames())
        texts << frame.toObject().value(QStringLiteral("text")).toString();
    return texts;
}

} // namespace

class ApiClientLobbyTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Logger::instance().init(); }

    void addressFollowsTheBaseUrl()
    {
        ApiClient api;
        api.setBaseUrl(QStringLiteral("https://api.example.net"));
        QCOMPARE(api.lobbyAddress(QStringLiteral("v1")), QStringLiteral("wss://api.example.net/api/ws/v1"));
        api.setBaseUrl(QStringLiteral("http://127.0.0.1:8080/"));
        QCOMPARE(api.lobbyAddress(QStringLiteral("v1")), QStringLiteral("ws://127.0.0.1:8080//api/ws/v1"));
        // The scheme swap is case-sensitive; the id is one encoded segment.
        api.setBaseUrl(QStringLiteral("HTTPS://x"));
        QCOMPARE(api.lobbyAddress(QStringLiteral("../a b")), QStringLiteral("HTTPS://x/api/ws/..%2Fa%20b"));
    }

    void messagesBeforeAndAfterTheFirstMemberList()
    {
        SessionHarness h;
        QVERIFY(h.ready());
        LogMark log;
        h.control(QStringLiteral("/test/lobby/silent"));
        h.api().joinVlan(QStringLiteral("v1"));
        QVERIFY(signedInOnLobby(h));
        h.seen.clear();
        auto send = [&](const QJsonObject &m) { h.lobbySend(m); };
        send({{"type", "user_connected"}, {"username", "bob"}});
        send({{"type", "user_disconnected"}, {"username", "bob"}});
        send({{"type", "user_kicked"}, {"username", "carol"}});
        send({{"type", "user_ip_assigned"}, {"username", "mark1"}, {"assigned_ip", "10.0.0.1"}});
        QVERIFY(h.waitFor(QStringLiteral("ip:mark1:10.0.0.1")));
        // Only the kick is reported before the member list.
        QCOMPARE(h.seen, QStringList({"event:user_kicked:carol", "ip:mark1:10.0.0.1"}));
        QVERIFY(!h.api().lobbyJoined());

        h.seen.clear();
        const QJsonArray users{QJsonObject{{"username", "demo"}}, QJsonObject{{"username", "bob"}}};
        QSignalSpy members(&h.api(), &ApiClient::usersUpdated);
        send({{"type", "users"}, {"users", users}, {"players", 2}});
        QTRY_COMPARE_WITH_TIMEOUT(members.count(), 1, kEventWaitMs);
        QCOMPARE(members.at(0).at(0).toJsonArray(), users);
        QVERIFY(h.api().lobbyJoined());
        QCOMPARE(h.api().discordPresence().partySize(), 2);
        send({{"type", "users"}, {"users", users}, {"players", 2}});
        send({{"type", "user_connected"}, {"username", "bob"}});
        send({{"type", "pong"}});
        send({{"type", "name_changed"}, {"name", "Renamed"}});
        send({{"type", "name_changed"}, {"name", "Renamed"}});
        send({{"type", "name_changed"}, {"name", ""}});
        // Frames of the wrong shape are logged and skipped.
        h.lobbySendRaw(QStringLiteral("not json {"));
        h.lobbySendRaw(QStringLiteral("[1,2,3]"));
        h.lobbySendRaw(QStringLiteral(R"({"type":"mystery","username":"demo"})"));
        h.lobbySendRaw(QStringLiteral(R"({"type":7})"));
        h.lobbySendRaw(QStringLiteral(R"({"type":"users","users":"nope","players":"x"})"));
        h.lobbySendRaw(QString(300000, QLatin1Char('x')));
        send({{"type", "user_ip_assigned"}, {"username", "mark2"}, {"assigned_ip", "10.0.0.2"}});
        QVERIFY(h.waitFor(QStringLiteral("ip:mark2:10.0.0.2")));
        QCOMPARE(h.seen, QStringList({"users:2", "users:2", "event:user_connected:bob", "users:0",
                                      "connected:true", "users:0", "ip:mark2:10.0.0.2"}));
        QCOMPARE(h.api().connectedVlanName(), QStringLiteral("Renamed"));
        QVERIFY(h.api().connected());
        QCOMPARE(log.count(QStringLiteral("connected to room v1")), 1);
        QVERIFY(log.text().contains(QStringLiteral("[INF] ws: recv: not json {")));
    }

    void kickOrSelfDisconnectEndsTheSession_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("message");
        QTest::newRow("kick") << "en" << "user_kicked" << "You were kicked from the network";
        QTest::newRow("kick fa") << "fa" << "user_kicked" << "توسط مدیر از شبکه اخراج شدید";
        QTest::newRow("self") << "en" << "user_disconnected" << "VPN connection lost";
        QTest::newRow("self fa") << "fa" << "user_disconnected" << "اتصال VPN قطع شد";
    }

    void kickOrSelfDisconnectEndsTheSession()
    {
        QFETCH(QString, lang);
        QFETCH(QString, type);
        QFETCH(QString, message);
        SessionHarness h;
        QVERIFY(h.ready());
        h.api().setLang(lang);
        QVERIFY(h.joinAndWaitLive(QStringLiteral("v1")));
        // Someone else's leave changes nothing here.
        h.lobbySend({{"type", type}, {"username", "bob"}});
        QVERIFY(h.waitFor(QStringLiteral("event:%1:bob").arg(type)));
        QVERIFY(h.api().connected());
        h.seen.clear();
        h.lobbySend({{"type", type}, {"username", "demo"}});
        QVERIFY(h.waitFor(QStringLiteral("disconnect")));
        QTRY_VERIFY_WITH_TIMEOUT(!h.api().vpnProcess().running(), kEventWaitMs);
        QTest::qWait(100);
        QCOMPARE(h.seen, QStringList({"event:" + type + ":demo", "connected:false", "disconnect", "error:" + message}));
        QCOMPARE(h.api().vpnStatus(), QStringLiteral("disconnected"));
        QCOMPARE(h.discordPresenceState(), DiscordPresence::State::Lobby);
        // The service ended it; nothing is posted back.
        QVERIFY(!h.apiPaths().contains(QStringLiteral("/api/vlans/v1/disconnect")));
        QTRY_VERIFY_WITH_TIMEOUT(h.lobby().value(QStringLiteral("open")).toArray().isEmpty(), kEventWaitMs);
    }

    void reconnectsGrowThenGiveUpAfterFive()
    {
        SessionHarness h;
        QVERIFY(h.ready());
        h.api().setLobbyTimingsForTesting(fastTimings());
        QVERIFY(h.joinAndWaitLive(QStringLiteral("v1")));

        // A connection whose ping is answered, on any attempt, resets the count and the delay.
        LogMark first;
        h.control(QStringLiteral("/test/lobby/drop"), {{"refuse", 2}});
        QTRY_VERIFY_WITH_TIMEOUT(first.text().contains(QStringLiteral("attempt 3/5")), kEventWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(h.api().lobbyJoined(), kEventWaitMs);
        QVERIFY(first.text().contains(QStringLiteral("reconnecting in 40ms (attempt 2/5)")));
        QTRY_VERIFY_WITH_TIMEOUT(first.text().contains(QStringLiteral("[INF] ws: connection steady \u2014 reconnect count reset")),
                                 kEventWaitMs);

        LogMark log;
        h.seen.clear();
        h.control(QStringLiteral("/test/lobby/drop"), {{"refuse", 100}});
        QVERIFY(h.waitFor(QStringLiteral("disconnect")));
        const QString text = log.text();
        int delay = 20;
        for (int attempt = 1; attempt <= 5; ++attempt, delay *= 2)
            QVERIFY2(text.contains(QStringLiteral("[WRN] ws: disconnected unexpectedly \u2014 reconnecting in %1ms (attempt %2/5)")
                                       .arg(delay).arg(attempt)),
                     qPrintable(text));
        QVERIFY(!text.contains(QStringLiteral("attempt 6/5")));
        QVERIFY(text.contains(QStringLiteral("[ERR] ws: giving up after 5 attempts \u2014 disconnecting")));
        QTRY_VERIFY_WITH_TIMEOUT(!h.api().vpnProcess().running(), kEventWaitMs);
        QTest::qWait(100);
        QCOMPARE(h.seen, QStringList({"connected:false", "disconnect", "error:Connection to server lost"}));
        QCOMPARE(log.count(QStringLiteral("reconnecting to v1")), 5);
    }

    void refusedConnectionsCountAsDrops()
    {
        SessionHarness h;
        QVERIFY(h.ready());
        h.api().setLobbyTimingsForTesting(fastTimings());
        QVERIFY(h.joinAndWaitLive(QStringLiteral("v1")));
        LogMark log;
        // The lobby moves out of reach: every attempt is refused at once.
        h.api().setBaseUrl(QStringLiteral("http://127.0.0.1:1"));
        h.control(QStringLiteral("/test/lobby/drop"));
        QVERIFY(h.waitFor(QStringLiteral("error:Connection to server lost")));
        QVERIFY(log.text().contains(QStringLiteral("connecting to ws://127.0.0.1:1/api/ws/v1")));
        QCOMPARE(log.count(QStringLiteral("reconnecting to v1")), 5);
        QCOMPARE(h.count(QStringLiteral("disconnect")), 1);
    }

    void tokenErrorReopensOnceAndKeepsTheClock()
    {
        SessionHarness h;
        QVERIFY(h.ready());
        h.api().setLobbyTimingsForTesting(fastTimings());
        QVERIFY(h.joinAndWaitLive(QStringLiteral("v1")));
        LogMark log;
        h.lobbySend({{"type", "token_error"}});
        QTRY_COMPARE_WITH_TIMEOUT(h.lobbyOpenings(), 2, kEventWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(h.api().lobbyJoined(), kEventWaitMs);
        // The retired socket's close is not counted as a drop of the new one.
        QTest::qWait(300);
        QCOMPARE(h.lobbyOpenings(), 2);
        QVERIFY(!log.text().contains(QStringLiteral("disconnected unexpectedly")));
        QVERIFY(log.text().contains(QStringLiteral("[WRN] ws: token refresh rejected \u2014 reconnecting")));
        QSignalSpy tick(&h.api(), &ApiClient::tickChanged);
        QVERIFY(tick.wait(kEventWaitMs));
        QCOMPARE(h.count(QStringLiteral("error:")), 0);
        QCOMPARE(h.count(QStringLiteral("disconnect")), 0);
    }

    void lobbiesThatEndEveryConnectionBackOffUnlessItStaysUp_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QJsonObject>("body");
        QTest::addColumn<QString>("why"); // empty: the room is kept
        QTest::newRow("refused") << QStringLiteral("/test/lobby/reject-sign-in") << QJsonObject{{"after_users", false}}
                                 << QStringLiteral("sign-in rejected (token_error)");
        // The member list of a refused sign-in does not make the connection a good one.
        QTest::newRow("members, then refused") << QStringLiteral("/test/lobby/reject-sign-in")
                                               << QJsonObject{{"after_users", true}}
                                               << QStringLiteral("token refresh rejected");
        // A flaky line: each connection lists the members and stays up past
        // steadyMs, but drops before its first ping.
        QTest::newRow("members, then dropped a while later")
            << QStringLiteral("/test/lobby/flaky") << QJsonObject{{"cut_after_ms", 700}} << QString();
    }

    void lobbiesThatEndEveryConnectionBackOffUnlessItStaysUp()
    {
        QFETCH(QString, control);
        QFETCH(QJsonObject, body);
        QFETCH(QString, why);
        SessionHarness h;
        QVERIFY(h.ready());
        ApiClient::LobbyTimings timings = fastTimings();
        timings.pingMs = 60000; // no connection lives to its first ping
        h.api().setLobbyTimingsForTesting(timings);
        LogMark log;
        h.control(control, body);
        h.api().joinVlan(QStringLiteral("v1"));
        if (why.isEmpty()) {
            // Each drop starts the count afresh: more sign-ins than the limit allows, and the room is kept.
            QTRY_VERIFY_WITH_TIMEOUT(h.lobby().value(QStringLiteral("sign_ins")).toInt() >= 2 + LobbySocket::kMaxReconnects,
                                     kEventWaitMs);
            QVERIFY2(log.text().contains(QStringLiteral("[INF] ws: connection steady \u2014 reconnect count reset")),
                     qPrintable(log.text()));
            QCOMPARE(h.count(QStringLiteral("error:")), 0);
            QCOMPARE(h.count(QStringLiteral("disconnect")), 0);
            QVERIFY(h.api().connected());
            QVERIFY(h.api().vpnProcess().running());
            return;
        }
        QVERIFY(h.waitFor(QStringLiteral("error:Connection to server lost")));
        QTRY_VERIFY_WITH_TIMEOUT(!h.api().vpnProcess().running(), kEventWaitMs);
        QTest::qWait(500);
        // The first sign-in and one for each reconnect, no more, each later than the last.
        QCOMPARE(h.lobby().value(QStringLiteral("sign_ins")).toInt(), 1 + LobbySocket::kMaxReconnects);
        QVERIFY2(log.text().contains(QStringLiteral("[WRN] ws: %1 \u2014 reconnecting in 320ms (attempt 5/5)").arg(why)),
                 qPrintable(log.text()));
        QCOMPARE(h.count(QStringLiteral("error:")), 1);
        QCOMPARE(h.count(QStringLiteral("disconnect")), 1);
        QVERIFY(!h.api().lobbyOrTimersAlive());
    }

    // A room listing more members than the window takes: both the join reply and the
    // lobby's member list reach QML cut to the first ones, with a warning each.
    void longMemberListsAreCut()
    {
        SessionHarness h;
        QVERIFY(h.ready());
        const int members = int(ListBounds::kMembers) + 77;
        QJsonArray names{QStringLiteral("demo")};
        for (int i = 1; i < members; ++i)
            names.append(QStringLiteral("member%1").arg(i, 4, 10, QLatin1Char('0')));
        h.control(QStringLiteral("/test/room"), {{"id", "v1"}, {"members", names}, {"capacity", 64}});
        LogMark log;
        QSignalSpy lists(&h.api(), &ApiClient::usersUpdated);
        QVERIFY(h.joinAndWaitLive(QStringLiteral("v1")));
        QTRY_VERIFY_WITH_TIMEOUT(lists.count() >= 2, kEventWaitMs);
        for (const QList<QVariant> &list : std::as_const(lists)) {
            const QJsonArray users = list.at(0).toJsonArray();
            QCOMPARE(users.size(), ListBounds::kMembers);
            QCOMPARE(users.first().toObject().value(QStringLiteral("username")).toString(), QStringLiteral("demo"));
            QCOMPARE(list.at(1).toInt(), members);
        }
        QCOMPARE(log.count(QStringLiteral("[WRN] vlan: members: %1 entries in the reply, only the first %2 kept")
                               .arg(members)
                               .arg(ListBounds::kMembers)),
                 int(lists.count()));
    }

    void oversizedMessageEndsTheConnectionUnread_data()
    {
        QTest::addColumn<qint64>("frameBytes");
        QTest::newRow("one frame") << qint64(64) * 1024 * 1024;
        QTest::newRow("many frames") << qint64(64) * 1024;
    }

    void oversizedMessageEndsTheConnectionUnread()
    {
        QFETCH(qint64, frameBytes);
        const qint64 messageBytes = qint64(64) * 1024 * 1024;
        SessionHarness h;
        QVERIFY(h.ready());
        h.api().setLobbyTimingsForTesting(fastTimings());
        QVERIFY(h.joinAndWaitLive(QStringLiteral("v1")));
        LogMark log;
        h.control(QStringLiteral("/test/lobby/send"),
                  {{"raw", "x"}, {"repeat", messageBytes}, {"frame_bytes", frameBytes}});
        QTRY_COMPARE_WITH_TIMEOUT(h.lobbyOpenings(), 2, kEventWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(h.api().lobbyJoined(), kEventWaitMs);
        // The client stopped reading long before the end: the rest was never sent.
        const QJsonArray closed = h.lobby().value(QStringLiteral("closed")).toArray();
        QCOMPARE(closed.size(), 1);
        QVERIFY(closed.at(0).toObject().value(QStringLiteral("sent_bytes")).toInteger() < messageBytes / 2);
        QVERIFY(log.text().contains(QStringLiteral("[WRN] ws: message larger than 524288 bytes refused \u2014 reconnecting in")));
        QVERIFY(!log.text().contains(QString(1024, QLatin1Char('x'))));
        QVERIFY(h.api().connected());
        QCOMPARE(h.count(QStringLiteral("error:")), 0);
    }

    void renewedTokenIsHandedToTheLobby()
    {
        SessionHarness h;
        QVERIFY(h.ready());
        QVERIFY(h.joinAndWaitLive(QStringLiteral("v1")));
        const QString oldToken = h.api().accessToken();
        LogMark log;
        h.service().expireAccessTokens();
        QSignalSpy motd(&h.api(), &ApiClient::motdReceived);
        h.api().fetchMotd();
        QVERIFY(motd.wait(kEventWaitMs));
        QVERIFY(h.api().accessToken() != oldToken);
        const QString expected = QStringLiteral(R"({"token":"%1","type":"refresh_token"})").arg(h.api().accessToken());
        QTRY_VERIFY_WITH_TIMEOUT(frameTexts(h).contains(expected), kEventWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(log.text().contains(QStringLiteral("[INF] ws: token refresh accepted")), kEventWaitMs);

        // A rejected one makes the client sign in to the lobby again.
        h.control(QStringLiteral("/test/lobby/reject-token"));
        h.service().expireAccessTokens();
        h.api().fetchMotd();
        QVERIFY(motd.wait(kEventWaitMs));
        QTRY_COMPARE_WITH_TIMEOUT(h.lobbyOpenings(), 2, kEventWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(h.api().lobbyJoined(), kEventWaitMs);
        QVERIFY(h.api().connected());
    }

    void watchdogEndsASilentServerAndALobbyThatNeverListsMembers()
    {
        SessionHarness h;
        QVERIFY(h.ready());
        ApiClient::LobbyTimings timings = fastTimings();
        timings.silenceLimitMs = 2000;
        h.api().setLobbyTimingsForTesting(timings);
        QVERIFY(h.joinAndWaitLive(QStringLiteral("v1")));
        LogMark log;
        // Pings are answered, so the watchdog stays quiet well past its limit.
        QTRY_VERIFY_WITH_TIMEOUT(frameTexts(h).count(QStringLiteral(R"({"type":"ping"})")) >= 30, kEventWaitMs);
        QCOMPARE(h.lobbyOpenings(), 1);
        h.control(QStringLiteral("/test/lobby/silent"));
        QTRY_VERIFY_WITH_TIMEOUT(log.text().contains(QStringLiteral("[WRN] ws: no traffic from server for >2s")), kEventWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(h.lobbyOpenings(), 2, kEventWaitMs);
        // The new connection takes the sign-in and never brings its member
        // list: once the same limit has passed, that is a failed attempt too.
        QTRY_COMPARE_WITH_TIMEOUT(h.lobbyOpenings(), 3, kEventWaitMs);
        QVERIFY2(log.text().contains(QStringLiteral("[WRN] ws: no member list within 2s \u2014 reconnecting in 40ms (attempt 2/5)")),
                 qPrintable(log.text()));
        QVERIFY(!h.api().lobbyJoined());
        QVERIFY(h.api().connected());
        QCOMPARE(h.count(QStringLiteral("error:")), 0);
    }

    void leaveStopsAPendingReconnect()
    {
        SessionHarness h;
        QVERIFY(h.ready());
        ApiClient::LobbyTimings slow = fastTimings();
        slow.firstReconnectDelayMs = 2000;
        h.api().setLobbyTimingsForTesting(slow);
        QVERIFY(h.joinAndWaitLive(QStringLiteral("v1")));
        LogMark log;
        h.control(QStringLiteral("/test/lobby/drop"));
        QTRY_VERIFY_WITH_TIMEOUT(log.text().contains(QStringLiteral("attempt 1/5")), kEventWaitMs);
        h.api().disconnectVlan();
        QVERIFY(h.waitFor(QStringLiteral("disconnect")));
        QTest::qWait(2500);
        QCOMPARE(h.lobbyOpenings(), 1);
        QVERIFY(!log.text().contains(QStringLiteral("reconnecting to")));
    }

    void tunnelReadyAgainOpensTheLobbyAfresh()
    {
        QStringList script = ScriptedClientFolder::readyScript();
        script.removeLast();
        script << QStringLiteral("sleep 700") << QStringLiteral(R"(out {"event":"reconnecting","backoff":"1"})")
               << QStringLiteral(R"(out {"event":"connecting"})") << QStringLiteral(R"(out {"event":"ready"})")
               << QStringLiteral("wait");
        SessionHarness h(script);
        QVERIFY(h.ready());
        QVERIFY(h.joinAndWaitLive(QStringLiteral("v1")));
        QTRY_COMPARE_WITH_TIMEOUT(h.lobbyOpenings(), 2, kEventWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(h.api().lobbyJoined(), kEventWaitMs);
        QTest::qWait(200);
        QCOMPARE(h.lobbyOpenings(), 2);
        QVERIFY(h.api().connected());
    }
};

CORVANA_TEST_MAIN(ApiClientLobbyTest)
#include "api_client_lobby_test.moc"
