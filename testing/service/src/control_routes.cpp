// Test controls: bend the next answer of a path, expire tokens, change users,
// read the log of calls. Not part of the real service.
#include "service_server.h"
#include "service_text.h"

#include <QDateTime>
#include <QJsonArray>

void registerControlRoutes(ServiceServer &server)
{
    ServiceState &state = server.state();

    // {"path", "status", "detail", "body", "body_repeat", "malformed", "delay_ms", "hang", "hold",
    //  "stream_bytes", "trickle_ms", "bytes_per_second", "count"}
    server.addRoute("POST", QStringLiteral("/test/next"), [&server](ServiceCall &call) {
        const QString path = bodyText(call, "path");
        if (!path.startsWith(QLatin1Char('/')))
            return ServiceReply::error(400, QStringLiteral("path must begin with /"));
        ControlRule rule;
        rule.status = call.body.value(QStringLiteral("status")).toInt();
        if (call.body.contains(QStringLiteral("detail")))
            rule.detail = bodyText(call, "detail");
        if (call.body.contains(QStringLiteral("body")))
            rule.rawBody = bodyText(call, "body").toUtf8().repeated(
                qMax(1, call.body.value(QStringLiteral("body_repeat")).toInt(1)));
        rule.malformed = call.body.value(QStringLiteral("malformed")).toBool();
        rule.delayMs = call.body.value(QStringLiteral("delay_ms")).toInt();
        rule.hang = call.body.value(QStringLiteral("hang")).toBool();
        rule.hold = call.body.value(QStringLiteral("hold")).toBool();
        rule.streamBytes = call.body.value(QStringLiteral("stream_bytes")).toInteger();
        rule.trickleMs = call.body.value(QStringLiteral("trickle_ms")).toInt();
        rule.bytesPerSecond = call.body.value(QStringLiteral("bytes_per_second")).toInt();
        const int count = qMax(1, call.body.value(QStringLiteral("count")).toInt(1));
        for (int i = 0; i < count; ++i)
            server.addRule(path, rule);
        return ServiceReply::json(200, {});
    });

    server.addRoute("POST", QStringLiteral("/test/expire-access"), [&state](ServiceCall &) {
        state.accessTokens.clear();
        return ServiceReply::json(200, {});
    });

    server.addRoute("POST", QStringLiteral("/test/revoke-refresh"), [&state](ServiceCall &) {
        state.refreshTokens.clear();
        return ServiceReply::json(200, {});
    });

    // {"username", "vip", "avatar_url", "avatar_rotated_at", "username_changed_at",
    //  "avatar_cooldown_seconds", "username_cooldown_seconds"}
    server.addRoute("POST", QStringLiteral("/test/user"), [&state](ServiceCall &call) {
        if (call.body.contains(QStringLiteral("avatar_cooldown_seconds")))
            state.avatarCooldownSeconds = call.body.value(QStringLiteral("avatar_cooldown_seconds")).toInt();
        if (call.body.contains(QStringLiteral("username_cooldown_seconds")))
            state.usernameCooldownSeconds = call.body.value(QStringLiteral("username_cooldown_seconds")).toInt();
        const QString key = bodyText(call, "username").toLower();
        if (key.isEmpty())
            return ServiceReply::json(200, {});
        auto it = state.accounts.find(key);
        if (it == state.accounts.end())
            return ServiceReply::error(404, QStringLiteral("User not found"));
        if (call.body.contains(QStringLiteral("vip")))
            it->vip = call.body.value(QStringLiteral("vip")).toBool();
        if (call.body.contains(QStringLiteral("avatar_url")))
            it->avatarUrl = bodyText(call, "avatar_url");
        // The dates of the last changes, as the cool-downs count from them.
        if (call.body.contains(QStringLiteral("avatar_rotated_at"))) {
            it->avatarRotatedAt = bodyText(call, "avatar_rotated_at");
            const QDateTime stamp = QDateTime::fromString(it->avatarRotatedAt, Qt::ISODate);
            it->lastAvatarChange = stamp.isValid() ? stamp.toUTC() : QDateTime();
        }
        if (call.body.contains(QStringLiteral("username_changed_at")))
            it->usernameChangedAt = bodyText(call, "username_changed_at");
        return ServiceReply::json(200, {});
    });

    // {"address"}: the tunnel server named in join and create replies.
    server.addRoute("POST", QStringLiteral("/test/tunnel-server"), [&state](ServiceCall &call) {
        state.tunnelServer = bodyText(call, "address");
        return ServiceReply::json(200, {});
    });

    // {"path"?}: the held answers go out (every held one without a path).
    server.addRoute("POST", QStringLiteral("/test/release"), [&server](ServiceCall &call) {
        return ServiceReply::json(200, {{QStringLiteral("released"), server.release(bodyText(call, "path"))}});
    });

    server.addRoute("GET", QStringLiteral("/test/abandoned"), [&server](ServiceCall &) {
        return ServiceReply::json(200, {{QStringLiteral("items"), server.abandoned()}});
    });

    server.addRoute("GET", QStringLiteral("/test/requests"), [&server](ServiceCall &) {
        return ServiceReply::json(200, {{QStringLiteral("items"), server.requestLog()}});
    });

    server.addRoute("POST", QStringLiteral("/test/reset"), [&server](ServiceCall &) {
        server.clearLog();
        server.clearRules();
        return ServiceReply::json(200, {});
    });
}
