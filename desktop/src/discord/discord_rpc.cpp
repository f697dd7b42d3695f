#include "discord/discord_rpc.h"

#include "discord/ipc_connection.h"

#include <QJsonArray>
#include <QJsonObject>

#include <memory>
#include <mutex>
#include <unistd.h>

namespace {

using std::chrono::milliseconds;

// Long enough for a clear to reach a Discord client that is reading, short
// enough that quitting never hangs on one that is not.
constexpr milliseconds kShutdownFlush(500);

std::mutex gMutex;
std::unique_ptr<DiscordIpc::Connection> gConnection;
DiscordEventHandlers gHandlers{};
int gUsers = 0; // Initialize calls not yet matched by Shutdown

void insertText(QJsonObject &object, const char *key, const char *value)
{
    if (value && *value)
        object.insert(QLatin1String(key), QString::fromUtf8(value));
}

QJsonObject activityJson(const DiscordRichPresence &p)
{
    QJsonObject activity;
    insertText(activity, "state", p.state);
    insertText(activity, "details", p.details);

    QJsonObject timestamps;
    if (p.startTimestamp > 0)
        timestamps.insert(QStringLiteral("start"), static_cast<qint64>(p.startTimestamp));
    if (p.endTimestamp > 0)
        timestamps.insert(QStringLiteral("end"), static_cast<qint64>(p.endTimestamp));
    if (!timestamps.isEmpty())
        activity.insert(QStringLiteral("timestamps"), timestamps);

    QJsonObject assets;
    insertText(assets, "large_image", p.largeImageKey);
    insertText(assets, "large_text", p.largeImageText);
    insertText(assets, "small_image", p.smallImageKey);
    insertText(assets, "small_text", p.smallImageText);
    if (!assets.isEmpty())
        activity.insert(QStringLiteral("assets"), assets);

    QJsonObject party;
    insertText(party, "id", p.partyId);
    if (p.partySize > 0 || p.partyMax > 0)
        party.insert(QStringLiteral("size"), QJsonArray{p.partySize, p.partyMax});
    if (!party.isEmpty()) {
        party.insert(QStringLiteral("privacy"), p.partyPrivacy);
        activity.insert(QStringLiteral("party"), party);
    }

    QJsonObject secrets;
    insertText(secrets, "join", p.joinSecret);
    insertText(secrets, "match", p.matchSecret);
    insertText(secrets, "spectate", p.spectateSecret);
    if (!secrets.isEmpty())
        activity.insert(QStringLiteral("secrets"), secrets);

    activity.insert(QStringLiteral("instance"), p.instance != 0);
    return activity;
}

} // namespace

void Discord_Initialize(const char *applicationId, DiscordEventHandlers *handlers,
                        int /*autoRegister*/, const char * /*optionalSteamId*/)
{
    // Registering a launch command with the Discord client is left out: the
    // program registers its own URL scheme at start-up.
    std::lock_guard lock(gMutex);
    ++gUsers;
    gHandlers = handlers ? *handlers : DiscordEventHandlers{};
    if (!gConnection) {
        gConnection = std::make_unique<DiscordIpc::Connection>(
            QByteArray(applicationId ? applicationId : ""), gHandlers.joinGame != nullptr,
            static_cast<int64_t>(::getpid()));
    }
}

void Discord_Shutdown()
{
    std::unique_ptr<DiscordIpc::Connection> connection;
    {
        std::lock_guard lock(gMutex);
        if (gUsers == 0)
            return;
        if (--gUsers > 0)
            return;
        connection = std::move(gConnection);
        gHandlers = DiscordEventHandlers{};
    }
    if (connection)
        connection->stop(kShutdownFlush);
}

void Discord_RunCallbacks()
{
    std::vector<DiscordIpc::Event> events;
    DiscordEventHandlers handlers{};
    {
        std::lock_guard lock(gMutex);
        if (!gConnection)
            return;
        gConnection->requestReconnect();
        events = gConnection->takeEvents();
        handlers = gHandlers;
    }
    // Handlers run unlocked: they may call back into this interface.
    for (const DiscordIpc::Event &event : events) {
        switch (event.kind) {
        case DiscordIpc::Event::Kind::Ready:
            if (handlers.ready) {
                const DiscordUser user{event.userId.constData(), event.username.constData(),
                                       event.discriminator.constData(), event.avatar.constData()};
                handlers.ready(&user);
            }
            break;
        case DiscordIpc::Event::Kind::Disconnected:
            if (handlers.disconnected)
                handlers.disconnected(event.code, event.text.constData());
            break;
        case DiscordIpc::Event::Kind::Errored:
            if (handlers.errored)
                handlers.errored(event.code, event.text.constData());
            break;
        case DiscordIpc::Event::Kind::JoinGame:
            if (handlers.joinGame)
                handlers.joinGame(event.text.constData());
            break;
        }
    }
}

void Discord_UpdatePresence(const DiscordRichPresence *presence)
{
    if (!presence) {
        Discord_ClearPresence();
        return;
    }
    const QJsonObject activity = activityJson(*presence);
    std::lock_guard lock(gMutex);
    if (gConnection)
        gConnection->setActivity(activity);
}

void Discord_ClearPresence()
{
    std::lock_guard lock(gMutex);
    if (gConnection)
        gConnection->setActivity(QJsonObject());
}
