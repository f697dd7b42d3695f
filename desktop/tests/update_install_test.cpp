#include "shell/logger.h"
#include "support/other_account.h"
#include "support/test_main.h"
#include "support/test_service.h"
#include "support/update_fixture.h"
#include "support/update_test_helpers.h"
#include "support/wait_bounds.h"
#include "updates/update_service.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

// Download, verification, staging and the hand-over, with a recording
// stand-in in place of the applier.
class UpdateInstallTest : public QObject, private UpdateFixture
{
    Q_OBJECT

private:
    const QByteArray newConfig = "config v2\n";
    const QByteArray extra = QByteArray(300000, 'e') + "tail";

    QString stagingDir() const
    {
        return staging->path() + QStringLiteral("/corvana-update-") + QString::number(QCoreApplication::applicationPid());
    }
    QString stubArgsPath() const { return inInstall(QStringLiteral("stub-args.txt")); }

    bool installRecorder()
    {
        const QString target = inInstall(QString::fromLatin1(UpdateService::kApplierProgram));
        return QFile::copy(QStringLiteral(CORVANA_BIN_DIR "/update_stub_recorder"), target);
    }

    // An installation of three files, a release that changes one, adds one
    // in a new subdirectory and removes one.
    void prepareTwoFileUpdate(const QJsonObject &controls = {})
    {
        for (const char *path : {"corvana", "lib/keep.bin"}) {
            QVERIFY(writeTestFile(inInstall(QString::fromLatin1(path)), QByteArray("same ") + path));
            QVERIFY(writeTestFile(inRelease(QString::fromLatin1(path)), QByteArray("same ") + path));
        }
        QVERIFY(writeTestFile(inInstall(QStringLiteral("data/config.txt")), "config v1\n"));
        QVERIFY(writeTestFile(inInstall(QStringLiteral("obsolete.txt")), "old"));
        QVERIFY(writeTestFile(inRelease(QStringLiteral("data/config.txt")), newConfig));
        QVERIFY(writeTestFile(inRelease(QStringLiteral("lib/plugins/extra.bin")), extra));
        QJsonObject body = controls;
        body.insert(QStringLiteral("remove"), QJsonArray{QStringLiteral("obsolete.txt")});
        QCOMPARE(publishRelease(body), 200);
    }

    void checkAndExpectUpdate()
    {
        QSignalSpy ready(updater.get(), &UpdateService::manifestReady);
        updater->checkForUpdates();
        QTRY_COMPARE_WITH_TIMEOUT(ready.count(), 1, kEventWaitMs);
        QCOMPARE(updater->state(), QStringLiteral("update_available"));
    }

    void runToRest()
    {
        updater->startDownload();
        QTRY_VERIFY_WITH_TIMEOUT(updater->state() == QLatin1String("done") || updater->state() == QLatin1String("error"),
                                 20000);
    }

private slots:
    void initTestCase() { Logger::instance().init(); }

    void init()
    {
        const QString trouble = startFixture();
        QVERIFY2(trouble.isEmpty(), qPrintable(trouble));
    }

    void cleanup() { stopFixture(); }

    void twoChangedFilesAreFetchedStagedAndHandedOver()
    {
        prepareTwoFileUpdate();
        QVERIFY(installRecorder());
        // Left from an earlier attempt of a process with this id.
        QVERIFY(writeTestFile(stagingDir() + QStringLiteral("/files/stale.txt"), "stale"));
        checkAndExpectUpdate();
        QCOMPARE(updater->fileCount(), 2);
        QCOMPARE(updater->totalBytes(), qint64(newConfig.size() + extra.size()));

        QStringList states;
        QList<qint64> progress;
        connect(updater.get(), &UpdateService::stateChanged, this, [&] { states.append(updater->state()); });
        connect(updater.get(), &UpdateService::progressChanged, this,
                [&] { progress.append(updater->downloadedBytes()); });
        QSignalSpy handedOver(updater.get(), &UpdateService::updateReadyToInstall);
        QSignalSpy failed(updater.get(), &UpdateService::updateFailed);
        runToRest();
        QCOMPARE(failed.count(), 0);
        QCOMPARE(handedOver.count(), 1);
        QCOMPARE(states, (QStringList{QStringLiteral("downloading"), QStringLiteral("verifying"),
                                      QStringLiteral("staging"), QStringLiteral("launching"), QStringLiteral("done")}));
        QCOMPARE(updater->statusText(), QStringLiteral("Restarting to install update..."));

        // Progress never goes back and ends at the manifest's total.
        QVERIFY(!progress.isEmpty());
        for (qsizetype i = 1; i < progress.size(); ++i)
            QVERIFY(progress.at(i) >= progress.at(i - 1));
        QCOMPARE(progress.last(), updater->totalBytes());
        QCOMPARE(updater->progress(), 1.0);

        // Only the changed files were fetched, each with the version header.
        const QJsonArray calls = service->requestsTo(QStringLiteral("/api/update/file/"));
        QCOMPARE(downloadedPaths(calls), (QStringList{QStringLiteral("data/config.txt"), QStringLiteral("lib/plugins/extra.bin")}));
        for (const QJsonValue &call : calls)
            QCOMPARE(call.toObject().value(QStringLiteral("x_app_version")).toString(), QStringLiteral("1.5.0"));

        QCOMPARE(updater->stagingDir(), stagingDir());
        QCOMPARE(readTestFile(stagingDir() + QStringLiteral("/files/data/config.txt")), newConfig);
        QCOMPARE(readTestFile(stagingDir() + QStringLiteral("/files/lib/plugins/extra.bin")), extra);
        QVERIFY(!QFile::exists(stagingDir() + QStringLiteral("/files/stale.txt")));
        QCOMPARE(readTestFile(stagingDir() + QStringLiteral("/apply.json")),
                 QByteArray("{\n    \"main_executable\": \"corvana\",\n    \"remove\": [\n        \"obsolete.txt\"\n    ]\n}\n"));
        // The installation itself is the applier's to change.
        QCOMPARE(readTestFile(inInstall(QStringLiteral("data/config.txt"))), QByteArray("config v1\n"));

        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(stubArgsPath()), kEventWaitMs);
        const QString pid = QString::number(QCoreApplication::applicationPid());
        QCOMPARE(QString::fromUtf8(readTestFile(stubArgsPath())).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                 (QStringList{stagingDir(), install->path(), pid, pid}));

        // "done" is final for the run; even after a skip no second applier is started.
        updater->startDownload();
        updater->checkForUpdates();
        QCOMPARE(updater->state(), QStringLiteral("done"));
        updater->skipUpdate();
        QVERIFY(QFile::remove(stubArgsPath()));
        updater->startDownload();
        QCOMPARE(updater->state(), QStringLiteral("idle"));
        QTest::qWait(200);
        QVERIFY(!QFile::exists(stubArgsPath()));
        QCOMPARE(downloadedPaths(service->requestsTo(QStringLiteral("/api/update/file/"))).size(), 2);
    }

    void bodyNotMatchingItsHashIsNeverStaged()
    {
        prepareTwoFileUpdate({{QStringLiteral("corrupt"), QJsonArray{QStringLiteral("lib/plugins/extra.bin")}}});
        QVERIFY(installRecorder());
        checkAndExpectUpdate();
        QSignalSpy failed(updater.get(), &UpdateService::updateFailed);
        runToRest();
        QCOMPARE(updater->state(), QStringLiteral("error"));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("Hash mismatch: lib/plugins/extra.bin"));
        QCOMPARE(updater->statusText(), QStringLiteral("Verification failed: lib/plugins/extra.bin"));
        QVERIFY(updateLogText().contains(QStringLiteral("hash mismatch: lib/plugins/extra.bin expected=") + sha256Of(extra)
                                         + QStringLiteral(" got=") + sha256Of(extra.chopped(1) + '!')));
        QVERIFY(!QFile::exists(stagingDir() + QStringLiteral("/files/lib/plugins/extra.bin")));
        QVERIFY(!QFile::exists(stagingDir() + QStringLiteral("/apply.json")));
        QTest::qWait(200);
        QVERIFY(!QFile::exists(stubArgsPath()));
    }

    void bodyLongerThanAnnouncedStopsAtOnce()
    {
        // One byte announced; the link serves far more than any file of the update.
        prepareTwoFileUpdate({{QStringLiteral("sizes"), QJsonObject{{QStringLiteral("data/config.txt"), 1}}}});
        const QString route = QStringLiteral("/api/update/file/") + QString::fromLatin1(QByteArray("data/config.txt").toHex());
        service->nextCall(route, {{QStringLiteral("stream_bytes"), qint64(256) << 20}});
        QVERIFY(installRecorder());
        checkAndExpectUpdate();
        QList<double> progress;
        connect(updater.get(), &UpdateService::progressChanged, this, [&] { progress.append(updater->progress()); });
        QSignalSpy failed(updater.get(), &UpdateService::updateFailed);
        runToRest();
        QCOMPARE(updater->state(), QStringLiteral("error"));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("Hash mismatch: data/config.txt"));
        QCOMPARE(updater->statusText(), QStringLiteral("Verification failed: data/config.txt"));
        for (const double share : std::as_const(progress))
            QVERIFY2(share <= 1.0, qPrintable(QString::number(share)));
        // Left unread, and reported before the next file is asked for.
        QTRY_VERIFY_WITH_TIMEOUT(service->call("GET", QStringLiteral("/test/abandoned"))
                                     .value(QStringLiteral("items")).toArray().contains(route),
                                 kEventWaitMs);
        QCOMPARE(downloadedPaths(service->requestsTo(QStringLiteral("/api/update/file/"))),
                 QStringList{QStringLiteral("data/config.txt")});
        QVERIFY(!QFile::exists(stagingDir()));
    }

    void digestsInCapitalsVerify()
    {
        // A manifest may spell its digests in capitals: the same bytes, so the
        // file is fetched (it is compared with the cache as spelt) and staged.
        prepareTwoFileUpdate();
        QVERIFY(installRecorder());
        const QString path = QStringLiteral("data/config.txt");
        const QJsonObject entry{{QStringLiteral("hash"), sha256Of(newConfig).toUpper()},
                                {QStringLiteral("size"), newConfig.size()},
                                {QStringLiteral("download_link"), service->baseUrl() + QStringLiteral("/api/update/file/")
                                                                      + QString::fromLatin1(path.toUtf8().toHex())}};
        const QJsonObject manifest{{QStringLiteral("version"), QStringLiteral("2.0.0")},
                                   {QStringLiteral("files"), QJsonObject{{path, entry}}}};
        service->nextCall(QStringLiteral("/api/update"),
                          {{QStringLiteral("body"), QString::fromUtf8(QJsonDocument(manifest).toJson())}});
        checkAndExpectUpdate();
        QSignalSpy failed(updater.get(), &UpdateService::updateFailed);
        runToRest();
        QCOMPARE(failed.count(), 0);
        QCOMPARE(updater->state(), QStringLiteral("done"));
        QCOMPARE(readTestFile(stagingDir() + QStringLiteral("/files/data/config.txt")), newConfig);
    }

    void failedDownloadsEndTheRun_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("silenceMs");
        QTest::newRow("404") << QStringLiteral("missing") << 300;
        QTest::newRow("stall") << QStringLiteral("stall") << 300;
        // Never silent for the limit, never done by the deadline.
        QTest::newRow("trickle") << QStringLiteral("trickle") << 3000;
    }

    void failedDownloadsEndTheRun()
    {
        QFETCH(QString, control);
        QFETCH(int, silenceMs);
        prepareTwoFileUpdate({{control, QJsonArray{QStringLiteral("data/config.txt")}}});
        QVERIFY(installRecorder());
        updater->setTimeoutsForTesting(5000, silenceMs);
        updater->setLowSpeedWindowForTesting(2000);
        updater->setLang(QStringLiteral("fa"));
        checkAndExpectUpdate();
        QSignalSpy failed(updater.get(), &UpdateService::updateFailed);
        runToRest();
        QCOMPARE(updater->state(), QStringLiteral("error"));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("Download failed: data/config.txt"));
        QCOMPARE(updater->statusText(), QString::fromUtf8("خطا در دانلود: data/config.txt"));
        QVERIFY(updateLogText().contains(QString::fromUtf8("download failed: data/config.txt \u2014 ")));
        // The second file is never asked for and nothing is staged.
        QCOMPARE(downloadedPaths(service->requestsTo(QStringLiteral("/api/update/file/"))),
                 QStringList{QStringLiteral("data/config.txt")});
        QVERIFY(!QFile::exists(stagingDir()));
        QVERIFY(!QFile::exists(stubArgsPath()));
    }

    void aSlowSteadyLineCompletesItsDownload()
    {
        // 16 KiB/s, a 128 kbit/s line: six seconds for the file, twice the
        // (shortened) low-speed window, which never sees less than the least pace.
        const QString path = QStringLiteral("data/pack.bin");
        const QByteArray pack(96 * 1024, 'p');
        QVERIFY(writeTestFile(inInstall(QStringLiteral("corvana")), "same"));
        QVERIFY(writeTestFile(inRelease(QStringLiteral("corvana")), "same"));
        QVERIFY(writeTestFile(inRelease(path), pack));
        QCOMPARE(publishRelease({{QStringLiteral("paced"), QJsonObject{{path, 16 * 1024}}}}), 200);
        QVERIFY(installRecorder());
        updater->setLowSpeedWindowForTesting(3000);
        checkAndExpectUpdate();
        QSignalSpy failed(updater.get(), &UpdateService::updateFailed);
        runToRest();
        QCOMPARE(failed.count(), 0);
        QCOMPARE(updater->state(), QStringLiteral("done"));
        QCOMPARE(readTestFile(stagingDir() + QStringLiteral("/files/") + path), pack);
    }

    void removeOnlyUpdateReachesTheApplier()
    {
        QVERIFY(writeTestFile(inInstall(QStringLiteral("corvana")), "same"));
        QVERIFY(writeTestFile(inRelease(QStringLiteral("corvana")), "same"));
        QVERIFY(writeTestFile(inInstall(QStringLiteral("old/a.dll")), "old"));
        QVERIFY(writeTestFile(inInstall(QStringLiteral("b.dll")), "old"));
        service->call("POST", QStringLiteral("/test/update"),
                      {{QStringLiteral("folder"), release->path()},
                       {QStringLiteral("remove"), QJsonArray{QStringLiteral("old/a.dll"), QStringLiteral("b.dll")}}});
        QVERIFY(installRecorder());
        checkAndExpectUpdate();
        QVERIFY(!updater->hasUpdate());
        QSignalSpy handedOver(updater.get(), &UpdateService::updateReadyToInstall);
        runToRest();
        QCOMPARE(handedOver.count(), 1);
        QVERIFY(QDir(stagingDir() + QStringLiteral("/files")).isEmpty());
        const QJsonObject plan = QJsonDocument::fromJson(readTestFile(stagingDir() + QStringLiteral("/apply.json"))).object();
        QCOMPARE(plan.value(QStringLiteral("remove")).toArray(), (QJsonArray{QStringLiteral("old/a.dll"), QStringLiteral("b.dll")}));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(stubArgsPath()), kEventWaitMs);
    }

    void applierProblemsStopInError()
    {
        prepareTwoFileUpdate();
        checkAndExpectUpdate();
        QSignalSpy failed(updater.get(), &UpdateService::updateFailed);
        QSignalSpy handedOver(updater.get(), &UpdateService::updateReadyToInstall);

        // No applier in the installation.
        runToRest();
        QCOMPARE(updater->state(), QStringLiteral("error"));
        QCOMPARE(failed.takeFirst().at(0).toString(), QStringLiteral("CorvanaUpdateStub not found"));
        QCOMPARE(updater->statusText(), QStringLiteral("Update stub not found"));
        QVERIFY(updateLogText().contains(QStringLiteral("stub not found: ") + inInstall(QStringLiteral("CorvanaUpdateStub"))));

        // A file of that name that cannot be run; the run restarts from "error".
        QVERIFY(writeTestFile(inInstall(QStringLiteral("CorvanaUpdateStub")), "not a program"));
        runToRest();
        QCOMPARE(updater->state(), QStringLiteral("error"));
        QCOMPARE(failed.takeFirst().at(0).toString(), QStringLiteral("Failed to launch CorvanaUpdateStub"));
        QCOMPARE(updater->statusText(), QStringLiteral("Failed to launch updater"));

        // A plan that cannot be written: the applier is not started.
        QVERIFY(QFile::remove(inInstall(QStringLiteral("CorvanaUpdateStub"))));
        QVERIFY(installRecorder());
        updater->setPlanFileNameForTesting(QStringLiteral("files"));
        runToRest();
        QCOMPARE(updater->state(), QStringLiteral("error"));
        QCOMPARE(failed.takeFirst().at(0).toString(), QStringLiteral("Failed to write apply.json"));
        QCOMPARE(updater->statusText(), QStringLiteral("Failed to prepare installation"));
        QCOMPARE(handedOver.count(), 0);
        QTest::qWait(200);
        QVERIFY(!QFile::exists(stubArgsPath()));
    }

    void stagingDirectoryThatIsALinkIsNotFollowed()
    {
        prepareTwoFileUpdate();
        QVERIFY(installRecorder());
        QTemporaryDir victim;
        QVERIFY(writeTestFile(victim.path() + QStringLiteral("/precious.txt"), "keep me"));
        QVERIFY(QFile::link(victim.path(), stagingDir()));
        checkAndExpectUpdate();
        runToRest();
        QCOMPARE(updater->state(), QStringLiteral("done"));
        QCOMPARE(readTestFile(victim.path() + QStringLiteral("/precious.txt")), QByteArray("keep me"));
        QVERIFY(!QFileInfo(stagingDir()).isSymLink());
        QCOMPARE(readTestFile(stagingDir() + QStringLiteral("/files/data/config.txt")), newConfig);
    }

    // The shared temporary folder is no place to stage: another account may
    // have put anything under the staging folder's name there. Staging goes to
    // a folder of the player's own, and what they put there stays untouched.
    void stagingIsInAFolderOfThePlayersOwn()
    {
        if (!otherAccount::available())
            QSKIP("needs root to act as another account");
        prepareTwoFileUpdate();
        QVERIFY(installRecorder());
        QTemporaryDir top;
        QVERIFY(::chmod(QFile::encodeName(top.path()).constData(), 0755) == 0);
        const QString shared = top.path() + QStringLiteral("/tmp");
        QVERIFY(otherAccount::makeShared(shared));
        const QByteArray savedTemp = qgetenv("TMPDIR");
        auto restore = qScopeGuard([&] { savedTemp.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", savedTemp); });
        qputenv("TMPDIR", shared.toUtf8());
        const QString name = QStringLiteral("/corvana-update-") + QString::number(QCoreApplication::applicationPid());
        QVERIFY(writeTestFile(shared + name + QStringLiteral("/theirs.txt"), "theirs"));
        QVERIFY(otherAccount::hand(shared + name));

        updater->setStagingRootForTesting(QString());
        checkAndExpectUpdate();
        runToRest();
        QCOMPARE(updater->state(), QStringLiteral("done"));
        const QString own = shared + QStringLiteral("/corvana-") + QString::number(::geteuid());
        QCOMPARE(updater->stagingDir(), own + name);
        struct stat folder {};
        QCOMPARE(::lstat(QFile::encodeName(own).constData(), &folder), 0);
        QCOMPARE(folder.st_uid, ::geteuid());
        QCOMPARE(folder.st_mode, mode_t(S_IFDIR | 0700));
        QCOMPARE(readTestFile(own + name + QStringLiteral("/files/data/config.txt")), newConfig);
        QCOMPARE(readTestFile(shared + name + QStringLiteral("/theirs.txt")), QByteArray("theirs"));
    }

    void oneRunAtATimeAndSkipStopsIt()
    {
        prepareTwoFileUpdate({{QStringLiteral("stall"), QJsonArray{QStringLiteral("data/config.txt")}}});
        QVERIFY(installRecorder());
        checkAndExpectUpdate();
        updater->startDownload();
        QCOMPARE(updater->state(), QStringLiteral("downloading"));
        QCOMPARE(updater->statusText(), QStringLiteral("Downloading: data/config.txt"));
        updater->startDownload(); // ignored: one download in flight
        updater->checkForUpdates(); // ignored as well
        QTRY_COMPARE_WITH_TIMEOUT(downloadedPaths(service->requestsTo(QStringLiteral("/api/update/file/"))).size(), 1, kEventWaitMs);
        QSignalSpy skipped(updater.get(), &UpdateService::updateSkipped);
        QSignalSpy states(updater.get(), &UpdateService::stateChanged);
        updater->skipUpdate();
        QCOMPARE(skipped.count(), 1);
        QCOMPARE(updater->state(), QStringLiteral("idle"));
        QTest::qWait(300);
        QCOMPARE(states.count(), 1);
        QCOMPARE(downloadedPaths(service->requestsTo(QStringLiteral("/api/update/file/"))).size(), 1);
        QVERIFY(!QFile::exists(stubArgsPath()));
    }
};

CORVANA_TEST_MAIN(UpdateInstallTest)
#include "update_install_test.moc"
