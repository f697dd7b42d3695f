#include "discord/discord_presence.h"

#include "discord/application_id.h"
#include "discord/discord_rpc.h"
#include "shell/logger.h"

#include <QMutex>

namespace {

const QString kCategory = QStringLiteral("discord");
const QString kJoinPrefix = QStringLiteral("join:");

QMutex gCallbackMutex;
std::function<void(const QString &)> &joinCallback()
{
    static std::function<void(const QString &)> callback;
    return callback;
}

QString utf8(const char *text)
{
    return text ? QString::fromUtf8(text) : QString();
}

void onReady(const DiscordUser *user)
{
    Logger::instance().log(Logger::Info, kCategory,
                           QStringLiteral("connected as %1#%2")
                               .arg(utf8(user ? user->username : nullptr),
                                    utf8(user ? user->discriminator : nullptr)));
}

void onDisconnected(int code, const char *message)
{
    Logger::instance().log(Logger::Warn, kCategory,
                           QStringLiteral("disconnected: %1 %2").arg(code).arg(utf8(message)));
}

void onErrored(int code, const char *message)
{
    Logger::instance().log(Logger::Error, kCategory,
                           QStringLiteral("error: %1 %2").arg(code).arg(utf8(message)));
}

void onJoinGame(const char *secret)
{
    QString text = utf8(secret);
    Logger::instance().log(Logger::Info, kCategory, QStringLiteral("join request: ") + text);
    if (text.startsWith(kJoinPrefix))
        text.remove(0, kJoinPrefix.size());
    std::function<void(const QString &)> callback;
    {
        QMutexLocker lock(&gCallbackMutex);
        callback = joinCallback();
    }
    if (callback && !text.isEmpty())
        callback(text);
}

} // namespace

DiscordPresence::DiscordPresence(QObject *parent)
    : QObject(parent)
{
    m_debounceTimer.setSingleShot(true);
    m_debounceTimer.setInterval(kDebounceMs);
    connect(&m_debounceTimer, &QTimer::timeout, this, &DiscordPresence::onDebounceTimeout);
    m_callbackTimer.setInterval(kCallbackIntervalMs);
    connect(&m_callbackTimer, &QTimer::timeout, this, [] { Discord_RunCallbacks(); });
}

DiscordPresence::~DiscordPresence()
{
    if (!m_initialized)
        return;
    m_callbackTimer.stop();
    Discord_ClearPresence();
    Discord_Shutdown();
    m_initialized = false;
    Logger::instance().log(Logger::Info, kCategory, QStringLiteral("shutdown"));
}

void DiscordPresence::setJoinCallback(std::function<void(const QString &)> callback)
{
    QMutexLocker lock(&gCallbackMutex);
    joinCallback() = std::move(callback);
}

void DiscordPresence::setTimingsForTesting(int debounceMs, int callbackIntervalMs)
{
    m_debounceTimer.setInterval(debounceMs);
    m_callbackTimer.setInterval(callbackIntervalMs);
}

void DiscordPresence::ensureInitialized()
{
    if (m_initialized)
        return;
    DiscordEventHandlers handlers{};
    handlers.ready = onReady;
    handlers.disconnected = onDisconnected;
    handlers.errored = onErrored;
    handlers.joinGame = onJoinGame;
    Discord_Initialize(kDiscordApplicationId, &handlers, 1, nullptr);
    m_initialized = true;
    m_callbackTimer.start();
    Logger::instance().log(Logger::Info, kCategory, QStringLiteral("initialized"));
}

void DiscordPresence::setEnabled(bool enabled)
{
    m_enabled = enabled;
    if (enabled) {
        ensureInitialized();
        return;
    }
    if (m_initialized)
        Discord_ClearPresence();
    m_dirty = false;
}

void DiscordPresence::setOutOfRoom(const QString &stateLine, State state)
{
    m_details = QStringLiteral("Corvana LAN");
    m_stateLine = stateLine;
    m_partyId.clear();
    m_joinSecret.clear();
    m_partySize = 0;
    m_partyMax = 0;
    m_startMs = 0;
    m_state = state;
    m_roomName.clear();
}

void DiscordPresence::setInLobby()
{
    if (!m_enabled)
        return;
    ensureInitialized();
    setOutOfRoom(QStringLiteral("In Lobby"), State::Lobby);
    schedule();
}

void DiscordPresence::setConnecting()
{
    if (!m_enabled)
        return;
    ensureInitialized();
    setOutOfRoom(QStringLiteral("Connecting..."), State::Connecting);
    schedule();
}

void DiscordPresence::setInRoom(const QString &roomName, const QString &vlanId, int players,
                                int capacity, bool isPrivate, qint64 startMs)
{
    if (!m_enabled)
        return;
    ensureInitialized();
    m_details = roomName;
    m_stateLine = QStringLiteral("%1/%2 Players").arg(players).arg(capacity);
    m_partyId = vlanId;
    m_partySize = players;
    m_partyMax = capacity;
    m_startMs = startMs;
    if (isPrivate) {
        m_partyPrivacy = 0;
        m_joinSecret.clear();
    } else {
        m_partyPrivacy = 1;
        m_joinSecret = kJoinPrefix + vlanId;
    }
    m_state = State::InRoom;
    m_roomName = roomName;
    schedule();
}

void DiscordPresence::clearPresence()
{
    if (m_initialized)
        Discord_ClearPresence();
    m_dirty = false;
    m_state = State::None;
}

void DiscordPresence::schedule()
{
    m_dirty = true;
    if (m_debounceTimer.isActive())
        return;
    m_dirty = false;
    pushPresence();
    m_debounceTimer.start();
}

void DiscordPresence::onDebounceTimeout()
{
    if (!m_dirty)
        return;
    m_dirty = false;
    pushPresence();
}

void DiscordPresence::pushPresence()
{
    if (!m_initialized)
        return;
    const QByteArray state = m_stateLine.toUtf8();
    const QByteArray details = m_details.toUtf8();
    const QByteArray largeImage = m_largeImageKey.toUtf8();
    const QByteArray partyId = m_partyId.toUtf8();
    const QByteArray joinSecret = m_joinSecret.toUtf8();

    DiscordRichPresence presence{};
    presence.state = state.constData();
    presence.details = details.constData();
    if (m_startMs > 0)
        presence.startTimestamp = m_startMs / 1000;
    presence.largeImageKey = largeImage.constData();
    presence.largeImageText = "Corvana";
    if (!m_partyId.isEmpty()) {
        presence.partyId = partyId.constData();
        presence.partySize = m_partySize;
        presence.partyMax = m_partyMax;
        presence.partyPrivacy = m_partyPrivacy;
    }
    if (!m_joinSecret.isEmpty())
        presence.joinSecret = joinSecret.constData();
    Discord_UpdatePresence(&presence);
}
