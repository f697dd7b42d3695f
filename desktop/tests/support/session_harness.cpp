#include "support/session_harness.h"

#include "shell/logger.h"
#include "support/api_test_helpers.h"
#include "support/log_file_text.h"

#include <QFile>
#include <QTest>

SessionHarness::SessionHarness(const QStringList &clientScript)
    : m_client(clientScript)
{
    if (!m_service.start())
        return;
    QFile hosts(hostsPath());
    if (hosts.open(QIODevice::WriteOnly))
        hosts.write("127.0.0.1 localhost\n");
    hosts.close();
    m_api = std::make_unique<ApiClient>();
    m_api->setBaseUrl(m_service.baseUrl());
    m_api->vpnProcess().setProgramDirectory(m_client.path());
    m_api->hostsFileManager().setHostsFilePath(hostsPath());
    m_api->hostsFileManager().setRetryDelayMs(1);
    ApiClient *api = m_api.get();
    QObject::connect(api, &ApiClient::connectedChanged, api,
                     [this, api]() { seen << (api->connected() ? QStringLiteral("connected:true") : QStringLiteral("connected:false")); });
    QObject::connect(api, &ApiClient::joinSuccess, api,
                     [this](const QString &id, const QString &, const QString &) { seen << QStringLiteral("join:") + id; });
    QObject::connect(api, &ApiClient::createSuccess, api,
                     [this](const QString &id, const QString &, const QString &) { seen << QStringLiteral("create:") + id; });
    QObject::connect(api, &ApiClient::usersUpdated, api,
                     [this](const QJsonArray &, int players) { seen << QStringLiteral("users:%1").arg(players); });
    QObject::connect(api, &ApiClient::disconnectSuccess, api, [this]() { seen << QStringLiteral("disconnect"); });
    QObject::connect(api, &ApiClient::requestError, api,
                     [this](const QString &message) { seen << QStringLiteral("error:") + message; });
    QObject::connect(api, &ApiClient::vlanEvent, api, [this](const QString &type, const QString &name) {
        seen << QStringLiteral("event:%1:%2").arg(type, name);
    });
    QObject::connect(api, &ApiClient::userIpAssigned, api, [this](const QString &name, const QString &ip) {
        seen << QStringLiteral("ip:%1:%2").arg(name, ip);
    });
    m_ready = signInDemo(*m_api);
}

SessionHarness::~SessionHarness()
{
    // The client goes before the service so no stand-in outlives the test.
    m_api.reset();
}

int SessionHarness::count(const QString &prefix) const
{
    int n = 0;
    for (const QString &entry : seen)
        if (entry.startsWith(prefix))
            ++n;
    return n;
}

QStringList SessionHarness::after(const QString &entry) const
{
    const qsizetype at = seen.indexOf(entry);
    return at < 0 ? QStringList() : seen.mid(at + 1);
}

QJsonObject SessionHarness::lobby()
{
    return m_service.call("GET", QStringLiteral("/test/lobby"));
}

QJsonArray SessionHarness::lobbyFrames()
{
    return lobby().value(QStringLiteral("frames")).toArray();
}

int SessionHarness::lobbyOpenings()
{
    return int(lobby().value(QStringLiteral("opened")).toArray().size());
}

QStringList SessionHarness::apiPaths()
{
    return column(m_service.requestsTo(QStringLiteral("/api/")), "path");
}

void SessionHarness::lobbySend(const QJsonObject &message)
{
    control(QStringLiteral("/test/lobby/send"), {{QStringLiteral("message"), message}});
}

void SessionHarness::lobbySendRaw(const QString &text)
{
    control(QStringLiteral("/test/lobby/send"), {{QStringLiteral("raw"), text}});
}

void SessionHarness::control(const QString &path, const QJsonObject &body)
{
    m_service.call("POST", path, body);
}

bool SessionHarness::waitFor(const QString &entry, int ms)
{
    return QTest::qWaitFor([&]() { return seen.contains(entry); }, ms);
}

bool SessionHarness::joinAndWaitLive(const QString &vlanId)
{
    m_api->joinVlan(vlanId);
    return QTest::qWaitFor([&]() { return m_api->lobbyJoined(); }, kEventWaitMs);
}

QString SessionHarness::logText()
{
    return logFileText();
}
