#include "service_state.h"

#include <QRandomGenerator>

namespace {

QJsonObject game(int id, const QString &name, const QString &steamId)
{
    return {{QStringLiteral("id"), id},
            {QStringLiteral("name"), name},
            {QStringLiteral("game_name"), name},
            {QStringLiteral("steam_app_id"), steamId},
            {QStringLiteral("icon_url"), QStringLiteral("/static/games/%1.png").arg(id)}};
}

} // namespace

ServiceState::ServiceState()
{
    games = {game(1, QStringLiteral("Counter Strike 1.6"), QStringLiteral("10")),
             game(2, QStringLiteral("Age of Empires II"), QStringLiteral("813780")),
             game(3, QStringLiteral("Warcraft III"), QString()),
             game(4, QStringLiteral("Left 4 Dead 2"), QStringLiteral("550")),
             game(5, QStringLiteral("Heroes of Might & Magic III"), QString()),
             game(6, QStringLiteral("Minecraft"), QString()),
             game(7, QStringLiteral("Red Alert 2"), QString()),
             game(8, QStringLiteral("Diablo II"), QString()),
             game(9, QStringLiteral("Terraria"), QStringLiteral("105600")),
             game(10, QStringLiteral("Call of Duty 2"), QStringLiteral("2630"))};
    seedDedicatedCatalogue(*this);
    announcements = {QJsonObject{{QStringLiteral("id"), 1},
                                 {QStringLiteral("title"), QStringLiteral("Welcome")},
                                 {QStringLiteral("body"), QStringLiteral("Servers are up.")},
                                 {QStringLiteral("created_at"), QStringLiteral("2026-12-01T10:00:00Z")}}};
    for (int i = 1; i <= 12; ++i)
        pictures.append(QJsonObject{{QStringLiteral("id"), i},
                                    {QStringLiteral("url"), QStringLiteral("/static/pfp/%1.png").arg(i)},
                                    {QStringLiteral("visibility"), QStringLiteral("public")}});
    motd = QStringLiteral("Welcome back, %1"); // %1: the player asking
    Account demo;
    demo.email = QStringLiteral("demo@example.com");
    demo.username = QStringLiteral("demo");
    demo.password = QStringLiteral("demo1234");
    accounts.insert(demo.username, demo);
}

QString ServiceState::newToken()
{
    QByteArray raw(24, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(raw.data()), raw.size() / 4);
    return QString::fromLatin1(raw.toHex());
}

Account *ServiceState::accountForAccess(const QString &token)
{
    const auto it = accessTokens.constFind(token);
    if (token.isEmpty() || it == accessTokens.constEnd())
        return nullptr;
    const auto account = accounts.find(it.value());
    return account == accounts.end() ? nullptr : &account.value();
}

void Vlan::addMember(const QString &name)
{
    if (members.contains(name))
        return;
    members.append(name);
    if (!m_hosts.contains(name))
        m_hosts.insert(name, m_nextHost++);
}

bool Vlan::removeMember(const QString &name)
{
    return members.removeAll(name) > 0;
}

void Vlan::setMembers(const QStringList &names)
{
    members.clear();
    for (const QString &name : names)
        addMember(name);
}

QString Vlan::addressOf(const QString &name) const
{
    // 10.77.0.2 to .254, then on into 10.77.1.x: a room of hundreds still gets distinct addresses.
    const auto it = m_hosts.constFind(name);
    if (it == m_hosts.constEnd())
        return {};
    return QStringLiteral("10.77.%1.%2").arg(it.value() / 253).arg(it.value() % 253 + 2);
}

Vlan *ServiceState::findVlan(const QString &id)
{
    for (Vlan &vlan : vlans)
        if (vlan.id == id)
            return &vlan;
    return nullptr;
}

QJsonObject ServiceState::issueTokens(const QString &userKey)
{
    const QString access = newToken();
    const QString refresh = newToken();
    accessTokens.insert(access, userKey);
    refreshTokens.insert(refresh, userKey);
    return {{QStringLiteral("access_token"), access},
            {QStringLiteral("refresh_token"), refresh},
            {QStringLiteral("token_type"), QStringLiteral("bearer")},
            {QStringLiteral("username"), accounts.value(userKey).username}};
}
