#include "discord/ipc_connection.h"
#include "discord/discord_presence.h"
#include "shell/logger.h"
#include "support/fake_discord_server.h"
#include "support/log_file_text.h"
#include "support/other_account.h"
#include "support/test_main.h"
#include "support/wait_bounds.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

constexpr int kPumpMs = 20;

QJsonObject object(const QJsonValue &value, const char *key)
{
    return value.toObject().value(QLatin1String(key)).toObject();
}

} // namespace

class DiscordPresenceTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_runtime;
    std::unique_ptr<FakeDiscordServer> m_server;

    QString socketPath() const { return m_runtime->path() + QStringLiteral("/discord-ipc-0"); }

    std::unique_ptr<DiscordPresence> makePresence(int debounceMs)
    {
        auto presence = std::make_unique<DiscordPresence>();
        presence->setTimingsForTesting(debounceMs, kPumpMs);
        return presence;
    }

    // Enables the presence and answers the handshake; true once it is ready.
    bool connectReady(DiscordPresence &presence)
    {
        presence.setEnabled(true);
        if (!QTest::qWaitFor([&] { return !m_server->frames().isEmpty(); }, kEventWaitMs))
            return false;
        m_server->sendReady(QStringLiteral("mira"), QStringLiteral("0042"));
        return QTest::qWaitFor([&] { return !m_server->commands(QStringLiteral("SUBSCRIBE")).isEmpty(); },
                               kEventWaitMs);
    }

private slots:
    void initTestCase()
    {
        Logger::instance().init();
        DiscordIpc::Connection::setRetryDelays(20ms, 100ms);
        // Far longer than any test: a second error within one is never reported.
        DiscordIpc::Connection::setErrorInterval(1h);
    }

    void init()
    {
        m_runtime = std::make_unique<QTemporaryDir>();
        QVERIFY(m_runtime->isValid());
        qputenv("XDG_RUNTIME_DIR", m_runtime->path().toLocal8Bit());
        m_server = std::make_unique<FakeDiscordServer>();
        QVERIFY(m_server->listen(socketPath()));
        DiscordPresence::setJoinCallback({});
    }

    void cleanup()
    {
        m_server.reset();
        m_runtime.reset();
    }

    void startsLazilyAndShakesHands()
    {
        auto presence = makePresence(1000);
        QTest::qWait(150);
        QCOMPARE(m_server->acceptedCount(), 0);
        QVERIFY(!presence->initialized());

        presence->setInLobby();
        QVERIFY(presence->initialized());
        QTRY_VERIFY_WITH_TIMEOUT(!m_server->frames().isEmpty(), kEventWaitMs);
        const FakeDiscordServer::Frame hello = m_server->frames().first();
        QCOMPARE(hello.opcode, 0u);
        QCOMPARE(hello.body.value(QStringLiteral("v")).toInt(), 1);
        QCOMPARE(hello.body.value(QStringLiteral("client_id")).toString().size(), 19);

        // Nothing but the handshake goes out before the client says it is ready.
        QTest::qWait(100);
        QCOMPARE(m_server->frames().size(), 1);
        m_server->sendReady(QStringLiteral("mira"), QStringLiteral("0042"));
        QTRY_COMPARE_WITH_TIMEOUT(m_server->activities().size(), 1, kEventWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(logFileText().contains(QStringLiteral("[INF] discord: connected as mira#0042")), kEventWaitMs);
        QVERIFY(logFileText().contains(QStringLiteral("[INF] discord: initialized")));

        const QJsonObject subscribe = m_server->commands(QStringLiteral("SUBSCRIBE")).value(0);
        QCOMPARE(subscribe.value(QStringLiteral("evt")).toString(), QStringLiteral("ACTIVITY_JOIN"));
        QVERIFY(!subscribe.value(QStringLiteral("nonce")).toString().isEmpty());

        const QJsonObject command = m_server->commands(QStringLiteral("SET_ACTIVITY")).first();
        QCOMPARE(command.value(QStringLiteral("args")).toObject().value(QStringLiteral("pid")).toInteger(),
                 QCoreApplication::applicationPid());
        const QJsonObject lobby = m_server->activities().first().toObject();
        QCOMPARE(lobby.value(QStringLiteral("state")).toString(), QStringLiteral("In Lobby"));
        QCOMPARE(lobby.value(QStringLiteral("details")).toString(), QStringLiteral("Corvana LAN"));
        QCOMPARE(object(lobby, "assets").value(QStringLiteral("large_image")).toString(), QStringLiteral("logo"));
        QCOMPARE(object(lobby, "assets").value(QStringLiteral("large_text")).toString(), QStringLiteral("Corvana"));
        QVERIFY(!lobby.contains(QStringLiteral("party")));
        QVERIFY(!lobby.contains(QStringLiteral("timestamps")));
        QVERIFY(!lobby.contains(QStringLiteral("secrets")));
    }

    void burstSendsFirstAtOnceAndLastOnce()
    {
        auto presence = makePresence(1500);
        QVERIFY(connectReady(*presence));
        QCOMPARE(m_server->activities().size(), 0); // enabling alone shows nothing

        presence->setInLobby();
        presence->setConnecting();
        presence->setInRoom(QStringLiteral("Room A"), QStringLiteral("a1"), 1, 4, false, 0);
        presence->setInRoom(QStringLiteral("Room B"), QStringLiteral("b2"), 2, 4, false, 0);
        QTRY_VERIFY_WITH_TIMEOUT(!m_server->activities().isEmpty(), kEventWaitMs);
        QCOMPARE(m_server->activities().first().toObject().value(QStringLiteral("state")).toString(),
                 QStringLiteral("In Lobby"));

        QTRY_COMPARE_WITH_TIMEOUT(m_server->activities().size(), 2, kEventWaitMs);
        const QJsonObject last = m_server->activities().last().toObject();
        QCOMPARE(last.value(QStringLiteral("details")).toString(), QStringLiteral("Room B"));
        QCOMPARE(last.value(QStringLiteral("state")).toString(), QStringLiteral("2/4 Players"));
        QTest::qWait(400);
        QCOMPARE(m_server->activities().size(), 2);
    }

    void roomPresenceCarriesPartyAndSecretForPublicRoomsOnly()
    {
        auto presence = makePresence(0);
        QVERIFY(connectReady(*presence));

        presence->setInRoom(QStringLiteral("Friday LAN"), QStringLiteral("v42"), 3, 8, false,
                            1700000000999);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->activities().size(), 1, kEventWaitMs);
        const QJsonObject open = m_server->activities().last().toObject();
        QCOMPARE(open.value(QStringLiteral("details")).toString(), QStringLiteral("Friday LAN"));
        QCOMPARE(open.value(QStringLiteral("state")).toString(), QStringLiteral("3/8 Players"));
        QCOMPARE(object(open, "timestamps").value(QStringLiteral("start")).toInteger(), 1700000000);
        const QJsonObject party = object(open, "party");
        QCOMPARE(party.value(QStringLiteral("id")).toString(), QStringLiteral("v42"));
        QCOMPARE(party.value(QStringLiteral("size")).toArray(), (QJsonArray{3, 8}));
        QCOMPARE(party.value(QStringLiteral("privacy")).toInt(), 1);
        QCOMPARE(object(open, "secrets").value(QStringLiteral("join")).toString(), QStringLiteral("join:v42"));

        QTest::qWait(30);
        presence->setInRoom(QStringLiteral("Closed"), QStringLiteral("p7"), 2, 6, true, 1700000001000);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->activities().size(), 2, kEventWaitMs);
        const QJsonObject closed = m_server->activities().last().toObject();
        QCOMPARE(object(closed, "party").value(QStringLiteral("privacy")).toInt(), 0);
        QCOMPARE(object(closed, "party").value(QStringLiteral("size")).toArray(), (QJsonArray{2, 6}));
        QVERIFY(!closed.contains(QStringLiteral("secrets")));
        QVERIFY(presence->isPrivate());

        // Leaving the room takes party, time and secret away again.
        QTest::qWait(30);
        presence->setInLobby();
        QTRY_COMPARE_WITH_TIMEOUT(m_server->activities().size(), 3, kEventWaitMs);
        const QJsonObject lobby = m_server->activities().last().toObject();
        QVERIFY(!lobby.contains(QStringLiteral("party")));
        QVERIFY(!lobby.contains(QStringLiteral("timestamps")));
        QVERIFY(!lobby.contains(QStringLiteral("secrets")));
        QCOMPARE(presence->partyId(), QString());
    }

    void disablingClearsAndBlocksChanges()
    {
        auto presence = makePresence(0);
        presence->setEnabled(false);
        presence->setInLobby();
        QTest::qWait(150);
        QVERIFY(!presence->initialized());
        QCOMPARE(m_server->acceptedCount(), 0);
        QCOMPARE(presence->state(), DiscordPresence::State::None);

        QVERIFY(connectReady(*presence));
        presence->setInRoom(QStringLiteral("R"), QStringLiteral("v1"), 1, 4, false, 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->activities().size(), 1, kEventWaitMs);

        presence->setEnabled(false);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->activities().size(), 2, kEventWaitMs);
        QVERIFY(m_server->activities().last().isNull());

        // While disabled the setters leave everything as it was.
        presence->setInLobby();
        QCOMPARE(presence->state(), DiscordPresence::State::InRoom);
        QCOMPARE(presence->partyId(), QStringLiteral("v1"));

        presence->setEnabled(true);
        QTest::qWait(150);
        QCOMPARE(m_server->activities().size(), 2);
        presence->setInLobby();
        QTRY_COMPARE_WITH_TIMEOUT(m_server->activities().size(), 3, kEventWaitMs);
        QCOMPARE(m_server->activities().last().toObject().value(QStringLiteral("state")).toString(),
                 QStringLiteral("In Lobby"));
    }

    void joinRequestsReachTheCallbackWithoutPrefix()
    {
        QStringList joined;
        DiscordPresence::setJoinCallback([&](const QString &id) { joined << id; });
        auto presence = makePresence(0);
        QVERIFY(connectReady(*presence));

        m_server->sendJoin(QStringLiteral("join:"));
        m_server->sendJoin(QStringLiteral("join:ABC123"));
        QTRY_COMPARE_WITH_TIMEOUT(joined, QStringList{QStringLiteral("ABC123")}, kEventWaitMs);
        QVERIFY(logFileText().contains(QStringLiteral("[INF] discord: join request: join:\n")));
        QVERIFY(logFileText().contains(QStringLiteral("[INF] discord: join request: join:ABC123")));

        m_server->sendJoin(QStringLiteral("JOIN:x9"));
        QTRY_COMPARE_WITH_TIMEOUT(joined.size(), 2, kEventWaitMs);
        QCOMPARE(joined.last(), QStringLiteral("JOIN:x9")); // the prefix is case-sensitive

        DiscordPresence::setJoinCallback({});
        m_server->sendJoin(QStringLiteral("join:late"));
        QTRY_VERIFY_WITH_TIMEOUT(logFileText().contains(QStringLiteral("join request: join:late")), kEventWaitMs);
        QCOMPARE(joined.size(), 2);
    }

    void reconnectsAfterTheClientGoesAway()
    {
        auto presence = makePresence(0);
        QVERIFY(connectReady(*presence));
        presence->setInRoom(QStringLiteral("R"), QStringLiteral("v9"), 2, 4, false, 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->activities().size(), 1, kEventWaitMs);

        m_server->stop();
        QTRY_VERIFY_WITH_TIMEOUT(logFileText().contains(QStringLiteral("[WRN] discord: disconnected: 1 pipe closed")), kEventWaitMs);

        auto restarted = std::make_unique<FakeDiscordServer>();
        QVERIFY(restarted->listen(socketPath()));
        QTRY_VERIFY_WITH_TIMEOUT(!restarted->frames().isEmpty(), kEventWaitMs);
        QCOMPARE(restarted->frames().first().opcode, 0u);
        restarted->sendReady(QStringLiteral("mira"), QStringLiteral("0042"));
        // The restarted client is shown the room we are still in.
        QTRY_COMPARE_WITH_TIMEOUT(restarted->activities().size(), 1, kEventWaitMs);
        QCOMPARE(object(restarted->activities().first(), "party").value(QStringLiteral("id")).toString(),
                 QStringLiteral("v9"));

        // A close frame ends the connection with the client's own code.
        restarted->send(2, QJsonObject{{QStringLiteral("code"), 4000},
                                       {QStringLiteral("message"), QStringLiteral("Invalid Client ID")}});
        QTRY_VERIFY_WITH_TIMEOUT(logFileText().contains(QStringLiteral("[WRN] discord: disconnected: 4000 Invalid Client ID")), kEventWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(restarted->acceptedCount() >= 2, kEventWaitMs);
    }

    void destructionClearsAndShutsDown()
    {
        auto presence = makePresence(0);
        QVERIFY(connectReady(*presence));
        presence->setInRoom(QStringLiteral("R"), QStringLiteral("v3"), 1, 2, true, 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->activities().size(), 1, kEventWaitMs);

        presence.reset();
        QTRY_COMPARE_WITH_TIMEOUT(m_server->activities().size(), 2, kEventWaitMs);
        QVERIFY(m_server->activities().last().isNull());
        QTRY_VERIFY_WITH_TIMEOUT(!m_server->clientConnected(), kEventWaitMs);
        QVERIFY(logFileText().contains(QStringLiteral("[INF] discord: shutdown")));
    }

    void garbageFromTheSocketDropsTheConnection_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        QTest::newRow("unknown opcode") << FakeDiscordServer::frame(9, "{}") << QStringLiteral("unknown opcode 9");
        QTest::newRow("absurd length") << QByteArray::fromHex("01000000ffffff7f") << QStringLiteral("exceeds the limit");
        QTest::newRow("one past the cap") << QByteArray::fromHex("0100000001000100") << QStringLiteral("exceeds the limit");
        QTest::newRow("invalid json") << FakeDiscordServer::frame(1, "{\"cmd\":") << QStringLiteral("not a JSON object");
        QTest::newRow("json array") << FakeDiscordServer::frame(1, "[1,2]") << QStringLiteral("not a JSON object");
        QTest::newRow("empty body") << FakeDiscordServer::frame(3, "") << QStringLiteral("not a JSON object");
        QTest::newRow("handshake back") << FakeDiscordServer::frame(0, "{}") << QStringLiteral("unexpected handshake");
    }

    void garbageFromTheSocketDropsTheConnection()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        DiscordIpc::Connection connection("1234567890123456789", true, 77);
        QTRY_VERIFY_WITH_TIMEOUT(m_server->clientConnected(), kEventWaitMs);
        m_server->sendReady(QStringLiteral("mira"), QStringLiteral("1"));
        QTRY_VERIFY_WITH_TIMEOUT(!m_server->commands(QStringLiteral("SUBSCRIBE")).isEmpty(), kEventWaitMs);

        m_server->sendRaw(bytes);
        std::vector<DiscordIpc::Event> events;
        QTRY_VERIFY_WITH_TIMEOUT(std::any_of(events.begin(), events.end(), [&](const DiscordIpc::Event &e) {
            return e.kind == DiscordIpc::Event::Kind::Disconnected;
        }) || (events = connection.takeEvents(), false), kEventWaitMs);
        const auto dropped = std::find_if(events.begin(), events.end(), [](const DiscordIpc::Event &e) {
            return e.kind == DiscordIpc::Event::Kind::Disconnected;
        });
        QCOMPARE(dropped->code, 2);
        QVERIFY2(QString::fromUtf8(dropped->text).contains(reason), dropped->text.constData());
        QTRY_VERIFY_WITH_TIMEOUT(!m_server->clientConnected(), kEventWaitMs);

        // A well-behaved client is reached again once reconnecting is allowed.
        const int before = m_server->acceptedCount();
        connection.requestReconnect();
        QTRY_VERIFY_WITH_TIMEOUT(m_server->acceptedCount() > before, kEventWaitMs);
    }

    void answersPingsAndPassesEventsInOrder()
    {
        DiscordIpc::Connection connection("1234567890123456789", false, 77);
        QTRY_VERIFY_WITH_TIMEOUT(m_server->clientConnected(), kEventWaitMs);
        m_server->sendReady(QStringLiteral("mira"), QStringLiteral("7"));
        m_server->send(3, QJsonObject{{QStringLiteral("n"), 5}});
        QTRY_VERIFY_WITH_TIMEOUT(m_server->frames().size() >= 2, kEventWaitMs);
        QCOMPARE(m_server->frames().last().opcode, 4u);
        QCOMPARE(m_server->frames().last().body.value(QStringLiteral("n")).toInt(), 5);
        // Without a join handler nothing is subscribed.
        QVERIFY(m_server->commands(QStringLiteral("SUBSCRIBE")).isEmpty());

        m_server->send(1, QJsonObject{{QStringLiteral("cmd"), QStringLiteral("SET_ACTIVITY")},
                                      {QStringLiteral("evt"), QStringLiteral("ERROR")},
                                      {QStringLiteral("data"), QJsonObject{{QStringLiteral("code"), 4011},
                                                                           {QStringLiteral("message"), QStringLiteral("bad")}}}});
        // Half a frame, then the rest: it is put together, not dropped.
        const QByteArray join = FakeDiscordServer::frame(
            1, R"({"cmd":"DISPATCH","evt":"ACTIVITY_JOIN","data":{"secret":"join:q"}})");
        m_server->sendRaw(join.left(5));
        QTest::qWait(50);
        m_server->sendRaw(join.mid(5));

        std::vector<DiscordIpc::Event> events;
        QTRY_VERIFY_WITH_TIMEOUT((events.size() >= 3) || [&] {
            for (auto &e : connection.takeEvents())
                events.push_back(std::move(e));
            return false;
        }(), kEventWaitMs);
        QCOMPARE(events[0].kind, DiscordIpc::Event::Kind::Ready);
        QCOMPARE(events[0].username, QByteArray("mira"));
        QCOMPARE(events[0].discriminator, QByteArray("7"));
        QCOMPARE(events[1].kind, DiscordIpc::Event::Kind::Errored);
        QCOMPARE(events[1].code, 4011);
        QCOMPARE(events[1].text, QByteArray("bad"));
        QCOMPARE(events[2].kind, DiscordIpc::Event::Kind::JoinGame);
        QCOMPARE(events[2].text, QByteArray("join:q"));
        QVERIFY(m_server->clientConnected());
    }

    // Error frames count only from a client that is ready, and a peer sending
    // them without end fills neither the log nor the event queue.
    void errorsAreLoggedOnlyWhenConnectedAndOnceAnInterval()
    {
        const qsizetype logBefore = logFileText().size();
        auto error = [](int code, const QString &message) {
            return QJsonObject{{QStringLiteral("cmd"), QStringLiteral("SET_ACTIVITY")},
                               {QStringLiteral("evt"), QStringLiteral("ERROR")},
                               {QStringLiteral("data"), QJsonObject{{QStringLiteral("code"), code},
                                                                    {QStringLiteral("message"), message}}}};
        };
        auto presence = makePresence(0);
        presence->setEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(!m_server->frames().isEmpty(), kEventWaitMs);
        m_server->send(1, error(4001, QStringLiteral("before ready")));
        m_server->sendReady(QStringLiteral("mira"), QStringLiteral("0042"));
        QByteArray flood;
        for (int i = 0; i < 200; ++i)
            flood += FakeDiscordServer::frame(
                1, QJsonDocument(error(4000, QStringLiteral("flood %1").arg(i))).toJson(QJsonDocument::Compact));
        m_server->sendRaw(flood);
        // Logged after everything before it.
        m_server->sendJoin(QStringLiteral("join:after-the-flood"));
        QTRY_VERIFY_WITH_TIMEOUT(logFileText().contains(QStringLiteral("join request: join:after-the-flood")), kEventWaitMs);

        const QString log = logFileText().mid(logBefore);
        QCOMPARE(log.count(QStringLiteral("[ERR] discord: error: ")), 1);
        QVERIFY2(log.contains(QStringLiteral("[ERR] discord: error: 4000 flood 0\n")), qPrintable(log));
    }

    // Anyone may listen under the socket's names in a shared folder: a listener
    // of another account is passed over for the player's own client, and is
    // sent nothing (no handshake, no room, no join secret).
    void aListenerOfAnotherAccountIsPassedOver()
    {
        if (!otherAccount::available())
            QSKIP("needs root to act as another account");
        QTemporaryDir top;
        QVERIFY(::chmod(QFile::encodeName(top.path()).constData(), 0755) == 0);
        const QString shared = top.path() + QStringLiteral("/tmp");
        QVERIFY(otherAccount::makeShared(shared));
        OtherAccountListener squatter;
        QVERIFY(squatter.listen(shared + QStringLiteral("/discord-ipc-0")));
        FakeDiscordServer own;
        QVERIFY(own.listen(shared + QStringLiteral("/discord-ipc-1")));
        qputenv("XDG_RUNTIME_DIR", shared.toLocal8Bit());

        DiscordIpc::Connection connection("1234567890123456789", true, 77);
        connection.setActivity(QJsonObject{{QStringLiteral("secrets"),
                                            QJsonObject{{QStringLiteral("join"), QStringLiteral("join:v42")}}}});
        QTRY_VERIFY_WITH_TIMEOUT(!own.frames().isEmpty(), kEventWaitMs);
        QCOMPARE(own.frames().first().opcode, 0u);
        own.sendReady(QStringLiteral("mira"), QStringLiteral("7"));
        QTRY_VERIFY_WITH_TIMEOUT(!own.activities().isEmpty(), kEventWaitMs);
        const auto heard = squatter.heard();
        QVERIFY(heard.settled);
        QCOMPARE(heard.bytes, QByteArray());
    }

    void nobodyPumpingKeepsTheEventQueueBounded()
    {
        DiscordIpc::Connection connection("1234567890123456789", true, 77);
        QTRY_VERIFY_WITH_TIMEOUT(m_server->clientConnected(), kEventWaitMs);
        m_server->sendReady(QStringLiteral("mira"), QStringLiteral("7"));
        QByteArray many;
        for (int i = 0; i < 600; ++i)
            many += FakeDiscordServer::frame(1, R"({"cmd":"DISPATCH","evt":"ACTIVITY_JOIN","data":{"secret":"s"}})");
        m_server->sendRaw(many);
        m_server->send(3, QJsonObject{{QStringLiteral("last"), true}});
        // The pong answers the final ping, so every join has been read by then.
        QTRY_VERIFY_WITH_TIMEOUT(!m_server->frames().isEmpty() && m_server->frames().last().opcode == 4u, kEventWaitMs);
        const auto events = connection.takeEvents();
        QCOMPARE(events.size(), DiscordIpc::Connection::kMaxQueuedEvents);
        QVERIFY(connection.takeEvents().empty());
    }
};

CORVANA_TEST_MAIN(DiscordPresenceTest)
#include "discord_presence_test.moc"
