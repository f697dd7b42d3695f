// Account and catalogue calls of ApiClient.
#include "service/api_client.h"

#include "session/credential_store.h"
#include "shell/logger.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace {

void logLine(Logger::Level level, const char *category, const QString &message)
{
    Logger::instance().log(level, QString::fromLatin1(category), message);
}

QString text(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toString();
}

QJsonArray items(const QJsonObject &object)
{
    return object.value(QStringLiteral("items")).toArray();
}

int number(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toInt();
}

constexpr RequestOptions kGuarded{true, true, false};
constexpr RequestOptions kPlain{false, true, false};

} // namespace

QString ApiClient::encodePathPiece(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QString ApiClient::absoluteUrl(const QString &url) const
{
    return url.startsWith(QLatin1String("http")) ? url : m_baseUrl + url;
}

void ApiClient::login(const QString &username, const QString &password)
{
    logLine(Logger::Info, "auth", QStringLiteral("login attempt: ") + username);
    const QJsonObject body{{QStringLiteral("username"), username},
                           {QStringLiteral("password"), password}};
    request(QStringLiteral("POST"), QStringLiteral("/api/auth/login"), body,
            [this, password](const QJsonObject &reply) { onLoginReply(reply, password, false); },
            kGuarded);
}

void ApiClient::registerUser(const QString &email, const QString &username, const QString &password)
{
    logLine(Logger::Info, "auth", QStringLiteral("register attempt: ") + username);
    const QJsonObject body{{QStringLiteral("email"), email},
                           {QStringLiteral("username"), username},
                           {QStringLiteral("password"), password}};
    request(QStringLiteral("POST"), QStringLiteral("/api/auth/register"), body,
            [this, password](const QJsonObject &reply) { onLoginReply(reply, password, true); },
            kGuarded);
}

void ApiClient::onLoginReply(const QJsonObject &reply, const QString &password, bool registering)
{
    // A success without tokens cannot sign anyone in; say so instead.
    if (reply.value(QStringLiteral("access_token")).toString().isEmpty()) {
        logLine(Logger::Error, "auth", QStringLiteral("sign-in reply without access token"));
        emit requestError(localized("Invalid response from server", "پاسخ نامعتبر از سرور"));
        return;
    }
    storeTokens(reply);
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
    if (!m_refreshToken.isEmpty())
        notice = QJsonObject{{QStringLiteral("refresh_token"), m_refreshToken}};
    if (m_session.connected && !m_session.vlanId.isEmpty())
        leaveForLogout(notice);
    else if (!notice.isEmpty())
        postJson(QStringLiteral("/api/auth/logout"), notice);
    m_deferredAfterLeave = nullptr; // a room switch does not outlive the account
    m_discord.clearPresence();
    CredentialStore::removeCredentials();
    m_accessToken.clear();
    m_refreshToken.clear();
    m_username.clear();
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
    request(QStringLiteral("GET"), QStringLiteral("/api/auth/me"), {},
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
    request(QStringLiteral("GET"), QStringLiteral("/api/auth/motd"), {},
            [this](const QJsonObject &reply) { emit motdReceived(text(reply, "message")); }, kPlain);
}

void ApiClient::fetchAnnouncements()
{
    request(QStringLiteral("GET"), QStringLiteral("/api/auth/announcements"), {},
            [this](const QJsonObject &reply) { emit announcementsReceived(items(reply)); }, kPlain);
}

void ApiClient::fetchGames()
{
    request(QStringLiteral("GET"), QStringLiteral("/api/auth/games"), {},
            [this](const QJsonObject &reply) { emit gamesReceived(items(reply)); }, kPlain);
}

void ApiClient::fetchDedicatedGames()
{
    request(QStringLiteral("GET"), QStringLiteral("/api/games/dedicated"), {},
            [this](const QJsonObject &reply) {
                logLine(Logger::Debug, "api",
                        QStringLiteral("dedicated games raw: ")
                            + QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Compact)));
                emit dedicatedGamesReceived(items(reply));
            },
            kPlain);
}

void ApiClient::fetchDedicatedGameServers(const QString &gameId)
{
    request(QStringLiteral("GET"),
            QStringLiteral("/api/games/") + encodePathPiece(gameId) + QStringLiteral("/servers"), {},
            [this, gameId](const QJsonObject &reply) {
                emit dedicatedGameServersReceived(gameId, items(reply));
            },
            kPlain);
}

void ApiClient::fetchPublicVlans(int page, int pageSize, const QString &search)
{
    QString path = QStringLiteral("/api/vlans/public?page=%1&page_size=%2").arg(page).arg(pageSize);
    if (!search.isEmpty())
        path += QStringLiteral("&search=") + encodePathPiece(search);
    request(QStringLiteral("GET"), path, {},
            [this](const QJsonObject &reply) {
                emit vlansReceived(items(reply), number(reply, "total"), number(reply, "page"),
                                   number(reply, "total_pages"));
            },
            kPlain);
}

void ApiClient::changePassword(const QString &oldPassword, const QString &newPassword)
{
    const QJsonObject body{{QStringLiteral("old_password"), oldPassword},
                           {QStringLiteral("new_password"), newPassword}};
    request(QStringLiteral("POST"), QStringLiteral("/api/auth/change-password"), body,
            [this](const QJsonObject &reply) { emit passwordChanged(text(reply, "message")); },
            kGuarded);
}

void ApiClient::changeUsername(const QString &newUsername, const QString &password)
{
    const QJsonObject body{{QStringLiteral("new_username"), newUsername},
                           {QStringLiteral("password"), password}};
    request(QStringLiteral("POST"), QStringLiteral("/api/auth/change-username"), body,
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
    request(QStringLiteral("GET"),
            QStringLiteral("/api/users/") + encodePathPiece(username) + QStringLiteral("/avatar"), {},
            [this, username](const QJsonObject &reply) {
                const QString url = text(reply, "url");
                if (url.isEmpty())
                    emit avatarFetchFailed(username);
                else
                    emit avatarReceived(username, absoluteUrl(url), text(reply, "rotated_at"));
            },
            RequestOptions{false, true, true});
}

void ApiClient::fetchPfpList()
{
    request(QStringLiteral("GET"), QStringLiteral("/api/pfp/list"), {},
            [this](const QJsonObject &reply) { emit pfpListReceived(items(reply)); }, kPlain);
}

void ApiClient::setMyAvatar(qint64 imageId)
{
    // Own handling: a 429 carries the cool-down instead of an error.
    QNetworkRequest req(QUrl(m_baseUrl + QStringLiteral("/api/users/me/avatar")));
    req.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    req.setTransferTimeout(m_transferTimeoutMs);
    applyAuthHeaders(req, m_accessToken, m_lang);
    const QJsonObject body{{QStringLiteral("image_id"), imageId}};
    QNetworkReply *reply =
        m_network.post(req, QJsonDocument(body).toJson(QJsonDocument::Indented));
    limitReplySize(reply);
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, imageId]() { onAvatarChangeReply(reply, imageId); });
}

void ApiClient::onAvatarChangeReply(QNetworkReply *reply, qint64 imageId)
{
    reply->deleteLater();
    const QByteArray raw = reply->readAll();
    if (replyTooLarge(reply, raw)) {
        emit requestError(localized("Server response too large", "پاسخ سرور بیش از حد بزرگ است"));
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
    const QString url = absoluteUrl(text(object, "url"));
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
