#include "service/ping_service.h"
#include "platform/linux/linux_ping_process.h"
#include "platform/ping_process.h"
#include "support/wait_bounds.h"

#include <QFile>
#include <QPointer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <time.h>

namespace {

class FakePingProcess : public PingProcess
{
public:
    using PingProcess::PingProcess;
    void start(const QString &h) override { host = h; }
    QString readStandardOutput() override { return output; }
    void kill() override
    {
        killed = true;
        if (kills)
            ++*kills;
    }

    void finish(int exitCode, const QString &text)
    {
        output = text;
        emit finished(exitCode);
    }

    QString host;
    QString output;
    bool killed = false;
    int *kills = nullptr;
};

// Hands out fakes and remembers them, in start order.
class FakePingFactory : public PingProcessFactory
{
public:
    PingProcess *create(QObject *parent) override
    {
        auto *process = new FakePingProcess(parent);
        process->kills = &kills;
        started.append(process);
        return process;
    }
    QList<QPointer<FakePingProcess>> started;
    int kills = 0;
};

struct Harness
{
    Harness()
    {
        auto owned = std::make_unique<FakePingFactory>();
        factory = owned.get();
        service = std::make_unique<PingService>(std::move(owned), [this] { return now; });
    }
    FakePingFactory *factory = nullptr;
    qint64 now = 1'000'000;
    std::unique_ptr<PingService> service;
};

const char *kLinuxReply =
    "PING 10.0.0.5 (10.0.0.5) 56(84) bytes of data.\n"
    "64 bytes from 10.0.0.5: icmp_seq=1 ttl=64 time=23.6 ms\n\n"
    "--- 10.0.0.5 ping statistics ---\n"
    "1 packets transmitted, 1 received, 0% packet loss, time 0ms\n"
    "rtt min/avg/max/mdev = 23.6/23.6/23.6/0.000 ms\n";

} // namespace

class PingServiceTest : public QObject
{
    Q_OBJECT

private slots:
    void parsesLinuxAndWindowsOutput()
    {
        QCOMPARE(PingService::parsePingOutput(QString::fromLatin1(kLinuxReply)), 24);
        QCOMPARE(PingService::parsePingOutput(QStringLiteral(
                     "64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=0.045 ms")), 1);
        QCOMPARE(PingService::parsePingOutput(QStringLiteral("64 bytes: time=2.5 ms")), 3);
        QCOMPARE(PingService::parsePingOutput(QStringLiteral("Reply from 1.2.3.4: bytes=32 time=23ms TTL=57")), 23);
        QCOMPARE(PingService::parsePingOutput(QStringLiteral("Reply from 1.2.3.4: bytes=32 time<1ms TTL=128")), 1);
        QCOMPARE(PingService::parsePingOutput(QStringLiteral("Reply from 1.2.3.4: bytes=32 TIME=0.4MS TTL=128")), 1);
        QCOMPARE(PingService::parsePingOutput(QStringLiteral(
                     "Approximate round trip times in milli-seconds:\r\n"
                     "    Minimum = 0ms, Maximum = 0ms, Average = 0ms\r\n")), 0);
        QCOMPARE(PingService::parsePingOutput(QStringLiteral("Minimum = 15ms, Maximum = 19ms, Average = 17ms")), 17);
        // The reply line wins over the summary.
        QCOMPARE(PingService::parsePingOutput(QStringLiteral("time=40ms\r\nAverage = 17ms")), 40);
        // A time that cannot be read as a number still proves a reply came back.
        QCOMPARE(PingService::parsePingOutput(QStringLiteral("time=1.2.3ms")), 1);
        QCOMPARE(PingService::parsePingOutput(QStringLiteral("time=99999999999999ms")), std::numeric_limits<int>::max());
        QCOMPARE(PingService::parsePingOutput(QStringLiteral("Average = 99999999999ms")), -1);
        // Linux's statistics line ("time 0ms") and other languages carry no usable time.
        QCOMPARE(PingService::parsePingOutput(QStringLiteral("1 packets transmitted, 1 received, time 0ms")), -1);
        QCOMPARE(PingService::parsePingOutput(QStringLiteral(
                     "Antwort von 1.2.3.4: Bytes=32 Zeit=23ms TTL=57")), -1);
        QCOMPARE(PingService::parsePingOutput(QString()), -1);
    }

    void limitsConcurrencyAndKeepsRequestOrder()
    {
        Harness h;
        QSignalSpy measured(h.service.get(), &PingService::pingMeasured);
        const QStringList hosts{"h1", "h2", "h3", "h4", "h5", "h6", "h7"};
        for (const QString &host : hosts)
            h.service->pingHost(host);

        QCOMPARE(h.factory->started.size(), 5);
        QCOMPARE(h.service->queuedHosts(), (QStringList{"h6", "h7"}));
        for (int i = 0; i < 5; ++i)
            QCOMPARE(h.factory->started[i]->host, hosts[i]);

        // Asking again for queued or running hosts starts nothing new.
        h.service->pingHost("h7");
        h.service->pingHost("h2");
        QCOMPARE(h.factory->started.size(), 5);
        QCOMPARE(h.service->queuedHosts().size(), 2);

        h.factory->started[2]->finish(0, "time=12ms");
        QCOMPARE(h.factory->started.size(), 6);
        QCOMPARE(h.factory->started[5]->host, QStringLiteral("h6"));
        h.factory->started[0]->finish(0, "time=7ms");
        QCOMPARE(h.factory->started.size(), 7);
        QCOMPARE(h.factory->started[6]->host, QStringLiteral("h7"));
        QVERIFY(h.service->queuedHosts().isEmpty());
        QCOMPARE(h.service->activeCount(), 5);

        QCOMPARE(measured.size(), 2);
        QCOMPARE(measured[0], (QVariantList{"h3", 12}));
        QCOMPARE(measured[1], (QVariantList{"h1", 7}));
    }

    // The queue follows the list in view: hosts of a list no longer shown give
    // way to those of the new one; what already runs finishes into the cache.
    void queueFollowsTheListInView_data()
    {
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QStringList>("measuredNext");
        QTest::newRow("another game") << QStringList{"n1", "n2", "n3"} << QStringList{"n1", "n2", "n3"};
        QTest::newRow("the same game's new list") << QStringList{"h9", "h7", "n1"} << QStringList{"h7", "h9", "n1"};
        QTest::newRow("the game left") << QStringList{} << QStringList{};
    }
    void queueFollowsTheListInView()
    {
        QFETCH(QStringList, listed);
        QFETCH(QStringList, measuredNext);
        Harness h;
        for (int i = 1; i <= 10; ++i)
            h.service->pingHost(QStringLiteral("h%1").arg(i));
        QCOMPARE(h.service->queuedHosts().size(), 5);

        h.service->keepOnly(listed);
        for (const QString &host : std::as_const(listed))
            h.service->pingHost(host);
        for (int i = 0; i < 5; ++i)
            h.factory->started[i]->finish(0, "time=5ms");
        QCOMPARE(h.factory->kills, 0);
        QCOMPARE(h.service->cachedPing("h5"), 5);
        QStringList started;
        for (qsizetype i = 5; i < h.factory->started.size(); ++i)
            started << h.factory->started[i]->host;
        QCOMPARE(started, measuredNext);

        // A host dropped from the queue is measured when it is asked for again.
        h.service->pingHost("h10");
        QCOMPARE(h.factory->started.last()->host, QStringLiteral("h10"));
    }

    void sameHostTwiceGivesOneProcessAndOneSignal()
    {
        Harness h;
        QSignalSpy measured(h.service.get(), &PingService::pingMeasured);
        QSignalSpy failed(h.service.get(), &PingService::pingFailed);
        h.service->pingHost("10.0.0.5");
        h.service->pingHost("10.0.0.5");
        QCOMPARE(h.factory->started.size(), 1);
        h.factory->started[0]->finish(0, QString::fromLatin1(kLinuxReply));
        QCOMPARE(measured.size(), 1);
        QCOMPARE(measured[0], (QVariantList{"10.0.0.5", 24}));
        QCOMPARE(failed.size(), 0);
        QCOMPARE(h.service->activeCount(), 0);
    }

    void cachesSuccessesAndFailuresForTenSeconds()
    {
        Harness h;
        QSignalSpy measured(h.service.get(), &PingService::pingMeasured);
        QSignalSpy failed(h.service.get(), &PingService::pingFailed);

        QCOMPARE(h.service->cachedPing("a"), -1);
        h.service->pingHost("a");
        h.factory->started[0]->finish(0, "time=30ms");
        h.service->pingHost("b");
        h.factory->started[1]->finish(1, "time=30ms"); // non-zero exit fails whatever it printed
        h.service->pingHost("c");
        h.factory->started[2]->finish(0, "Zeit=30ms");
        QCOMPARE(measured.size(), 1);
        QCOMPARE(failed.size(), 2);

        h.now += 5000;
        QCOMPARE(h.service->cachedPing("a"), 30);
        QCOMPARE(h.service->cachedPing("b"), -1);
        h.service->pingHost("a");
        h.service->pingHost("b");
        h.service->pingHost("c");
        QCOMPARE(h.factory->started.size(), 3); // all answered from the cache
        QCOMPARE(measured.size(), 2);
        QCOMPARE(measured.last(), (QVariantList{"a", 30}));
        QCOMPARE(failed.size(), 4);
        QCOMPARE(failed.last().first().toString(), QStringLiteral("c"));

        h.now += 5000; // exactly at expiry: cachedPing still answers, pingHost measures again
        QCOMPARE(h.service->cachedPing("a"), 30);
        h.service->pingHost("a");
        QCOMPARE(h.factory->started.size(), 4);

        h.now += 1000;
        QCOMPARE(h.service->cachedPing("a"), -1);
        h.factory->started[3]->finish(0, "time=9ms");
        QCOMPARE(h.service->cachedPing("a"), 9);
        // Keys are the text as given.
        QCOMPARE(h.service->cachedPing("A"), -1);
    }

    void aLongServerListQueuesInLinearTime()
    {
        Harness h;
        QStringList hosts;
        for (int i = 0; i < 80000; ++i)
            hosts << QStringLiteral("10.%1.%2.%3").arg(i >> 16).arg((i >> 8) & 255).arg(i & 255);
        // Processor time of this thread, not the wall clock: a loaded machine
        // stretches the latter, never the work itself.
        const auto cpuMs = [] {
            timespec now{};
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
            return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
        };
        const qint64 start = cpuMs();
        // The page asks for every address at each refresh, the queue still full.
        for (int refresh = 0; refresh < 2; ++refresh)
            for (const QString &host : std::as_const(hosts))
                h.service->pingHost(host);
        // Then the list shrinks to its second half.
        const QStringList secondHalf = hosts.mid(hosts.size() / 2);
        h.service->keepOnly(secondHalf);
        // Milliseconds here; searching the queue for each address took seconds a refresh.
        const qint64 taken = cpuMs() - start;
        QVERIFY2(taken < 2000, qPrintable(QString::number(taken)));
        QCOMPARE(h.factory->started.size(), PingService::kMaxActive);
        QCOMPARE(h.service->queuedHosts(), secondHalf);
    }

    void hostsNoLongerListedLeaveTheCache()
    {
        Harness h;
        h.service->pingHost("a");
        h.service->pingHost("b");
        h.factory->started[0]->finish(0, "time=5ms");
        h.factory->started[1]->finish(0, "time=6ms");
        QCOMPARE(h.service->cacheSize(), 2);
        // The list changed: only "a" is still asked for, long after both went stale.
        h.now += PingService::kCacheLifetimeMs + 1;
        h.service->pingHost("a");
        h.factory->started[2]->finish(0, "time=7ms");
        QCOMPARE(h.service->cacheSize(), 1);
        QCOMPARE(h.service->cachedPing("a"), 7);
        QCOMPARE(h.service->cachedPing("b"), -1);
    }

    void startErrorsAndIgnoredHosts()
    {
        Harness h;
        QSignalSpy measured(h.service.get(), &PingService::pingMeasured);
        QSignalSpy failed(h.service.get(), &PingService::pingFailed);

        h.service->pingHost(QString());
        QCOMPARE(h.factory->started.size(), 0);

        h.service->pingHost("x");
        emit h.factory->started[0]->errorOccurred();
        QCOMPARE(failed.size(), 1);
        // A finished signal after the error must not report twice.
        h.factory->started[0]->finish(0, "time=5ms");
        QCOMPARE(failed.size(), 1);
        QCOMPARE(measured.size(), 0);

        // A host that ping would take for an option is never handed to it.
        h.service->pingHost("-f");
        QCOMPARE(h.factory->started.size(), 1);
        QCOMPARE(failed.size(), 2);
        QCOMPARE(failed.last().first().toString(), QStringLiteral("-f"));
    }

    void stuckPingIsKilledAndFreesItsSlot()
    {
        Harness h;
        h.service->setWatchdogMs(20);
        QSignalSpy failed(h.service.get(), &PingService::pingFailed);
        for (int i = 0; i < 6; ++i)
            h.service->pingHost(QStringLiteral("s%1").arg(i));
        QCOMPARE(h.factory->started.size(), 5);
        QPointer<FakePingProcess> first = h.factory->started[0];
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 6, kEventWaitMs);
        QCOMPARE(h.factory->started.size(), 6);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(failed[i].first().toString(), QStringLiteral("s%1").arg(i));
        QCOMPARE(h.factory->kills, 6);
        QCOMPARE(h.service->activeCount(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), kEventWaitMs);
    }

    void destructionKillsRunningPingsSilently()
    {
        Harness h;
        QSignalSpy measured(h.service.get(), &PingService::pingMeasured);
        QSignalSpy failed(h.service.get(), &PingService::pingFailed);
        h.service->pingHost("a");
        h.service->pingHost("b");
        QPointer<FakePingProcess> a = h.factory->started[0];
        h.service.reset();
        QVERIFY(a.isNull());
        QCOMPARE(measured.size() + failed.size(), 0);
    }

    void runsStandInPingFromPath()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // The stand-in echoes its arguments so the test sees what ping was given.
        QFile script(dir.filePath("ping"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n"
                     "echo \"args: $*\"\n"
                     "case \"$5\" in\n"
                     "  fast) echo '64 bytes from 10.0.0.1: icmp_seq=1 ttl=64 time=0.3 ms'; exit 0;;\n"
                     "  slow) echo '64 bytes from 10.0.0.2: icmp_seq=1 ttl=64 time=87.5 ms'; exit 0;;\n"
                     "  german) echo 'Antwort von 10.0.0.3: Zeit=3ms'; exit 0;;\n"
                     "  *) echo 'no answer' >&2; exit 1;;\n"
                     "esac\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", dir.path().toLocal8Bit() + ":" + oldPath);
        auto restore = qScopeGuard([&] { qputenv("PATH", oldPath); });

        QCOMPARE(LinuxPingProcess::argumentsFor("h"), (QStringList{"-c", "1", "-W", "1", "h"}));

        PingService service;
        QSignalSpy measured(&service, &PingService::pingMeasured);
        QSignalSpy failed(&service, &PingService::pingFailed);
        for (const char *host : {"fast", "slow", "german", "gone"})
            service.pingHost(host);
        QTRY_COMPARE_WITH_TIMEOUT(measured.size() + failed.size(), 4, kEventWaitMs);
        QCOMPARE(service.cachedPing("fast"), 1);
        QCOMPARE(service.cachedPing("slow"), 88);
        QCOMPARE(service.cachedPing("german"), -1);
        QCOMPARE(service.cachedPing("gone"), -1);
        QCOMPARE(failed.size(), 2);
    }

    void missingPingProgramFails()
    {
        const QByteArray oldPath = qgetenv("PATH");
        QTemporaryDir empty;
        qputenv("PATH", empty.path().toLocal8Bit());
        auto restore = qScopeGuard([&] { qputenv("PATH", oldPath); });

        PingService service;
        QSignalSpy failed(&service, &PingService::pingFailed);
        service.pingHost("127.0.0.1");
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, kEventWaitMs);
        QCOMPARE(service.activeCount(), 0);
    }

    void pingsLoopbackWithSystemPing()
    {
        if (QStandardPaths::findExecutable("ping").isEmpty())
            QSKIP("no ping program on this machine");
        PingService service;
        QSignalSpy measured(&service, &PingService::pingMeasured);
        QSignalSpy failed(&service, &PingService::pingFailed);
        service.pingHost("127.0.0.1");
        QTRY_COMPARE_WITH_TIMEOUT(measured.size() + failed.size(), 1, kEventWaitMs);
        if (!failed.isEmpty())
            QSKIP("ping may not send ICMP here (no raw socket or ping group permission)");
        QCOMPARE(measured[0][0].toString(), QStringLiteral("127.0.0.1"));
        QVERIFY(measured[0][1].toInt() >= 1);
    }
};

QTEST_GUILESS_MAIN(PingServiceTest)
#include "ping_service_test.moc"
