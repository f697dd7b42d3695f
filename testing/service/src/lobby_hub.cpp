// Lobby WebSocket: member list on sign-in, joins and leaves, pong with the
// member list, token refresh answers; plus the controls tests use on it.
#include "lobby_hub.h"

#include "service_server.h"
#include "service_text.h"

#include <QJsonDocument>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

#include <memory>

namespace {

QString compact(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

const QString kLobbyPrefix = QStringLiteral("/api/ws/");

} // namespace

LobbyHub::LobbyHub(ServiceServer &server, QObject *parent)
    : QObject(parent)
    , m_server(server)
{
    connect(&m_server, &QAbstractHttpServer::newWebSocketConnection, this, &LobbyHub::onNewConnection);
}

LobbyHub::~LobbyHub()
{
    for (const Client &client : std::as_const(m_clients)) {
        client.socket->disconnect(this);
        delete client.socket;
    }
}

LobbyHub::Client *LobbyHub::find(QWebSocket *socket)
{
    for (Client &client : m_clients)
        if (client.socket == socket)
            return &client;
    return nullptr;
}

QJsonArray lobbyUsers(const ServiceState &state, const Vlan &vlan)
{
    QJsonArray users;
    for (const QString &member : vlan.members)
        users.append(QJsonObject{{QStringLiteral("username"), member},
                                 {QStringLiteral("assigned_ip"), vlan.addressOf(member)},
                                 {QStringLiteral("is_admin"), state.accounts.value(member.toLower()).vip}});
    return users;
}

QJsonObject LobbyHub::usersMessage(const QString &type, const QString &vlanId) const
{
    QJsonArray users;
    if (const Vlan *vlan = m_server.state().findVlan(vlanId))
        users = lobbyUsers(m_server.state(), *vlan);
    return {{QStringLiteral("type"), type},
            {QStringLiteral("users"), users},
            {QStringLiteral("players"), users.size()}};
}

void LobbyHub::onNewConnection()
{
    while (m_server.hasPendingWebSocketConnections()) {
        QWebSocket *socket = m_server.nextPendingWebSocketConnection().release();
        socket->setParent(nullptr);
        const QString path = socket->requestUrl().path(QUrl::FullyEncoded);
        const QString encodedId = path.startsWith(kLobbyPrefix) ? path.mid(kLobbyPrefix.size()) : QString();
        const QString vlanId = QUrl::fromPercentEncoding(encodedId.toUtf8());
        m_opened.append(QJsonObject{
            {QStringLiteral("path"), path},
            {QStringLiteral("vlan_id"), vlanId},
            {QStringLiteral("authorization"),
             QString::fromUtf8(socket->request().rawHeader("Authorization"))},
            {QStringLiteral("x_lang"), QString::fromUtf8(socket->request().rawHeader("x-lang"))}});
        m_clients.append(Client{socket, vlanId, QString(), false, 0});
        connect(socket, &QWebSocket::bytesWritten, this, [this, socket](qint64 bytes) {
            if (Client *client = find(socket))
                client->sentBytes += bytes;
        });
        connect(socket, &QWebSocket::textMessageReceived, this,
                [this, socket](const QString &text) { onMessage(socket, text); });
        connect(socket, &QWebSocket::disconnected, this, [this, socket]() { onGone(socket); });
        if (encodedId.isEmpty() || encodedId.contains(QLatin1Char('/'))
            || !m_server.state().findVlan(vlanId))
            socket->close(QWebSocketProtocol::CloseCode(4004), QStringLiteral("unknown VLAN"));
    }
}

void LobbyHub::onGone(QWebSocket *socket)
{
    for (qsizetype i = 0; i < m_clients.size(); ++i) {
        if (m_clients.at(i).socket == socket) {
            m_closed.append(QJsonObject{{QStringLiteral("vlan_id"), m_clients.at(i).vlanId},
                                        {QStringLiteral("sent_bytes"), m_clients.at(i).sentBytes}});
            m_clients.removeAt(i);
            break;
        }
    }
    socket->disconnect(this);
    socket->deleteLater();
}

void LobbyHub::onMessage(QWebSocket *socket, const QString &text)
{
    Client *client = find(socket);
    if (!client)
        return;
    m_frames.append(QJsonObject{{QStringLiteral("vlan_id"), client->vlanId},
                                {QStringLiteral("text"), text}});
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString type = message.value(QStringLiteral("type")).toString();
    const QString token = message.value(QStringLiteral("token")).toString();
    ServiceState &state = m_server.state();

    if (type == QLatin1String("auth")) {
        ++m_signIns;
        if (m_rejectSignIns && !m_rejectAfterUsers) {
            socket->sendTextMessage(compact({{QStringLiteral("type"), QStringLiteral("token_error")}}));
            return;
        }
        Account *account = state.accountForAccess(token);
        if (!account) {
            socket->close(QWebSocketProtocol::CloseCode(4001), QStringLiteral("unauthorized"));
            return;
        }
        if (m_refuse > 0) {
            --m_refuse;
            socket->abort();
            return;
        }
        client->signedIn = true;
        client->username = account->username;
        if (m_silent)
            return;
        socket->sendTextMessage(compact(usersMessage(QStringLiteral("users"), client->vlanId)));
        if (m_cutAfterUsersMs > 0)
            QTimer::singleShot(m_cutAfterUsersMs, socket, [socket] { socket->abort(); });
        if (m_rejectSignIns) {
            socket->sendTextMessage(compact({{QStringLiteral("type"), QStringLiteral("token_error")}}));
            return;
        }
        broadcast(client->vlanId,
                  {{QStringLiteral("type"), QStringLiteral("user_connected")},
                   {QStringLiteral("username"), client->username}},
                  client->username);
    } else if (type == QLatin1String("ping")) {
        if (client->signedIn && !m_silent)
            socket->sendTextMessage(compact(usersMessage(QStringLiteral("pong"), client->vlanId)));
    } else if (type == QLatin1String("refresh_token")) {
        if (m_silent)
            return;
        const bool ok = !m_rejectTokens && state.accountForAccess(token);
        socket->sendTextMessage(compact(
            {{QStringLiteral("type"), ok ? QStringLiteral("token_ok") : QStringLiteral("token_error")}}));
    }
}

void LobbyHub::broadcast(const QString &vlanId, const QJsonObject &message, const QString &except)
{
    const QString text = compact(message);
    for (const Client &client : std::as_const(m_clients))
        if (client.signedIn && client.vlanId == vlanId && client.username != except)
            client.socket->sendTextMessage(text);
}

void LobbyHub::announceJoin(const QString &vlanId, const QStringList &names)
{
    for (const QString &name : names)
        broadcast(vlanId, {{QStringLiteral("type"), QStringLiteral("user_connected")},
                           {QStringLiteral("username"), name}});
    broadcast(vlanId, usersMessage(QStringLiteral("users"), vlanId));
    const Vlan *vlan = m_server.state().findVlan(vlanId);
    for (const QString &name : names)
        broadcast(vlanId, {{QStringLiteral("type"), QStringLiteral("user_ip_assigned")},
                           {QStringLiteral("username"), name},
                           {QStringLiteral("assigned_ip"), vlan ? vlan->addressOf(name) : QString()}});
}

void LobbyHub::announceLeave(const QString &vlanId, const QStringList &names)
{
    for (const QString &name : names)
        broadcast(vlanId, {{QStringLiteral("type"), QStringLiteral("user_disconnected")},
                           {QStringLiteral("username"), name}});
    broadcast(vlanId, usersMessage(QStringLiteral("users"), vlanId));
}

void LobbyHub::sendRaw(const QString &vlanId, const QString &text, qint64 frameBytes)
{
    for (const Client &client : std::as_const(m_clients)) {
        if (!vlanId.isEmpty() && client.vlanId != vlanId)
            continue;
        const quint64 usual = client.socket->outgoingFrameSize();
        if (frameBytes > 0)
            client.socket->setOutgoingFrameSize(quint64(frameBytes));
        client.socket->sendTextMessage(text);
        client.socket->setOutgoingFrameSize(usual);
    }
}

void LobbyHub::dropAll(int refuse)
{
    m_refuse = refuse;
    const QList<Client> clients = m_clients;
    for (const Client &client : clients)
        client.socket->abort();
}

QJsonObject LobbyHub::status() const
{
    QJsonArray open;
    for (const Client &client : m_clients)
        open.append(QJsonObject{{QStringLiteral("vlan_id"), client.vlanId},
                                {QStringLiteral("username"), client.username},
                                {QStringLiteral("signed_in"), client.signedIn}});
    return {{QStringLiteral("opened"), m_opened},
            {QStringLiteral("open"), open},
            {QStringLiteral("closed"), m_closed},
            {QStringLiteral("sign_ins"), m_signIns},
            {QStringLiteral("frames"), m_frames}};
}

void LobbyHub::reset()
{
    m_opened = {};
    m_closed = {};
    m_frames = {};
    m_signIns = 0;
    m_silent = false;
    m_rejectTokens = false;
    m_rejectSignIns = false;
    m_rejectAfterUsers = false;
    m_refuse = 0;
    m_cutAfterUsersMs = 0;
}

void registerLobbyRoutes(ServiceServer &server)
{
    LobbyHub &hub = server.lobby();

    // {"vlan_id"?, "message": {...}} or {"vlan_id"?, "raw": "text", "repeat"?: n, "frame_bytes"?: n}
    server.addRoute("POST", QStringLiteral("/test/lobby/send"), [&hub](ServiceCall &call) {
        const QString vlanId = bodyText(call, "vlan_id");
        if (call.body.value(QStringLiteral("message")).isObject())
            hub.sendRaw(vlanId, compact(call.body.value(QStringLiteral("message")).toObject()));
        else
            hub.sendRaw(vlanId, bodyText(call, "raw").repeated(qMax(1, call.body.value(QStringLiteral("repeat")).toInt(1))),
                        call.body.value(QStringLiteral("frame_bytes")).toInteger());
        return ServiceReply::json(200, {});
    });
    // {"refuse": n}: the next n sign-ins are cut off too.
    server.addRoute("POST", QStringLiteral("/test/lobby/drop"), [&hub](ServiceCall &call) {
        hub.dropAll(call.body.value(QStringLiteral("refuse")).toInt());
        return ServiceReply::json(200, {});
    });
    // {"cut_after_ms": n}: each connection from now on is cut n ms after its member list.
    server.addRoute("POST", QStringLiteral("/test/lobby/flaky"), [&hub](ServiceCall &call) {
        hub.setCutAfterUsers(call.body.value(QStringLiteral("cut_after_ms")).toInt());
        return ServiceReply::json(200, {});
    });
    server.addRoute("POST", QStringLiteral("/test/lobby/silent"), [&hub](ServiceCall &call) {
        hub.setSilent(call.body.value(QStringLiteral("on")).toBool(true));
        return ServiceReply::json(200, {});
    });
    server.addRoute("POST", QStringLiteral("/test/lobby/reject-token"), [&hub](ServiceCall &call) {
        hub.setRejectTokens(call.body.value(QStringLiteral("on")).toBool(true));
        return ServiceReply::json(200, {});
    });
    server.addRoute("POST", QStringLiteral("/test/lobby/reject-sign-in"), [&hub](ServiceCall &call) {
        hub.setRejectSignIns(call.body.value(QStringLiteral("on")).toBool(true),
                             call.body.value(QStringLiteral("after_users")).toBool());
        return ServiceReply::json(200, {});
    });
    server.addRoute("GET", QStringLiteral("/test/lobby"), [&hub](ServiceCall &) {
        return ServiceReply::json(200, hub.status());
    });
    server.addRoute("POST", QStringLiteral("/test/lobby/reset"), [&hub](ServiceCall &) {
        hub.reset();
        return ServiceReply::json(200, {});
    });

    // A room with any id and members: {"id", "members": [names], "name"?, "capacity"?}
    ServiceState &state = server.state();
    server.addRoute("POST", QStringLiteral("/test/room"), [&state](ServiceCall &call) {
        const QString id = bodyText(call, "id");
        if (id.isEmpty())
            return ServiceReply::error(400, QStringLiteral("id required"));
        Vlan *vlan = state.findVlan(id);
        if (!vlan) {
            state.vlans.append(Vlan{});
            vlan = &state.vlans.last();
        }
        vlan->id = id;
        vlan->name = call.body.value(QStringLiteral("name")).toString(id);
        vlan->owner = call.body.value(QStringLiteral("owner")).toString(QStringLiteral("host0"));
        vlan->capacity = call.body.value(QStringLiteral("capacity")).toInt(8);
        vlan->isPrivate = true; // kept out of the public list
        QStringList members;
        for (const QJsonValue &member : call.body.value(QStringLiteral("members")).toArray())
            members.append(member.toString());
        vlan->setMembers(members);
        return ServiceReply::json(200, {});
    });

    // Members who come and go while clients watch the room, as other players
    // would: {"vlan_id", "username"} or {"vlan_id", "usernames": [...]}.
    // Joining ignores the capacity, so tests can fill a room past it.
    const auto names = [](const ServiceCall &call) {
        QStringList list;
        for (const QJsonValue &name : call.body.value(QStringLiteral("usernames")).toArray())
            list.append(name.toString());
        if (!bodyText(call, "username").isEmpty())
            list.append(bodyText(call, "username"));
        list.removeAll(QString());
        return list;
    };
    const auto memberControl = [&state, &hub, names](bool joining) {
        return [&state, &hub, names, joining](ServiceCall &call) {
            Vlan *vlan = state.findVlan(bodyText(call, "vlan_id"));
            if (!vlan)
                return ServiceReply::error(404, QStringLiteral("no such room"));
            QStringList changed;
            for (const QString &name : names(call)) {
                if (vlan->members.contains(name) == joining)
                    continue;
                if (joining)
                    vlan->addMember(name);
                else
                    vlan->removeMember(name);
                changed.append(name);
            }
            if (!changed.isEmpty())
                joining ? hub.announceJoin(vlan->id, changed) : hub.announceLeave(vlan->id, changed);
            return ServiceReply::json(200, {{QStringLiteral("players"), int(vlan->members.size())}});
        };
    };
    server.addRoute("POST", QStringLiteral("/test/lobby/add-member"), memberControl(true));
    server.addRoute("POST", QStringLiteral("/test/lobby/remove-member"), memberControl(false));
    // The room's members as the service holds them.
    server.addRoute("GET", QStringLiteral("/test/room/{}"), [&state](ServiceCall &call) {
        const Vlan *vlan = state.findVlan(call.captures.at(0));
        if (!vlan)
            return ServiceReply::error(404, QStringLiteral("no such room"));
        return ServiceReply::json(200, {{QStringLiteral("members"), QJsonArray::fromStringList(vlan->members)}});
    });
}
