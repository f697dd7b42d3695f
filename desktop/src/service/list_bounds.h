#pragma once

#include "shell/logger.h"

#include <QJsonArray>

// The most entries of each list the window is handed. A longer reply is cut
// to its first entries where it enters the back end, with a warning, so the
// player still sees those and no page ever builds more.
namespace ListBounds {

// Rooms hold at most 64 players and staff may join a full one: what the
// lobby's message limit is sized for (LobbySocket::kMaxMessageBytes).
constexpr qsizetype kMembers = 1024;
constexpr qsizetype kAnnouncements = 200;
constexpr qsizetype kDedicatedServers = 1000;
// The game catalogues (rooms and dedicated servers): a large game-server
// catalogue lists a few thousand titles, so this leaves it room to grow. Their
// pickers make rows only for the games in view and search in one pass, so this
// many cost a moment, and the reply stays near a megabyte.
constexpr qsizetype kGames = 10000;
// A page of the public list is asked for with 10 rooms.
constexpr qsizetype kRoomsOnAPage = 100;
constexpr qsizetype kPictures = 500;

inline QJsonArray firstEntries(const QJsonArray &list, qsizetype bound, const char *category,
                               const char *what)
{
    if (list.size() <= bound)
        return list;
    Logger::instance().log(Logger::Warn, QString::fromLatin1(category),
                           QStringLiteral("%1: %2 entries in the reply, only the first %3 kept")
                               .arg(QString::fromLatin1(what))
                               .arg(list.size())
                               .arg(bound));
    QJsonArray first;
    for (qsizetype i = 0; i < bound; ++i)
        first.append(list.at(i));
    return first;
}

} // namespace ListBounds
