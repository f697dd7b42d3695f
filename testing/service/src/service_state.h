#pragma once

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

struct Account
{
    QString email;
    QString username;
    QString password;
    bool vip = false;
    qint64 avatarImageId = 0;
    QString avatarUrl; // empty: no avatar yet
    QString avatarRotatedAt;
    QString usernameChangedAt;
    QDateTime lastAvatarChange;
};

struct Vlan
{
    QString id;
    QString name;
    int gameId = 0;
    int capacity = 8;
    bool isPrivate = false;
    QString owner;
    QStringList members; // user names, in joining order

    // Members keep their address while others come and go.
    void addMember(const QString &name);
    bool removeMember(const QString &name);
    void setMembers(const QStringList &names);
    QString addressOf(const QString &name) const;

private:
    QHash<QString, int> m_hosts;
    int m_nextHost = 0;
};

// Everything the stand-in service knows, in memory only.
struct ServiceState
{
    ServiceState();

    QHash<QString, Account> accounts;       // by lower-case user name
    QHash<QString, QString> accessTokens;   // token -> lower-case user name
    QHash<QString, QString> refreshTokens;  // token -> lower-case user name
    QList<Vlan> vlans;
    int nextVlanNumber = 1;
    QString tunnelServer = QStringLiteral("127.0.0.1:7100"); // handed out in join replies
    QJsonArray games;
    QJsonArray dedicatedGames;
    QHash<QString, QJsonArray> dedicatedServers; // by game id
    QJsonArray announcements;
    QJsonArray pictures;
    QString motd;
    int avatarCooldownSeconds = 86400;            // one picture change a day
    int usernameCooldownSeconds = 180 * 86400;    // one name change in six months

    Account *accountForAccess(const QString &token);
    Vlan *findVlan(const QString &id);
    QJsonObject issueTokens(const QString &userKey);
    static QString newToken();
};

// The dedicated games and servers the service starts with (dedicated_catalogue.cpp).
void seedDedicatedCatalogue(ServiceState &state);
