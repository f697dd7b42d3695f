// The lobby's text messages into a room session that has just come up.
//   byte 0: bits 0-1 pick the signed-in player, bit 2 makes the room private
//   then one message per line, each delivered while the lobby still has a
//   socket to deliver it (a closed lobby hears nothing more)
#include "fuzz_targets.h"

#include "discord/discord_presence.h"
#include "service/service_client.h"
#include "session/room_session.h"

#include <QCoreApplication>
#include <QJsonObject>

namespace {

const char *const kPlayers[] = {"demo", "owner", "Demo", "player 2"};
const QString kRoomId = QStringLiteral("room-1");

} // namespace

int fuzz::lobbyMessage(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    {
        // No base URL: a lobby the session reopens fails at once, without the network.
        ServiceClient service;
        DiscordPresence discord;
        RoomSession room(service, discord);
        room.setUsername(QString::fromLatin1(kPlayers[data[0] & 3]));
        int ends = 0;
        int errors = 0;
        QObject::connect(&room, &RoomSession::disconnectSuccess, [&ends] { ++ends; });
        QObject::connect(&room, &RoomSession::requestError, [&errors](const QString &) { ++errors; });

        room.enterRoomForTesting({{QStringLiteral("vlan_id"), kRoomId},
                                  {QStringLiteral("name"), QStringLiteral("Room one")},
                                  {QStringLiteral("owner_username"), QStringLiteral("owner")},
                                  {QStringLiteral("capacity"), 8},
                                  {QStringLiteral("is_private"), (data[0] & 4) != 0}});
        FUZZ_CHECK(room.connected() && room.lobbyOrTimersAlive());

        const QByteArray messages(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
        for (const QByteArray &message : messages.split('\n')) {
            if (!room.lobbySocket().alive())
                break;
            room.lobbySocket().receiveTextForTesting(QString::fromUtf8(message));

            // A room keeps its lobby and clock; a room that ended leaves nothing running.
            FUZZ_CHECK(room.connected() == room.lobbyOrTimersAlive());
            FUZZ_CHECK(room.connected() == !room.vlanId().isEmpty());
            if (room.connected()) {
                FUZZ_CHECK(room.vlanId() == kRoomId);
                FUZZ_CHECK(!room.vlanName().isEmpty());
            } else {
                // Ended once, the player told once, and no join button left for it.
                FUZZ_CHECK(discord.state() != DiscordPresence::State::InRoom);
            }
            FUZZ_CHECK(ends <= 1 && errors == ends);
        }
    }
    // The retired sockets were handed to deleteLater.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
