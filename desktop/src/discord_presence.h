#pragma once
// The user's state as shown in the chat client's rich presence. For now it only
// keeps what the session roads hand it; publishing comes with its own work.
#include <QObject>
#include <QString>

class DiscordPresence : public QObject {
    Q_OBJECT

public:
    enum class State { None, Lobby, Connecting, InRoom };

    explicit DiscordPresence(QObject *parent = nullptr);
    ~DiscordPresence() override;

    void setEnabled(bool enabled);
    bool enabled() const { return m_enabled; }

    void setInLobby();
    void setConnecting();
    void setInRoom(const QString &roomName, const QString &vlanId, int players, int capacity,
                   bool isPrivate, qint64 startMs);
    void clearPresence();

    State state() const { return m_state; }
    QString roomName() const { return m_roomName; }
    QString partyId() const { return m_partyId; }
    int partySize() const { return m_partySize; }
    int partyMax() const { return m_partyMax; }
    bool isPrivate() const { return m_private; }
    qint64 startMs() const { return m_startMs; }

private:
    void clearRoom();

    bool m_enabled = true;
    State m_state = State::None;
    QString m_roomName;
    QString m_partyId;
    int m_partySize = 0;
    int m_partyMax = 0;
    bool m_private = false;
    qint64 m_startMs = 0;
};
