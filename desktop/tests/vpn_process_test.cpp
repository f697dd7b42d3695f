#include "session/vpn_process.h"

#include "shell/logger.h"
#include "support/session_harness.h"
#include "support/wait_bounds.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QTest>

#include <csignal>
#include <sys/types.h>

namespace {

// Records every signal of the supervisor in order, as short texts.
struct Recorder {
    QStringList seen;
    QStringList statuses;
    explicit Recorder(VpnProcess &vpn)
    {
        QObject::connect(&vpn, &VpnProcess::statusChanged, [this, &vpn] { statuses << vpn.status(); });
        QObject::connect(&vpn, &VpnProcess::vpnConnecting, [this] { seen << "connecting"; });
        QObject::connect(&vpn, &VpnProcess::vpnReady, [this](const QString &ip) { seen << "ready:" + ip; });
        QObject::connect(&vpn, &VpnProcess::vpnError,
                         [this](const QString &c, const QString &m) { seen << "error:" + c + ":" + m; });
        QObject::connect(&vpn, &VpnProcess::vpnDisconnected,
                         [this](const QString &r) { seen << "disconnected:" + r; });
        QObject::connect(&vpn, &VpnProcess::vpnReconnecting,
                         [this](int s) { seen << "reconnecting:" + QString::number(s); });
    }
};

// A folder holding the scripted stand-in under the client's name, and its script.
struct ClientFolder {
    QTemporaryDir dir;
    explicit ClientFolder(const QStringList &script, const char *name = "ostrel-client")
    {
        QFile::link(QStringLiteral(CORVANA_BIN_DIR "/scripted-tunnel-client"), dir.filePath(name));
        QFile file(dir.filePath("script"));
        file.open(QIODevice::WriteOnly);
        file.write(script.join('\n').replace("%DIR%", dir.path()).toUtf8() + '\n');
        qputenv("SCRIPTED_CLIENT_SCRIPT", dir.filePath("script").toLocal8Bit());
    }
    QString path(const char *name) const { return dir.filePath(name); }
};

QString readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Gone, or a zombie nobody reaps yet: either way no longer running.
bool alive(pid_t pid)
{
    const QString stat = readAll(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.isEmpty())
        return false;
    const auto close = stat.lastIndexOf(')');
    return close > 0 && stat.mid(close + 2, 1) != "Z";
}

bool waitIdle(VpnProcess &vpn, int ms = kEventWaitMs)
{
    QElapsedTimer t;
    t.start();
    while (vpn.running() && t.elapsed() < ms)
        QTest::qWait(10);
    return !vpn.running();
}

} // namespace

class VpnProcessTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_logDir.isValid());
        Logger::instance().initIn(m_logDir.path());
    }

    void findsPlainNameAndPassesExactlyElevenArguments()
    {
        ClientFolder folder({"args %DIR%/args", R"(out {"event":"ready"})", "exit 0"});

        VpnProcess vpn;
        vpn.setProgramDirectory(folder.dir.path());
        Recorder rec(vpn);
        // A password that looks like an option travels joined to its option name.
        vpn.start("10.1.2.3:7100", "alice", "-s3cret -x", "room-1");
        QVERIFY(vpn.running());
        QVERIFY(waitIdle(vpn));
        QCOMPARE(readAll(folder.path("args")).split('\n', Qt::SkipEmptyParts),
                 QStringList({"--server", "10.1.2.3:7100", "--user", "alice", "--pass=-s3cret -x",
                              "--node", "room-1", "--mode", "l2", "--reconnect",
                              "--insecure-skip-server-auth"}));
        QCOMPARE(rec.seen, QStringList({"connecting", "ready:"}));

        const QString log = readAll(Logger::instance().filePath());
        QVERIFY(log.contains("vpn-proc: launching: " + folder.path("ostrel-client")
                             + " --server 10.1.2.3:7100 --node room-1"));
        QVERIFY(!log.contains("alice"));
        QVERIFY(!log.contains("s3cret"));
    }

    void missingClientReportsNotFoundOnceAndChangesNothing()
    {
        QTemporaryDir empty;
        VpnProcess vpn;
        vpn.setProgramDirectory(empty.path());
        Recorder rec(vpn);
        vpn.setLang("fa");
        vpn.start("s", "u", "p", "n");
        QCOMPARE(rec.seen, QStringList({QString::fromUtf8("error:not_found:کلاینت VPN یافت نشد")}));
        QVERIFY(!vpn.running());
        QCOMPARE(vpn.status(), QString());
        QVERIFY(rec.statuses.isEmpty());
    }

    void splitsLinesAcrossReadsAndMapsEvents()
    {
        ClientFolder folder({
            R"(raw {"event":"connecting"}\n{"event":"handshake","step":"cookie"}\r\n{"event":"conn)",
            "sleep 100",
            R"(raw ected"}\n   \n)",
            "out not json at all",
            "out [1,2]",
            R"(out {"event":"adapter"})",
            R"(out {"event":"ready"})",
            R"(out {"event":"reconnecting","backoff":"7"})",
            R"(out {"event":"reconnecting","backoff":"soon"})",
            R"(out {"event":"error","code":"node_full","message":"Node is full"})",
            R"(out {"event":"disconnected","reason":"timeout"})",
            R"(out {"event":"connected","ip":"10.7.0.5"})",
            R"(out {"event":"ready"})",
            R"(out {"event":"disconnected","reason":"server"})",
            R"(raw {"event":"error","code":"bad_credentials","message":"Invalid username or password"})",
            "exit 1",
        });
        VpnProcess vpn;
        vpn.setProgramDirectory(folder.dir.path());
        vpn.setLang("fa");
        Recorder rec(vpn);
        QSignalSpy info(&vpn, &VpnProcess::vpnInfoChanged);
        vpn.start("s", "u", "p", "n");
        QVERIFY(waitIdle(vpn));

        QCOMPARE(info.count(), 2);
        QCOMPARE(vpn.vpnIp(), QString("10.7.0.5"));
        // The last line had no line feed and still counts; the fatal error is reported once,
        // the non-zero exit after it adds nothing.
        QCOMPARE(rec.seen,
                 QStringList({"connecting", "ready:", "reconnecting:7", "reconnecting:0", "ready:10.7.0.5",
                              "disconnected:server",
                              QString::fromUtf8("error:bad_credentials:نام کاربری یا رمز عبور اشتباه است")}));
        QCOMPARE(rec.statuses,
                 QStringList({"connecting", "handshake:cookie", "connected", "configuring", "ready",
                              "reconnecting:7", "reconnecting:0", "connected", "ready", "disconnected",
                              "error"}));
    }

    void classifiesExits()
    {
        {
            ClientFolder folder({R"(out {"event":"disconnected","reason":"server"})", "exit 0"});
            VpnProcess vpn;
            vpn.setProgramDirectory(folder.dir.path());
            Recorder rec(vpn);
            vpn.start("s", "u", "p", "n");
            QVERIFY(waitIdle(vpn));
            QCOMPARE(rec.seen, QStringList({"connecting", "disconnected:server",
                                            "error:incomplete:VPN process exited before connection was established"}));
            QCOMPARE(vpn.status(), QString("error"));
        }
        {
            ClientFolder folder({R"(out {"event":"ready"})", "exit 3"});
            VpnProcess vpn;
            vpn.setProgramDirectory(folder.dir.path());
            Recorder rec(vpn);
            vpn.start("s", "u", "p", "n");
            QVERIFY(waitIdle(vpn));
            QCOMPARE(rec.seen, QStringList({"connecting", "ready:",
                                            "error:process_crashed:VPN process exited unexpectedly"}));
        }
        {
            ClientFolder folder({R"(out {"event":"ready"})", "exit 0"});
            VpnProcess vpn;
            vpn.setProgramDirectory(folder.dir.path());
            Recorder rec(vpn);
            vpn.setLang("FA"); // only exactly "fa" selects Persian
            vpn.start("s", "u", "p", "n");
            QVERIFY(waitIdle(vpn));
            QCOMPARE(rec.seen, QStringList({"connecting", "ready:"}));
            QCOMPARE(vpn.status(), QString("ready"));
            QCOMPARE(vpn.localizedError("no_cookie", "No reply"), QString("No reply"));
        }
    }

    // While the client retries, the text of its last transient error says why; it goes
    // at "ready", at a stop and when the client ends.
    void lastErrorSaysWhyTheClientRetries()
    {
        const QString tapDetail = "device open failed: matching TAP adapter could not be opened; run as "
                                  "Administrator and ensure it is not in use";
        const QStringList script = {
            R"(out {"event":"connecting"})",
            QStringLiteral("out {\"event\":\"error\",\"code\":\"tap_open_failed\",\"message\":"
                           "\"Cannot open packet device\",\"detail\":\"%1\"}").arg(tapDetail),
            R"(out {"event":"reconnecting","backoff":"1"})",
            R"(out {"event":"error","code":"no_cookie","message":"Server did not respond","detail":"Server did not respond"})",
            R"(out {"event":"ready"})",
            R"(out {"event":"error","code":"node_full","message":"Node is full"})",
            R"(on-break {"event":"disconnected","reason":"user"})",
            "wait",
        };
        struct Case {
            QString lang;
            QStringList texts; // lastError after each change
        };
        const QList<Case> cases = {
            {"en", {"Cannot open packet device\n" + tapDetail, "Server did not respond", "",
                    "Node is full", ""}},
            {"fa", {QString::fromUtf8("خطا در باز کردن آداپتور شبکه. با دسترسی ادمین اجرا کنید."),
                    QString::fromUtf8("سرور پاسخ نمی‌دهد"), "", QString::fromUtf8("ظرفیت شبکه پر است"), ""}},
        };
        for (const Case &c : cases) {
            ClientFolder folder(script);
            VpnProcess vpn;
            vpn.setProgramDirectory(folder.dir.path());
            vpn.setLang(c.lang);
            QStringList texts;
            connect(&vpn, &VpnProcess::lastErrorChanged, [&] { texts << vpn.lastError(); });
            vpn.start("s", "u", "p", "n");
            QTRY_VERIFY_WITH_TIMEOUT(texts.size() == 4, kEventWaitMs);
            QCOMPARE(vpn.status(), QString("ready")); // a transient error leaves the status alone
            vpn.stop();
            QVERIFY(waitIdle(vpn));
            QCOMPARE(texts, c.texts);
        }

        // A client that ends while retrying takes its reason with it.
        ClientFolder ending({R"(out {"event":"error","code":"no_cookie","message":"Server did not respond"})",
                             "exit 1"});
        VpnProcess vpn;
        vpn.setProgramDirectory(ending.dir.path());
        QSignalSpy changed(&vpn, &VpnProcess::lastErrorChanged);
        vpn.start("s", "u", "p", "n");
        QVERIFY(waitIdle(vpn));
        QCOMPARE(changed.count(), 2);
        QCOMPARE(vpn.lastError(), QString());
    }

    // The player switches language in the settings while the client retries: the
    // reason on show is said again in the new language at once, and so is the next.
    void retryReasonFollowsALanguageSwitch()
    {
        const QString tapDetail = "device open failed: no free TAP adapter";
        const QStringList script = {
            R"(on-break {"event":"disconnected","reason":"user"})",
            R"(out {"event":"connecting"})",
            QStringLiteral("out {\"event\":\"error\",\"code\":\"tap_open_failed\",\"message\":"
                           "\"Cannot open packet device\",\"detail\":\"%1\"}").arg(tapDetail),
            R"(out {"event":"reconnecting","backoff":"1"})",
            "await %DIR%/go",
            R"(out {"event":"error","code":"no_cookie","message":"Server did not respond"})",
            R"(out {"event":"reconnecting","backoff":"2"})",
            "wait",
        };
        const QString tapEnglish = "Cannot open packet device\n" + tapDetail;
        const QString tapPersian = QString::fromUtf8("خطا در باز کردن آداپتور شبکه. با دسترسی ادمین اجرا کنید.");
        const QString noCookiePersian = QString::fromUtf8("سرور پاسخ نمی‌دهد");
        struct Case {
            QString from, to;
            QString before, after, next;
        };
        const QList<Case> cases = {
            {"en", "fa", tapEnglish, tapPersian, noCookiePersian},
            {"fa", "en", tapPersian, tapEnglish, "Server did not respond"},
        };
        for (const Case &c : cases) {
            SessionHarness h(script);
            QVERIFY(h.ready());
            ApiClient &api = h.api();
            api.setLang(c.from);
            api.joinVlan(QStringLiteral("v1"));
            QTRY_COMPARE_WITH_TIMEOUT(api.vpnLastError(), c.before, kEventWaitMs);

            QSignalSpy changed(&api, &ApiClient::vpnLastErrorChanged);
            api.setLang(c.to);
            QCOMPARE(api.vpnLastError(), c.after);
            QCOMPARE(changed.count(), 1);

            QFile go(h.client().file("go"));
            QVERIFY(go.open(QIODevice::WriteOnly));
            go.close();
            QTRY_COMPARE_WITH_TIMEOUT(api.vpnLastError(), c.next, kEventWaitMs);
        }
    }

    void stopEndsAnObedientClientWithoutKill()
    {
        ClientFolder folder({R"(on-break {"event":"disconnected","reason":"user"})",
                             R"(out {"event":"ready"})", "wait"});
        VpnProcess vpn;
        vpn.setProgramDirectory(folder.dir.path());
        Recorder rec(vpn);
        vpn.start("s", "u", "p", "n");
        QTRY_COMPARE_WITH_TIMEOUT(vpn.status(), QString("ready"), kEventWaitMs);
        vpn.start("other", "u", "p", "n"); // ignored while running
        vpn.stop();
        QCOMPARE(vpn.status(), QString("disconnecting"));
        QVERIFY(waitIdle(vpn));
        QCOMPARE(rec.seen, QStringList({"connecting", "ready:", "disconnected:user", "disconnected:user"}));
        QCOMPARE(vpn.status(), QString("disconnected"));

        // A new run right away: the old stop timer must not touch it. The
        // client outlives that timer by far, then ends by itself.
        ClientFolder again({R"(out {"event":"ready"})", "sleep 9000", "exit 0"});
        vpn.start("s", "u", "p", "n");
        QVERIFY(vpn.running());
        QTest::qWait(5200);
        QVERIFY(vpn.running());
        QVERIFY(waitIdle(vpn));
        QCOMPARE(vpn.status(), QString("ready"));
    }

    void stopKillsAClientThatIgnoresTheBreak()
    {
        ClientFolder folder({"ignore-break", R"(out {"event":"ready"})", "wait"});
        VpnProcess vpn;
        vpn.setProgramDirectory(folder.dir.path());
        Recorder rec(vpn);
        vpn.start("s", "u", "p", "n");
        QTRY_COMPARE_WITH_TIMEOUT(vpn.status(), QString("ready"), kEventWaitMs);
        QElapsedTimer t;
        t.start();
        vpn.stop();
        QVERIFY(waitIdle(vpn));
        QVERIFY(t.elapsed() >= 4900);
        QCOMPARE(rec.seen, QStringList({"connecting", "ready:", "disconnected:user"}));
        QCOMPARE(vpn.status(), QString("disconnected"));
    }

    void overLongOutputIsSkippedUpToItsLineFeed()
    {
        const QString flood(300000, QLatin1Char('x'));
        ClientFolder folder({"raw " + flood, R"(out {"event":"connected","ip":"10.1.1.1"})",
                             "raw " + flood + "\\n", R"(out {"event":"connected","ip":"10.2.2.2"})",
                             R"(out {"event":"ready"})", "raw " + flood, "exit 0"});
        VpnProcess vpn;
        vpn.setProgramDirectory(folder.dir.path());
        Recorder rec(vpn);
        vpn.start("s", "u", "p", "n");
        QVERIFY(waitIdle(vpn));
        // The line glued to the first flood goes with it; the next ones count.
        QCOMPARE(rec.seen, QStringList({"connecting", "ready:10.2.2.2"}));
        const QString log = readAll(Logger::instance().filePath());
        QVERIFY(log.contains("output line longer than 65536 bytes skipped"));
        QVERIFY(!log.contains("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"));
        QVERIFY(!log.contains("10.1.1.1"));
    }

    void clientDiesWithTheDesktopProcess()
    {
        ClientFolder folder({"ignore-break", "pidfile %DIR%/pid", "wait"});

        QProcess host;
        host.start(QStringLiteral(CORVANA_BIN_DIR "/vpn-supervisor-host"), {folder.dir.path()});
        QVERIFY(host.waitForReadyRead(10000));
        QTRY_VERIFY_WITH_TIMEOUT(!readAll(folder.path("pid")).trimmed().isEmpty(), kEventWaitMs);
        const pid_t child = readAll(folder.path("pid")).trimmed().toInt();
        QVERIFY(child > 0);
        QCOMPARE(::kill(child, 0), 0);
        host.kill();
        QVERIFY(host.waitForFinished(5000));
        QTRY_VERIFY_WITH_TIMEOUT(!alive(child), kEventWaitMs);
    }

private:
    QTemporaryDir m_logDir;
};

QTEST_GUILESS_MAIN(VpnProcessTest)
#include "vpn_process_test.moc"
