// The stand-in service's VLAN area, which the session tests lean on.
#include "support/test_main.h"
#include "support/test_service.h"

#include <QJsonArray>
#include <QTest>

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
        QCOMPARE(users.at(0).toObject().value(QStringLiteral("is_admin")).toBool(), true);
        QCOMPARE(users.at(1).toObject().value(QStringLiteral("username")).toString(), QStringLiteral("guest"));
        QVERIFY(users.at(0).toObject().value(QStringLiteral("assigned_ip")).toString()
                != users.at(1).toObject().value(QStringLiteral("assigned_ip")).toString());

        // Full, unknown, unauthenticated.
        QCOMPARE(service.call("POST", joinPath, {}, &status, third).value(QStringLiteral("detail")).toString(),
                 QStringLiteral("VLAN is full"));
        QCOMPARE(status, 409);
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
