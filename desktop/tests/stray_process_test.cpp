#include "platform/linux/proc_process_table.h"
#include "session/stray_process_cleaner.h"
#include "support/wait_bounds.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

class FakeProcessTable : public ProcessTable
{
public:
    QList<Entry> entries;
    QList<qint64> refuse;
    QList<QPair<qint64, int>> terminated;

    QList<Entry> snapshot() override { return entries; }
    bool terminate(qint64 pid, int exitCode) override
    {
        if (refuse.contains(pid))
            return false;
        terminated.append({pid, exitCode});
        return true;
    }
};

} // namespace

class StrayProcessTest : public QObject
{
    Q_OBJECT

private slots:
    void endsOnlyThisAccountsOwnClient()
    {
        const QString client = "/opt/app/ostrel-client";
        FakeProcessTable table;
        table.entries = {{10, "ostrel-client", client, true},
                         {11, "ostrel-client", "/opt/app//ostrel-client", true},
                         {12, "ostrel-client", "/home/u/ostrel-client", true}, // another program of that name
                         {13, "ostrel-client", client, false},                 // another account's
                         {14, "ostrel-client", client, true},                  // this program
                         {15, "ostrel-client", client, true},                  // cannot be ended
                         {16, "ostrel-client", "", true},                      // its file unknown
                         {17, "OSTREL-CLIENT", "/opt/app/OSTREL-CLIENT", true},
                         {18, "corvana", "/opt/app/corvana", true}};
        table.refuse = {15};
        QCOMPARE(StrayProcessCleaner::terminateAll(table, client, 14), 2);
        QCOMPARE(table.terminated,
                 (QList<QPair<qint64, int>>{{10, 1}, {11, 1}}));
        QCOMPARE(StrayProcessCleaner::terminateAll(table, QString(), 14), 0);
    }

    void procEntriesAreNamedByTheirExecutable()
    {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString base = root.path();
        QVERIFY(QDir(base).mkpath("101"));
        QVERIFY(QFile::link("/opt/x/ostrel-client (deleted)", base + "/101/exe"));
        QVERIFY(QDir(base).mkpath("102"));
        QFile comm(base + "/102/comm");
        QVERIFY(comm.open(QIODevice::WriteOnly));
        comm.write("ostrel-client\n");
        comm.close();
        QVERIFY(QDir(base).mkpath("103")); // neither: left out
        QVERIFY(QDir(base).mkpath("self"));
        QVERIFY(QFile::link("/usr/bin/true", base + "/self/exe"));

        ProcProcessTable table(base);
        QList<ProcessTable::Entry> entries = table.snapshot();
        std::sort(entries.begin(), entries.end(),
                  [](const auto &a, const auto &b) { return a.pid < b.pid; });
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0].pid, 101);
        QCOMPARE(entries[0].executableName, QString("ostrel-client"));
        QCOMPARE(entries[1].pid, 102);
        QCOMPARE(entries[1].executableName, QString("ostrel-client"));
        QVERIFY(!table.terminate(0, 1));
    }

    void realProcessIsFoundAndEnded()
    {
        // A copy of sleep under a name no other test uses.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString name =
            QStringLiteral("cv-stray-%1").arg(QCoreApplication::applicationPid());
        const QString program = dir.filePath(name);
        QVERIFY(QFile::copy("/bin/sleep", program));
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));

        QProcess victim;
        victim.start(program, {"30"});
        QVERIFY(victim.waitForStarted(kEventWaitMs));

        ProcProcessTable table;
        bool seen = false;
        bool selfSeen = false;
        for (const ProcessTable::Entry &e : table.snapshot()) {
            seen = seen || (e.pid == victim.processId() && e.executableName == name && e.ownAccount);
            selfSeen = selfSeen || e.pid == QCoreApplication::applicationPid();
        }
        QVERIFY(seen);
        QVERIFY(selfSeen);

        QCOMPARE(StrayProcessCleaner::terminateAll(table, program, QCoreApplication::applicationPid()), 1);
        QVERIFY(victim.waitForFinished(kEventWaitMs));
        QCOMPARE(victim.exitStatus(), QProcess::CrashExit);
    }
};

QTEST_GUILESS_MAIN(StrayProcessTest)
#include "stray_process_test.moc"
