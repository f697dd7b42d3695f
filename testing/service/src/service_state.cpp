#include "service_state.h"

#include <QRandomGenerator>

namespace {

QJsonObject game(int id, const QString &name, const QString &steamId)
{
    return {{QStringLiteral("id"), id},
            {QStringLiteral("name"), name},
            {QStringLiteral("steam_app_id"), steamId},
            {QStringLiteral("icon_url"), QStringLiteral("/static/games/%1.png").arg(id)}};
}

} // namespace

ServiceState::ServiceState()
{
    games = {game(1, QStringLiteral("Counter Strike 1.6"), QStringLiteral("10")),
             game(2, QStringLiteral("Age of Empires II"), QStringLiteral("813780")),
             game(3, QStringLiteral("Warcraft III"), QString())};
    seedDedicatedCatalogue(*this);
    announcements = {QJsonObject{{QStringLiteral("id"), 1},
                                 {QStringLiteral("title"), QStringLiteral("Welcome")},
                                 {QStringLiteral("body"), QStringLiteral("Servers are up.")},
                                 {QStringLiteral("created_at"), QStringLiteral("2026-12-01T10:00:00Z")}}};
    for (int i = 1; i <= 12; ++i)
        pictures.append(QJsonObject{{QStringLiteral("id"), i},
                                    {QStringLiteral("url"), QStringLiteral("/static/pfp/%1.png").arg(i)},
                                    {QStringLiteral("visibility"), QStringLiteral("public")}});
    motd = QStringLiteral("Welcome to the test service");
    const QStringList names{QStringLiteral("Friday Night"), QStringLiteral("LAN Party"),
                            QStringLiteral("Old School"), QStringLiteral("Rush & Tactics")};
    for (int i = 0; i < 45; ++i) {
        Vlan vlan;
        vlan.id = QStringLiteral("v%1").arg(nextVlanNumber++);
        vlan.name = QStringLiteral("%1 %2").arg(names.at(i % names.size())).arg(i + 1);
        vlan.gameId = i % 3 + 1;
        vlan.owner = QStringLiteral("host%1").arg(i % 4);
        for (int m = 0; m < i % 5; ++m)
            vlan.members.append(QStringLiteral("guest%1").arg(m + 1));
        vlans.append(vlan);
    }
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
