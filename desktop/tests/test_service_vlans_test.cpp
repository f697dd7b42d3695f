// The stand-in service's VLAN area, which the session tests lean on.
#include "support/test_main.h"
#include "support/test_service.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QWebSocket>

class TestServiceVlansTest : public QObject
{
    Q_OBJECT

private:
    QString signIn(TestService &service, const QString &name)
    {
        QJsonObject reply = service.call("POST", QStringLiteral("/api/auth/register"),
                                         {{QStringLiteral("email"), name + QStringLiteral("@example.com")},
                                          {QStringLiteral("username"), name},
                                          {QStringLiteral("password"), QStringLiteral("secret1")}});
        return reply.value(QStringLiteral("access_token")).toString();
    }

private slots:
    void publicRoomsArePagedFromZeroAndNamedAfterOwnerAndGame()
    {
        TestService service;
        QVERIFY(service.start());
        const QString token = signIn(service, QStringLiteral("browser"));
        int status = 0;
        QStringList gameNames;
        for (const QJsonValue &game : service.call("GET", QStringLiteral("/api/auth/games"), {}, &status, token)
                                          .value(QStringLiteral("items")).toArray()) {
            QVERIFY(game.toObject().value(QStringLiteral("id")).toInt() > 0);
            gameNames.append(game.toObject().value(QStringLiteral("game_name")).toString());
        }
        QVERIFY(gameNames.size() >= 5);

        const QRegularExpression form(QStringLiteral("^(.+) \\((.+)\\)$"));
        QStringList seen;
        int full = 0;
        for (int page = 0;; ++page) {
            const QJsonObject reply = service.call(
                "GET", QStringLiteral("/api/vlans/public?page=%1&page_size=10").arg(page), {}, &status, token);
            QCOMPARE(status, 200);
            QCOMPARE(reply.value(QStringLiteral("page")).toInt(), page);
            const QJsonArray items = reply.value(QStringLiteral("items")).toArray();
            for (const QJsonValue &value : items) {
                const QJsonObject item = value.toObject();
                const auto match = form.match(item.value(QStringLiteral("name")).toString());
                QVERIFY2(match.hasMatch(), qPrintable(item.value(QStringLiteral("name")).toString()));
                QVERIFY(gameNames.contains(match.captured(2)));
                QVERIFY(!seen.contains(item.value(QStringLiteral("id")).toString()));
                seen.append(item.value(QStringLiteral("id")).toString());
                if (item.value(QStringLiteral("players")).toInt() >= item.value(QStringLiteral("capacity")).toInt())
                    ++full;
            }
            if (page + 1 >= reply.value(QStringLiteral("total_pages")).toInt()) {
                QCOMPARE(seen.size(), reply.value(QStringLiteral("total")).toInt());
                break;
            }
            QCOMPARE(items.size(), 10);
        }
        QVERIFY(seen.size() > 30);
        QVERIFY(full > 0);
        QCOMPARE(seen.first(), QStringLiteral("v1"));

        // A created room is named the same way.
        const QJsonObject created = service.call(
            "POST", QStringLiteral("/api/vlans/create"),
            {{QStringLiteral("game_id"), 2}, {QStringLiteral("capacity"), 4}, {QStringLiteral("is_private"), false}},
            &status, token);
        QCOMPARE(created.value(QStringLiteral("name")).toString(), QStringLiteral("browser (") + gameNames.at(1) + QLatin1Char(')'));
    }

    void membersAddedAndRemovedReachTheLobby()
    {
        TestService service;
        QVERIFY(service.start());
        const QString token = signIn(service, QStringLiteral("watcher"));
        int status = 0;
        service.call("POST", QStringLiteral("/api/vlans/v3/join"), {}, &status, token);
        QCOMPARE(status, 200);

        QWebSocket socket;
        QSignalSpy frames(&socket, &QWebSocket::textMessageReceived);
        QSignalSpy opened(&socket, &QWebSocket::connected);
        QString wsUrl = service.baseUrl();
        wsUrl.replace(QStringLiteral("http://"), QStringLiteral("ws://"));
        socket.open(QUrl(wsUrl + QStringLiteral("/api/ws/v3")));
        QVERIFY(opened.wait(10000));
        socket.sendTextMessage(QStringLiteral(R"({"type":"auth","token":"%1"})").arg(token));
        QTRY_VERIFY_WITH_TIMEOUT(frames.size() >= 1, 10000);
        const auto frame = [&](qsizetype i) {
            return QJsonDocument::fromJson(frames.at(i).at(0).toString().toUtf8()).object();
        };
        const auto addressIn = [](const QJsonObject &users, const QString &name) {
            for (const QJsonValue &user : users.value(QStringLiteral("users")).toArray())
                if (user.toObject().value(QStringLiteral("username")).toString() == name)
                    return user.toObject().value(QStringLiteral("assigned_ip")).toString();
            return QStringLiteral("absent");
        };
        QCOMPARE(frame(0).value(QStringLiteral("type")).toString(), QStringLiteral("users"));
        QCOMPARE(frame(0).value(QStringLiteral("players")).toInt(), 3);
        const QString guest2 = addressIn(frame(0), QStringLiteral("guest2"));
        QVERIFY(guest2.startsWith(QStringLiteral("10.77.")));

        const QJsonObject added = service.call(
            "POST", QStringLiteral("/test/lobby/add-member"),
            {{QStringLiteral("vlan_id"), QStringLiteral("v3")}, {QStringLiteral("username"), QStringLiteral("Sam")}},
            &status);
        QCOMPARE(status, 200);
        QCOMPARE(added.value(QStringLiteral("players")).toInt(), 4);
        QTRY_COMPARE_WITH_TIMEOUT(frames.size(), 4, 10000);
        QCOMPARE(frame(1), (QJsonObject{{QStringLiteral("type"), QStringLiteral("user_connected")},
                                        {QStringLiteral("username"), QStringLiteral("Sam")}}));
        QCOMPARE(frame(2).value(QStringLiteral("type")).toString(), QStringLiteral("users"));
        QCOMPARE(frame(2).value(QStringLiteral("players")).toInt(), 4);
        const QString samAddress = addressIn(frame(2), QStringLiteral("Sam"));
        QCOMPARE(frame(3).value(QStringLiteral("type")).toString(), QStringLiteral("user_ip_assigned"));
        QCOMPARE(frame(3).value(QStringLiteral("assigned_ip")).toString(), samAddress);
        QVERIFY(samAddress != guest2 && samAddress.startsWith(QStringLiteral("10.77.")));

        // A leaver takes no one's address with them.
        service.call("POST", QStringLiteral("/test/lobby/remove-member"),
                     {{QStringLiteral("vlan_id"), QStringLiteral("v3")}, {QStringLiteral("username"), QStringLiteral("guest1")}},
                     &status);
        QCOMPARE(status, 200);
        QTRY_COMPARE_WITH_TIMEOUT(frames.size(), 6, 10000);
        QCOMPARE(frame(4), (QJsonObject{{QStringLiteral("type"), QStringLiteral("user_disconnected")},
                                        {QStringLiteral("username"), QStringLiteral("guest1")}}));
        QCOMPARE(frame(5).value(QStringLiteral("players")).toInt(), 3);
        QCOMPARE(addressIn(frame(5), QStringLiteral("guest1")), QStringLiteral("absent"));
        QCOMPARE(addressIn(frame(5), QStringLiteral("guest2")), guest2);
        QCOMPARE(addressIn(frame(5), QStringLiteral("Sam")), samAddress);

        // Many at once, past the capacity: one list, all addresses distinct.
        QJsonArray crowd;
        for (int i = 0; i < 250; ++i)
            crowd.append(QStringLiteral("p%1").arg(i));
        service.call("POST", QStringLiteral("/test/lobby/add-member"),
                     {{QStringLiteral("vlan_id"), QStringLiteral("v3")}, {QStringLiteral("usernames"), crowd}}, &status);
        QCOMPARE(status, 200);
        QTRY_COMPARE_WITH_TIMEOUT(frames.size(), 6 + 250 + 1 + 250, 20000);
        const QJsonObject list = frame(6 + 250);
        QCOMPARE(list.value(QStringLiteral("players")).toInt(), 253);
        QSet<QString> addresses;
        for (const QJsonValue &user : list.value(QStringLiteral("users")).toArray())
            addresses.insert(user.toObject().value(QStringLiteral("assigned_ip")).toString());
        QCOMPARE(addresses.size(), 253);
        service.call("POST", QStringLiteral("/test/lobby/remove-member"),
                     {{QStringLiteral("vlan_id"), QStringLiteral("nope")}, {QStringLiteral("username"), QStringLiteral("x")}},
                     &status);
        QCOMPARE(status, 404);
    }

    void createJoinFillAndLeave()
    {
        TestService service;
        QVERIFY(service.start());
        service.call("POST", QStringLiteral("/test/tunnel-server"), {{QStringLiteral("address"), QStringLiteral("127.0.0.1:9999")}});
        const QString owner = signIn(service, QStringLiteral("owner"));
        const QString guest = signIn(service, QStringLiteral("guest"));
        const QString third = signIn(service, QStringLiteral("third"));
        QVERIFY(!owner.isEmpty() && !guest.isEmpty() && !third.isEmpty());

        int status = 0;
        const QJsonObject created = service.call(
            "POST", QStringLiteral("/api/vlans/create"),
            {{QStringLiteral("game_id"), 2}, {QStringLiteral("capacity"), 2}, {QStringLiteral("is_private"), true}},
            &status, owner);
        QCOMPARE(status, 201);
        const QString id = created.value(QStringLiteral("vlan_id")).toString();
        QVERIFY(!id.isEmpty());
        QCOMPARE(created.value(QStringLiteral("owner_username")).toString(), QStringLiteral("owner"));
        QCOMPARE(created.value(QStringLiteral("server_address")).toString(), QStringLiteral("127.0.0.1:9999"));
        QCOMPARE(created.value(QStringLiteral("is_private")).toBool(), true);

        const QString joinPath = QStringLiteral("/api/vlans/") + id + QStringLiteral("/join");
        const QJsonObject joined = service.call("POST", joinPath, {}, &status, guest);
        QCOMPARE(status, 200);
        QCOMPARE(joined.value(QStringLiteral("players")).toInt(), 2);
        const QJsonArray users = joined.value(QStringLiteral("users")).toArray();
        QCOMPARE(users.size(), 2);
        // "is_admin" marks staff, not the owner.
        QCOMPARE(users.at(0).toObject().value(QStringLiteral("is_admin")).toBool(), false);
        QCOMPARE(users.at(1).toObject().value(QStringLiteral("username")).toString(), QStringLiteral("guest"));
        QVERIFY(users.at(0).toObject().value(QStringLiteral("assigned_ip")).toString()
                != users.at(1).toObject().value(QStringLiteral("assigned_ip")).toString());

        // Full, unknown, unauthenticated.
        QCOMPARE(service.call("POST", joinPath, {}, &status, third).value(QStringLiteral("detail")).toString(),
                 QStringLiteral("VLAN is full"));
        QCOMPARE(status, 409);
        service.call("POST", QStringLiteral("/test/user"), {{QStringLiteral("username"), QStringLiteral("third")},
                                                           {QStringLiteral("vip"), true}});
        const QJsonObject staffJoin = service.call("POST", joinPath, {}, &status, third);
        QCOMPARE(status, 200);
        QCOMPARE(staffJoin.value(QStringLiteral("players")).toInt(), 3);
        QCOMPARE(staffJoin.value(QStringLiteral("users")).toArray().at(2).toObject().value(QStringLiteral("is_admin")).toBool(), true);
        service.call("POST", QStringLiteral("/api/vlans/") + id + QStringLiteral("/disconnect"), {}, &status, third);
        service.call("POST", QStringLiteral("/test/user"), {{QStringLiteral("username"), QStringLiteral("third")},
                                                           {QStringLiteral("vip"), false}});
        service.call("POST", QStringLiteral("/api/vlans/nope/join"), {}, &status, third);
        QCOMPARE(status, 404);
        service.call("POST", joinPath, {}, &status);
        QCOMPARE(status, 401);

        // Private rooms stay out of the public list.
        const QJsonObject list = service.call("GET", QStringLiteral("/api/vlans/public?page=1&page_size=100"), {},
                                              &status, third);
        QCOMPARE(status, 200);
        for (const QJsonValue &item : list.value(QStringLiteral("items")).toArray())
            QVERIFY(item.toObject().value(QStringLiteral("id")).toString() != id);

        // Leaving frees the place.
        service.call("POST", QStringLiteral("/api/vlans/") + id + QStringLiteral("/disconnect"), {}, &status, guest);
        QCOMPARE(status, 200);
        QCOMPARE(service.call("POST", joinPath, {}, &status, third).value(QStringLiteral("players")).toInt(), 2);
        QCOMPARE(status, 200);
    }
};

CORVANA_TEST_MAIN(TestServiceVlansTest)
#include "test_service_vlans_test.moc"
