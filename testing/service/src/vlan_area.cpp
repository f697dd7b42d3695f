// VLANs: join, create and disconnect, with the member list the lobby serves.
#include "lobby_hub.h"
#include "service_server.h"
#include "service_text.h"

#include <QJsonArray>

namespace {

ServiceServer::Handler signedIn(ServiceState &state, std::function<ServiceReply(ServiceCall &, Account &)> inner)
{
    return [&state, inner = std::move(inner)](ServiceCall &call) {
        Account *account = state.accountForAccess(call.bearer);
        return account ? inner(call, *account)
                       : ServiceReply::error(401, localizedDetail(call, "Not authenticated", "احراز هویت نشده"));
    };
}

QJsonObject roomRecord(const ServiceState &state, const VlanRoom &room)
{
    return {{QStringLiteral("vlan_id"), room.id},
            {QStringLiteral("name"), room.name},
            {QStringLiteral("owner_username"), room.owner},
            {QStringLiteral("capacity"), room.capacity},
            {QStringLiteral("is_private"), room.isPrivate},
            {QStringLiteral("game_id"), room.gameId},
            {QStringLiteral("server_address"), state.tunnelServerAddress}};
}

QJsonArray memberList(const VlanRoom &room)
{
    QJsonArray users;
    for (const QString &member : room.members)
        users.append(QJsonObject{{QStringLiteral("username"), member}});
    return users;
}

// Public VLANs of the catalogue become rooms on their first join.
VlanRoom *roomFor(ServiceState &state, const QString &id)
{
    auto it = state.rooms.find(id);
    if (it != state.rooms.end())
        return &it.value();
    for (const PublicVlan &vlan : std::as_const(state.vlans)) {
        if (vlan.id == id) {
            VlanRoom room{vlan.id, vlan.name, vlan.owner, vlan.gameId, vlan.capacity, false, {}};
            return &state.rooms.insert(id, room).value();
        }
    }
    return nullptr;
}

QString gameName(const ServiceState &state, int gameId)
{
    for (const QJsonValue &game : state.games)
        if (game.toObject().value(QStringLiteral("id")).toInt() == gameId)
            return game.toObject().value(QStringLiteral("name")).toString();
    return QString();
}

} // namespace

void registerVlanRoutes(ServiceServer &server)
{
    ServiceState &state = server.state();

    server.addRoute("POST", QStringLiteral("/api/vlans/{}/join"),
                    signedIn(state, [&server, &state](ServiceCall &call, Account &account) {
                        VlanRoom *room = roomFor(state, call.captures.at(0));
                        if (!room)
                            return ServiceReply::error(404, localizedDetail(call, "VLAN not found", "شبکه پیدا نشد"));
                        if (!room->members.contains(account.username)) {
                            if (room->members.size() >= room->capacity)
                                return ServiceReply::error(409, localizedDetail(call, "VLAN is full", "ظرفیت شبکه پر است"));
                            room->members.append(account.username);
                            server.lobby().broadcast(room->id,
                                                     {{QStringLiteral("type"), QStringLiteral("user_connected")},
                                                      {QStringLiteral("username"), account.username}},
                                                     account.username);
                        }
                        QJsonObject reply = roomRecord(state, *room);
                        reply.insert(QStringLiteral("users"), memberList(*room));
                        reply.insert(QStringLiteral("players"), int(room->members.size()));
                        return ServiceReply::json(200, reply);
                    }));

    // {"game_id": int, "capacity": int, "is_private": bool}
    server.addRoute("POST", QStringLiteral("/api/vlans/create"),
                    signedIn(state, [&state](ServiceCall &call, Account &account) {
                        const QJsonValue game = call.body.value(QStringLiteral("game_id"));
                        const QJsonValue capacity = call.body.value(QStringLiteral("capacity"));
                        if (!game.isDouble() || !capacity.isDouble())
                            return validationError({QStringLiteral("game_id"), QStringLiteral("capacity")});
                        const QString name = gameName(state, game.toInt());
                        if (name.isEmpty())
                            return ServiceReply::error(404, localizedDetail(call, "Game not found", "بازی پیدا نشد"));
                        if (capacity.toInt() < 2 || capacity.toInt() > 64)
                            return ServiceReply::error(400, localizedDetail(call, "Capacity must be 2 to 64",
                                                                            "ظرفیت باید بین ۲ تا ۶۴ باشد"));
                        VlanRoom room;
                        room.id = QStringLiteral("room-%1").arg(++state.createdRooms);
                        room.name = QStringLiteral("%1 (%2)").arg(name, account.username);
                        room.owner = account.username;
                        room.gameId = game.toInt();
                        room.capacity = capacity.toInt();
                        room.isPrivate = call.body.value(QStringLiteral("is_private")).toBool();
                        room.members = {account.username};
                        state.rooms.insert(room.id, room);
                        QJsonObject reply = roomRecord(state, room);
                        reply.insert(QStringLiteral("users"), memberList(room));
                        reply.insert(QStringLiteral("players"), 1);
                        return ServiceReply::json(200, reply);
                    }));

    server.addRoute("POST", QStringLiteral("/api/vlans/{}/disconnect"),
                    signedIn(state, [&server, &state](ServiceCall &call, Account &account) {
                        const auto room = state.rooms.find(call.captures.at(0));
                        if (room == state.rooms.end())
                            return ServiceReply::error(404, localizedDetail(call, "VLAN not found", "شبکه پیدا نشد"));
                        if (room->members.removeAll(account.username) > 0)
                            server.lobby().broadcast(room->id,
                                                     {{QStringLiteral("type"), QStringLiteral("user_disconnected")},
                                                      {QStringLiteral("username"), account.username}},
                                                     account.username);
                        return ServiceReply::json(200, {{QStringLiteral("ok"), true}});
                    }));

    // Test controls: where the tunnel server runs; a room's record and members.
    server.addRoute("POST", QStringLiteral("/test/tunnel-server"), [&state](ServiceCall &call) {
        state.tunnelServerAddress = bodyText(call, "address");
        return ServiceReply::json(200, {});
    });
    // {"id", "members": [names], "name"?, "capacity"?, "is_private"?}
    server.addRoute("POST", QStringLiteral("/test/room"), [&state](ServiceCall &call) {
        const QString id = bodyText(call, "id");
        if (id.isEmpty())
            return ServiceReply::error(400, QStringLiteral("id required"));
        VlanRoom &room = state.rooms[id];
        room.id = id;
        room.name = call.body.value(QStringLiteral("name")).toString(id);
        room.owner = call.body.value(QStringLiteral("owner")).toString(QStringLiteral("host0"));
        room.capacity = call.body.value(QStringLiteral("capacity")).toInt(8);
        room.isPrivate = call.body.value(QStringLiteral("is_private")).toBool();
        room.members.clear();
        for (const QJsonValue &member : call.body.value(QStringLiteral("members")).toArray())
            room.members.append(member.toString());
        return ServiceReply::json(200, {});
    });
    server.addRoute("GET", QStringLiteral("/test/room/{}"), [&state](ServiceCall &call) {
        const auto room = state.rooms.constFind(call.captures.at(0));
        if (room == state.rooms.constEnd())
            return ServiceReply::error(404, QStringLiteral("no such room"));
        QJsonObject reply = roomRecord(state, *room);
        reply.insert(QStringLiteral("users"), memberList(*room));
        return ServiceReply::json(200, reply);
    });
}
