#include "shell/deep_link.h"
#include "shell/deep_link_router.h"
#include "shell/logger.h"
#include "platform/url_scheme_registry.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Stands in for the service client: records the calls routing makes.
class FakeApi : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool connected READ connected)

public:
    bool connected() const { return m_connected; }
    void setConnected(bool c) { m_connected = c; }
    QStringList calls;

    Q_INVOKABLE void disconnectVlan()
    {
        calls << QStringLiteral("disconnect");
        m_connected = false;
    }
    Q_INVOKABLE void joinVlan(const QString &id) { calls << QStringLiteral("join:") + id; }

private:
    bool m_connected = false;
};

class RecordingRegistry : public UrlSchemeRegistry
{
public:
    QList<Registration> registrations;
    bool registerScheme(const Registration &registration) override
    {
        registrations << registration;
        return true;
    }
};

QStringList logLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class DeepLinkTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        Logger::instance().initIn(m_dir.path());
    }

    void argumentsAndJoinIds()
    {
        using DeepLink::findInArguments;
        QCOMPARE(findInArguments({"corvana://join/self", "x"}), QString());
        QCOMPARE(findInArguments({"corvana", "--flag", "corvana://join/1", "corvana://join/2"}),
                 QString("corvana://join/1"));
        QCOMPARE(findInArguments({"corvana", "CORVANA://join/1"}), QString());
        QCOMPARE(findInArguments({"corvana", "Corvana://join/1", "corvana://other"}),
                 QString("corvana://other"));
        QCOMPARE(findInArguments({"corvana"}), QString());

        QCOMPARE(DeepLink::joinId("corvana://join/  abc "), QString("abc"));
        QCOMPARE(DeepLink::joinId("corvana://join/a b"), QString("a b"));
        QCOMPARE(DeepLink::joinId("corvana://JOIN/abc"), QString());
        QCOMPARE(DeepLink::joinId("corvana://join/   "), QString());
        QCOMPARE(DeepLink::joinId("corvana://joinabc"), QString());
        QCOMPARE(DeepLink::joinId("xcorvana://join/abc"), QString());

        RecordingRegistry registry;
        QVERIFY(DeepLink::registerUrlProtocol(registry, "/opt/corvana/corvana"));
        QCOMPARE(registry.registrations.size(), 1);
        QCOMPARE(registry.registrations[0].scheme, QString("corvana"));
        QCOMPARE(registry.registrations[0].description, QString("URL:Corvana Protocol"));
        QCOMPARE(registry.registrations[0].executablePath, QString("/opt/corvana/corvana"));
    }

    void instanceMessagesReachTheClient()
    {
        FakeApi api;
        DeepLinkRouter router(&api);
        QSignalSpy shows(&router, &DeepLinkRouter::showWindowRequested);

        router.handleInstanceMessage("show");
        QCOMPARE(shows.count(), 1);
        QVERIFY(api.calls.isEmpty());

        // Ignored: other schemes' texts, other link kinds, empty ids, case variants.
        for (const char *ignored : {"Show", "hello", "corvana://open/x", "corvana://join/ ",
                                    "corvana://JOIN/x", "CORVANA://join/x"}) {
            router.handleInstanceMessage(ignored);
        }
        QCOMPARE(shows.count(), 1);
        QVERIFY(api.calls.isEmpty());

        router.handleInstanceMessage("corvana://join/ v1 ");
        QCOMPARE(api.calls, QStringList({"join:v1"}));
        QCOMPARE(shows.count(), 2);

        // A joined user is taken out of the current VLAN first.
        api.calls.clear();
        api.setConnected(true);
        router.handleInstanceMessage("corvana://join/v2");
        QCOMPARE(api.calls, QStringList({"disconnect", "join:v2"}));

        const QStringList lines = logLines(Logger::instance().filePath());
        QVERIFY(lines.size() >= 2);
        QVERIFY(lines[lines.size() - 2].endsWith("[INF] deeplink: join request: v1"));
        QVERIFY(lines.last().endsWith("[INF] deeplink: join request: v2"));
    }

    void startupAndDiscordJoins()
    {
        FakeApi api;
        DeepLinkRouter router(&api);
        QSignalSpy shows(&router, &DeepLinkRouter::showWindowRequested);

        // The start-up join neither leaves a VLAN nor raises the window.
        api.setConnected(true);
        router.onStartupJoin("s1");
        QCOMPARE(api.calls, QStringList({"join:s1"}));
        QVERIFY(logLines(Logger::instance().filePath()).last().endsWith(
            "[INF] deeplink: startup join: s1"));

        api.calls.clear();
        router.onDiscordJoin("d1");
        QCOMPARE(api.calls, QStringList({"disconnect", "join:d1"}));
        api.calls.clear();
        router.onDiscordJoin("d2");
        QCOMPARE(api.calls, QStringList({"join:d2"}));
        QCOMPARE(shows.count(), 0);

        // A client without joining yet: the request is logged, nothing breaks.
        QObject bare;
        DeepLinkRouter lonely(&bare);
        lonely.handleInstanceMessage("corvana://join/z");
        QVERIFY(logLines(Logger::instance().filePath()).last().contains("cannot join z"));
    }
};

QTEST_GUILESS_MAIN(DeepLinkTest)
#include "deep_link_test.moc"
