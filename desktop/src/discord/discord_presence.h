#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

// The user's state in the Discord client's rich presence: lobby, connecting,
// or a room with its player count, elapsed time and, for public rooms, a join
// button whose requests come back through the join callback. The IPC client
// starts lazily, on the first change or enabling, never at construction.
class DiscordPresence : public QObject
{
    Q_OBJECT

public:
    // What is shown, for callers and tests that look at the presence.
    enum class State { None, Lobby, Connecting, InRoom };

    static constexpr int kDebounceMs = 3000;
    static constexpr int kCallbackIntervalMs = 1000;

    explicit DiscordPresence(QObject *parent = nullptr);
    ~DiscordPresence() override;

    void setEnabled(bool enabled);
    bool enabled() const { return m_enabled; }

    void setInLobby();
    void setConnecting();
    void setInRoom(const QString &roomName, const QString &vlanId, int players, int capacity,
                   bool isPrivate, qint64 startMs);
    void clearPresence();

    // One process-wide slot; receives the VLAN id of a join request.
    static void setJoinCallback(std::function<void(const QString &)> callback);

    // Tests shorten the debounce and the callback pump.
    void setTimingsForTesting(int debounceMs, int callbackIntervalMs);

    bool initialized() const { return m_initialized; }
    State state() const { return m_state; }
    QString roomName() const { return m_roomName; }
    QString partyId() const { return m_partyId; }
    int partySize() const { return m_partySize; }
    int partyMax() const { return m_partyMax; }
    bool isPrivate() const { return m_partyPrivacy == 0 && m_state == State::InRoom; }
    qint64 startMs() const { return m_startMs; }
    QString joinSecret() const { return m_joinSecret; }

private:
    void ensureInitialized();
    void setOutOfRoom(const QString &stateLine, State state);
    void schedule();
    void onDebounceTimeout();
    void pushPresence();

    bool m_initialized = false;
    bool m_enabled = true;
    QTimer m_debounceTimer;
    bool m_dirty = false;
    QString m_stateLine;
    QString m_details;
    QString m_largeImageKey = QStringLiteral("logo");
    QString m_partyId;
    int m_partySize = 0;
    int m_partyMax = 0;
    int m_partyPrivacy = 0;
    QString m_joinSecret;
    qint64 m_startMs = 0;
    QTimer m_callbackTimer;

    State m_state = State::None;
    QString m_roomName;
};
