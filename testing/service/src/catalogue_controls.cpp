// Test controls for what the pages show: the dedicated catalogue and published
// announcements. Not part of the real service.
#include "service_server.h"
#include "service_text.h"

#include <QDateTime>
#include <QJsonArray>

void registerCatalogueControls(ServiceServer &server)
{
    ServiceState &state = server.state();

    // {"games": [...]} replaces the game list; {"servers": {"<game id>": [...]}}
    // replaces those games' servers; {"reset": true} restores the starting catalogue.
    server.addRoute("POST", QStringLiteral("/test/dedicated"), [&state](ServiceCall &call) {
        if (call.body.value(QStringLiteral("reset")).toBool())
            seedDedicatedCatalogue(state);
        if (call.body.contains(QStringLiteral("games")))
            state.dedicatedGames = call.body.value(QStringLiteral("games")).toArray();
        const QJsonObject servers = call.body.value(QStringLiteral("servers")).toObject();
        for (auto it = servers.begin(); it != servers.end(); ++it)
            state.dedicatedServers.insert(it.key(), it.value().toArray());
        return ServiceReply::json(200, {});
    });

    // {"title", "body", "link_url", "link_text"}: published as the newest
    // announcement, with the next id (or "id" when given); "count": that many,
    // numbered on from the first; {"clear": true} empties the list first.
    server.addRoute("POST", QStringLiteral("/test/announce"), [&state](ServiceCall &call) {
        if (call.body.value(QStringLiteral("clear")).toBool())
            state.announcements = {};
        if (!call.body.contains(QStringLiteral("title")))
            return ServiceReply::json(200, {});
        qint64 newest = 0;
        for (const QJsonValue &item : std::as_const(state.announcements))
            newest = qMax(newest, item.toObject().value(QStringLiteral("id")).toInteger());
        const qint64 first = call.body.contains(QStringLiteral("id"))
                                 ? call.body.value(QStringLiteral("id")).toInteger()
                                 : newest + 1;
        const qint64 count = qMax<qint64>(1, call.body.value(QStringLiteral("count")).toInteger(1));
        QJsonArray published; // newest first
        for (qint64 id = first + count - 1; id >= first; --id) {
            QJsonObject item{{QStringLiteral("id"), id},
                             {QStringLiteral("title"), bodyText(call, "title")},
                             {QStringLiteral("body"), bodyText(call, "body")},
                             {QStringLiteral("created_at"),
                              QDateTime::currentDateTimeUtc().toString(Qt::ISODate)}};
            for (const char *key : {"link_url", "link_text"})
                if (call.body.contains(QLatin1String(key)))
                    item.insert(QLatin1String(key), bodyText(call, key));
            published.append(item);
        }
        for (const QJsonValue &item : std::as_const(state.announcements))
            published.append(item);
        state.announcements = published;
        return ServiceReply::json(200, {{QStringLiteral("id"), first + count - 1}});
    });
}
