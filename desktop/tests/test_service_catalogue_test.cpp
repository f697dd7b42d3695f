// The stand-in service's pictures, dedicated catalogue, announcement and
// profile controls, which the window's pages and their tests lean on, and the
// order of a connection's answers when one of them is slow.
#include "support/test_main.h"
#include "support/test_service.h"
#include "support/wait_bounds.h"

#include <QDateTime>
#include <QHostAddress>
#include <QImage>
#include <QJsonArray>
#include <QTcpSocket>
#include <QTest>

class TestServiceCatalogueTest : public QObject
{
    Q_OBJECT

private:
    static QString signIn(TestService &service, const QString &name)
    {
        return service
            .call("POST", QStringLiteral("/api/auth/register"),
                  {{QStringLiteral("email"), name + QStringLiteral("@example.com")},
                   {QStringLiteral("username"), name},
                   {QStringLiteral("password"), QStringLiteral("secret1")}})
            .value(QStringLiteral("access_token"))
            .toString();
    }

    static QImage picture(TestService &service, const QString &path, int *status)
    {
        return QImage::fromData(service.callRaw("GET", path, {}, status));
    }

private slots:
    void picturesAreDrawnForWhatTheCatalogueNames()
    {
        TestService service;
        QVERIFY(service.start());
        const QString token = signIn(service, QStringLiteral("viewer"));

        int status = 0;
        const QImage card = picture(service, QStringLiteral("/static/dedicated/cs2.png"), &status);
        QCOMPARE(status, 200);
        QCOMPARE(card.size(), QSize(840, 420));
        const QImage other = picture(service, QStringLiteral("/static/dedicated/dota2.png"), &status);
        QVERIFY(other != card);
        // The same name always gives the same picture.
        QCOMPARE(picture(service, QStringLiteral("/static/dedicated/cs2.png"), &status), card);

        const QJsonArray pfp = service.call("GET", QStringLiteral("/api/pfp/list"), {}, &status, token)
                                   .value(QStringLiteral("items"))
                                   .toArray();
        QVERIFY(pfp.size() >= 8);
        QList<QImage> avatars;
        for (const QJsonValue &item : pfp) {
            const QImage avatar = picture(service, item.toObject().value(QStringLiteral("url")).toString(), &status);
            QCOMPARE(status, 200);
            QCOMPARE(avatar.size(), QSize(256, 256));
            QVERIFY2(!avatars.contains(avatar), "two pictures of the picker look the same");
            avatars.append(avatar);
        }

        // The VLAN games' icons, square.
        QCOMPARE(picture(service, QStringLiteral("/static/games/1.png"), &status).size(), QSize(256, 256));

        // Paths nobody names are missing, like a broken link: the catalogue's
        // retired game points at one on purpose.
        picture(service, QStringLiteral("/static/archive/retro-arena.png"), &status);
        QCOMPARE(status, 404);
        picture(service, QStringLiteral("/static/pfp/99.png"), &status);
        QCOMPARE(status, 404);
        picture(service, QStringLiteral("/static/pfp/1.jpg"), &status);
        QCOMPARE(status, 404);
    }

    void aSlowAnswerKeepsItsPlaceBeforeTheNext()
    {
        // A client may send its next request before a slow answer is through
        // (the QML image loader pipelines): the next answer waits its turn.
        TestService service;
        QVERIFY(service.start());
        const QString path = QStringLiteral("/static/pfp/3.png");
        service.nextCall(path, {{QStringLiteral("body"), QStringLiteral("first")}, {QStringLiteral("bytes_per_second"), 10}});
        service.nextCall(path, {{QStringLiteral("body"), QStringLiteral("second")}});
        const QUrl base(service.baseUrl());
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(base.port()));
        QVERIFY(socket.waitForConnected(kEventWaitMs));
        QByteArray received;
        connect(&socket, &QTcpSocket::readyRead, &socket, [&] { received += socket.readAll(); });
        const QByteArray request = "GET " + path.toUtf8() + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        socket.write(request);
        QTRY_VERIFY_WITH_TIMEOUT(received.contains("\r\n\r\n"), kEventWaitMs); // the first answer's head
        socket.write(request);
        QTRY_VERIFY_WITH_TIMEOUT(received.contains("first") && received.contains("second"), kEventWaitMs);
        QVERIFY2(received.indexOf("first") < received.lastIndexOf("HTTP/1.1 200"), received.constData());
        QVERIFY(received.endsWith("\r\n\r\nsecond"));
    }

    void dedicatedServersAnswerOnLoopbackAndCanBeReplaced()
    {
        TestService service;
        QVERIFY(service.start());
        const QString token = signIn(service, QStringLiteral("player"));
        int status = 0;
        const QJsonArray games = service.call("GET", QStringLiteral("/api/games/dedicated"), {}, &status, token)
                                     .value(QStringLiteral("items"))
                                     .toArray();
        QCOMPARE(status, 200);
        QVERIFY(games.size() >= 3);

        // Every server with an address of its own is on a loopback address,
        // so the page's pings get real answers.
        int addressed = 0;
        for (const char *game : {"cs2", "dota2", "mc%20java"}) {
            const QJsonArray servers =
                service.call("GET", QStringLiteral("/api/games/%1/servers").arg(QLatin1String(game)), {}, &status, token)
                    .value(QStringLiteral("items"))
                    .toArray();
            QCOMPARE(status, 200);
            QVERIFY(!servers.isEmpty());
            for (const QJsonValue &value : servers) {
                const QJsonObject server = value.toObject();
                for (const char *key : {"address", "server_address", "endpoint", "ip"}) {
                    const QHostAddress address(server.value(QLatin1String(key)).toString());
                    if (!address.isNull() && address.isLoopback())
                        ++addressed;
                }
            }
        }
        QVERIFY(addressed >= 8);

        const QJsonObject odd{{QStringLiteral("id"), QStringLiteral("x")}, {QStringLiteral("players"), QStringLiteral("many")}};
        service.call("POST", QStringLiteral("/test/dedicated"),
                     {{QStringLiteral("games"), QJsonArray{QJsonObject{{QStringLiteral("id"), QStringLiteral("solo")}}}},
                      {QStringLiteral("servers"), QJsonObject{{QStringLiteral("solo"), QJsonArray{odd}}}}});
        QCOMPARE(service.call("GET", QStringLiteral("/api/games/dedicated"), {}, &status, token)
                     .value(QStringLiteral("items"))
                     .toArray()
                     .size(),
                 1);
        QCOMPARE(service.call("GET", QStringLiteral("/api/games/solo/servers"), {}, &status, token)
                     .value(QStringLiteral("items"))
                     .toArray(),
                 QJsonArray{odd});
        service.call("POST", QStringLiteral("/test/dedicated"), {{QStringLiteral("reset"), true}});
        QCOMPARE(service.call("GET", QStringLiteral("/api/games/dedicated"), {}, &status, token)
                     .value(QStringLiteral("items"))
                     .toArray(),
                 games);
    }

    void publishedAnnouncementsComeFirstWithTheNextId()
    {
        TestService service;
        QVERIFY(service.start());
        const QString token = signIn(service, QStringLiteral("reader"));
        int status = 0;
        const auto list = [&] {
            return service.call("GET", QStringLiteral("/api/auth/announcements"), {}, &status, token)
                .value(QStringLiteral("items"))
                .toArray();
        };
        const QJsonArray before = list();
        const qint64 newest = before.isEmpty() ? 0 : before.first().toObject().value(QStringLiteral("id")).toInteger();

        const QJsonObject published =
            service.call("POST", QStringLiteral("/test/announce"),
                         {{QStringLiteral("title"), QStringLiteral("Maintenance")},
                          {QStringLiteral("body"), QStringLiteral("<b>Tonight</b>")},
                          {QStringLiteral("link_url"), QStringLiteral("https://example.org/news")}});
        QCOMPARE(published.value(QStringLiteral("id")).toInteger(), newest + 1);
        const QJsonArray after = list();
        QCOMPARE(after.size(), before.size() + 1);
        const QJsonObject first = after.first().toObject();
        QCOMPARE(first.value(QStringLiteral("id")).toInteger(), newest + 1);
        QCOMPARE(first.value(QStringLiteral("body")).toString(), QStringLiteral("<b>Tonight</b>"));
        QCOMPARE(first.value(QStringLiteral("link_url")).toString(), QStringLiteral("https://example.org/news"));
        QVERIFY(!first.contains(QStringLiteral("link_text")));
        QVERIFY(QDateTime::fromString(first.value(QStringLiteral("created_at")).toString(), Qt::ISODate).isValid());

        service.call("POST", QStringLiteral("/test/announce"), {{QStringLiteral("clear"), true}});
        QVERIFY(list().isEmpty());
        // Ids keep counting from what is listed; an empty list starts at 1.
        QCOMPARE(service.call("POST", QStringLiteral("/test/announce"), {{QStringLiteral("title"), QStringLiteral("Again")}})
                     .value(QStringLiteral("id"))
                     .toInteger(),
                 1);
    }

    void coolDownsHoldUntilShortenedOrDated()
    {
        TestService service;
        QVERIFY(service.start());
        const QString token = signIn(service, QStringLiteral("rotor"));
        int status = 0;
        const auto setAvatar = [&](int id) {
            return service.call("POST", QStringLiteral("/api/users/me/avatar"), {{QStringLiteral("image_id"), id}},
                                &status, token);
        };
        setAvatar(2);
        QCOMPARE(status, 200);
        // A day's cool-down by default.
        QVERIFY(setAvatar(3).value(QStringLiteral("cooldown_seconds")).toInt() > 86000);
        QCOMPARE(status, 429);

        // Dating the last change back a day and a minute frees it.
        const QString dayAgo = QDateTime::currentDateTimeUtc().addSecs(-86460).toString(Qt::ISODate);
        service.call("POST", QStringLiteral("/test/user"),
                     {{QStringLiteral("username"), QStringLiteral("rotor")}, {QStringLiteral("avatar_rotated_at"), dayAgo}});
        QCOMPARE(service.call("GET", QStringLiteral("/api/auth/me"), {}, &status, token)
                     .value(QStringLiteral("avatar_rotated_at"))
                     .toString(),
                 dayAgo);
        setAvatar(3);
        QCOMPARE(status, 200);

        const auto rename = [&](const QString &name) {
            return service.call("POST", QStringLiteral("/api/auth/change-username"),
                                {{QStringLiteral("new_username"), name}, {QStringLiteral("password"), QStringLiteral("secret1")}},
                                &status, token);
        };
        rename(QStringLiteral("rotor2"));
        QCOMPARE(status, 200);
        QCOMPARE(rename(QStringLiteral("rotor3")).value(QStringLiteral("detail")).toString(),
                 QStringLiteral("Username can be changed once every six months"));
        QCOMPARE(status, 429);
        service.call("POST", QStringLiteral("/test/user"), {{QStringLiteral("username_cooldown_seconds"), 0}});
        rename(QStringLiteral("rotor3"));
        QCOMPARE(status, 200);

        service.call("POST", QStringLiteral("/test/user"), {{QStringLiteral("username"), QStringLiteral("nobody")}}, &status);
        QCOMPARE(status, 404);
    }
};

CORVANA_TEST_MAIN(TestServiceCatalogueTest)
#include "test_service_catalogue_test.moc"
