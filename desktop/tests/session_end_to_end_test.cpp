// The whole session with the real tunnel client: the stand-in service and the
// tunnel server in a namespace of their own, this process (ApiClient and the
// client it starts) in another, with a persistent TAP interface and a veth link.
// Needs root; CORVANA_E2E_BIN_DIR may name another build's tunnel programs.
#include "service/api_client.h"
#include "shell/logger.h"
#include "support/api_test_helpers.h"
#include "support/log_file_text.h"
#include "support/wait_bounds.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <utility>

namespace {

QString g_isolation; // why this process could not get namespaces of its own, if so

// A network namespace of our own, with a /sys that shows it (the client reads
// its adapters there). Done before any thread exists.
void isolateNetwork()
{
    if (geteuid() != 0) {
        g_isolation = QStringLiteral("needs root (network namespaces and a TAP interface)");
        return;
    }
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
        g_isolation = QStringLiteral("unshare failed");
        return;
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 || umount2("/sys", MNT_DETACH) != 0
        || mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0)
        g_isolation = QStringLiteral("cannot remount /sys for the new namespace");
}

QString tunnelBinDir()
{
    const QByteArray other = qgetenv("CORVANA_E2E_BIN_DIR");
    return other.isEmpty() ? QStringLiteral(CORVANA_BIN_DIR) : QString::fromLocal8Bit(other);
}

int run(const QStringList &command, QString *output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished(2000);
        return -1;
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// A program started inside the server namespace; ended with it.
struct NsChild
{
    QProcess process;
    QString seen;

    bool start(const QString &ns, const QStringList &command, const QString &readyText)
    {
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("ip"), QStringList{QStringLiteral("netns"), QStringLiteral("exec"), ns} + command);
        if (!process.waitForStarted(5000))
            return false;
        while (!seen.contains(readyText)) {
            if (!process.waitForReadyRead(15000))
                return false;
            seen += QString::fromLocal8Bit(process.readAll());
        }
        return true;
    }

    ~NsChild()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

} // namespace

class SessionEndToEndTest : public QObject
{
    Q_OBJECT

private:
    const QString m_ns = QStringLiteral("cvs-%1").arg(getpid());
    const QString m_vethHere = QStringLiteral("cvc%1").arg(getpid());
    const QString m_vethThere = QStringLiteral("cvs%1").arg(getpid());
    const QString m_tap = QStringLiteral("cvt%1").arg(getpid());
    const QString m_serverIp = QStringLiteral("10.233.7.1");
    const QString m_clientIp = QStringLiteral("10.233.7.2");
    bool m_nsMade = false;
    std::unique_ptr<NsChild> m_tunnelServer, m_relay, m_service;
    QString m_baseUrl;
    QTemporaryDir m_scratch;

    bool ip(const QStringList &args) { return run(QStringList{QStringLiteral("ip")} + args) == 0; }

    // Points api at the stand-ins and at a hosts file of our own.
    bool prepare(ApiClient &api)
    {
        api.setBaseUrl(m_baseUrl);
        api.vpnProcess().setProgramDirectory(tunnelBinDir());
        QFile hosts(m_scratch.filePath(QStringLiteral("hosts")));
        if (!hosts.open(QIODevice::WriteOnly))
            return false;
        hosts.close();
        api.hostsFileManager().setHostsFilePath(hosts.fileName());
        return true;
    }

    QString here(const QStringList &args)
    {
        QString out;
        run(QStringList{QStringLiteral("ip")} + args, &out);
        return out;
    }

    QJsonArray serviceRequests()
    {
        QNetworkAccessManager network;
        QNetworkReply *reply = network.get(QNetworkRequest(QUrl(m_baseUrl + QStringLiteral("/test/requests"))));
        QEventLoop loop;
        connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        reply->deleteLater();
        return QJsonDocument::fromJson(reply->readAll()).object().value(QStringLiteral("items")).toArray();
    }

    // Routes and addresses on the TAP interface that the client may have added.
    QStringList tapLeftovers()
    {
        QStringList left;
        const QString v4 = here({QStringLiteral("-4"), QStringLiteral("addr"), QStringLiteral("show"), QStringLiteral("dev"), m_tap});
        if (v4.contains(QStringLiteral("inet ")))
            left << v4;
        const QString v6 = here({QStringLiteral("-6"), QStringLiteral("addr"), QStringLiteral("show"), QStringLiteral("dev"),
                                 m_tap, QStringLiteral("scope"), QStringLiteral("global")});
        if (v6.contains(QStringLiteral("inet6 ")))
            left << v6;
        for (const char *family : {"-4", "-6"}) {
            const QStringList routes = here({QString::fromLatin1(family), QStringLiteral("route"), QStringLiteral("show"),
                                             QStringLiteral("table"), QStringLiteral("all")})
                                           .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            for (const QString &route : routes)
                // The kernel's own link-local routes come with the link, not from the client.
                if (route.contains(m_tap) && !route.startsWith(QLatin1String("fe80::"))
                    && !route.contains(QLatin1String("table local")) && !route.startsWith(QLatin1String("multicast")))
                    left << route;
        }
        return left;
    }

private slots:
    void initTestCase()
    {
        if (!g_isolation.isEmpty())
            QSKIP(qPrintable(QStringLiteral("end-to-end session test skipped: ") + g_isolation));
        if (!QFile::exists(tunnelBinDir() + QStringLiteral("/ostrel-tunnel-server"))
            || !QFile::exists(tunnelBinDir() + QStringLiteral("/ostrel-client")))
            QSKIP("end-to-end session test skipped: ostrel-tunnel-server or ostrel-client is not built here yet "
                  "(the real client cannot reach \"ready\" without them); set CORVANA_E2E_BIN_DIR to a build that has them");
        Logger::instance().init();

        QVERIFY(ip({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")}));
        QVERIFY(ip({QStringLiteral("netns"), QStringLiteral("add"), m_ns}));
        m_nsMade = true;
        QVERIFY(ip({QStringLiteral("link"), QStringLiteral("add"), m_vethHere, QStringLiteral("type"), QStringLiteral("veth"),
                    QStringLiteral("peer"), QStringLiteral("name"), m_vethThere, QStringLiteral("netns"), m_ns}));
        QVERIFY(ip({QStringLiteral("addr"), QStringLiteral("add"), m_clientIp + QStringLiteral("/24"), QStringLiteral("dev"), m_vethHere}));
        QVERIFY(ip({QStringLiteral("link"), QStringLiteral("set"), m_vethHere, QStringLiteral("up")}));
        const QStringList there{QStringLiteral("-n"), m_ns};
        QVERIFY(ip(there + QStringList{QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")}));
        QVERIFY(ip(there + QStringList{QStringLiteral("addr"), QStringLiteral("add"), m_serverIp + QStringLiteral("/24"),
                                       QStringLiteral("dev"), m_vethThere}));
        QVERIFY(ip(there + QStringList{QStringLiteral("link"), QStringLiteral("set"), m_vethThere, QStringLiteral("up")}));
        QVERIFY(ip({QStringLiteral("tuntap"), QStringLiteral("add"), QStringLiteral("dev"), m_tap, QStringLiteral("mode"), QStringLiteral("tap")}));

        m_tunnelServer = std::make_unique<NsChild>();
        QVERIFY2(m_tunnelServer->start(m_ns, {tunnelBinDir() + QStringLiteral("/ostrel-tunnel-server"), QStringLiteral("--port"),
                                              QStringLiteral("7100"), QStringLiteral("--account"), QStringLiteral("demo:demo1234:v1:l2"),
                                              QStringLiteral("--account"), QStringLiteral("dash:-Pw-Secret-4711:v1:l2")},
                                       QStringLiteral("listening")),
                 qPrintable(m_tunnelServer->seen));
        m_relay = std::make_unique<NsChild>();
        QVERIFY(m_relay->start(m_ns, {QStringLiteral(CORVANA_BIN_DIR "/udp-relay"), m_serverIp + QStringLiteral(":7000"),
                                      QStringLiteral("127.0.0.1:7100")},
                               QStringLiteral("relaying")));
        m_service = std::make_unique<NsChild>();
        QVERIFY(m_service->start(m_ns, {QStringLiteral(CORVANA_BIN_DIR "/corvana-test-service"), QStringLiteral("--host"), m_serverIp,
                                        QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--tunnel-server"),
                                        m_serverIp + QStringLiteral(":7000")},
                                 QStringLiteral("\n")));
        const qsizetype at = m_service->seen.indexOf(QStringLiteral("listening on "));
        QVERIFY(at >= 0);
        m_baseUrl = m_service->seen.mid(at + 13).trimmed();
    }

    void joinReachesReadyAndLeaveUndoesEverything()
    {
        ApiClient api;
        QVERIFY(prepare(api));
        QVERIFY(signInDemo(api));

        QJsonArray lastUsers;
        connect(&api, &ApiClient::usersUpdated, this, [&](const QJsonArray &users, int) { lastUsers = users; });
        QSignalSpy errors(&api, &ApiClient::requestError);
        api.joinVlan(QStringLiteral("v1"));
        QTRY_VERIFY_WITH_TIMEOUT(api.vpnStatus() == QLatin1String("ready") || !errors.isEmpty(), 45000);
        QVERIFY2(errors.isEmpty(), qPrintable(errors.isEmpty() ? QString() : errors.at(0).at(0).toString()));
        QVERIFY(!api.vpnIp().isEmpty());
        QVERIFY(here({QStringLiteral("addr"), QStringLiteral("show"), QStringLiteral("dev"), m_tap}).contains(api.vpnIp()));

        // The lobby, reached over the veth link, names us in the member list.
        QTRY_VERIFY_WITH_TIMEOUT(api.lobbyJoined(), kEventWaitMs);
        QVERIFY(column(lastUsers, "username").contains(QStringLiteral("demo")));

        QSignalSpy done(&api, &ApiClient::disconnectSuccess);
        api.disconnectVlan();
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, kEventWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!api.vpnProcess().running(), kEventWaitMs);
        QCOMPARE(api.vpnStatus(), QStringLiteral("disconnected"));
        QVERIFY(errors.isEmpty());

        const QString logText = logFileText();
        // The client's own word on the end, and its exit status.
        QVERIFY(logText.contains(QRegularExpression(QStringLiteral(R"(vpn-stdout: \{[^\n]*"event":"disconnected"[^\n]*"reason":"user")"))));
        QVERIFY(logText.contains(QStringLiteral("process exited: code=0 stopping=yes")));
        QVERIFY(!logText.contains(QStringLiteral("graceful shutdown timed out")));

        bool posted = false;
        for (const QJsonValue &entry : serviceRequests()) {
            const QJsonObject call = entry.toObject();
            if (call.value(QStringLiteral("path")).toString() == QLatin1String("/api/vlans/v1/disconnect"))
                posted = call.value(QStringLiteral("method")).toString() == QLatin1String("POST")
                         && call.value(QStringLiteral("authorization")).toString() == QStringLiteral("Bearer ") + api.accessToken();
        }
        QVERIFY(posted);
        const QStringList left = tapLeftovers();
        QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char('\n'))));
    }

    void aPasswordThatBeginsWithADashReachesReady()
    {
        ApiClient api;
        QVERIFY(prepare(api));
        QSignalSpy registered(&api, &ApiClient::registerSuccess);
        api.registerUser(QStringLiteral("dash@example.test"), QStringLiteral("dash"), QStringLiteral("-Pw-Secret-4711"));
        QVERIFY(registered.wait(10000));

        QSignalSpy errors(&api, &ApiClient::requestError);
        api.joinVlan(QStringLiteral("v1"));
        QTRY_VERIFY_WITH_TIMEOUT(api.vpnStatus() == QLatin1String("ready") || !errors.isEmpty(), 45000);
        QVERIFY2(errors.isEmpty(), qPrintable(errors.isEmpty() ? QString() : errors.at(0).at(0).toString()));

        QSignalSpy done(&api, &ApiClient::disconnectSuccess);
        api.disconnectVlan();
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!api.vpnProcess().running(), 10000);
        QVERIFY(errors.isEmpty());
    }

    void cleanupTestCase() { tearDownLab(); }

public:
    // Also on the way out of a failed set-up.
    ~SessionEndToEndTest() override { tearDownLab(); }

private:
    void tearDownLab()
    {
        m_service.reset();
        m_relay.reset();
        m_tunnelServer.reset();
        if (std::exchange(m_nsMade, false)) {
            ip({QStringLiteral("netns"), QStringLiteral("del"), m_ns}); // takes the veth pair with it
            ip({QStringLiteral("link"), QStringLiteral("del"), m_tap});
        }
    }
};

int main(int argc, char **argv)
{
    isolateNetwork();
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    const QByteArray root = home.path().toUtf8();
    setenv("HOME", root.constData(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").constData(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").constData(), 1);
    setenv("XDG_CACHE_HOME", (root + "/cache").constData(), 1);
    setenv("XDG_RUNTIME_DIR", root.constData(), 1);
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Corvana"));
    QCoreApplication::setApplicationName(QStringLiteral("Corvana"));
    SessionEndToEndTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "session_end_to_end_test.moc"
