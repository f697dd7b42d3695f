#include "shell/logger.h"
#include "support/test_main.h"
#include "support/test_service.h"
#include "support/update_fixture.h"
#include "support/update_test_helpers.h"
#include "support/wait_bounds.h"
#include "updates/update_service.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class UpdateCheckTest : public QObject, private UpdateFixture
{
    Q_OBJECT

private:
    void publish(const QJsonObject &extra = {}) { QCOMPARE(publishRelease(extra), 200); }

    void serveManifest(const QByteArray &raw)
    {
        service->nextCall(QStringLiteral("/api/update"), {{QStringLiteral("body"), QString::fromUtf8(raw)}});
    }

    // Runs one check to its resting state.
    void check()
    {
        updater->checkForUpdates();
        QTRY_VERIFY_WITH_TIMEOUT(updater->state() != QLatin1String("checking"), kEventWaitMs);
    }

    QJsonObject cacheFiles() const
    {
        return QJsonDocument::fromJson(readTestFile(inInstall(QStringLiteral("hash.json"))))
            .object()
            .value(QStringLiteral("files"))
            .toObject();
    }

    QByteArray manifestWith(const QJsonObject &files, const QJsonArray &remove = {}) const
    {
        return QJsonDocument(QJsonObject{{QStringLiteral("version"), QStringLiteral("2.0.0")},
                                         {QStringLiteral("files"), files},
                                         {QStringLiteral("remove"), remove}})
            .toJson(QJsonDocument::Compact);
    }

    QJsonObject entry(const QByteArray &content) const
    {
        return {{QStringLiteral("hash"), sha256Of(content)},
                {QStringLiteral("size"), content.size()},
                {QStringLiteral("download_link"), service->baseUrl() + QStringLiteral("/nowhere")}};
    }

private slots:
    void initTestCase() { Logger::instance().init(); }

    void init()
    {
        const QString trouble = startFixture();
        QVERIFY2(trouble.isEmpty(), qPrintable(trouble));
    }

    void cleanup() { stopFixture(); }

    void defaultsAndInstallDirectory()
    {
        UpdateService fresh;
        QCOMPARE(fresh.state(), QStringLiteral("idle"));
        QCOMPARE(fresh.installDir(), QCoreApplication::applicationDirPath());
        QCOMPARE(fresh.progress(), 0.0);
        QVERIFY(!fresh.hasUpdate());
        // Starting with nothing to fetch changes nothing.
        QSignalSpy states(&fresh, &UpdateService::stateChanged);
        fresh.startDownload();
        QCOMPARE(states.count(), 0);
    }

    void matchingFilesNeedNoUpdateAndRewriteTheCache()
    {
        for (const auto &[path, content] : {std::pair{"corvana", QByteArray("program")},
                                            std::pair{"sub/dir/b.bin", QByteArray(70000, 'b')}}) {
            QVERIFY(writeTestFile(inInstall(QString::fromLatin1(path)), content));
            QVERIFY(writeTestFile(inRelease(QString::fromLatin1(path)), content));
        }
        // Never listed in the cache: its own file, the applier's log and program.
        QVERIFY(writeTestFile(inInstall(QStringLiteral("CorvanaUpdateStub")), "applier"));
        QVERIFY(writeTestFile(inInstall(QStringLiteral("sub/hash.json")), "a file like any other"));
        QVERIFY(writeTestFile(inInstall(QStringLiteral(".hidden/x")), "not walked"));
        QVERIFY(writeTestFile(inInstall(QStringLiteral("hash.json")),
                              "{\"files\": {\"gone.txt\": {\"hash\": \"00\", \"size\": 1, \"mtime_utc\": \"x\"}}}"));
        publish();

        QSignalSpy none(updater.get(), &UpdateService::noUpdateAvailable);
        QSignalSpy ready(updater.get(), &UpdateService::manifestReady);
        QStringList seen;
        connect(updater.get(), &UpdateService::statusTextChanged, this,
                [&] { seen.append(updater->statusText()); });
        updater->checkForUpdates();
        updater->checkForUpdates(); // ignored while checking
        QTRY_COMPARE_WITH_TIMEOUT(none.count(), 1, kEventWaitMs);
        QCOMPARE(ready.count(), 0);
        QCOMPARE(updater->state(), QStringLiteral("idle"));
        QCOMPARE(updater->remoteVersion(), QStringLiteral("1.5.1"));
        QCOMPARE(seen, (QStringList{QStringLiteral("Checking for updates..."), QStringLiteral("Checking local files...")}));
        QVERIFY(updateLogText().contains(QStringLiteral("no update needed")));

        const QJsonArray calls = service->requestsTo(QStringLiteral("/api/update"));
        QCOMPARE(calls.size(), 1);
        const QJsonObject call = calls.at(0).toObject();
        QCOMPARE(call.value(QStringLiteral("x_app_version")).toString(), QStringLiteral("1.5.0"));
        QCOMPARE(call.value(QStringLiteral("authorization")).toString(), QString());
        QCOMPARE(call.value(QStringLiteral("x_lang")).toString(), QString());

        const QByteArray cacheText = readTestFile(inInstall(QStringLiteral("hash.json")));
        QVERIFY(cacheText.contains("\n    \"files\": {\n"));
        const QJsonObject files = cacheFiles();
        QCOMPARE(files.keys(), (QStringList{QStringLiteral("corvana"), QStringLiteral("sub/dir/b.bin"),
                                            QStringLiteral("sub/hash.json")}));
        const QJsonObject big = files.value(QStringLiteral("sub/dir/b.bin")).toObject();
        QCOMPARE(big.value(QStringLiteral("hash")).toString(), sha256Of(QByteArray(70000, 'b')));
        QCOMPARE(big.value(QStringLiteral("size")).toInteger(), 70000);
        const QDateTime mtime = QFileInfo(inInstall(QStringLiteral("sub/dir/b.bin"))).lastModified().toUTC();
        QCOMPARE(big.value(QStringLiteral("mtime_utc")).toString(), mtime.toString(QStringLiteral("yyyy-MM-ddThh:mm:ssZ")));
    }

    void cacheIsTrustedUntilSizeOrTimeMoves()
    {
        const QByteArray content("same bytes");
        QVERIFY(writeTestFile(inInstall(QStringLiteral("a.txt")), content));
        QVERIFY(writeTestFile(inRelease(QStringLiteral("a.txt")), content));
        publish();
        check();
        QCOMPARE(updater->state(), QStringLiteral("idle"));

        // A cached hash with matching size and time is believed without reading the file.
        QJsonObject files = cacheFiles();
        QJsonObject a = files.value(QStringLiteral("a.txt")).toObject();
        a.insert(QStringLiteral("hash"), QString(64, QLatin1Char('e')));
        files.insert(QStringLiteral("a.txt"), a);
        QVERIFY(writeTestFile(inInstall(QStringLiteral("hash.json")),
                              QJsonDocument(QJsonObject{{QStringLiteral("files"), files}}).toJson()));
        check();
        QCOMPARE(updater->state(), QStringLiteral("update_available"));
        QCOMPARE(updater->fileCount(), 1);
        updater->skipUpdate();

        // Touched without a change: hashed again, and the hash says it is current.
        QFile touched(inInstall(QStringLiteral("a.txt")));
        QVERIFY(touched.open(QIODevice::ReadWrite));
        QVERIFY(touched.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-3600), QFileDevice::FileModificationTime));
        touched.close();
        check();
        QCOMPARE(updater->state(), QStringLiteral("idle"));
        QCOMPARE(cacheFiles().value(QStringLiteral("a.txt")).toObject().value(QStringLiteral("hash")).toString(),
                 sha256Of(content));

        // A cache that is not JSON, or missing, costs a re-hash and is written anew.
        QVERIFY(writeTestFile(inInstall(QStringLiteral("hash.json")), "not json"));
        check();
        QCOMPARE(updater->state(), QStringLiteral("idle"));
        QCOMPARE(cacheFiles().keys(), QStringList{QStringLiteral("a.txt")});
        QVERIFY(QFile::remove(inInstall(QStringLiteral("hash.json"))));
        check();
        QCOMPARE(cacheFiles().keys(), QStringList{QStringLiteral("a.txt")});
    }

    void changedAndMissingFilesAreListedInKeyOrder()
    {
        QVERIFY(writeTestFile(inInstall(QStringLiteral("same.txt")), "same"));
        QVERIFY(writeTestFile(inRelease(QStringLiteral("same.txt")), "same"));
        QVERIFY(writeTestFile(inInstall(QStringLiteral("z/changed.txt")), "old"));
        QVERIFY(writeTestFile(inRelease(QStringLiteral("z/changed.txt")), "new!"));
        QVERIFY(writeTestFile(inRelease(QStringLiteral("b/added.bin")), QByteArray(1000, 'x')));
        QVERIFY(writeTestFile(inInstall(QStringLiteral("local-only.txt")), "left alone"));
        publish();
        QSignalSpy ready(updater.get(), &UpdateService::manifestReady);
        check();
        QCOMPARE(ready.count(), 1);
        QCOMPARE(updater->state(), QStringLiteral("update_available"));
        QVERIFY(updater->hasUpdate());
        QCOMPARE(updater->fileCount(), 2);
        QCOMPARE(updater->totalBytes(), qint64(1004));
        QCOMPARE(updater->statusText(), QString()); // not the scan's line under the offer
        const QList<PendingDownload> downloads = updater->downloads();
        QCOMPARE(downloads.at(0).relativePath, QStringLiteral("b/added.bin"));
        QCOMPARE(downloads.at(1).relativePath, QStringLiteral("z/changed.txt"));
        QCOMPARE(downloads.at(1).expectedHash, sha256Of("new!"));
        QCOMPARE(downloads.at(1).size, qint64(4));
        // Nothing is fetched before the user says so; a check in this state is ignored.
        updater->checkForUpdates();
        QCOMPARE(service->requestsTo(QStringLiteral("/api/update")).size(), 1);
        QVERIFY(downloadedPaths(service->requestsTo(QStringLiteral("/api/update"))).isEmpty());
    }

    void upperCaseHashMatchesTheInstalledFile()
    {
        QVERIFY(writeTestFile(inInstall(QStringLiteral("a.txt")), "abc"));
        QVERIFY(writeTestFile(inInstall(QStringLiteral("b.txt")), "old"));
        auto upper = [this](const QByteArray &content) {
            QJsonObject e = entry(content);
            e.insert(QStringLiteral("hash"), sha256Of(content).toUpper());
            return e;
        };
        serveManifest(manifestWith({{QStringLiteral("a.txt"), upper("abc")}, {QStringLiteral("b.txt"), upper("new")}}));
        check();
        QCOMPARE(updater->state(), QStringLiteral("update_available"));
        QCOMPARE(updater->fileCount(), 1);
        QCOMPARE(updater->downloads().at(0).relativePath, QStringLiteral("b.txt"));
        QCOMPARE(updater->downloads().at(0).expectedHash, sha256Of("new"));
    }

    void unsafePathsAreSkippedWithAWarning()
    {
        const QStringList unsafe{QStringLiteral("../evil"),      QStringLiteral("/etc/evil"),
                                 QStringLiteral("\\evil"),       QStringLiteral("sub/../../evil"),
                                 QStringLiteral("sub\\evil.dll"), QStringLiteral("C:/Windows/evil.dll"),
                                 QStringLiteral("ok/..")};
        QJsonObject files{{QStringLiteral("ok/fine.txt"), entry("fine")}};
        for (const QString &path : unsafe)
            files.insert(path, entry("evil"));
        QVERIFY(writeTestFile(inInstall(QStringLiteral("old.txt")), "old"));
        QJsonArray remove{QStringLiteral("old.txt"), QStringLiteral("../../outside"), QStringLiteral("/abs/path"),
                          QStringLiteral("a\\b"), 7};
        serveManifest(manifestWith(files, remove));
        check();
        QCOMPARE(updater->state(), QStringLiteral("update_available"));
        QCOMPARE(updater->fileCount(), 1);
        QCOMPARE(updater->downloads().at(0).relativePath, QStringLiteral("ok/fine.txt"));
        QCOMPARE(updater->removeList(), QStringList{QStringLiteral("old.txt")});
        const QString log = updateLogText();
        for (const QString &path : unsafe + QStringList{QStringLiteral("../../outside"), QStringLiteral("/abs/path"),
                                                        QStringLiteral("a\\b")})
            QVERIFY2(log.contains(QStringLiteral("skipping invalid path: ") + path), qPrintable(path));
    }

    void safePathRule()
    {
        for (const char *good : {"a", "a/b/c.dll", "./a", "a//b", "a/./b", "x/../y", "a..b/c", "a b/é.txt"})
            QVERIFY2(UpdateService::isSafeRelativePath(QString::fromUtf8(good)), good);
        for (const char *bad : {"", "..", "../a", "a/../..", "/a", "//a", "\\a", "a\\b", "..\\a", "a/..", ".", "..a",
                                "C:a", "c:/a", "a:stream", "a\tb", "a\nb"})
            QVERIFY2(!UpdateService::isSafeRelativePath(QString::fromUtf8(bad)), bad);
    }

    void removeOnlyManifestOffersAnUpdate()
    {
        QVERIFY(writeTestFile(inInstall(QStringLiteral("a.txt")), "same"));
        QVERIFY(writeTestFile(inRelease(QStringLiteral("a.txt")), "same"));
        QVERIFY(writeTestFile(inInstall(QStringLiteral("old/plugin.dll")), "old"));
        // Kept in a release for older installations: this one never held it.
        publish({{QStringLiteral("remove"), QJsonArray{QStringLiteral("old/plugin.dll"), QStringLiteral("old-runtime.so")}}});
        QSignalSpy ready(updater.get(), &UpdateService::manifestReady);
        check();
        QCOMPARE(ready.count(), 1);
        QCOMPARE(updater->state(), QStringLiteral("update_available"));
        QVERIFY(!updater->hasUpdate());
        QCOMPARE(updater->fileCount(), 0);
        QCOMPARE(updater->removeList(), QStringList{QStringLiteral("old/plugin.dll")});
    }

    void unusableManifestsLetTheProgramStart()
    {
        // Not JSON, not an object, an error status, a stall: no update, no error.
        publish({{QStringLiteral("malformed"), true}});
        check();
        QCOMPARE(updater->state(), QStringLiteral("idle"));
        QVERIFY(updateLogText().contains(QStringLiteral("invalid manifest JSON")));

        serveManifest("[1, 2]");
        check();
        QCOMPARE(updater->state(), QStringLiteral("idle"));

        service->nextCall(QStringLiteral("/api/update"), {{QStringLiteral("status"), 404}});
        QSignalSpy none(updater.get(), &UpdateService::noUpdateAvailable);
        check();
        QCOMPARE(updater->state(), QStringLiteral("idle"));
        QCOMPARE(none.count(), 1);

        updater->setTimeoutsForTesting(300, 300);
        service->nextCall(QStringLiteral("/api/update"), {{QStringLiteral("hang"), true}});
        QElapsedTimer timer;
        timer.start();
        check();
        QCOMPARE(updater->state(), QStringLiteral("idle"));
        QCOMPARE(none.count(), 2);
        QVERIFY(timer.elapsed() >= 250);
        const QRegularExpression failure(QStringLiteral("\\[WRN\\] updater: manifest fetch failed: [^\\n]*"));
        const auto lastFailure = [&] {
            QString line;
            for (auto it = failure.globalMatch(updateLogText()); it.hasNext();)
                line = it.next().captured();
            return line;
        };
        const QString stalled = lastFailure();
        const QString silence = QStringLiteral("(nothing received for 300 ms)");
        QVERIFY2(stalled.endsWith(silence), qPrintable(updateLogText()));

        // One byte every 3 s never trips the stall limit; a window that brings
        // less than the least pace ends it all the same, as a stall, and says so.
        updater->setTimeoutsForTesting(UpdateService::kManifestTimeoutMs, UpdateService::kDownloadTimeoutMs);
        updater->setLowSpeedWindowForTesting(4000);
        service->nextCall(QStringLiteral("/api/update"), {{QStringLiteral("trickle_ms"), 3000}});
        check();
        QCOMPARE(updater->state(), QStringLiteral("idle"));
        QCOMPARE(none.count(), 3);
        QCOMPARE(lastFailure(), QString(stalled).replace(silence, QStringLiteral("(fewer than 4096 bytes in 4000 ms)")));
    }

    void aSlowSteadyLineCompletesTheManifest()
    {
        // Long release notes: at 16 KiB/s, a 128 kbit/s line, six seconds,
        // twice the (shortened) low-speed window.
        QVERIFY(writeTestFile(inInstall(QStringLiteral("a.txt")), "old"));
        const QJsonObject manifest{{QStringLiteral("version"), QStringLiteral("2.0.0")},
                                   {QStringLiteral("files"), QJsonObject{{QStringLiteral("a.txt"), entry("new")}}},
                                   {QStringLiteral("notes"), QString(96 * 1024, u'n')}};
        service->nextCall(QStringLiteral("/api/update"),
                          {{QStringLiteral("body"), QString::fromUtf8(QJsonDocument(manifest).toJson())},
                           {QStringLiteral("bytes_per_second"), 16 * 1024}});
        updater->setLowSpeedWindowForTesting(3000);
        QSignalSpy ready(updater.get(), &UpdateService::manifestReady);
        check();
        QCOMPARE(ready.count(), 1);
        QCOMPARE(updater->state(), QStringLiteral("update_available"));
        QCOMPARE(updater->fileCount(), 1);
    }

    void filesTheScanPassesOverAreNeverFetched_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("applier") << QString::fromLatin1(UpdateService::kApplierProgram);
        QTest::newRow("hash cache") << QStringLiteral("hash.json");
        QTest::newRow("applier's log") << QStringLiteral("updater.log");
        QTest::newRow("hidden folder") << QStringLiteral(".hidden/x");
        QTest::newRow("not the walk's form") << QStringLiteral("./corvana");
    }

    void filesTheScanPassesOverAreNeverFetched()
    {
        QFETCH(QString, path);
        // The installed copy, where the walk could find it, matches the release.
        QVERIFY(writeTestFile(inInstall(QDir::cleanPath(path)), "same"));
        serveManifest(manifestWith({{path, entry("same")}}));
        QSignalSpy none(updater.get(), &UpdateService::noUpdateAvailable);
        check();
        QCOMPARE(updater->state(), QStringLiteral("idle"));
        QCOMPARE(none.count(), 1);
        QVERIFY2(updateLogText().contains(QStringLiteral("[WRN] updater: skipping path the local scan passes over: ") + path),
                 qPrintable(updateLogText()));
    }

    void onlyWhatTheApplierWouldChangeIsOffered_data()
    {
        QTest::addColumn<QStringList>("remove");
        QTest::addColumn<QString>("link");       // a link in the installation, to `target` in a folder outside it
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("releasePath"); // a release file holding what the outside lib/x.so holds
        QTest::addColumn<QStringList>("offered");  // the removals offered; none: no update
        QTest::addColumn<QString>("warning");
        const QStringList none;
        QTest::newRow("removes of paths already gone")
            << QStringList{QStringLiteral("old-runtime.so"), QStringLiteral("old/plugin.dll"), QStringLiteral("gone/")}
            << QString() << QString() << QString() << none << QString();
        QTest::newRow("matching files behind a linked folder")
            << none << QStringLiteral("lib") << QStringLiteral("lib") << QStringLiteral("lib/x.so") << none
            << QStringLiteral("skipping path the local scan passes over: lib/x.so");
        QTest::newRow("a dangling link named in remove")
            << QStringList{QStringLiteral("old.so"), QStringLiteral("old-runtime.so")} << QStringLiteral("old.so")
            << QStringLiteral("never-was.so") << QString() << QStringList{QStringLiteral("old.so")} << QString();
        QTest::newRow("remove entries leading outside")
            << QStringList{QStringLiteral("escape"), QStringLiteral("escape/lib/x.so")} << QStringLiteral("escape")
            << QString() << QString() << none
            << QStringLiteral("skipping remove entry that leads outside the installation: escape/lib/x.so");
    }

    void onlyWhatTheApplierWouldChangeIsOffered()
    {
        QFETCH(QStringList, remove);
        QFETCH(QString, link);
        QFETCH(QString, target);
        QFETCH(QString, releasePath);
        QFETCH(QStringList, offered);
        QFETCH(QString, warning);
        QTemporaryDir outside;
        QVERIFY(outside.isValid());
        QVERIFY(writeTestFile(outside.path() + QStringLiteral("/lib/x.so"), "same"));
        QVERIFY(writeTestFile(inInstall(QStringLiteral("corvana")), "program"));
        QVERIFY(writeTestFile(inRelease(QStringLiteral("corvana")), "program"));
        if (!releasePath.isEmpty())
            QVERIFY(writeTestFile(inRelease(releasePath), "same"));
        if (!link.isEmpty())
            QVERIFY(QFile::link(outside.path() + QLatin1Char('/') + target, inInstall(link)));
        publish({{QStringLiteral("remove"), QJsonArray::fromStringList(remove)}});
        QSignalSpy none(updater.get(), &UpdateService::noUpdateAvailable);
        const qsizetype logBefore = updateLogText().size();
        check();
        QCOMPARE(updater->fileCount(), 0);
        QCOMPARE(updater->removeList(), offered);
        QCOMPARE(updater->state(), offered.isEmpty() ? QStringLiteral("idle") : QStringLiteral("update_available"));
        QCOMPARE(none.count(), offered.isEmpty() ? 1 : 0);
        const QString log = updateLogText().mid(logBefore);
        QCOMPARE(log.contains(QStringLiteral("no update needed")), offered.isEmpty());
        if (!warning.isEmpty())
            QVERIFY2(log.contains(QStringLiteral("[WRN] updater: ") + warning), qPrintable(log));
    }

    void refusedManifestsLetTheProgramStart_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("reason");
        const QString link = QStringLiteral("http://127.0.0.1:1/f");
        const QString hash = sha256Of("x");
        auto doc = [](const QJsonObject &object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); };
        auto one = [&](const QJsonValue &value) {
            return doc({{QStringLiteral("files"), QJsonObject{{QStringLiteral("a.txt"), value}}},
                        {QStringLiteral("remove"), QJsonArray()}});
        };
        auto file = [&](const QJsonValue &h, const QJsonValue &size, const QJsonValue &l) {
            QJsonObject e{{QStringLiteral("hash"), h}, {QStringLiteral("size"), size}};
            if (!l.isUndefined())
                e.insert(QStringLiteral("download_link"), l);
            return one(e);
        };
        QTest::newRow("files array") << doc({{QStringLiteral("files"), QJsonArray()}}) << QStringLiteral("\"files\"");
        QTest::newRow("no files") << doc({{QStringLiteral("version"), QStringLiteral("2")}}) << QStringLiteral("\"files\"");
        QTest::newRow("remove object") << doc({{QStringLiteral("files"), QJsonObject()}, {QStringLiteral("remove"), QJsonObject()}})
                                       << QStringLiteral("\"remove\"");
        QTest::newRow("entry string") << one(QStringLiteral("x")) << QStringLiteral("a.txt: entry");
        QTest::newRow("short hash") << file(QStringLiteral("abc"), 1, link) << QStringLiteral("a.txt: \"hash\"");
        QTest::newRow("hash number") << file(5, 1, link) << QStringLiteral("a.txt: \"hash\"");
        QTest::newRow("negative size") << file(hash, -1, link) << QStringLiteral("a.txt: \"size\"");
        QTest::newRow("fractional size") << file(hash, 1.5, link) << QStringLiteral("a.txt: \"size\"");
        QTest::newRow("huge size") << file(hash, 1e300, link) << QStringLiteral("a.txt: \"size\" is larger");
        QTest::newRow("size text") << file(hash, QStringLiteral("1"), link) << QStringLiteral("a.txt: \"size\"");
        QTest::newRow("file link") << file(hash, 1, QStringLiteral("file:///etc/passwd"))
                                   << QStringLiteral("a.txt: \"download_link\"");
        QTest::newRow("no link") << file(hash, 1, QJsonValue(QJsonValue::Undefined))
                                 << QStringLiteral("a.txt: \"download_link\"");
        // Each file under the limit, together far above what memory should hold.
        QJsonObject many;
        for (int i = 0; i < 3; ++i)
            many.insert(QStringLiteral("f%1").arg(i), QJsonObject{{QStringLiteral("hash"), hash},
                                                                  {QStringLiteral("size"), 1000000000},
                                                                  {QStringLiteral("download_link"), link}});
        // Each entry is a look at the file system, so their count is bounded too.
        QJsonArray removals;
        for (int i = 0; i <= UpdateService::kMaxRemoveEntries; ++i)
            removals.append(QStringLiteral("a.txt"));
        QTest::newRow("remove too long") << doc({{QStringLiteral("files"), QJsonObject()}, {QStringLiteral("remove"), removals}})
                                         << QStringLiteral("\"remove\" has more than");
        QTest::newRow("huge total") << doc({{QStringLiteral("files"), many}, {QStringLiteral("remove"), QJsonArray{QStringLiteral("a.txt")}}})
                                    << QStringLiteral("larger than");
    }

    void refusedManifestsLetTheProgramStart()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, reason);
        // The installed a.txt differs from the manifest's, so its entry would be fetched.
        QVERIFY(writeTestFile(inInstall(QStringLiteral("a.txt")), "installed"));
        serveManifest(body);
        QSignalSpy failed(updater.get(), &UpdateService::updateFailed);
        QSignalSpy none(updater.get(), &UpdateService::noUpdateAvailable);
        check();
        QCOMPARE(updater->state(), QStringLiteral("idle"));
        QCOMPARE(none.count(), 1);
        QCOMPARE(failed.count(), 0);
        const QString log = updateLogText();
        const qsizetype at = log.indexOf(QStringLiteral("[ERR] updater: invalid manifest: "));
        QVERIFY2(at >= 0 && log.indexOf(reason, at) > at, qPrintable(log));
        // Nothing of it can be started later, and nothing was staged.
        QVERIFY(!updater->hasUpdate());
        QVERIFY(updater->removeList().isEmpty());
        updater->startDownload();
        QCOMPARE(updater->state(), QStringLiteral("idle"));
        QVERIFY(QDir(staging->path()).isEmpty());
        // The next good manifest is taken as usual.
        QVERIFY(writeTestFile(inRelease(QStringLiteral("a.txt")), "released"));
        publish();
        check();
        QCOMPARE(updater->state(), QStringLiteral("update_available"));
        QCOMPARE(updater->fileCount(), 1);
    }

    void entriesThatWouldNotBeFetchedAreNotJudged()
    {
        // Matches the installed file: never fetched, so its odd size and
        // missing link do not matter; neither does a non-object entry for a
        // file that is not installed (its hash reads empty, as the missing file's).
        QVERIFY(writeTestFile(inInstall(QStringLiteral("a.txt")), "x"));
        const QJsonObject same{{QStringLiteral("hash"), sha256Of("x")}, {QStringLiteral("size"), -1}};
        serveManifest(manifestWith({{QStringLiteral("a.txt"), same}, {QStringLiteral("gone.txt"), QStringLiteral("junk")}}));
        QSignalSpy none(updater.get(), &UpdateService::noUpdateAvailable);
        check();
        QCOMPARE(updater->state(), QStringLiteral("idle"));
        QCOMPARE(none.count(), 1);
        QVERIFY(updateLogText().contains(QStringLiteral("no update needed")));

        serveManifest(manifestWith({{QStringLiteral("a.txt"), same}, {QStringLiteral("b.txt"), entry("new")}}));
        check();
        QCOMPARE(updater->state(), QStringLiteral("update_available"));
        QCOMPARE(updater->fileCount(), 1);
        QCOMPARE(updater->downloads().at(0).relativePath, QStringLiteral("b.txt"));
    }

    void previousFailureIsReportedOnceAndDeleted()
    {
        publish();
        QVERIFY(writeTestFile(inInstall(QStringLiteral("updater.log")), "  \nFailed to copy 'a' to 'b': denied\nsecond\n\n"));
        QSignalSpy reported(updater.get(), &UpdateService::previousErrorChanged);
        QString errorWhenChecking;
        connect(updater.get(), &UpdateService::stateChanged, this, [&] {
            if (updater->state() == QLatin1String("checking"))
                errorWhenChecking = updater->previousError();
        });
        check();
        const QString expected = QStringLiteral("Failed to copy 'a' to 'b': denied\nsecond");
        QCOMPARE(reported.count(), 1);
        QCOMPARE(errorWhenChecking, expected);
        QVERIFY(!QFile::exists(inInstall(QStringLiteral("updater.log"))));
        // One record, its line break escaped.
        QVERIFY(updateLogText().contains(QStringLiteral("previous update failed: Failed to copy 'a' to 'b': denied\\nsecond\n")));

        // Gone now: the next check reports nothing and keeps the text.
        check();
        QCOMPARE(reported.count(), 1);
        QCOMPARE(updater->previousError(), expected);

        // Blanks only: deleted without a report.
        QVERIFY(writeTestFile(inInstall(QStringLiteral("updater.log")), " \n\r\n\t"));
        check();
        QCOMPARE(reported.count(), 1);
        QVERIFY(!QFile::exists(inInstall(QStringLiteral("updater.log"))));

        // Cannot be opened: neither reported nor deleted.
        QVERIFY(QDir().mkpath(inInstall(QStringLiteral("updater.log"))));
        check();
        QCOMPARE(reported.count(), 1);
        QVERIFY(QFileInfo(inInstall(QStringLiteral("updater.log"))).isDir());
    }

    void persianTextsFollowTheLanguage()
    {
        publish();
        updater->setLang(QStringLiteral("fa"));
        QStringList seen;
        connect(updater.get(), &UpdateService::statusTextChanged, this, [&] { seen.append(updater->statusText()); });
        check();
        QCOMPARE(seen, (QStringList{QString::fromUtf8("بررسی بروزرسانی..."),
                                    QString::fromUtf8("بررسی فایل\u200cهای محلی...")}));
        // Only "fa" itself selects Persian.
        updater->setLang(QStringLiteral("FA"));
        seen.clear();
        check();
        QCOMPARE(seen.value(0), QStringLiteral("Checking for updates..."));
    }

    void skipReturnsToIdleAndIgnoresTheLateManifest()
    {
        QVERIFY(writeTestFile(inRelease(QStringLiteral("new.txt")), "new"));
        publish();
        service->nextCall(QStringLiteral("/api/update"), {{QStringLiteral("delay_ms"), 300}});
        QSignalSpy skipped(updater.get(), &UpdateService::updateSkipped);
        QSignalSpy ready(updater.get(), &UpdateService::manifestReady);
        updater->checkForUpdates();
        QCOMPARE(updater->state(), QStringLiteral("checking"));
        updater->skipUpdate();
        QCOMPARE(skipped.count(), 1);
        QCOMPARE(updater->state(), QStringLiteral("idle"));
        QTest::qWait(600);
        QCOMPARE(ready.count(), 0);
        QCOMPARE(updater->state(), QStringLiteral("idle"));
        QVERIFY(updateLogText().contains(QStringLiteral("user skipped update")));
    }
};

CORVANA_TEST_MAIN(UpdateCheckTest)
#include "update_check_test.moc"
