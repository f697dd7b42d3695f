#include "support/test_main.h"
#include "support/test_service.h"
#include "support/update_test_helpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

// The whole hand-over with real programs: a stand-in desktop program in a
// throw-away installation stages an update from the stand-in service and
// starts the real applier, which waits for it, applies the update and
// starts the program again; that start checks once more and must find
// nothing, or the player would meet the same offer at every start.
class UpdateHandoverTest : public QObject
{
    Q_OBJECT

private slots:
    void applierWaitsAppliesAndRestarts_data()
    {
        QTest::addColumn<QJsonObject>("controls");    // for POST /test/update, beside the folder
        QTest::addColumn<QJsonObject>("releaseFiles"); // path: text, over a release that matches the installation
        QTest::addColumn<QStringList>("fetched");
        QTest::addColumn<QStringList>("gone");
        QTest::newRow("changed, added and removed")
            << QJsonObject{{QStringLiteral("remove"), QJsonArray{QStringLiteral("obsolete")}}}
            << QJsonObject{{QStringLiteral("data/config.txt"), QStringLiteral("new config")},
                           {QStringLiteral("lib/extra/new.bin"), QString(50000, QLatin1Char('n'))}}
            << QStringList{QStringLiteral("data/config.txt"), QStringLiteral("lib/extra/new.bin")}
            << QStringList{QStringLiteral("obsolete")};
        // About 92 s on the line: an honest slow download, longer than a minute
        // plus its size at 64 KiB/s.
        QTest::newRow("a new file at 16 KiB/s")
            << QJsonObject{{QStringLiteral("paced"), QJsonObject{{QStringLiteral("big.bin"), 16384}}}}
            << QJsonObject{{QStringLiteral("big.bin"), QString(1500000, QLatin1Char('p'))}}
            << QStringList{QStringLiteral("big.bin")} << QStringList();
        // The release still names a path this installation never held.
        QTest::newRow("removal only")
            << QJsonObject{{QStringLiteral("remove"), QJsonArray{QStringLiteral("obsolete/plugin.so"),
                                                                 QStringLiteral("old-runtime.so")}}}
            << QJsonObject() << QStringList() << QStringList{QStringLiteral("obsolete/plugin.so")};
        QTest::newRow("digests in capitals")
            << QJsonObject{{QStringLiteral("upper_case_hashes"), true}}
            << QJsonObject{{QStringLiteral("data/config.txt"), QStringLiteral("new config")}}
            << QStringList{QStringLiteral("data/config.txt")} << QStringList();
    }

    void applierWaitsAppliesAndRestarts()
    {
        QFETCH(QJsonObject, controls);
        QFETCH(QJsonObject, releaseFiles);
        QFETCH(QStringList, fetched);
        QFETCH(QStringList, gone);
        TestService service;
        QVERIFY(service.start());
        QTemporaryDir install;
        QTemporaryDir release;
        QTemporaryDir temp;
        QVERIFY(install.isValid() && release.isValid() && temp.isValid());
        auto inInstall = [&](const QString &relative) { return install.path() + QLatin1Char('/') + relative; };
        auto inRelease = [&](const QString &relative) { return release.path() + QLatin1Char('/') + relative; };

        const QString probe = QStringLiteral(CORVANA_BIN_DIR "/update_probe_app");
        QVERIFY(QFile::copy(probe, inInstall(QStringLiteral("corvana"))));
        QVERIFY(QFile::copy(probe, inRelease(QStringLiteral("corvana"))));
        QVERIFY(QFile::copy(QStringLiteral(CORVANA_BIN_DIR "/CorvanaUpdateStub"), inInstall(QStringLiteral("CorvanaUpdateStub"))));
        QVERIFY(writeTestFile(inInstall(QStringLiteral("data/config.txt")), "old config"));
        QVERIFY(writeTestFile(inRelease(QStringLiteral("data/config.txt")), "old config"));
        QVERIFY(writeTestFile(inInstall(QStringLiteral("obsolete/plugin.so")), "old plugin"));
        QVERIFY(writeTestFile(inInstall(QStringLiteral("updater.log")), "Failed to copy 'x' to 'y': No space left on device\n"));
        for (auto it = releaseFiles.constBegin(); it != releaseFiles.constEnd(); ++it)
            QVERIFY(writeTestFile(inRelease(it.key()), it.value().toString().toUtf8()));
        controls.insert(QStringLiteral("folder"), release.path());
        int status = 0;
        service.call("POST", QStringLiteral("/test/update"), controls, &status);
        QCOMPARE(status, 200);

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), temp.path());
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(inInstall(QStringLiteral("corvana")), {QStringLiteral("--update-from"), service.baseUrl()});
        QVERIFY(program.waitForStarted(10000));
        // Staged in the player's own folder within the temporary one.
        const QString stagingDir = temp.path() + QStringLiteral("/corvana-") + QString::number(::geteuid())
                                   + QStringLiteral("/corvana-update-") + QString::number(program.processId());
        // Far beyond the slow row's 92 s.
        QVERIFY(program.waitForFinished(240000));
        QCOMPARE(QString::fromUtf8(readTestFile(inInstall(QStringLiteral("result.txt")))), QStringLiteral("ready"));
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(readTestFile(inInstall(QStringLiteral("previous-error.txt")))),
                 QStringLiteral("Failed to copy 'x' to 'y': No space left on device"));

        // The program is started again once the applier is through.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(inInstall(QStringLiteral("restarted.txt"))), 40000);
        // It lingered past the applier's blind pause: still the old file means the applier waited.
        QCOMPARE(readTestFile(inInstall(QStringLiteral("before-exit.txt"))), QByteArray("old config"));
        for (const QString &path : QStringList{QStringLiteral("corvana"), QStringLiteral("data/config.txt")} + releaseFiles.keys())
            QVERIFY2(readTestFile(inInstall(path)) == readTestFile(inRelease(path)), qPrintable(path));
        for (const QString &path : gone)
            QVERIFY2(!QFileInfo::exists(inInstall(path)), qPrintable(path));
        QVERIFY(!QFile::exists(stagingDir));
        QVERIFY(QFileInfo(stagingDir).dir().exists());
        QVERIFY(!QFile::exists(inInstall(QStringLiteral("data/config.txt.bak_corvana_updater"))));
        const QString restarted = QString::fromUtf8(readTestFile(inInstall(QStringLiteral("restarted.txt"))));
        QVERIFY2(restarted.contains(QStringLiteral("cwd=") + QDir(install.path()).canonicalPath() + QLatin1Char('\n')),
                 qPrintable(restarted));
        QVERIFY(restarted.contains(QStringLiteral("argc=1\n")));

        // That start checks again: nothing is left to offer, and the applier left no complaint.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(inInstall(QStringLiteral("second-check.txt"))), 40000);
        QCOMPARE(QString::fromUtf8(readTestFile(inInstall(QStringLiteral("second-check.txt")))),
                 QStringLiteral("no update from 1.5.1"));
        QCOMPARE(service.requestsTo(QStringLiteral("/api/update")).size() - fetched.size(), 2); // the two checks
        // Only the changed files travelled; the program itself matched.
        QCOMPARE(downloadedPaths(service.requestsTo(QStringLiteral("/api/update/file/"))), fetched);
    }
};

CORVANA_TEST_MAIN(UpdateHandoverTest)
#include "update_handover_test.moc"
