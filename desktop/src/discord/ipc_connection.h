#pragma once

#include "discord/ipc_frame.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace DiscordIpc {

// Something the I/O thread saw, handed to the caller's thread by takeEvents().
struct Event
{
    enum class Kind { Ready, Disconnected, Errored, JoinGame };
    Kind kind = Kind::Ready;
    int code = 0;
    QByteArray text;          // message, or the join secret
    QByteArray userId;        // Ready only
    QByteArray username;      // Ready only
    QByteArray discriminator; // Ready only
    QByteArray avatar;        // Ready only
};

// One connection to the Discord client's IPC socket, run by its own thread:
// finds the socket, shakes hands, sends the latest activity once ready,
// answers pings, and reconnects (with back-off) when asked by the owner.
class Connection
{
public:
    static constexpr std::size_t kMaxQueuedEvents = 256;
    static constexpr std::size_t kMaxOutgoingBytes = 256 * 1024;

    Connection(QByteArray clientId, bool subscribeJoin, int64_t pid);
    ~Connection();

    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Sets the activity; an empty object clears it. The latest wins, and is
    // sent again after every reconnection.
    void setActivity(const QJsonObject &activity);
    // Allows the next connection attempt once its back-off has passed.
    void requestReconnect();
    std::vector<Event> takeEvents();
    // Sends what is pending for at most `flush`, then closes and joins.
    void stop(std::chrono::milliseconds flush);

    // The sockets tried, in order: discord-ipc-0..9 in the first of
    // XDG_RUNTIME_DIR, TMPDIR, TMP, TEMP that is set, else /tmp. One whose
    // listener runs as another account is passed over.
    static QStringList socketCandidates();
    // Back-off between attempts; tests shorten it.
    static void setRetryDelays(std::chrono::milliseconds first, std::chrono::milliseconds max);
    // At most one error event a connection per interval; tests lengthen it.
    static void setErrorInterval(std::chrono::milliseconds interval);

private:
    enum class State { Disconnected, Handshaking, Ready };

    void run();
    bool tryConnect();
    void drop(int code, const QString &message);
    void readAvailable();
    void handleFrame(const Frame &frame);
    void handleDispatch(const QJsonObject &body);
    void queueFrame(Opcode opcode, const QByteArray &body);
    void queueCommand(QJsonObject command);
    void queueActivityIfDirty();
    bool writePending();
    void pushEvent(Event event);
    void wake();
    void flushAndClose(std::chrono::milliseconds flush);

    const QByteArray m_clientId;
    const bool m_subscribeJoin;
    const int64_t m_pid;

    std::mutex m_mutex; // guards the fields up to m_events
    QJsonObject m_activity;
    bool m_activitySet = false;
    bool m_activityDirty = false;
    bool m_reconnectRequested = true; // the first attempt needs no asking
    bool m_stopping = false;
    std::chrono::milliseconds m_flush{0};
    std::deque<Event> m_events;

    // I/O thread only.
    int m_fd = -1;
    State m_state = State::Disconnected;
    FrameReader m_reader;
    QByteArray m_outgoing;
    uint64_t m_nonce = 0;
    std::chrono::steady_clock::time_point m_nextAttempt{};
    std::chrono::milliseconds m_delay{0};
    std::chrono::steady_clock::time_point m_nextErrorReport{};
    int64_t m_errorsHeld = 0;

    int m_wakeFd = -1;
    std::thread m_thread;
};

} // namespace DiscordIpc
