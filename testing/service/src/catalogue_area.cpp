// Catalogue: message of the day, announcements, games, dedicated servers,
// public VLANs, avatars and the picture list.
#include "service_server.h"
#include "service_text.h"

#include <QDateTime>
#include <QJsonArray>

namespace {

ServiceReply itemsReply(const QJsonArray &items)
{
    return ServiceReply::json(200, {{QStringLiteral("items"), items}});
}

} // namespace

void registerCatalogueRoutes(ServiceServer &server)
{
    ServiceState &state = server.state();

    // The message greets the player it is asked for, so a window that kept one
    // across a change of player shows the wrong name.
    server.addRoute("GET", QStringLiteral("/api/auth/motd"), authed(state, [&state](ServiceCall &call, Account &account) {
        const QString persian = QStringLiteral("خوش برگشتید، %1");
        const QString message = call.lang == QLatin1String("fa") ? persian : state.motd;
        return ServiceReply::json(200, {{QStringLiteral("message"), message.arg(account.username)}});
    }));
    server.addRoute("GET", QStringLiteral("/api/auth/announcements"),
                    authed(state, [&state](ServiceCall &, Account &) { return itemsReply(state.announcements); }));
    server.addRoute("GET", QStringLiteral("/api/auth/games"),
                    authed(state, [&state](ServiceCall &, Account &) { return itemsReply(state.games); }));
    server.addRoute("GET", QStringLiteral("/api/games/dedicated"),
                    authed(state, [&state](ServiceCall &, Account &) { return itemsReply(state.dedicatedGames); }));
    server.addRoute("GET", QStringLiteral("/api/games/{}/servers"),
                    authed(state, [&state](ServiceCall &call, Account &) {
                        const auto it = state.dedicatedServers.constFind(call.captures.at(0));
                        if (it == state.dedicatedServers.constEnd())
                            return ServiceReply::error(404, localizedDetail(call, "Game not found",
                                                                            "بازی پیدا نشد"));
                        return itemsReply(it.value());
                    }));

    server.addRoute("GET", QStringLiteral("/api/vlans/public"), authed(state, [&state](ServiceCall &call, Account &) {
        bool pageOk = false;
        bool sizeOk = false;
        const int page = call.query.queryItemValue(QStringLiteral("page")).toInt(&pageOk);
        const int pageSize = call.query.queryItemValue(QStringLiteral("page_size")).toInt(&sizeOk);
        if (!pageOk || !sizeOk || page < 0 || pageSize < 1 || pageSize > 100)
            return ServiceReply::error(400, localizedDetail(call, "Invalid paging", "صفحه‌بندی نامعتبر"));
        const QString search =
            call.query.queryItemValue(QStringLiteral("search"), QUrl::FullyDecoded).toLower();
        QJsonArray matching;
        for (const Vlan &vlan : state.vlans)
            if (!vlan.isPrivate && (search.isEmpty() || vlan.name.toLower().contains(search)))
                matching.append(QJsonObject{{QStringLiteral("id"), vlan.id},
                                            {QStringLiteral("name"), vlan.name},
                                            {QStringLiteral("game_id"), vlan.gameId},
                                            {QStringLiteral("players"), int(vlan.members.size())},
                                            {QStringLiteral("capacity"), vlan.capacity},
                                            {QStringLiteral("owner_username"), vlan.owner}});
        const int total = int(matching.size());
        const int totalPages = (total + pageSize - 1) / pageSize;
        QJsonArray pageItems;
        for (int i = page * pageSize; i < total && i < (page + 1) * pageSize; ++i) // pages count from 0
            pageItems.append(matching.at(i));
        return ServiceReply::json(200, {{QStringLiteral("items"), pageItems},
                                        {QStringLiteral("total"), total},
                                        {QStringLiteral("page"), page},
                                        {QStringLiteral("page_size"), pageSize},
                                        {QStringLiteral("total_pages"), totalPages}});
    }));

    server.addRoute("GET", QStringLiteral("/api/users/{}/avatar"), authed(state, [&state](ServiceCall &call, Account &) {
        const auto it = state.accounts.constFind(call.captures.at(0).toLower());
        if (it == state.accounts.constEnd())
            return ServiceReply::error(404, localizedDetail(call, "User not found", "کاربر پیدا نشد"));
        return ServiceReply::json(200, {{QStringLiteral("url"), it->avatarUrl},
                                        {QStringLiteral("rotated_at"), it->avatarRotatedAt}});
    }));

    server.addRoute("GET", QStringLiteral("/api/pfp/list"),
                    authed(state, [&state](ServiceCall &, Account &) { return itemsReply(state.pictures); }));

    server.addRoute("POST", QStringLiteral("/api/users/me/avatar"), authed(state, [&state](ServiceCall &call, Account &account) {
        const QJsonValue id = call.body.value(QStringLiteral("image_id"));
        if (!id.isDouble())
            return validationError({QStringLiteral("image_id")});
        const QDateTime now = QDateTime::currentDateTimeUtc();
        if (account.lastAvatarChange.isValid()) {
            const qint64 left = state.avatarCooldownSeconds - account.lastAvatarChange.secsTo(now);
            if (left > 0)
                return ServiceReply::json(429, {{QStringLiteral("detail"),
                                                 localizedDetail(call, "Avatar change on cool-down",
                                                                 "تغییر آواتار فعلا ممکن نیست")},
                                                {QStringLiteral("cooldown_seconds"), int(left)}});
        }
        for (const QJsonValue &picture : state.pictures) {
            const QJsonObject object = picture.toObject();
            if (object.value(QStringLiteral("id")).toInteger() != id.toInteger())
                continue;
            account.avatarImageId = id.toInteger();
            account.avatarUrl = object.value(QStringLiteral("url")).toString();
            account.avatarRotatedAt = now.toString(Qt::ISODate);
            account.lastAvatarChange = now;
            return ServiceReply::json(200, {{QStringLiteral("url"), account.avatarUrl},
                                            {QStringLiteral("image_id"), account.avatarImageId}});
        }
        return ServiceReply::error(404, localizedDetail(call, "Picture not found", "تصویر پیدا نشد"));
    }));
}
