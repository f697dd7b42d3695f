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

// A joined or created VLAN: who is in it, for the join reply and the lobby.
struct VlanRoom
{
    QString id;
    QString name;
    QString owner;
    int gameId = 0;
    int capacity = 8;
    bool isPrivate = false;
    QStringList members; // user names as the accounts spell them
};

struct PublicVlan
{
    QString id;
    QString name;
    int gameId = 0;
    int players = 0;
    int capacity = 8;
    QString owner;
};

// Everything the stand-in service knows, in memory only.
struct ServiceState
{
    ServiceState();

    QHash<QString, Account> accounts;       // by lower-case user name
    QHash<QString, QString> accessTokens;   // token -> lower-case user name
    QHash<QString, QString> refreshTokens;  // token -> lower-case user name
    QList<PublicVlan> vlans;
    QJsonArray games;
    QJsonArray dedicatedGames;
    QHash<QString, QJsonArray> dedicatedServers; // by game id
    QJsonArray announcements;
    QJsonArray pictures;
    QString motd;
    int avatarCooldownSeconds = 60;
    QHash<QString, VlanRoom> rooms;         // by VLAN id
    QString tunnelServerAddress = QStringLiteral("127.0.0.1:4500");
    int createdRooms = 0;

    Account *accountForAccess(const QString &token);
    QJsonObject issueTokens(const QString &userKey);
    static QString newToken();
};
