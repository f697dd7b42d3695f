#include "discord_presence.h"

DiscordPresence::DiscordPresence(QObject *parent)
    : QObject(parent)
{
}

DiscordPresence::~DiscordPresence() = default;

void DiscordPresence::setEnabled(bool enabled)
{
    m_enabled = enabled;
}

void DiscordPresence::clearRoom()
{
    m_roomName.clear();
    m_partyId.clear();
    m_partySize = 0;
    m_partyMax = 0;
    m_private = false;
    m_startMs = 0;
}

void DiscordPresence::setInLobby()
{
    clearRoom();
    m_state = State::Lobby;
}

void DiscordPresence::setConnecting()
{
    clearRoom();
    m_state = State::Connecting;
}

void DiscordPresence::setInRoom(const QString &roomName, const QString &vlanId, int players,
                                int capacity, bool isPrivate, qint64 startMs)
{
    m_state = State::InRoom;
    m_roomName = roomName;
    m_partyId = vlanId;
    m_partySize = players;
    m_partyMax = capacity;
    m_private = isPrivate;
    m_startMs = startMs;
}

void DiscordPresence::clearPresence()
{
    clearRoom();
    m_state = State::None;
}
