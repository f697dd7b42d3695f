#pragma once

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class QNetworkReply;

// One file the running update still has to fetch.
struct PendingDownload
{
    QString relativePath;
    QString downloadLink;
    QString expectedHash;
    qint64 size = 0;
};

// The self-updater: compares the installation with the service's manifest,
// fetches what changed, proves it by SHA-256, stages it and hands over to
// the applier. QML reaches it as `updater`.
class UpdateService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString state READ state NOTIFY stateChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(qint64 totalBytes READ totalBytes NOTIFY progressChanged)
    Q_PROPERTY(qint64 downloadedBytes READ downloadedBytes NOTIFY progressChanged)
    Q_PROPERTY(QString remoteVersion READ remoteVersion NOTIFY manifestReady)
    Q_PROPERTY(int fileCount READ fileCount NOTIFY manifestReady)
    Q_PROPERTY(bool hasUpdate READ hasUpdate NOTIFY manifestReady)
    Q_PROPERTY(QString previousError READ previousError NOTIFY previousErrorChanged)

public:
    // Silence limits of the manifest and of each file.
    static constexpr int kManifestTimeoutMs = 5000;
    static constexpr int kDownloadTimeoutMs = 30000;
    // Neither has a total time: a slow line takes as long as it needs. Each
    // ends once a minute brings fewer than 60 KiB (shell/transfer_guard.h), so
    // a trickle ends as a stall does: a manifest as a failed check, a file as
    // a failed download.
    static constexpr int kLowSpeedWindowMs = 60000;
    // Bodies stay in memory until staging, so both are bounded.
    static constexpr qint64 kMaxFileBytes = qint64(1) << 30;
    static constexpr qint64 kMaxUpdateBytes = qint64(2) << 30;
    static constexpr qint64 kMaxManifestBytes = qint64(16) << 20;
    // Each remove entry is looked up in the installation; a release names far fewer.
    static constexpr int kMaxRemoveEntries = 10000;

    static const char *const kAppVersion;
    // Program files of this platform in the installation directory.
    static const char *const kMainExecutable;
    static const char *const kApplierProgram;

    explicit UpdateService(QObject *parent = nullptr);
    ~UpdateService() override;

    QString state() const { return m_state; }
    QString statusText() const { return m_statusText; }
    double progress() const;
    qint64 totalBytes() const { return m_totalBytes; }
    qint64 downloadedBytes() const { return m_downloadedBytes; }
    QString remoteVersion() const { return m_remoteVersion; }
    int fileCount() const { return int(m_downloads.size()); }
    bool hasUpdate() const { return !m_downloads.isEmpty(); }
    QString previousError() const { return m_previousError; }

    QString installDir() const { return m_installDir; }
    QString stagingDir() const { return m_stagingDir; }
    QList<PendingDownload> downloads() const { return m_downloads; }
    QStringList removeList() const { return m_removeList; }

    static bool isSafeRelativePath(const QString &path);

    // Tests: shorter stall limits, a shorter low-speed window (the same
    // least pace over it), and a staging root of their own (default: the
    // player's private temporary folder).
    void setTimeoutsForTesting(int manifestMs, int downloadMs);
    void setLowSpeedWindowForTesting(int ms) { m_lowSpeedWindowMs = ms; }
    void setStagingRootForTesting(const QString &root) { m_stagingRoot = root; }
    // Tests: name of the plan file inside the staging directory, to make it unwritable.
    void setPlanFileNameForTesting(const QString &name) { m_planFileName = name; }
    // Fuzzing: a manifest body as the service's reply brings it, without the network.
    void takeManifestForTesting(const QByteArray &body) { evaluateManifestBody(body); }

    Q_INVOKABLE void setBaseUrl(const QString &url);
    Q_INVOKABLE void setInstallDir(const QString &dir);
    Q_INVOKABLE void setLang(const QString &lang);
    Q_INVOKABLE void checkForUpdates();
    Q_INVOKABLE void startDownload();
    Q_INVOKABLE void skipUpdate();

signals:
    void stateChanged();
    void statusTextChanged();
    void progressChanged();
    void manifestReady();
    void previousErrorChanged();
    void noUpdateAvailable();
    void updateReadyToInstall();
    void updateSkipped();
    void updateFailed(QString message);

private:
    void setState(const QString &state);
    void setStatusText(const QString &text);
    void fail(const QString &message);
    void dropActiveReply();

    void checkPreviousFailure();
    void onManifestReply(QNetworkReply *reply);
    // The body of a manifest reply that arrived whole.
    void evaluateManifestBody(const QByteArray &body);
    void evaluateManifest(const QJsonObject &manifest);
    // Why a manifest cannot be used, or empty; such a manifest offers no update.
    QString manifestShapeProblem() const;
    static QString downloadEntryProblem(const QString &path, const QJsonValue &entry);
    static QStringList scanSkips();
    void scanLocalFiles();
    QString computeDownloads();

    void downloadNext();
    void onDownloadProgress(qint64 received, qint64 total);
    void onDownloadReply(QNetworkReply *reply, const QString &relativePath);
    void verifyAndStage();
    bool prepareStagingDir();
    bool writeApplyPlan();
    void launchStub();

    QNetworkAccessManager m_networkManager;
    QString m_baseUrl;
    QString m_installDir;
    QString m_lang = QStringLiteral("en");
    QString m_state = QStringLiteral("idle");
    QString m_statusText;
    QString m_previousError;
    QJsonObject m_manifest;
    QString m_remoteVersion;
    QJsonObject m_remoteFiles;
    QStringList m_removeList;
    QJsonObject m_localFiles;
    QList<PendingDownload> m_downloads;
    qint64 m_currentIndex = 0;
    qint64 m_totalBytes = 0;
    qint64 m_downloadedBytes = 0;
    qint64 m_finishedBytes = 0; // manifest sizes of the files already fetched
    qint64 m_heldBytes = 0;     // real size of the bodies held for staging
    QString m_stagingDir;
    QHash<QString, QByteArray> m_downloadedData;

    QPointer<QNetworkReply> m_activeReply;
    bool m_tooLarge = false;
    bool m_pastAnnounced = false; // the body ran past the size its manifest announced
    bool m_handedOver = false; // an applier runs: never start a second one
    int m_manifestTimeoutMs = kManifestTimeoutMs;
    int m_downloadTimeoutMs = kDownloadTimeoutMs;
    int m_lowSpeedWindowMs = kLowSpeedWindowMs;
    QString m_stagingRoot;
    QString m_planFileName = QStringLiteral("apply.json");
};
