#pragma once

#include "service/api_client.h"
#include "support/scripted_client.h"
#include "support/test_service.h"
#include "support/wait_bounds.h"

#include <QJsonArray>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// One signed-in ApiClient against its own stand-in service, with a scripted
// tunnel client and a private hosts file; records the session's signals in
// the order they came.
class SessionHarness
{
public:
    explicit SessionHarness(const QStringList &clientScript = ScriptedClientFolder::readyScript());
    ~SessionHarness();

    // False when the service did not start or the sign-in failed.
    bool ready() const { return m_ready; }

    ApiClient &api() { return *m_api; }
    TestService &service() { return m_service; }
    ScriptedClientFolder &client() { return m_client; }
    DiscordPresence::State discordPresenceState() const { return m_api->discordPresence().state(); }
    QString hostsPath() const { return m_hostsDir.filePath(QStringLiteral("hosts")); }

    // Signals as short texts: "connected:true", "join:<id>", "create:<id>",
    // "users:<n>", "disconnect", "error:<text>", "event:<type>:<name>", "ip:<name>:<ip>".
    QStringList seen;
    int count(const QString &prefix) const;
    // Everything after the first entry equal to `entry`.
    QStringList after(const QString &entry) const;

    // Service-side views.
    QJsonObject lobby();
    QJsonArray lobbyFrames();
    int lobbyOpenings();
    QStringList apiPaths(); // paths of every /api/ call, in order
    void lobbySend(const QJsonObject &message);
    void lobbySendRaw(const QString &text);
    void control(const QString &path, const QJsonObject &body = {});

    // Waits for `entry` to be recorded; false on time-out.
    bool waitFor(const QString &entry, int ms = kEventWaitMs);
    // Joins and waits for the lobby's member list; false when that did not happen.
    bool joinAndWaitLive(const QString &vlanId);

    static QString logText();

private:
    TestService m_service;
    ScriptedClientFolder m_client;
    QTemporaryDir m_hostsDir;
    std::unique_ptr<ApiClient> m_api;
    bool m_ready = false;
};
