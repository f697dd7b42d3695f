#include "service/api_client.h"

#include "service/list_bounds.h"
#include "service/service_texts.h"
#include "session/credential_store.h"
#include "shell/logger.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QNetworkRequest>

#ifndef CORVANA_API_BASE_URL
#define CORVANA_API_BASE_URL "https://api.corvana.net"
#endif

namespace {

void logLine(Logger::Level level, const char *category, const QString &message)
{
    Logger::instance().log(level, QString::fromLatin1(category), message);
}

QString text(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toString();
}

// The reply's "items", at most `bound` of them.
QJsonArray items(const QJsonObject &object, qsizetype bound, const char *what)
{
    return ListBounds::firstEntries(object.value(QStringLiteral("items")).toArray(), bound, "api", what);
}

int number(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toInt();
}

QString encoded(const QString &pathPiece)
{
    return ServiceClient::encodePathPiece(pathPiece);
}

constexpr RequestOptions kGuarded{true, true, false};
constexpr RequestOptions kPlain{false, true, false};

} // namespace

ApiClient::ApiClient(QObject *parent)
    : QObject(parent)
    , m_room(m_service, m_discord)
{
    forwardSignals();
}

ApiClient::~ApiClient()
{
    stopDedicatedUdpForward();
}

void ApiClient::forwardSignals()
{
    connect(&m_service, &ServiceClient::baseUrlChanged, this, &ApiClient::baseUrlChanged);
    connect(&m_service, &ServiceClient::langChanged, this, &ApiClient::langChanged);
    connect(&m_service, &ServiceClient::busyChanged, this, &ApiClient::busyChanged);
    connect(&m_service, &ServiceClient::loggedInChanged, this, &ApiClient::loggedInChanged);
    connect(&m_service, &ServiceClient::tokenRotated, this, &ApiClient::tokenRotated);
    connect(&m_service, &ServiceClient::refreshSuccess, this, &ApiClient::refreshSuccess);
    connect(&m_service, &ServiceClient::authRequired, this, &ApiClient::authRequired);
    connect(&m_service, &ServiceClient::requestError, this, &ApiClient::requestError);
    // Queued: a new sign-in's tokens are in place before a cancelled fetch is asked again.
    connect(&m_service, &ServiceClient::signInGenerationChanged, this,
            &ApiClient::cancelAvatarFetchesOfEndedSignIns, Qt::QueuedConnection);

    connect(&m_room, &RoomSession::connectedChanged, this, &ApiClient::connectedChanged);
    connect(&m_room, &RoomSession::tickChanged, this, &ApiClient::tickChanged);
    connect(&m_room, &RoomSession::vpnStatusChanged, this, &ApiClient::vpnStatusChanged);
    connect(&m_room, &RoomSession::vpnIpChanged, this, &ApiClient::vpnIpChanged);
    connect(&m_room, &RoomSession::vpnLastErrorChanged, this, &ApiClient::vpnLastErrorChanged);
    connect(&m_room, &RoomSession::joinSuccess, this, &ApiClient::joinSuccess);
    connect(&m_room, &RoomSession::createSuccess, this, &ApiClient::createSuccess);
    connect(&m_room, &RoomSession::disconnectSuccess, this, &ApiClient::disconnectSuccess);
    connect(&m_room, &RoomSession::usersUpdated, this, &ApiClient::usersUpdated);
    connect(&m_room, &RoomSession::vlanEvent, this, &ApiClient::vlanEvent);
    connect(&m_room, &RoomSession::userIpAssigned, this, &ApiClient::userIpAssigned);
    connect(&m_room, &RoomSession::requestError, this, &ApiClient::requestError);

    connect(&m_dedicatedForward, &DedicatedForward::started, this, &ApiClient::dedicatedUdpForwardStarted);
    connect(&m_dedicatedForward, &DedicatedForward::stopped, this, &ApiClient::dedicatedUdpForwardStopped);
    connect(&m_dedicatedForward, &DedicatedForward::error, this, &ApiClient::requestError);
}

QString ApiClient::defaultBaseUrl()
{
    return QStringLiteral(CORVANA_API_BASE_URL);
}

void ApiClient::setBaseUrl(const QString &url)
{
    m_service.setBaseUrl(url);
}

void ApiClient::setLang(const QString &lang)
{
    const QString normalised = lang == QLatin1String("fa") ? QStringLiteral("fa") : QStringLiteral("en");
    m_dedicatedForward.setLang(normalised);
    m_service.setLang(normalised);
}

void ApiClient::setUsername(const QString &name)
{
    if (name == m_username)
        return;
    m_username = name;
    m_room.setUsername(name);
    emit usernameChanged();
}

void ApiClient::refresh(const QString &refreshToken)
{
    m_service.refresh(refreshToken);
}

void ApiClient::joinVlan(const QString &vlanId)
{
    m_room.joinVlan(vlanId);
}

void ApiClient::createVlan(qint64 gameId, int capacity, bool isPrivate)
{
    m_room.createVlan(gameId, capacity, isPrivate);
}

void ApiClient::disconnectVlan()
{
    m_room.disconnectVlan();
}

int ApiClient::startDedicatedUdpForward(const QString &remoteAddress, int remotePort)
{
    return m_dedicatedForward.start(remoteAddress, remotePort);
}

void ApiClient::stopDedicatedUdpForward()
{
    m_dedicatedForward.stop();
}


void ApiClient::login(const QString &username, const QString &password)
{
    logLine(Logger::Info, "auth", QStringLiteral("login attempt: ") + username);
    const QJsonObject body{{QStringLiteral("username"), username},
                           {QStringLiteral("password"), password}};
    m_service.request(QStringLiteral("POST"), QStringLiteral("/api/auth/login"), body,
                      [this, password](const QJsonObject &reply) { onLoginReply(reply, password, false); },
                      kGuarded);
}

void ApiClient::registerUser(const QString &email, const QString &username, const QString &password)
{
    logLine(Logger::Info, "auth", QStringLiteral("register attempt: ") + username);
    const QJsonObject body{{QStringLiteral("email"), email},
                           {QStringLiteral("username"), username},
                           {QStringLiteral("password"), password}};
    m_service.request(QStringLiteral("POST"), QStringLiteral("/api/auth/register"), body,
                      [this, password](const QJsonObject &reply) { onLoginReply(reply, password, true); },
                      kGuarded);
}

void ApiClient::onLoginReply(const QJsonObject &reply, const QString &password, bool registering)
{
    // A success without tokens cannot sign anyone in; say so instead.
    if (reply.value(QStringLiteral("access_token")).toString().isEmpty()) {
        logLine(Logger::Error, "auth", QStringLiteral("sign-in reply without access token"));
        emit requestError(serviceText(ServiceText::InvalidResponse, m_service.lang()));
        return;
    }
    m_service.storeTokens(reply);
    setUsername(reply.value(QStringLiteral("username")).toString());
    emit loggedInChanged();
    CredentialStore::savePassword(m_username, password);
    logLine(Logger::Info, "auth",
            (registering ? QStringLiteral("register success: ") : QStringLiteral("login success: "))
                + m_username);
    if (registering) {
        emit registerSuccess(m_username);
    } else {
        m_discord.setInLobby();
        emit loginSuccess(m_username);
    }
}

void ApiClient::logout()
{
    logLine(Logger::Info, "auth", QStringLiteral("logout: ") + m_username);
    // The dedicated-server forward and the VLAN session end here.
    stopDedicatedUdpForward();
    QJsonObject notice;
    if (!m_service.refreshToken().isEmpty())
        notice = QJsonObject{{QStringLiteral("refresh_token"), m_service.refreshToken()}};
    if (!m_room.leaveForLogout(notice) && !notice.isEmpty())
        m_service.postJson(QStringLiteral("/api/auth/logout"), notice);
    m_discord.clearPresence();
    CredentialStore::removeCredentials();
    m_service.clearTokens();
    m_username.clear();
    m_room.setUsername(m_username);
    if (m_isAdmin) {
        m_isAdmin = false;
        emit isAdminChanged();
    }
    emit usernameChanged();
    emit loggedInChanged();
    emit logoutDone();
}

void ApiClient::fetchMe()
{
    m_service.request(QStringLiteral("GET"), QStringLiteral("/api/auth/me"), {},
                      [this](const QJsonObject &reply) {
                          const bool vip = reply.value(QStringLiteral("vip")).toBool(false);
                          if (vip != m_isAdmin) {
                              m_isAdmin = vip;
                              emit isAdminChanged();
                          }
                          emit meReceived(text(reply, "username"), text(reply, "avatar_rotated_at"),
                                          text(reply, "username_changed_at"), vip);
                      },
                      kPlain);
}

void ApiClient::fetchMotd()
{
    m_service.request(QStringLiteral("GET"), QStringLiteral("/api/auth/motd"), {},
                      [this](const QJsonObject &reply) { emit motdReceived(text(reply, "message")); }, kPlain);
}

void ApiClient::fetchAnnouncements()
{
    m_service.request(QStringLiteral("GET"), QStringLiteral("/api/auth/announcements"), {},
                      [this](const QJsonObject &reply) {
                          emit announcementsReceived(items(reply, ListBounds::kAnnouncements, "announcements"));
                      },
                      kPlain);
}

void ApiClient::fetchGames()
{
    m_service.request(QStringLiteral("GET"), QStringLiteral("/api/auth/games"), {},
                      [this](const QJsonObject &reply) {
                          emit gamesReceived(items(reply, ListBounds::kGames, "games"));
                      },
                      kPlain);
}

void ApiClient::fetchDedicatedGames()
{
    m_service.request(QStringLiteral("GET"), QStringLiteral("/api/games/dedicated"), {},
                      [this](const QJsonObject &reply) {
                          logLine(Logger::Debug, "api",
                                  QStringLiteral("dedicated games raw: ")
                                      + QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Compact)));
                          emit dedicatedGamesReceived(items(reply, ListBounds::kGames, "dedicated games"));
                      },
                      kPlain);
}

void ApiClient::fetchDedicatedGameServers(const QString &gameId)
{
    m_service.request(QStringLiteral("GET"),
                      QStringLiteral("/api/games/") + encoded(gameId) + QStringLiteral("/servers"), {},
                      [this, gameId](const QJsonObject &reply) {
                          emit dedicatedGameServersReceived(
                              gameId, items(reply, ListBounds::kDedicatedServers, "dedicated servers"));
                      },
                      kPlain);
}

void ApiClient::fetchPublicVlans(int page, int pageSize, const QString &search)
{
    QString path = QStringLiteral("/api/vlans/public?page=%1&page_size=%2").arg(page).arg(pageSize);
    if (!search.isEmpty())
        path += QStringLiteral("&search=") + encoded(search);
    m_service.request(QStringLiteral("GET"), path, {},
                      [this](const QJsonObject &reply) {
                          emit vlansReceived(items(reply, ListBounds::kRoomsOnAPage, "public rooms"),
                                             number(reply, "total"), number(reply, "page"),
                                             number(reply, "total_pages"));
                      },
                      kPlain);
}

void ApiClient::changePassword(const QString &oldPassword, const QString &newPassword)
{
    const QJsonObject body{{QStringLiteral("old_password"), oldPassword},
                           {QStringLiteral("new_password"), newPassword}};
    m_service.request(QStringLiteral("POST"), QStringLiteral("/api/auth/change-password"), body,
                      [this](const QJsonObject &reply) { emit passwordChanged(text(reply, "message")); },
                      kGuarded);
}

void ApiClient::changeUsername(const QString &newUsername, const QString &password)
{
    const QJsonObject body{{QStringLiteral("new_username"), newUsername},
                           {QStringLiteral("password"), password}};
    m_service.request(QStringLiteral("POST"), QStringLiteral("/api/auth/change-username"), body,
                      [this, newUsername](const QJsonObject &) {
                          logLine(Logger::Info, "auth",
                                  QStringLiteral("username changed: %1 -> %2").arg(m_username, newUsername));
                          emit usernameChangedRemote(newUsername);
                      },
                      kGuarded);
}

void ApiClient::fetchAvatar(const QString &username)
{
    if (username.isEmpty())
        return;
    m_avatarFetches.insert(username, m_service.signInGeneration());
    m_service.request(QStringLiteral("GET"),
                      QStringLiteral("/api/users/") + encoded(username) + QStringLiteral("/avatar"), {},
                      [this, username](const QJsonObject &reply) {
                          m_avatarFetches.remove(username);
                          const QString url = text(reply, "url");
                          if (url.isEmpty())
                              emit avatarFetchFailed(username);
                          else
                              emit avatarReceived(username, m_service.absoluteUrl(url), text(reply, "rotated_at"));
                      },
                      RequestOptions{false, true, true},
                      // Silent, but answered: the window asks for a name again
                      // only once its last fetch has ended one way or the other.
                      [this, username]() {
                          m_avatarFetches.remove(username);
                          emit avatarFetchFailed(username);
                      });
}

void ApiClient::cancelAvatarFetchesOfEndedSignIns()
{
    const quint64 current = m_service.signInGeneration();
    QStringList cancelled;
    for (auto it = m_avatarFetches.begin(); it != m_avatarFetches.end();) {
        if (it.value() == current) {
            ++it;
            continue;
        }
        cancelled.append(it.key());
        it = m_avatarFetches.erase(it);
    }
    // A listener may fetch again at once, under the new sign-in.
    for (const QString &name : std::as_const(cancelled))
        emit avatarFetchCancelled(name);
}

void ApiClient::fetchPfpList()
{
    m_service.request(QStringLiteral("GET"), QStringLiteral("/api/pfp/list"), {},
                      [this](const QJsonObject &reply) {
                          emit pfpListReceived(items(reply, ListBounds::kPictures, "pictures"));
                      },
                      kPlain);
}

void ApiClient::setMyAvatar(qint64 imageId)
{
    // Own handling: a 429 carries the cool-down instead of an error.
    QNetworkReply *reply = m_service.postTimed(QStringLiteral("/api/users/me/avatar"),
                                               QJsonObject{{QStringLiteral("image_id"), imageId}},
                                               m_service.accessToken());
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, imageId, generation = m_service.signInGeneration()]() {
                reply->deleteLater();
                // Signed out since: the picture was another sign-in's.
                if (generation == m_service.signInGeneration())
                    onAvatarChangeReply(reply, imageId);
            });
}

void ApiClient::onAvatarChangeReply(QNetworkReply *reply, qint64 imageId)
{
    const QByteArray raw = reply->readAll();
    if (ServiceClient::replyTooLarge(reply, raw)) {
        emit requestError(serviceText(ServiceText::ResponseTooLarge, m_service.lang()));
        return;
    }
    const QJsonObject object = QJsonDocument::fromJson(raw).object();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 429) {
        emit avatarChangeCooldown(number(object, "cooldown_seconds"));
        return;
    }
    if (reply->error() != QNetworkReply::NoError || status != 200) {
        QString message = text(object, "detail");
        if (message.isEmpty())
            message = reply->errorString();
        emit requestError(message);
        return;
    }
    const QString url = m_service.absoluteUrl(text(object, "url"));
    emit avatarChangeSuccess(imageId, url);
    emit avatarReceived(m_username, url, QString());
}

void ApiClient::copyToClipboard(const QString &value)
{
    // Without a GUI application there is no clipboard to reach.
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(value, QClipboard::Clipboard);
}

void ApiClient::setDiscordEnabled(bool enabled)
{
    m_discord.setEnabled(enabled);
    logLine(Logger::Info, "discord", enabled ? QStringLiteral("enabled") : QStringLiteral("disabled"));
}

bool ApiClient::discordEnabled() const
{
    return m_discord.enabled();
}
