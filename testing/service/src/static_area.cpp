// Pictures: "/static/<kind>/<name>.png", drawn on first request and kept.
// Only the three kinds, and only paths the catalogue or an account names, are
// served, so a record that points elsewhere meets a 404 as a broken link would.
#include "picture_art.h"
#include "service_server.h"

#include <QHash>
#include <QJsonArray>

#include <memory>

namespace {

bool namesPath(const QJsonValue &value, const QString &path)
{
    if (value.isString())
        return value.toString() == path;
    if (value.isArray()) {
        for (const QJsonValue &item : value.toArray())
            if (namesPath(item, path))
                return true;
    } else if (value.isObject()) {
        for (const QJsonValue &item : value.toObject())
            if (namesPath(item, path))
                return true;
    }
    return false;
}

bool isKnownPicture(const ServiceState &state, const QString &path)
{
    if (namesPath(state.pictures, path) || namesPath(state.dedicatedGames, path) || namesPath(state.games, path))
        return true;
    for (const Account &account : state.accounts)
        if (account.avatarUrl == path)
            return true;
    return false;
}

} // namespace

void registerStaticRoutes(ServiceServer &server)
{
    auto rendered = std::make_shared<QHash<QString, QByteArray>>();
    server.addRoute("GET", QStringLiteral("/static/{}/{}"), [&server, rendered](ServiceCall &call) {
        const QString kind = call.captures.at(0);
        const QString file = call.captures.at(1);
        const QString path = QStringLiteral("/static/%1/%2").arg(kind, file);
        const bool knownKind = kind == QLatin1String("pfp") || kind == QLatin1String("dedicated")
                               || kind == QLatin1String("games");
        if (!knownKind || !file.endsWith(QLatin1String(".png")) || !isKnownPicture(server.state(), path))
            return ServiceReply::error(404, QStringLiteral("Not Found"));
        const QString stem = file.chopped(4);
        auto it = rendered->find(path);
        if (it == rendered->end()) {
            QByteArray png;
            if (kind == QLatin1String("pfp"))
                png = PictureArt::avatar(stem.toInt());
            else
                png = PictureArt::scene(kind + QLatin1Char('/') + stem, kind == QLatin1String("dedicated"));
            it = rendered->insert(path, png);
        }
        return ServiceReply{200, it.value(), "image/png"};
    });
}
