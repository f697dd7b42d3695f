#include "updates/update_service.h"

#include "platform/private_places.h"
#include "shell/logger.h"
#include "shell/transfer_guard.h"
#include "updates/update_hash_cache.h"
#include "updates/update_texts.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QSaveFile>
#include <QUrl>

#include <algorithm>
#include <cmath>

const char *const UpdateService::kAppVersion = "1.5.0";
const char *const UpdateService::kMainExecutable = "corvana";
const char *const UpdateService::kApplierProgram = "CorvanaUpdateStub";

namespace {

const QString kCategory = QStringLiteral("updater");

void logLine(Logger::Level level, const QString &message)
{
    Logger::instance().log(level, kCategory, message);
}

QString sha256Hex(const QByteArray &body)
{
    return QString::fromLatin1(QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex());
}

bool isHexDigest(const QString &text)
{
    if (text.size() != 64)
        return false;
    for (const QChar c : text) {
        if (!c.isDigit() && !(c >= QLatin1Char('a') && c <= QLatin1Char('f'))
            && !(c >= QLatin1Char('A') && c <= QLatin1Char('F')))
            return false;
    }
    return true;
}

QString pidText()
{
    return QString::number(QCoreApplication::applicationPid());
}

enum class RemovePlace { Absent, Installation, Inside, Outside };

// Where a remove entry stands as the applier judges it: only a name lstat
// finds counts (a dangling link too, which goes as itself); one that resolves
// to the installation is passed over there and one that resolves outside is
// refused, failing the whole update.
RemovePlace removePlace(const QString &installRoot, const QString &target)
{
    const QFileInfo info(target);
    if (!info.exists() && !info.isSymLink())
        return RemovePlace::Absent;
    const QString resolved = info.exists() ? info.canonicalFilePath()
                                           : QFileInfo(info.absolutePath()).canonicalFilePath() + QLatin1Char('/')
                                                 + info.fileName();
    if (resolved == installRoot)
        return RemovePlace::Installation;
    const QString inside = installRoot.endsWith(QLatin1Char('/')) ? installRoot : installRoot + QLatin1Char('/');
    return resolved.startsWith(inside) ? RemovePlace::Inside : RemovePlace::Outside;
}

} // namespace

UpdateService::UpdateService(QObject *parent)
    : QObject(parent)
{
    // The program's own folder unless start-up or a test says otherwise.
    if (QCoreApplication::instance())
        m_installDir = QCoreApplication::applicationDirPath();
}

UpdateService::~UpdateService()
{
    dropActiveReply();
}

double UpdateService::progress() const
{
    return m_totalBytes < 1 ? 0.0 : double(m_downloadedBytes) / double(m_totalBytes);
}

void UpdateService::setTimeoutsForTesting(int manifestMs, int downloadMs)
{
    m_manifestTimeoutMs = manifestMs;
    m_downloadTimeoutMs = downloadMs;
}

void UpdateService::setBaseUrl(const QString &url)
{
    m_baseUrl = url;
}

void UpdateService::setInstallDir(const QString &dir)
{
    m_installDir = dir;
}

void UpdateService::setLang(const QString &lang)
{
    m_lang = lang;
}

void UpdateService::setState(const QString &state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged();
}

void UpdateService::setStatusText(const QString &text)
{
    if (text == m_statusText)
        return;
    m_statusText = text;
    emit statusTextChanged();
}

void UpdateService::fail(const QString &message)
{
    setState(QStringLiteral("error"));
    emit updateFailed(message);
}

// A reply that is no longer wanted must not drive the state any more.
void UpdateService::dropActiveReply()
{
    if (!m_activeReply)
        return;
    QNetworkReply *reply = m_activeReply;
    m_activeReply = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    reply->abort();
    reply->deleteLater();
}

bool UpdateService::isSafeRelativePath(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QString cleaned = QDir::cleanPath(path);
    if (cleaned.startsWith(QLatin1String("..")) || cleaned.startsWith(QLatin1Char('/'))
        || cleaned.contains(QLatin1String("/../")) || cleaned.contains(QLatin1String("\\..\\"))
        || cleaned.startsWith(QLatin1Char('\\')))
        return false;
    // Stricter than the folding above: a backslash is a separator on Windows
    // and a colon makes a drive or a stream, "." alone is the folder itself,
    // and control characters have no place in a file name.
    if (cleaned == QLatin1String(".") || path.contains(QLatin1Char('\\')) || path.contains(QLatin1Char(':')))
        return false;
    for (const QChar c : path) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

void UpdateService::checkForUpdates()
{
    if (m_state != QLatin1String("idle") && m_state != QLatin1String("error"))
        return;
    checkPreviousFailure();
    setState(QStringLiteral("checking"));
    setStatusText(updateText(UpdateText::CheckStarts, m_lang));

    QNetworkRequest request(QUrl(m_baseUrl + QStringLiteral("/api/update")));
    request.setRawHeader("X-App-Version", kAppVersion);
    QNetworkReply *reply = m_networkManager.get(request);
    m_activeReply = reply;
    m_tooLarge = false;
    TransferGuard::watch(reply, m_manifestTimeoutMs, m_lowSpeedWindowMs);
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64) {
        if (received > kMaxManifestBytes && !m_tooLarge) {
            m_tooLarge = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onManifestReply(reply); });
}

void UpdateService::checkPreviousFailure()
{
    const QString path = m_installDir + QStringLiteral("/updater.log");
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return;
    const QString text = QString::fromUtf8(file.readAll()).trimmed();
    file.close();
    if (!text.isEmpty()) {
        logLine(Logger::Warn, QStringLiteral("previous update failed: ") + text);
        m_previousError = text;
        emit previousErrorChanged();
    }
    QFile::remove(path);
}

void UpdateService::onManifestReply(QNetworkReply *reply)
{
    reply->deleteLater();
    if (reply != m_activeReply)
        return;
    m_activeReply = nullptr;

    if (reply->error() != QNetworkReply::NoError) {
        const QString why = m_tooLarge ? QStringLiteral("manifest larger than %1 bytes").arg(kMaxManifestBytes)
                                       : TransferGuard::errorText(reply);
        logLine(Logger::Warn, QStringLiteral("manifest fetch failed: ") + why);
        setState(QStringLiteral("idle"));
        emit noUpdateAvailable();
        return;
    }
    evaluateManifestBody(reply->readAll());
}

void UpdateService::evaluateManifestBody(const QByteArray &body)
{
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (!doc.isObject()) {
        logLine(Logger::Error, QStringLiteral("invalid manifest JSON"));
        setState(QStringLiteral("idle"));
        emit noUpdateAvailable();
        return;
    }
    evaluateManifest(doc.object());
}

void UpdateService::evaluateManifest(const QJsonObject &manifest)
{
    m_manifest = manifest;
    m_remoteVersion = manifest.value(QStringLiteral("version")).toString();
    m_remoteFiles = manifest.value(QStringLiteral("files")).toObject();
    m_removeList.clear();
    m_downloads.clear();
    m_totalBytes = 0;

    QString problem = manifestShapeProblem();
    if (problem.isEmpty()) {
        // A release keeps entries for older installations: only what the
        // applier would change here makes an update, or it would come back
        // at every start.
        const QString installRoot = QFileInfo(m_installDir).canonicalFilePath();
        for (const QJsonValue &entry : manifest.value(QStringLiteral("remove")).toArray()) {
            const QString path = entry.toString();
            // The applier drops empty entries anyway; unsafe ones never reach it.
            if (path.isEmpty())
                continue;
            if (!isSafeRelativePath(path)) {
                logLine(Logger::Warn, QStringLiteral("skipping invalid path: ") + path);
                continue;
            }
            switch (removePlace(installRoot, m_installDir + QLatin1Char('/') + path)) {
            case RemovePlace::Absent:
            case RemovePlace::Installation:
                continue;
            case RemovePlace::Outside:
                logLine(Logger::Warn, QStringLiteral("skipping remove entry that leads outside the installation: ") + path);
                continue;
            case RemovePlace::Inside:
                m_removeList.append(path);
                break;
            }
        }
        logLine(Logger::Info, QStringLiteral("remote version: %1 files: %2 remove: %3")
                                  .arg(m_remoteVersion)
                                  .arg(m_remoteFiles.size())
                                  .arg(m_removeList.size()));
        scanLocalFiles();
        problem = computeDownloads();
    }
    if (!problem.isEmpty()) {
        // A bad manifest is the service's fault, not the user's: the program
        // starts as it is, and nothing of the manifest can be started later.
        logLine(Logger::Error, QStringLiteral("invalid manifest: ") + problem);
        m_downloads.clear();
        m_removeList.clear();
        m_totalBytes = 0;
        setState(QStringLiteral("idle"));
        emit noUpdateAvailable();
        return;
    }

    if (m_downloads.isEmpty() && m_removeList.isEmpty()) {
        logLine(Logger::Info, QStringLiteral("no update needed"));
        setState(QStringLiteral("idle"));
        emit noUpdateAvailable();
        return;
    }
    logLine(Logger::Info, QStringLiteral("update available: %1 files, %2 bytes").arg(m_downloads.size()).arg(m_totalBytes));
    // The scan's line would stay under the offer's title; the card says the rest.
    setStatusText(QString());
    setState(QStringLiteral("update_available"));
    emit manifestReady();
}

QString UpdateService::manifestShapeProblem() const
{
    if (!m_manifest.value(QStringLiteral("files")).isObject())
        return QStringLiteral("\"files\" is not an object");
    const QJsonValue remove = m_manifest.value(QStringLiteral("remove"));
    if (!remove.isUndefined() && !remove.isArray())
        return QStringLiteral("\"remove\" is not an array");
    if (remove.toArray().size() > kMaxRemoveEntries)
        return QStringLiteral("\"remove\" has more than %1 entries").arg(kMaxRemoveEntries);
    return QString();
}

// Only what would be fetched is checked: an entry that matches the installed
// file is never downloaded, so its shape cannot harm anything.
QString UpdateService::downloadEntryProblem(const QString &path, const QJsonValue &value)
{
    if (!value.isObject())
        return path + QStringLiteral(": entry is not an object");
    const QJsonObject entry = value.toObject();
    const QJsonValue hash = entry.value(QStringLiteral("hash"));
    if (!hash.isString() || !isHexDigest(hash.toString()))
        return path + QStringLiteral(": \"hash\" is not a SHA-256 digest");
    const QJsonValue size = entry.value(QStringLiteral("size"));
    const double bytes = size.toDouble(-1);
    if (!size.isDouble() || bytes < 0 || std::floor(bytes) != bytes)
        return path + QStringLiteral(": \"size\" is not a byte count");
    if (bytes > double(kMaxFileBytes))
        return path + QStringLiteral(": \"size\" is larger than %1 bytes").arg(kMaxFileBytes);
    const QUrl link(entry.value(QStringLiteral("download_link")).toString(), QUrl::TolerantMode);
    const QString scheme = link.scheme().toLower();
    if (!link.isValid() || link.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return path + QStringLiteral(": \"download_link\" is not an http(s) address");
    return QString();
}

QStringList UpdateService::scanSkips()
{
    return {QStringLiteral("hash.json"), QStringLiteral("updater.log"), QString::fromLatin1(kApplierProgram)};
}

void UpdateService::scanLocalFiles()
{
    setStatusText(updateText(UpdateText::ScanStarts, m_lang));
    m_localFiles = UpdateHashCache::scan(m_installDir, scanSkips());
}

QString UpdateService::computeDownloads()
{
    m_downloads.clear();
    m_totalBytes = 0;
    const QStringList skipped = scanSkips();
    UpdateHashCache::FolderMemo folders;
    for (auto it = m_remoteFiles.constBegin(); it != m_remoteFiles.constEnd(); ++it) {
        if (!isSafeRelativePath(it.key())) {
            logLine(Logger::Warn, QStringLiteral("skipping invalid path: ") + it.key());
            continue;
        }
        // Such a file never has a local hash to match: it would be fetched at every start.
        if (!UpdateHashCache::canList(it.key(), skipped)) {
            logLine(Logger::Warn, QStringLiteral("skipping path the local scan passes over: ") + it.key());
            continue;
        }
        const QJsonObject entry = it.value().toObject();
        const QString hash = entry.value(QStringLiteral("hash")).toString();
        const QString local = m_localFiles.value(it.key()).toObject().value(QStringLiteral("hash")).toString();
        // The local digest is lower case; the manifest's may come in capitals.
        if (hash.compare(local, Qt::CaseInsensitive) == 0)
            continue;
        // Behind a linked folder: neither listed by the scan nor written by the
        // applier where the link leads outside, so fetched at every start.
        if (UpdateHashCache::passesThroughLink(m_installDir, it.key(), folders)) {
            logLine(Logger::Warn, QStringLiteral("skipping path the local scan passes over: ") + it.key());
            continue;
        }
        const QString problem = downloadEntryProblem(it.key(), it.value());
        if (!problem.isEmpty())
            return problem;
        PendingDownload download;
        download.relativePath = it.key();
        download.downloadLink = entry.value(QStringLiteral("download_link")).toString();
        // The shape check allows capitals; the verification computes lower case.
        download.expectedHash = hash.toLower();
        download.size = entry.value(QStringLiteral("size")).toInteger();
        m_downloads.append(download);
        m_totalBytes += download.size; // each size is bounded, so this cannot overflow
    }
    if (m_totalBytes > kMaxUpdateBytes)
        return QStringLiteral("the update is larger than %1 bytes").arg(kMaxUpdateBytes);
    return QString();
}

void UpdateService::startDownload()
{
    // One run at a time: a second chain would interleave with the first.
    static const QStringList kBusy = {QStringLiteral("checking"), QStringLiteral("downloading"),
                                      QStringLiteral("verifying"), QStringLiteral("staging"),
                                      QStringLiteral("launching"), QStringLiteral("done")};
    if (kBusy.contains(m_state) || m_handedOver)
        return;
    if (m_downloads.isEmpty()) {
        // An update that only removes paths still has to reach the applier.
        if (!m_removeList.isEmpty())
            verifyAndStage();
        return;
    }
    setState(QStringLiteral("downloading"));
    m_currentIndex = 0;
    m_downloadedBytes = 0;
    m_finishedBytes = 0;
    m_heldBytes = 0;
    m_downloadedData.clear();
    downloadNext();
}

void UpdateService::downloadNext()
{
    if (m_currentIndex >= m_downloads.size()) {
        verifyAndStage();
        return;
    }
    const PendingDownload &download = m_downloads.at(m_currentIndex);
    const QString path = download.relativePath;
    setStatusText(updateText(UpdateText::Downloading, m_lang, path));
    logLine(Logger::Info, QStringLiteral("downloading: %1 (%2 bytes)").arg(path).arg(download.size));

    QNetworkRequest request(QUrl(download.downloadLink, QUrl::TolerantMode));
    request.setRawHeader("X-App-Version", kAppVersion);
    QNetworkReply *reply = m_networkManager.get(request);
    m_activeReply = reply;
    m_tooLarge = false;
    m_pastAnnounced = false;
    TransferGuard::watch(reply, m_downloadTimeoutMs, m_lowSpeedWindowMs);
    // A body longer than its manifest says cannot be the file: it stops as
    // soon as it is known to be longer, not when it has all come.
    const qint64 announced = download.size;
    const auto stopIfLonger = [this, reply, announced](qint64 bytes) {
        // An error's body is not the file; the failed download reports it.
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (bytes <= announced || reply != m_activeReply || status < 200 || status > 299)
            return false;
        m_pastAnnounced = true;
        reply->abort();
        return true;
    };
    connect(reply, &QNetworkReply::metaDataChanged, this, [reply, stopIfLonger] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid())
            stopIfLonger(length.toLongLong());
    });
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply, stopIfLonger](qint64 received, qint64 total) {
        if (reply != m_activeReply || stopIfLonger(received))
            return;
        if (received > kMaxFileBytes || m_heldBytes + received > kMaxUpdateBytes) {
            m_tooLarge = true;
            reply->abort();
            return;
        }
        onDownloadProgress(received, total);
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, path] { onDownloadReply(reply, path); });
}

void UpdateService::onDownloadProgress(qint64 received, qint64)
{
    // Never past the file's announced size, so never past the total.
    m_downloadedBytes = m_finishedBytes + std::min(received, m_downloads.at(m_currentIndex).size);
    emit progressChanged();
}

void UpdateService::onDownloadReply(QNetworkReply *reply, const QString &relativePath)
{
    reply->deleteLater();
    if (reply != m_activeReply)
        return;
    m_activeReply = nullptr;

    if (m_pastAnnounced) {
        // Reported as a file that is not the one announced, like a wrong hash.
        logLine(Logger::Error, QStringLiteral("size mismatch: %1 is longer than the %2 bytes announced")
                                   .arg(relativePath)
                                   .arg(m_downloads.at(m_currentIndex).size));
        m_downloadedData.clear();
        m_heldBytes = 0;
        setStatusText(updateText(UpdateText::VerificationFailed, m_lang, relativePath));
        fail(QStringLiteral("Hash mismatch: ") + relativePath);
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        const QString why = m_tooLarge ? QStringLiteral("body larger than allowed") : TransferGuard::errorText(reply);
        logLine(Logger::Error, QStringLiteral("download failed: ") + relativePath + QStringLiteral(" \u2014 ") + why);
        m_downloadedData.clear();
        m_heldBytes = 0;
        setStatusText(updateText(UpdateText::DownloadFailed, m_lang, relativePath));
        fail(QStringLiteral("Download failed: ") + relativePath);
        return;
    }
    const QByteArray body = reply->readAll();
    m_heldBytes += body.size();
    m_downloadedData.insert(relativePath, body);
    m_finishedBytes += m_downloads.at(m_currentIndex).size;
    ++m_currentIndex;
    downloadNext();
}

// A stale directory from an earlier attempt of this process id goes first.
// A link in its place is removed as a link: following it would empty
// whatever folder it points at. The folder it is in is the player's alone
// (the shared /tmp is not), so no other account can have put anything there.
bool UpdateService::prepareStagingDir()
{
    const QString root = m_stagingRoot.isEmpty() ? platform::privateTempDir() : m_stagingRoot;
    const QString name = QStringLiteral("corvana-update-") + pidText();
    if (root.isEmpty()) {
        logLine(Logger::Error, QStringLiteral("failed to create staging directory: no private temporary folder"));
        fail(QStringLiteral("Failed to write: ") + name);
        return false;
    }
    m_stagingDir = root + QLatin1Char('/') + name;
    const QFileInfo info(m_stagingDir);
    if (info.isSymLink())
        QFile::remove(m_stagingDir);
    else if (info.exists())
        QDir(m_stagingDir).removeRecursively();
    const QFileInfo after(m_stagingDir);
    if (after.exists() || after.isSymLink() || !QDir().mkpath(m_stagingDir + QStringLiteral("/files"))) {
        logLine(Logger::Error, QStringLiteral("failed to create staging directory: ") + m_stagingDir);
        fail(QStringLiteral("Failed to write: ") + m_stagingDir);
        return false;
    }
    return true;
}

void UpdateService::verifyAndStage()
{
    setState(QStringLiteral("verifying"));
    setStatusText(updateText(UpdateText::Verifying, m_lang));
    if (!prepareStagingDir())
        return;
    const QString filesRoot = m_stagingDir + QStringLiteral("/files");

    for (const PendingDownload &download : std::as_const(m_downloads)) {
        const QString &path = download.relativePath;
        const auto body = m_downloadedData.constFind(path);
        if (body == m_downloadedData.constEnd()) {
            setStatusText(updateText(UpdateText::MissingDownload, m_lang, path));
            fail(QStringLiteral("Missing downloaded file: ") + path);
            return;
        }
        const QString got = sha256Hex(*body);
        if (got != download.expectedHash) {
            logLine(Logger::Error, QStringLiteral("hash mismatch: %1 expected=%2 got=%3")
                                       .arg(path, download.expectedHash, got));
            m_downloadedData.clear();
            setStatusText(updateText(UpdateText::VerificationFailed, m_lang, path));
            fail(QStringLiteral("Hash mismatch: ") + path);
            return;
        }
        const QString target = filesRoot + QLatin1Char('/') + path;
        // The path rule already keeps targets inside; this guards the rule.
        const bool inside = QDir::cleanPath(target).startsWith(filesRoot + QLatin1Char('/'));
        QFile file(target);
        bool written = inside && QDir().mkpath(QFileInfo(target).absolutePath())
                       && file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        // A short write would hand the applier a truncated file.
        written = written && file.write(*body) == body->size() && file.flush();
        file.close();
        if (!written) {
            logLine(Logger::Error, QStringLiteral("failed to write staged file: ") + target);
            m_downloadedData.clear();
            fail(QStringLiteral("Failed to write: ") + path);
            return;
        }
    }
    logLine(Logger::Info, QStringLiteral("all files verified and staged"));
    m_downloadedData.clear();
    m_heldBytes = 0;

    if (writeApplyPlan())
        launchStub();
}

bool UpdateService::writeApplyPlan()
{
    setState(QStringLiteral("staging"));
    setStatusText(updateText(UpdateText::Preparing, m_lang));
    const QJsonObject plan{{QStringLiteral("main_executable"), QString::fromLatin1(kMainExecutable)},
                           {QStringLiteral("remove"), QJsonArray::fromStringList(m_removeList)}};
    const QString path = m_stagingDir + QLatin1Char('/') + m_planFileName;
    QSaveFile file(path);
    // Without a plan the applier can only fail after the program has quit.
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(plan).toJson(QJsonDocument::Indented)) < 0
        || !file.commit()) {
        logLine(Logger::Error, QStringLiteral("failed to write apply.json: ") + path);
        setStatusText(updateText(UpdateText::PrepareFailed, m_lang));
        fail(QStringLiteral("Failed to write apply.json"));
        return false;
    }
    logLine(Logger::Info, QStringLiteral("apply.json written to ") + path);
    return true;
}

void UpdateService::launchStub()
{
    setState(QStringLiteral("launching"));
    setStatusText(updateText(UpdateText::Restarting, m_lang));
    const QString applier = QString::fromLatin1(kApplierProgram);
    const QString program = m_installDir + QLatin1Char('/') + applier;
    if (!QFileInfo(program).isFile()) {
        logLine(Logger::Error, QStringLiteral("stub not found: ") + program);
        setStatusText(updateText(UpdateText::StubNotFound, m_lang));
        fail(applier + QStringLiteral(" not found"));
        return;
    }
    const QString pid = pidText();
    // The id goes third as before and fourth as well: the applier waits for
    // a parent only when the id is in the fourth place.
    const QStringList arguments{m_stagingDir, m_installDir, pid, pid};
    logLine(Logger::Info, QStringLiteral("launching stub: %1 staging=%2 install=%3 pid=%4")
                              .arg(program, m_stagingDir, m_installDir, pid));
    if (!QProcess::startDetached(program, arguments, QString())) {
        logLine(Logger::Error, QStringLiteral("failed to launch stub"));
        setStatusText(updateText(UpdateText::LaunchFailed, m_lang));
        fail(QStringLiteral("Failed to launch ") + applier);
        return;
    }
    m_handedOver = true;
    setState(QStringLiteral("done"));
    emit updateReadyToInstall();
}

void UpdateService::skipUpdate()
{
    // A late reply must not pull the state back out of "idle".
    dropActiveReply();
    m_downloadedData.clear();
    m_heldBytes = 0;
    logLine(Logger::Info, QStringLiteral("user skipped update"));
    setState(QStringLiteral("idle"));
    emit updateSkipped();
}
