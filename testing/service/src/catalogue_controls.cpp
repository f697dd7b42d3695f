// Test controls for what the pages show: the dedicated catalogue, published
// announcements and the profile's dates and cool-downs. Not part of the real service.
#include "service_server.h"
#include "service_text.h"

#include <QDateTime>
#include <QJsonArray>

namespace {

// An ISO date-time text as the service keeps it; empty or unreadable: none.
QDateTime parseStamp(const QString &text)
{
    QDateTime stamp = QDateTime::fromString(text, Qt::ISODate);
    return stamp.isValid() ? stamp.toUTC() : QDateTime();
}

} // namespace

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
    // announcement, with the next id; {"clear": true} empties the list first.
    server.addRoute("POST", QStringLiteral("/test/announce"), [&state](ServiceCall &call) {
        if (call.body.value(QStringLiteral("clear")).toBool())
            state.announcements = {};
        if (!call.body.contains(QStringLiteral("title")))
            return ServiceReply::json(200, {});
        qint64 newest = 0;
        for (const QJsonValue &item : std::as_const(state.announcements))
            newest = qMax(newest, item.toObject().value(QStringLiteral("id")).toInteger());
        QJsonObject item{{QStringLiteral("id"), newest + 1},
                         {QStringLiteral("title"), bodyText(call, "title")},
                         {QStringLiteral("body"), bodyText(call, "body")},
                         {QStringLiteral("created_at"),
                          QDateTime::currentDateTimeUtc().toString(Qt::ISODate)}};
        for (const char *key : {"link_url", "link_text"})
            if (call.body.contains(QLatin1String(key)))
                item.insert(QLatin1String(key), bodyText(call, key));
        state.announcements.prepend(item);
        return ServiceReply::json(200, {{QStringLiteral("id"), newest + 1}});
    });

    // {"username", "avatar_rotated_at", "username_changed_at",
    //  "avatar_cooldown_seconds", "username_cooldown_seconds"}
    server.addRoute("POST", QStringLiteral("/test/profile"), [&state](ServiceCall &call) {
        if (call.body.contains(QStringLiteral("avatar_cooldown_seconds")))
            state.avatarCooldownSeconds = call.body.value(QStringLiteral("avatar_cooldown_seconds")).toInt();
        if (call.body.contains(QStringLiteral("username_cooldown_seconds")))
            state.usernameCooldownSeconds = call.body.value(QStringLiteral("username_cooldown_seconds")).toInt();
        const QString key = bodyText(call, "username").toLower();
        if (key.isEmpty())
            return ServiceReply::json(200, {});
        auto it = state.accounts.find(key);
        if (it == state.accounts.end())
            return ServiceReply::error(404, QStringLiteral("User not found"));
        if (call.body.contains(QStringLiteral("avatar_rotated_at"))) {
            it->avatarRotatedAt = bodyText(call, "avatar_rotated_at");
            it->lastAvatarChange = parseStamp(it->avatarRotatedAt);
        }
        if (call.body.contains(QStringLiteral("username_changed_at")))
            it->usernameChangedAt = bodyText(call, "username_changed_at");
        return ServiceReply::json(200, {});
    });
}
