// Accounts: register, login, refresh with rotation, logout, me, password and
// user name change.
#include "service_server.h"
#include "service_text.h"

#include <QDateTime>
#include <QJsonArray>

ServiceReply validationError(const QStringList &missing)
{
    QJsonArray detail;
    for (const QString &field : missing)
        detail.append(QJsonObject{{QStringLiteral("loc"), QJsonArray{QStringLiteral("body"), field}},
                                  {QStringLiteral("msg"), QStringLiteral("field required")},
                                  {QStringLiteral("type"), QStringLiteral("value_error.missing")}});
    return ServiceReply::json(422, {{QStringLiteral("detail"), detail}});
}

namespace {

QStringList missingFields(const ServiceCall &call, std::initializer_list<const char *> fields)
{
    QStringList missing;
    for (const char *field : fields)
        if (!call.body.value(QLatin1String(field)).isString())
            missing.append(QString::fromLatin1(field));
    return missing;
}

QString now()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
}

} // namespace

void registerAccountRoutes(ServiceServer &server)
{
    ServiceState &state = server.state();

    server.addRoute("POST", QStringLiteral("/api/auth/register"), [&state](ServiceCall &call) {
        const QStringList missing = missingFields(call, {"email", "username", "password"});
        if (!missing.isEmpty())
            return validationError(missing);
        const QString username = bodyText(call, "username");
        const QString key = username.toLower();
        if (username.trimmed().isEmpty() || bodyText(call, "password").size() < 6)
            return ServiceReply::error(400, localizedDetail(call, "Username or password too short",
                                                            "نام کاربری یا رمز عبور خیلی کوتاه است"));
        if (state.accounts.contains(key))
            return ServiceReply::error(409, localizedDetail(call, "Username already taken",
                                                            "این نام کاربری قبلا گرفته شده است"));
        Account account;
        account.email = bodyText(call, "email");
        account.username = username;
        account.password = bodyText(call, "password");
        state.accounts.insert(key, account);
        return ServiceReply::json(201, state.issueTokens(key));
    });

    server.addRoute("POST", QStringLiteral("/api/auth/login"), [&state](ServiceCall &call) {
        const QStringList missing = missingFields(call, {"username", "password"});
        if (!missing.isEmpty())
            return validationError(missing);
        const QString key = bodyText(call, "username").toLower();
        const auto it = state.accounts.constFind(key);
        if (it == state.accounts.constEnd() || it->password != bodyText(call, "password"))
            return ServiceReply::error(401, localizedDetail(call, "Invalid username or password",
                                                            "نام کاربری یا رمز عبور اشتباه است"));
        return ServiceReply::json(200, state.issueTokens(key));
    });

    server.addRoute("POST", QStringLiteral("/api/auth/refresh"), [&state](ServiceCall &call) {
        const QString token = bodyText(call, "refresh_token");
        const auto it = state.refreshTokens.constFind(token);
        if (token.isEmpty() || it == state.refreshTokens.constEnd())
            return ServiceReply::error(401, localizedDetail(call, "Invalid refresh token",
                                                            "توکن نامعتبر است"));
        // Rotation: the used refresh token is spent.
        const QString key = it.value();
        state.refreshTokens.remove(token);
        return ServiceReply::json(200, state.issueTokens(key));
    });

    server.addRoute("POST", QStringLiteral("/api/auth/logout"), [&state](ServiceCall &call) {
        state.refreshTokens.remove(bodyText(call, "refresh_token"));
        state.accessTokens.remove(call.bearer);
        return ServiceReply::json(200, {{QStringLiteral("message"), QStringLiteral("Logged out")}});
    });

    server.addRoute("GET", QStringLiteral("/api/auth/me"), authed(state, [](ServiceCall &, Account &account) {
        return ServiceReply::json(200, {{QStringLiteral("username"), account.username},
                                        {QStringLiteral("email"), account.email},
                                        {QStringLiteral("vip"), account.vip},
                                        {QStringLiteral("avatar_rotated_at"), account.avatarRotatedAt},
                                        {QStringLiteral("username_changed_at"), account.usernameChangedAt}});
    }));

    server.addRoute("POST", QStringLiteral("/api/auth/change-password"), authed(state, [&state](ServiceCall &call, Account &account) {
        const QStringList missing = missingFields(call, {"old_password", "new_password"});
        if (!missing.isEmpty())
            return validationError(missing);
        if (bodyText(call, "old_password") != account.password)
            return ServiceReply::error(400, localizedDetail(call, "Current password is incorrect",
                                                            "رمز عبور فعلی اشتباه است"));
        if (bodyText(call, "new_password").size() < 6)
            return ServiceReply::error(400, localizedDetail(call, "New password too short",
                                                            "رمز عبور جدید خیلی کوتاه است"));
        account.password = bodyText(call, "new_password");
        return ServiceReply::json(200, {{QStringLiteral("message"),
                                         localizedDetail(call, "Password changed", "رمز عبور تغییر کرد")}});
    }));

    server.addRoute("POST", QStringLiteral("/api/auth/change-username"), authed(state, [&state](ServiceCall &call, Account &account) {
        const QStringList missing = missingFields(call, {"new_username", "password"});
        if (!missing.isEmpty())
            return validationError(missing);
        if (bodyText(call, "password") != account.password)
            return ServiceReply::error(400, localizedDetail(call, "Password is incorrect",
                                                            "رمز عبور اشتباه است"));
        const QDateTime lastChange = QDateTime::fromString(account.usernameChangedAt, Qt::ISODate);
        if (lastChange.isValid()
            && lastChange.secsTo(QDateTime::currentDateTimeUtc()) < state.usernameCooldownSeconds)
            return ServiceReply::error(429, localizedDetail(call, "Username can be changed once every six months",
                                                            "نام کاربری را هر شش ماه یک بار می‌توان تغییر داد"));
        const QString newName = bodyText(call, "new_username");
        const QString newKey = newName.toLower();
        const QString oldKey = account.username.toLower();
        if (newName.trimmed().isEmpty())
            return ServiceReply::error(400, localizedDetail(call, "Username too short",
                                                            "نام کاربری خیلی کوتاه است"));
        if (newKey != oldKey && state.accounts.contains(newKey))
            return ServiceReply::error(409, localizedDetail(call, "Username already taken",
                                                            "این نام کاربری قبلا گرفته شده است"));
        Account moved = account;
        moved.username = newName;
        moved.usernameChangedAt = now();
        state.accounts.remove(oldKey);
        state.accounts.insert(newKey, moved);
        for (auto it = state.accessTokens.begin(); it != state.accessTokens.end(); ++it)
            if (it.value() == oldKey)
                it.value() = newKey;
        for (auto it = state.refreshTokens.begin(); it != state.refreshTokens.end(); ++it)
            if (it.value() == oldKey)
                it.value() = newKey;
        return ServiceReply::json(200, {{QStringLiteral("message"), QStringLiteral("Username changed")},
                                        {QStringLiteral("username"), newName}});
    }));
}
