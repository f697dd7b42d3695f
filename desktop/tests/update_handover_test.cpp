#include "support/test_main.h"
#include "support/test_service.h"
#include "support/update_test_helpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

// The whole hand-over with real programs: a stand-in desktop program in a
// throw-away installation stages an update from the stand-in service and
// starts the real applier, which waits for it, applies the update and
// starts the program again.
class UpdateHandoverTest : public QObject
{
    Q_OBJECT

private slots:
    void applierWaitsAppliesAndRestarts()
    {
        TestService service;
        QVERIFY(service.start());
        QTemporaryDir install;
        QTemporaryDir release;
        QTemporaryDir temp;
        QVERIFY(install.isValid() && release.isValid() && temp.isValid());
        auto inInstall = [&](const char *relative) { return install.path() + QLatin1Char('/') + QLatin1String(relative); };

        const QString probe = QStringLiteral(CORVANA_BIN_DIR "/update_probe_app");
        QVERIFY(QFile::copy(probe, inInstall("corvana")));
        QVERIFY(QFile::copy(probe, release.path() + QStringLiteral("/corvana")));
        QVERIFY(QFile::copy(QStringLiteral(CORVANA_BIN_DIR "/CorvanaUpdateStub"), inInstall("CorvanaUpdateStub")));
        QVERIFY(writeTestFile(inInstall("data/config.txt"), "old config"));
        QVERIFY(writeTestFile(inInstall("obsolete/plugin.so"), "old plugin"));
        QVERIFY(writeTestFile(inInstall("updater.log"), "Failed to copy 'x' to 'y': No space left on device\n"));
        QVERIFY(writeTestFile(release.path() + QStringLiteral("/data/config.txt"), "new config"));
        QVERIFY(writeTestFile(release.path() + QStringLiteral("/lib/extra/new.bin"), QByteArray(50000, 'n')));
        int status = 0;
        service.call("POST", QStringLiteral("/test/update"),
                     {{QStringLiteral("folder"), release.path()},
                      {QStringLiteral("remove"), QJsonArray{QStringLiteral("obsolete")}}},
                     &status);
        QCOMPARE(status, 200);

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), temp.path());
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(inInstall("corvana"), {QStringLiteral("--update-from"), service.baseUrl()});
        QVERIFY(program.waitForStarted(10000));
        // Staged in the player's own folder within the temporary one.
        const QString stagingDir = temp.path() + QStringLiteral("/corvana-") + QString::number(::geteuid())
                                   + QStringLiteral("/corvana-update-") + QString::number(program.processId());
        QVERIFY(program.waitForFinished(60000));
        QCOMPARE(QString::fromUtf8(readTestFile(inInstall("result.txt"))), QStringLiteral("ready"));
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(readTestFile(inInstall("previous-error.txt"))),
                 QStringLiteral("Failed to copy 'x' to 'y': No space left on device"));

        // The program is started again once the applier is through.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(inInstall("restarted.txt")), 40000);
        // It lingered past the applier's blind pause: still the old file means the applier waited.
        QCOMPARE(readTestFile(inInstall("before-exit.txt")), QByteArray("old config"));
        QCOMPARE(readTestFile(inInstall("data/config.txt")), QByteArray("new config"));
        QCOMPARE(readTestFile(inInstall("lib/extra/new.bin")), QByteArray(50000, 'n'));
        QVERIFY(!QFile::exists(inInstall("obsolete")));
        QVERIFY(!QFile::exists(inInstall("updater.log")));
        QVERIFY(!QFile::exists(stagingDir));
        QVERIFY(QFileInfo(stagingDir).dir().exists());
        QVERIFY(!QFile::exists(inInstall("data/config.txt.bak_corvana_updater")));
        const QString restarted = QString::fromUtf8(readTestFile(inInstall("restarted.txt")));
        QVERIFY2(restarted.contains(QStringLiteral("cwd=") + QDir(install.path()).canonicalPath() + QLatin1Char('\n')),
                 qPrintable(restarted));
        QVERIFY(restarted.contains(QStringLiteral("argc=1\n")));

        // Only the two changed files travelled; the program itself matched.
        QCOMPARE(downloadedPaths(service.requestsTo(QStringLiteral("/api/update/file/"))),
                 (QStringList{QStringLiteral("data/config.txt"), QStringLiteral("lib/extra/new.bin")}));
    }
};

CORVANA_TEST_MAIN(UpdateHandoverTest)
#include "update_handover_test.moc"
