// VLANs: the seeded public rooms, create, join and the disconnect notice.
#include "lobby_hub.h"
#include "service_server.h"
#include "service_text.h"

#include <QJsonArray>

namespace {

QJsonObject vlanReply(const ServiceState &state, const Vlan &vlan)
{
    const QJsonArray users = lobbyUsers(state, vlan);
    return {{QStringLiteral("vlan_id"), vlan.id},
            {QStringLiteral("name"), vlan.name},
            {QStringLiteral("owner_username"), vlan.owner},
            {QStringLiteral("capacity"), vlan.capacity},
            {QStringLiteral("is_private"), vlan.isPrivate},
            {QStringLiteral("server_address"), state.tunnelServer},
            {QStringLiteral("users"), users},
            {QStringLiteral("players"), int(users.size())}};
}

QString gameName(const ServiceState &state, int gameId)
{
    for (const QJsonValue &entry : state.games)
        if (entry.toObject().value(QStringLiteral("id")).toInt() == gameId)
            return entry.toObject().value(QStringLiteral("game_name")).toString();
    return {};
}

// The service names a room after its owner and game: "Sam (Dota 2)".
QString roomName(const QString &owner, const QString &game)
{
    return owner + QStringLiteral(" (") + game + QLatin1Char(')');
}

// Public rooms enough for several pages of the list, a few of them full.
// The first five keep small, open rooms with 0 to 4 guests.
void seedPublicRooms(ServiceState &state)
{
    const QStringList owners{
        QStringLiteral("Sam"),   QStringLiteral("Nadia"),  QStringLiteral("Kaveh"), QStringLiteral("Leila"),
        QStringLiteral("Arash"), QStringLiteral("مهسا"),   QStringLiteral("Omid"),  QStringLiteral("Sara"),
        QStringLiteral("Reza"),  QStringLiteral("Dariush"), QStringLiteral("نیما"), QStringLiteral("Elham"),
        QStringLiteral("Farid"), QStringLiteral("Yasmin"), QStringLiteral("Babak")};
    const int capacities[] = {4, 6, 8, 10, 12, 16, 2, 20, 32, 50};
    for (int i = 0; i < 45; ++i) {
        Vlan vlan;
        vlan.id = QStringLiteral("v%1").arg(state.nextVlanNumber++);
        vlan.owner = owners.at(i % owners.size());
        vlan.gameId = i % 10 + 1;
        vlan.name = roomName(vlan.owner, gameName(state, vlan.gameId));
        vlan.capacity = i < 5 ? 8 : capacities[i % 10];
        const int guests = i < 5 ? i : (i % 7 == 0 ? vlan.capacity : (i * 7) % vlan.capacity);
        for (int m = 0; m < guests; ++m)
            vlan.addMember(QStringLiteral("guest%1").arg(m + 1));
        state.vlans.append(vlan);
    }
}
ServiceReply vlanNotFound(const ServiceCall &call)
{
    return ServiceReply::error(404, localizedDetail(call, "VLAN not found", "شبکه پیدا نشد"));
}

} // namespace

void registerVlanRoutes(ServiceServer &server)
{
    ServiceState &state = server.state();
    seedPublicRooms(state);

    server.addRoute("POST", QStringLiteral("/api/vlans/create"), authed(state, [&state](ServiceCall &call, Account &account) {
        const QJsonValue gameId = call.body.value(QStringLiteral("game_id"));
        const QJsonValue capacity = call.body.value(QStringLiteral("capacity"));
        if (!gameId.isDouble() || !capacity.isDouble())
            return validationError({QStringLiteral("game_id"), QStringLiteral("capacity")});
        if (capacity.toInt() < 2 || capacity.toInt() > 64)
            return ServiceReply::error(400, localizedDetail(call, "Capacity must be between 2 and 64",
                                                            "ظرفیت باید بین ۲ تا ۶۴ باشد"));
        const QString game = gameName(state, gameId.toInt());
        if (game.isEmpty())
            return ServiceReply::error(404, localizedDetail(call, "Game not found", "بازی پیدا نشد"));
        Vlan vlan;
        vlan.id = QStringLiteral("v%1").arg(state.nextVlanNumber++);
        vlan.name = roomName(account.username, game);
        vlan.gameId = gameId.toInt();
        vlan.capacity = capacity.toInt();
        vlan.isPrivate = call.body.value(QStringLiteral("is_private")).toBool();
        vlan.owner = account.username;
        vlan.addMember(account.username);
        state.vlans.append(vlan);
        return ServiceReply::json(201, vlanReply(state, vlan));
    }));

    server.addRoute("POST", QStringLiteral("/api/vlans/{}/join"), authed(state, [&server, &state](ServiceCall &call, Account &account) {
        Vlan *vlan = state.findVlan(call.captures.at(0));
        if (!vlan)
            return vlanNotFound(call);
        if (!vlan->members.contains(account.username)) {
            // Staff may join a full room, as the list's Join button allows them to.
            if (vlan->members.size() >= vlan->capacity && !account.vip)
                return ServiceReply::error(409, localizedDetail(call, "VLAN is full", "ظرفیت شبکه پر است"));
            vlan->addMember(account.username);
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
        if (vlan->removeMember(account.username))
            server.lobby().broadcast(vlan->id, {{QStringLiteral("type"), QStringLiteral("user_disconnected")},
                                                {QStringLiteral("username"), account.username}},
                                     account.username);
        return ServiceReply::json(200, {{QStringLiteral("message"), QStringLiteral("Disconnected")}});
    }));
}
