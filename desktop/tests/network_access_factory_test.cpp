#include "service/api_client.h"
#include "shell/cached_network_access_manager_factory.h"
#include "support/test_main.h"
#include "support/test_service.h"
#include "support/wait_bounds.h"
#include "shell/versioned_network_access_manager.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QImage>
#include <QNetworkDiskCache>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// Answers every HTTP request with one body and keeps each request's head.
class HttpStub : public QObject
{
public:
    HttpStub(QByteArray contentType, QByteArray body)
        : m_contentType(std::move(contentType)), m_body(std::move(body))
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onRead(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    bool listen() { return m_server.listen(QHostAddress::LocalHost); }
    QString url(const QString &path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }
    QList<QByteArray> heads;

private:
    void onRead(QTcpSocket *socket)
    {
        QByteArray &pending = m_partial[socket];
        pending += socket->readAll();
        const qsizetype end = pending.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        heads << pending.left(end);
        m_partial.remove(socket);
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: " + m_contentType
                      + "\r\nContent-Length: " + QByteArray::number(m_body.size())
                      + "\r\nCache-Control: max-age=3600\r\nConnection: close\r\n\r\n" + m_body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QByteArray m_contentType;
    QByteArray m_body;
    QHash<QTcpSocket *, QByteArray> m_partial;
};

QByteArray pngBytes()
{
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

bool hasVersionHeader(const QByteArray &head)
{
    return head.toLower().contains("\r\nx-app-version: 1.5.0");
}

// A picture as plain text (PPM), so a test control can serve it as a body:
// 120 x 100 pixels, 120 KB.
QByteArray largeTextPicture()
{
    return "P3\n120 100\n255\n" + QByteArray("255 128 0\n").repeated(120 * 100);
}

// Pictures as the window loads them: one engine with the program's network access.
class PictureEngine
{
public:
    PictureEngine()
    {
        m_engine.setNetworkAccessManagerFactory(&m_factory);
        m_engine.addUrlInterceptor(&m_localPictures);
    }

    // An Image showing the address; null (with a warning) when it cannot be made.
    std::unique_ptr<QObject> show(const QString &url)
    {
        QQmlComponent component(&m_engine);
        // No pixmap cache: every load must go through the network manager.
        component.setData("import QtQuick\nImage { cache: false; source: \"" + url.toUtf8() + "\" }", QUrl());
        std::unique_ptr<QObject> image(component.create());
        if (!image)
            qWarning() << component.errorString();
        return image;
    }

    static int status(const QObject *image) { return image->property("status").toInt(); }

private:
    // Declared before the engine, which uses them until it goes.
    CachedNetworkAccessManagerFactory m_factory;
    LocalPictureInterceptor m_localPictures;
    QQmlEngine m_engine;
};

} // namespace

class NetworkAccessFactoryTest : public QObject
{
    Q_OBJECT

private:
    // Loads one image in a fresh engine with the factory; its final status.
    static int loadImage(const QString &url)
    {
        PictureEngine pictures;
        return loadImageIn(pictures, url);
    }

    static int loadImageIn(PictureEngine &pictures, const QString &url)
    {
        const std::unique_ptr<QObject> image = pictures.show(url);
        if (!image)
            return -1;
        if (!QTest::qWaitFor([&] { return PictureEngine::status(image.get()) != 2; }, kEventWaitMs)) // 2 = Loading
            return 2;
        return PictureEngine::status(image.get());
    }

private slots:
    void managersMarkRequestsAndShareOneDiskCache()
    {
        const QString directory = CachedNetworkAccessManagerFactory::cacheDirectory();
        QVERIFY(directory.endsWith(QStringLiteral("/Corvana/Corvana/qml-images")));
        QDir(directory).removeRecursively();

        CachedNetworkAccessManagerFactory factory;
        QObject owner;
        QNetworkAccessManager *first = factory.create(&owner);
        QNetworkAccessManager *second = factory.create(&owner);
        QVERIFY(QDir(directory).exists()); // a removed folder comes back
        QVERIFY(qobject_cast<VersionedNetworkAccessManager *>(first));
        QCOMPARE(first->parent(), &owner);
        auto *cache = qobject_cast<QNetworkDiskCache *>(first->cache());
        QVERIFY(cache);
        QCOMPARE(cache->maximumCacheSize(), 52428800);
        QCOMPARE(QDir(cache->cacheDirectory()), QDir(directory));
        QVERIFY(second->cache() && second->cache() != first->cache());
    }

    void qmlImagesCarryTheVersionAndComeFromTheDiskCache()
    {
        HttpStub server("image/png", pngBytes());
        QVERIFY(server.listen());
        QDir(CachedNetworkAccessManagerFactory::cacheDirectory()).removeRecursively();

        QCOMPARE(loadImage(server.url(QStringLiteral("/pictures/a.png"))), 1); // 1 = Ready
        QCOMPARE(server.heads.size(), 1);
        QVERIFY2(hasVersionHeader(server.heads[0]), server.heads[0].constData());
        QVERIFY(!QDir(CachedNetworkAccessManagerFactory::cacheDirectory())
                     .entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());

        // A new engine with new managers still finds the image on disk.
        QCOMPARE(loadImage(server.url(QStringLiteral("/pictures/a.png"))), 1);
        QCOMPARE(server.heads.size(), 1);

        QCOMPARE(loadImage(server.url(QStringLiteral("/pictures/b.png"))), 1);
        QCOMPARE(server.heads.size(), 2);
        QVERIFY(hasVersionHeader(server.heads[1]));
    }

    void onlyBoundedPicturesFromTheNetworkAreShown_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QJsonObject>("rule");
        QTest::newRow("a body without end") << QStringLiteral("http") << QJsonObject{{QStringLiteral("stream_bytes"), qint64(1) << 30}};
        QTest::newRow("a trickling body") << QStringLiteral("http") << QJsonObject{{QStringLiteral("trickle_ms"), 500}};
        QTest::newRow("a local file") << QStringLiteral("file") << QJsonObject();
        QTest::newRow("inline data") << QStringLiteral("data") << QJsonObject();
    }

    void onlyBoundedPicturesFromTheNetworkAreShown()
    {
        QFETCH(QString, kind);
        QFETCH(QJsonObject, rule);
        TestService service;
        QVERIFY(service.start());
        QDir(CachedNetworkAccessManagerFactory::cacheDirectory()).removeRecursively();
        const QString path = QStringLiteral("/static/pfp/3.png");
        const QByteArray png = service.callRaw("GET", path);
        QVERIFY(QImage::fromData(png).width() > 0);
        // Each of these addresses gives a picture when nothing bounds or refuses it.
        QTemporaryDir folder;
        QString url = service.baseUrl() + path;
        if (kind == QLatin1String("file")) {
            QFile file(folder.filePath(QStringLiteral("local.png")));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(png) == png.size());
            file.close();
            url = QUrl::fromLocalFile(file.fileName()).toString();
        } else if (kind == QLatin1String("data")) {
            url = QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png.toBase64());
        }
        VersionedNetworkAccessManager::setPictureLimitsForTesting(VersionedNetworkAccessManager::kPictureStallMs, 3000);
        const auto restore = qScopeGuard([] {
            VersionedNetworkAccessManager::setPictureLimitsForTesting(VersionedNetworkAccessManager::kPictureStallMs,
                                                                      VersionedNetworkAccessManager::kPictureWindowMs);
        });
        if (!rule.isEmpty())
            service.nextCall(path, rule);
        QCOMPARE(loadImage(url), 3); // 3 = Error
        // The client let go before the body was all sent.
        if (!rule.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(service.call("GET", QStringLiteral("/test/abandoned"))
                                         .value(QStringLiteral("items")).toArray().contains(path),
                                     kEventWaitMs);
    }

    void picturesWaitingTheirTurnAreTimedFromTheWire()
    {
        // Ten pictures from one host: six go on the wire, the rest wait their
        // turn for as long as the first take, past the silence limit.
        TestService service;
        QVERIFY(service.start());
        QDir(CachedNetworkAccessManagerFactory::cacheDirectory()).removeRecursively();
        constexpr int kStallMs = 2000;
        VersionedNetworkAccessManager::setPictureLimitsForTesting(kStallMs, 3000);
        const auto restore = qScopeGuard([] {
            VersionedNetworkAccessManager::setPictureLimitsForTesting(VersionedNetworkAccessManager::kPictureStallMs,
                                                                      VersionedNetworkAccessManager::kPictureWindowMs);
        });
        const QString path = QStringLiteral("/static/pfp/3.png");
        const QByteArray picture = largeTextPicture();
        // Four seconds each, twice the silence limit.
        service.nextCall(path, {{QStringLiteral("body"), QString::fromLatin1(picture)},
                                {QStringLiteral("bytes_per_second"), picture.size() / (2 * kStallMs / 1000)},
                                {QStringLiteral("count"), 10}});
        PictureEngine pictures;
        std::vector<std::unique_ptr<QObject>> shown;
        for (int i = 0; i < 10; ++i) {
            shown.push_back(pictures.show(service.baseUrl() + path + QStringLiteral("?n=%1").arg(i)));
            QVERIFY(shown.back());
        }
        const auto settled = [&](int status) {
            QTRY_VERIFY_WITH_TIMEOUT(std::none_of(shown.begin(), shown.end(),
                                                  [](const auto &image) { return PictureEngine::status(image.get()) == 2; }),
                                     3 * kEventWaitMs); // 2 = Loading
            for (const auto &image : shown)
                QCOMPARE(PictureEngine::status(image.get()), status);
        };
        settled(1); // 1 = Ready
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(service.requestsTo(path).size(), 10);

        // Sent on the connections kept alive from those, eight the service
        // never answers all end: none waits unseen behind another (the
        // loader would pipeline the two that find every connection busy).
        service.nextCall(path, {{QStringLiteral("hang"), true}, {QStringLiteral("count"), 8}});
        shown.clear();
        for (int i = 0; i < 8; ++i) {
            shown.push_back(pictures.show(service.baseUrl() + path + QStringLiteral("?again=%1").arg(i)));
            QVERIFY(shown.back());
        }
        settled(3); // 3 = Error
        if (QTest::currentTestFailed())
            return;
        const auto abandoned = [&] {
            const QJsonArray items = service.call("GET", QStringLiteral("/test/abandoned")).value(QStringLiteral("items")).toArray();
            return std::count(items.begin(), items.end(), QJsonValue(path));
        };
        QTRY_COMPARE_WITH_TIMEOUT(abandoned(), 8, kEventWaitMs);
    }

    void apiRequestsCarryNoVersionHeader()
    {
        HttpStub server("application/json", R"({"message":"hello"})");
        QVERIFY(server.listen());
        ApiClient api;
        api.setBaseUrl(server.url(QString()));
        api.fetchMotd();
        QTRY_COMPARE_WITH_TIMEOUT(server.heads.size(), 1, kEventWaitMs);
        QVERIFY(server.heads[0].startsWith("GET /api/auth/motd"));
        QVERIFY2(!server.heads[0].toLower().contains("x-app-version"), server.heads[0].constData());
    }
};

CORVANA_TEST_MAIN(NetworkAccessFactoryTest)
#include "network_access_factory_test.moc"
