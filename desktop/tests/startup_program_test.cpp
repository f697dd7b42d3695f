// Starts the real corvana program, each run in its own PID namespace so its
// start-up clean-up cannot end tunnel clients of tests running beside it.
#include "support/other_account.h"
#include "support/wait_bounds.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kProgram = QStringLiteral(CORVANA_BIN_DIR "/corvana");

QString readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll());
}

} // namespace

class StartupProgramTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QStringList m_wrapper;

    QString logPath() const { return m_home.filePath("data/Corvana/Corvana/logs/corvana.log"); }
    QString entryPath() const
    {
        return m_home.filePath("data/applications/corvana-url-handler.desktop");
    }

    void prepare(QProcess &p, const QStringList &args, const QStringList &program = {kProgram})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", m_home.path());
        env.insert("XDG_RUNTIME_DIR", m_home.filePath("run"));
        env.insert("XDG_DATA_HOME", m_home.filePath("data"));
        env.insert("XDG_CONFIG_HOME", m_home.filePath("config"));
        env.insert("XDG_CACHE_HOME", m_home.filePath("cache"));
        env.insert("TMPDIR", m_home.filePath("tmp"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        // Should this test die, the wrapper dies too, and takes the program with it.
        p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        p.setProgram(m_wrapper.first());
        p.setArguments(m_wrapper.mid(1) + program + args);
    }

    // The program itself, inside the namespace the wrapper made.
    static qint64 innerPid(const QProcess &wrapper)
    {
        const qint64 pid = wrapper.processId();
        const QString children =
            readAll(QStringLiteral("/proc/%1/task/%1/children").arg(pid)).trimmed();
        return children.section(QLatin1Char(' '), 0, 0).toLongLong();
    }

    // A second start: it must hand over and end by itself with status 0.
    void secondStart(const QStringList &args)
    {
        QProcess second;
        prepare(second, args);
        second.start();
        QVERIFY2(second.waitForFinished(20000), qPrintable(args.join(' ')));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
    }

    void startPrimary(QProcess &p, const QStringList &args)
    {
        prepare(p, args);
        p.setProcessChannelMode(QProcess::SeparateChannels);
        p.start();
        QVERIFY(p.waitForStarted(kEventWaitMs));
        QTRY_VERIFY_WITH_TIMEOUT(readAll(logPath()).contains("app: started v1.5.0"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(m_home.filePath("run/CorvanaApp")), kEventWaitMs);
    }

    // A start the test ends itself, killed should the test end first.
    static auto killedAtTheEnd(QProcess &p)
    {
        return qScopeGuard([&p] {
            if (p.state() != QProcess::NotRunning) {
                p.kill();
                p.waitForFinished(5000);
            }
        });
    }

    // The program is the first process of its namespace, which a signal it does not
    // catch yet would not end.
    static bool catchesTerm(qint64 pid)
    {
        const QString status = readAll(QStringLiteral("/proc/%1/status").arg(pid));
        const QString caught = QRegularExpression(R"(SigCgt:\s*([0-9a-f]+))").match(status).captured(1);
        return caught.toULongLong(nullptr, 16) & (1ull << (SIGTERM - 1));
    }

    void stopPrimary(QProcess &p)
    {
        QTRY_VERIFY_WITH_TIMEOUT(innerPid(p) > 0, kEventWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(catchesTerm(innerPid(p)), kEventWaitMs);
        QCOMPARE(::kill(static_cast<pid_t>(innerPid(p)), SIGTERM), 0);
        QVERIFY(p.waitForFinished(20000));
        QVERIFY2(p.exitCode() == 0, p.readAllStandardError().right(4000).constData());
        // The last line is written at process exit and still carries its time.
        const QString last = readAll(logPath()).trimmed().split('\n').last();
        QVERIFY2(QRegularExpression(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[INF\] app: shutdown$)")
                     .match(last)
                     .hasMatch(),
                 qPrintable(last));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        QVERIFY(QFileInfo(kProgram).isExecutable());
        for (const char *dir : {"run", "tmp"})
            QVERIFY(QDir(m_home.path()).mkpath(dir));
        QFile::setPermissions(m_home.filePath("run"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        // Its own network namespace too: the start-up update check must not reach out.
        const QStringList ns = {"unshare", "--pid", "--net", "--fork", "--mount-proc", "--kill-child=SIGKILL"};
        m_wrapper = ::geteuid() == 0 ? ns : QStringList{"unshare", "--user", "--map-root-user"} + ns.mid(1);
        QProcess probe;
        probe.start(m_wrapper.first(), m_wrapper.mid(1) + QStringList{"true"});
        if (!probe.waitForFinished(5000) || probe.exitCode() != 0)
            QSKIP("needs its own PID namespace (run as root, or allow user namespaces)");
    }

    void secondStartsHandOverToTheFirst()
    {
        QFile::remove(logPath());
        QProcess first;
        startPrimary(first, {});
        const auto cleanup = killedAtTheEnd(first);

        const QStringList lines = readAll(logPath()).split('\n', Qt::SkipEmptyParts);
        QVERIFY(QRegularExpression(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[INF\] app: started v1\.5\.0$)")
                    .match(lines.first())
                    .hasMatch());
        // The scheme is registered just after the log opens.
        QTRY_VERIFY_WITH_TIMEOUT(readAll(entryPath()).contains("MimeType="), kEventWaitMs);
        const QString entry = readAll(entryPath());
        QVERIFY2(entry.contains("\nExec=\"" + QFileInfo(kProgram).canonicalFilePath() + "\" %u\n"),
                 qPrintable(entry));
        // The default-handler entry is written after the desktop entry.
        QTRY_VERIFY_WITH_TIMEOUT(readAll(m_home.filePath("config/mimeapps.list"))
                                     .contains("x-scheme-handler/corvana=corvana-url-handler.desktop"), kEventWaitMs);

        QFile::remove(entryPath());
        // The queued update check logs its (failed) manifest fetch on its own time.
        QTRY_VERIFY_WITH_TIMEOUT(readAll(logPath()).contains("updater: "), kEventWaitMs);
        const QString logBefore = readAll(logPath());
        // A "show" before the window exists does nothing, so repeat until it is
        // raised; the offscreen platform reports each raise on stderr.
        QByteArray stderrSeen;
        QElapsedTimer raising;
        raising.start();
        while (!stderrSeen.contains("support raise()") && raising.elapsed() < 2 * kEventWaitMs) {
            secondStart({});
            QTest::qWait(300);
            stderrSeen += first.readAllStandardError();
        }
        QVERIFY2(stderrSeen.contains("support raise()"), stderrSeen.constData());
        // The handing-over start neither logs nor registers the scheme.
        QCOMPARE(readAll(logPath()), logBefore);
        QVERIFY(!QFileInfo::exists(entryPath()));

        // Another letter case in the scheme is no link: that start only says "show".
        secondStart({"CORVANA://join/upper"});
        // A link that is no join link is passed on and ignored.
        secondStart({"corvana://JOIN/word"});
        secondStart({"--x", "corvana://join/ abc ", "corvana://join/second"});
        QTRY_VERIFY_WITH_TIMEOUT(readAll(logPath()).contains("deeplink: join request: abc\n"), kEventWaitMs);
        const QString log = readAll(logPath());
        QVERIFY(!log.contains("upper"));
        QVERIFY(!log.contains("word"));
        QVERIFY(!log.contains("second"));
        QCOMPARE(log.count("app: started"), 1);

        stopPrimary(first);
    }

    void startupJoinLinkIsFollowed()
    {
        QFile::remove(logPath());
        QFile::remove(entryPath());
        QProcess only;
        startPrimary(only, {"corvana://join/  xyz "});
        const auto cleanup = killedAtTheEnd(only);
        // The scheme entry is written again at every start.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(entryPath()), kEventWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(readAll(logPath()).contains("deeplink: startup join: xyz\n"), kEventWaitMs);
        stopPrimary(only);
    }

    // Left over at start: processes named like the tunnel client. Only the player's own
    // run of the very client this program starts is ended.
    void strayCleanUpEndsOnlyThePlayersOwnClient()
    {
        if (!otherAccount::available())
            QSKIP("needs root to act as another account");
        QTemporaryDir top;
        QVERIFY(top.isValid());
        const QString base = QFileInfo(top.path()).canonicalFilePath();
        QVERIFY(::chmod(QFile::encodeName(base).constData(), 0755) == 0);
        // The program as installed, its client beside it (a stand-in that only waits), and
        // another program of the client's name elsewhere.
        for (const char *dir : {"app", "elsewhere"})
            QVERIFY(QDir(base).mkpath(dir));
        const QString program = base + "/app/corvana";
        const QString client = base + "/app/ostrel-client";
        const QString namesake = base + "/elsewhere/ostrel-client";
        QVERIFY(QFile::copy(kProgram, program));
        for (const QString &copy : {client, namesake})
            QVERIFY(QFile::copy("/bin/sleep", copy));
        for (const QString &path : {base + "/app", base + "/elsewhere", program, client, namesake})
            QVERIFY(::chmod(QFile::encodeName(path).constData(), 0755) == 0);

        // Started in the program's PID namespace just before it, each waited for.
        const QString starter = QStringLiteral(R"sh(
client=$1 namesake=$2
shift 2
"$client" 300 & a=$!
"$namesake" 300 & b=$!
setpriv --reuid=%1 --regid=%2 --clear-groups "$client" 300 & c=$!
for i in $(seq 200); do
  [ "$(readlink /proc/$a/exe)" = "$client" ] && [ "$(readlink /proc/$b/exe)" = "$namesake" ] &&
    [ "$(readlink /proc/$c/exe)" = "$client" ] && break
  sleep 0.05
done
exec "$@"
)sh").arg(otherAccount::kUid).arg(otherAccount::kGid);
        QFile::remove(logPath());
        QProcess only;
        prepare(only, {}, {"sh", "-c", starter, "sh", client, namesake, program});
        only.start();
        QVERIFY(only.waitForStarted(kEventWaitMs));
        const auto cleanup = killedAtTheEnd(only);
        // The clean-up runs before the log is opened.
        QTRY_VERIFY_WITH_TIMEOUT(readAll(logPath()).contains("app: started v1.5.0"), 20000);

        // Live processes running file as uid, seen from outside the namespace.
        auto running = [](const QString &file, uid_t uid) {
            int count = 0;
            for (const QString &pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                if (QFile::symLinkTarget("/proc/" + pid + "/exe") != file)
                    continue;
                struct stat st {};
                if (::stat(QFile::encodeName("/proc/" + pid).constData(), &st) == 0 && st.st_uid == uid)
                    ++count;
            }
            return count;
        };
        struct Case {
            const char *what;
            QString file;
            uid_t uid;
            int left;
        };
        const Case cases[] = {
            {"the player's own client", client, ::geteuid(), 0},
            {"the player's program of the same name elsewhere", namesake, ::geteuid(), 1},
            {"another account's run of the same client", client, otherAccount::kUid, 1},
        };
        for (const Case &c : cases)
            QVERIFY2(running(c.file, c.uid) == c.left, c.what);
        stopPrimary(only);
    }

    // As under su or sudo: no runtime folder, and another account already
    // listening at the name the channel once had in the shared temporary
    // folder. The program starts all the same, and that listener hears nothing.
    void anotherAccountListeningFirstNeitherHearsNorStopsIt()
    {
        if (!otherAccount::available())
            QSKIP("needs root to act as another account");
        QTemporaryDir top;
        QVERIFY(::chmod(QFile::encodeName(top.path()).constData(), 0755) == 0);
        const QString shared = top.path() + "/tmp";
        QVERIFY(otherAccount::makeShared(shared));
        OtherAccountListener squatter;
        QVERIFY(squatter.listen(shared + "/CorvanaApp"));

        QFile::remove(logPath());
        QProcess only;
        prepare(only, {"corvana://join/private-room-7f3a"});
        QProcessEnvironment env = only.processEnvironment();
        env.remove("XDG_RUNTIME_DIR");
        env.insert("TMPDIR", shared);
        only.setProcessEnvironment(env);
        only.start();
        QVERIFY(only.waitForStarted(kEventWaitMs));
        const auto cleanup = killedAtTheEnd(only);
        QTRY_VERIFY_WITH_TIMEOUT(readAll(logPath()).contains("deeplink: startup join: private-room-7f3a\n")
                                     || only.state() == QProcess::NotRunning, 20000);
        QCOMPARE(only.state(), QProcess::Running);
        QTRY_VERIFY_WITH_TIMEOUT(
            QFileInfo::exists(shared + "/corvana-" + QString::number(::geteuid()) + "/CorvanaApp"), kEventWaitMs);
        const auto heard = squatter.heard();
        QVERIFY(heard.settled);
        QCOMPARE(heard.connections, 0);
        QCOMPARE(heard.bytes, QByteArray());
        stopPrimary(only);
    }
};

QTEST_GUILESS_MAIN(StartupProgramTest)
#include "startup_program_test.moc"
