// Update area: "/api/update" serves a manifest built from a folder of files
// (the release as it should be installed), "/api/update/file/{}" the files.
// A test control chooses the folder and bends single answers.
#include "service_server.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QSet>
#include <QTcpServer>

#include <memory>

namespace {

struct UpdateRelease
{
    QString folder;                 // empty: no release published
    QString version = QStringLiteral("1.5.1");
    QJsonArray remove;
    QSet<QString> corrupt;          // served with a body of its length that misses its hash
    QSet<QString> missing;          // answered with 404
    QJsonObject sizes;              // sizes the manifest announces in place of the real ones
    bool malformed = false;         // manifest body is not JSON
    bool upperCaseHashes = false;   // digests written in capitals
};

QSet<QString> pathSet(const QJsonValue &value)
{
    QSet<QString> out;
    for (const QJsonValue &item : value.toArray())
        out.insert(item.toString());
    return out;
}

// Hex keeps a path with "/" in one route segment.
QString fileRoute(const QString &relativePath)
{
    return QStringLiteral("/api/update/file/") + QString::fromLatin1(relativePath.toUtf8().toHex());
}

QString ownOrigin(const ServiceServer &server)
{
    const QList<QTcpServer *> servers = server.servers();
    if (servers.isEmpty())
        return QStringLiteral("http://127.0.0.1");
    const QTcpServer *tcp = servers.first();
    return QStringLiteral("http://%1:%2").arg(tcp->serverAddress().toString()).arg(tcp->serverPort());
}

QJsonObject buildManifest(const ServiceServer &server, const UpdateRelease &release)
{
    QJsonObject files;
    if (!release.folder.isEmpty()) {
        const QDir root(release.folder);
        QDirIterator it(release.folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            QCryptographicHash sha(QCryptographicHash::Sha256);
            sha.addData(&file);
            const QString relative = root.relativeFilePath(path);
            files.insert(relative, QJsonObject{
                                       {QStringLiteral("hash"), release.upperCaseHashes
                                                                  ? QString::fromLatin1(sha.result().toHex().toUpper())
                                                                  : QString::fromLatin1(sha.result().toHex())},
                                       {QStringLiteral("size"), release.sizes.value(relative).toInteger(file.size())},
                                       {QStringLiteral("download_link"), ownOrigin(server) + fileRoute(relative)},
                                   });
        }
    }
    return QJsonObject{{QStringLiteral("version"), release.version},
                       {QStringLiteral("files"), files},
                       {QStringLiteral("remove"), release.remove}};
}

// The folder given on the command line ("--update-dir") serves until a test
// publishes a release of its own.
void adoptCommandLineFolder(const ServiceServer &server, UpdateRelease &release, bool &adopted)
{
    if (adopted)
        return;
    adopted = true;
    if (release.folder.isEmpty())
        release.folder = server.property("updateFolder").toString();
}

} // namespace

void registerUpdateRoutes(ServiceServer &server)
{
    auto release = std::make_shared<UpdateRelease>();
    auto adopted = std::make_shared<bool>(false);

    server.addRoute("GET", QStringLiteral("/api/update"), [&server, release, adopted](ServiceCall &) {
        adoptCommandLineFolder(server, *release, *adopted);
        if (release->malformed)
            return ServiceReply{200, "{\"version\": \"1.5.", "application/json"};
        return ServiceReply::json(200, buildManifest(server, *release));
    });

    server.addRoute("GET", QStringLiteral("/api/update/file/{}"), [&server, release, adopted](ServiceCall &call) {
        adoptCommandLineFolder(server, *release, *adopted);
        const QString relative = QString::fromUtf8(QByteArray::fromHex(call.captures.value(0).toLatin1()));
        if (release->folder.isEmpty() || relative.isEmpty() || release->missing.contains(relative))
            return ServiceReply::error(404, QStringLiteral("Not Found"));
        // Only files of the release, never a path that climbs out of its folder.
        const QString root = QDir(release->folder).canonicalPath();
        const QString target = QFileInfo(root + QLatin1Char('/') + relative).canonicalFilePath();
        QFile file(target);
        if (target.isEmpty() || !target.startsWith(root + QLatin1Char('/')) || !file.open(QIODevice::ReadOnly))
            return ServiceReply::error(404, QStringLiteral("Not Found"));
        QByteArray body = file.readAll();
        // As long as the file, so only its hash tells it apart.
        if (release->corrupt.contains(relative))
            body = body.isEmpty() ? QByteArray("!") : body.chopped(1) + (body.endsWith('!') ? '?' : '!');
        return ServiceReply{200, body, "application/octet-stream"};
    });

    // {"folder", "version", "remove": [...], "corrupt": [...], "missing": [...],
    //  "stall": [...], "trickle": [...], "sizes": {path: bytes}, "malformed", "upper_case_hashes",
    //  "paced": {path: bytes per second}}; every call replaces the whole release.
    server.addRoute("POST", QStringLiteral("/test/update"), [&server, release, adopted](ServiceCall &call) {
        *adopted = true;
        UpdateRelease next;
        next.folder = call.body.value(QStringLiteral("folder")).toString();
        if (call.body.contains(QStringLiteral("version")))
            next.version = call.body.value(QStringLiteral("version")).toString();
        next.remove = call.body.value(QStringLiteral("remove")).toArray();
        next.corrupt = pathSet(call.body.value(QStringLiteral("corrupt")));
        next.missing = pathSet(call.body.value(QStringLiteral("missing")));
        next.sizes = call.body.value(QStringLiteral("sizes")).toObject();
        next.malformed = call.body.value(QStringLiteral("malformed")).toBool();
        next.upperCaseHashes = call.body.value(QStringLiteral("upper_case_hashes")).toBool();
        if (!next.folder.isEmpty() && !QFileInfo(next.folder).isDir())
            return ServiceReply::error(400, QStringLiteral("folder is not a directory"));
        *release = next;
        // A stalled file never answers its next download; the client's time-out ends it.
        ControlRule hang;
        hang.hang = true;
        for (const QString &path : pathSet(call.body.value(QStringLiteral("stall"))))
            server.addRule(fileRoute(path), hang);
        // A trickled file comes a byte every half second, never silent for long.
        ControlRule trickle;
        trickle.trickleMs = 500;
        for (const QString &path : pathSet(call.body.value(QStringLiteral("trickle"))))
            server.addRule(fileRoute(path), trickle);
        // A paced file comes at a steady rate: a slow line, not a hostile one.
        const QJsonObject paced = call.body.value(QStringLiteral("paced")).toObject();
        for (auto it = paced.constBegin(); it != paced.constEnd(); ++it) {
            ControlRule slow;
            slow.bytesPerSecond = it.value().toInt();
            server.addRule(fileRoute(it.key()), slow);
        }
        return ServiceReply::json(200, {});
    });
}
