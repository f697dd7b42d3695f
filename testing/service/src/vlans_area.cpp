// VLANs: create, join and the disconnect notice.
#include "lobby_hub.h"
#include "service_server.h"
#include "service_text.h"

#include <QJsonArray>

namespace {

QJsonObject vlanReply(const ServiceState &state, const Vlan &vlan)
{
    QJsonArray users;
    for (qsizetype i = 0; i < vlan.members.size(); ++i)
        users.append(QJsonObject{{QStringLiteral("username"), vlan.members.at(i)},
                                 {QStringLiteral("assigned_ip"), QStringLiteral("10.77.0.%1").arg(i + 2)},
                                 {QStringLiteral("is_admin"), vlan.members.at(i) == vlan.owner}});
    return {{QStringLiteral("vlan_id"), vlan.id},
            {QStringLiteral("name"), vlan.name},
            {QStringLiteral("owner_username"), vlan.owner},
            {QStringLiteral("capacity"), vlan.capacity},
            {QStringLiteral("is_private"), vlan.isPrivate},
            {QStringLiteral("server_address"), state.tunnelServer},
            {QStringLiteral("users"), users},
            {QStringLiteral("players"), int(vlan.members.size())}};
}

ServiceReply vlanNotFound(const ServiceCall &call)
{
    return ServiceReply::error(404, localizedDetail(call, "VLAN not found", "شبکه پیدا نشد"));
}

} // namespace

void registerVlanRoutes(ServiceServer &server)
{
    ServiceState &state = server.state();

    server.addRoute("POST", QStringLiteral("/api/vlans/create"), authed(state, [&state](ServiceCall &call, Account &account) {
        const QJsonValue game = call.body.value(QStringLiteral("game_id"));
        const QJsonValue capacity = call.body.value(QStringLiteral("capacity"));
        if (!game.isDouble() || !capacity.isDouble())
            return validationError({QStringLiteral("game_id"), QStringLiteral("capacity")});
        if (capacity.toInt() < 2 || capacity.toInt() > 64)
            return ServiceReply::error(400, localizedDetail(call, "Capacity must be between 2 and 64",
                                                            "ظرفیت باید بین ۲ تا ۶۴ باشد"));
        QString gameName;
        for (const QJsonValue &entry : state.games)
            if (entry.toObject().value(QStringLiteral("id")).toInt() == game.toInt())
                gameName = entry.toObject().value(QStringLiteral("name")).toString();
        if (gameName.isEmpty())
            return ServiceReply::error(404, localizedDetail(call, "Game not found", "بازی پیدا نشد"));
        Vlan vlan;
        vlan.id = QStringLiteral("v%1").arg(state.nextVlanNumber++);
        vlan.name = account.username + QStringLiteral("'s ") + gameName;
        vlan.gameId = game.toInt();
        vlan.capacity = capacity.toInt();
        vlan.isPrivate = call.body.value(QStringLiteral("is_private")).toBool();
        vlan.owner = account.username;
        vlan.members.append(account.username);
        state.vlans.append(vlan);
        return ServiceReply::json(201, vlanReply(state, vlan));
    }));

    server.addRoute("POST", QStringLiteral("/api/vlans/{}/join"), authed(state, [&server, &state](ServiceCall &call, Account &account) {
        Vlan *vlan = state.findVlan(call.captures.at(0));
        if (!vlan)
            return vlanNotFound(call);
        if (!vlan->members.contains(account.username)) {
            if (vlan->members.size() >= vlan->capacity)
                return ServiceReply::error(409, localizedDetail(call, "VLAN is full", "ظرفیت شبکه پر است"));
            vlan->members.append(account.username);
            server.lobby().broadcast(vlan->id, {{QStringLiteral("type"), QStringLiteral("user_connected")},
                                                {QStringLiteral("username"), account.username}},
                                     account.username);
        }
        return ServiceReply::json(200, vlanReply(state, *vlan));
    }));

    server.addRoute("POST", QStringLiteral("/api/vlans/{}/disconnect"), authed(state, [&server, &state](ServiceCall &call, Account &account) {
        Vlan *vlan = state.findVlan(call.captures.at(0));
        if (!vlan)
            return vlanNotFound(call);
        if (vlan->members.removeAll(account.username) > 0)
            server.lobby().broadcast(vlan->id, {{QStringLiteral("type"), QStringLiteral("user_disconnected")},
                                                {QStringLiteral("username"), account.username}},
                                     account.username);
        return ServiceReply::json(200, {{QStringLiteral("message"), QStringLiteral("Disconnected")}});
    }));
}
