// Any bytes as the update manifest's body, against a small installation of
// three files: one answer per manifest, and a download list that can be
// fetched, verified and staged without leaving the staging folder.
#include "fuzz_targets.h"

#include "updates/update_service.h"

#include <QDir>
#include <QFile>

namespace {

// The seed corpus names these files with their real digests.
const char *const kInstalled[][2] = {
    {"corvana", "corvana 1.5.0\n"},
    {"lib/libcore.so", "core v1\n"},
    {"data/config.txt", "config v1\n"},
};

QString installDir()
{
    static const QString dir = [] {
        const QString root = fuzz::scratchDir() + QStringLiteral("/install");
        for (const auto &file : kInstalled) {
            const QString path = root + QLatin1Char('/') + QString::fromLatin1(file[0]);
            QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
            QFile out(path);
            FUZZ_CHECK(out.open(QIODevice::WriteOnly) && out.write(file[1]) > 0);
        }
        return root;
    }();
    return dir;
}

// Where a path lands below a folder, or empty when it would land elsewhere.
QString landsAt(const QString &root, const QString &path)
{
    const QString target = QDir::cleanPath(root + QLatin1Char('/') + path);
    return target.startsWith(root + QLatin1Char('/')) ? target : QString();
}

// As the verification computes it, so the comparison can succeed.
bool isLowerHexDigest(const QString &text)
{
    if (text.size() != 64)
        return false;
    for (const QChar c : text) {
        if (!(c >= QLatin1Char('0') && c <= QLatin1Char('9')) && !(c >= QLatin1Char('a') && c <= QLatin1Char('f')))
            return false;
    }
    return true;
}

} // namespace

int fuzz::updateManifest(const std::uint8_t *data, std::size_t size)
{
    const QString staging = scratchDir() + QStringLiteral("/staging/files");
    UpdateService updater;
    updater.setInstallDir(installDir());
    int ready = 0;
    int none = 0;
    int failed = 0;
    QObject::connect(&updater, &UpdateService::manifestReady, [&ready] { ++ready; });
    QObject::connect(&updater, &UpdateService::noUpdateAvailable, [&none] { ++none; });
    QObject::connect(&updater, &UpdateService::updateFailed, [&failed](const QString &) { ++failed; });

    updater.takeManifestForTesting(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));

    const QList<PendingDownload> downloads = updater.downloads();
    const QStringList removals = updater.removeList();
    const bool offers = !downloads.isEmpty() || !removals.isEmpty();
    FUZZ_CHECK(ready + none == 1 && failed == 0);
    FUZZ_CHECK((ready == 1) == offers);
    FUZZ_CHECK(updater.state() == (offers ? QStringLiteral("update_available") : QStringLiteral("idle")));
    FUZZ_CHECK(updater.fileCount() == downloads.size() && updater.hasUpdate() == !downloads.isEmpty());

    qint64 total = 0;
    for (const PendingDownload &download : downloads) {
        FUZZ_CHECK(!landsAt(staging, download.relativePath).isEmpty());
        FUZZ_CHECK(isLowerHexDigest(download.expectedHash));
        FUZZ_CHECK(download.size >= 0 && download.size <= UpdateService::kMaxFileBytes);
        total += download.size;
    }
    FUZZ_CHECK(total == updater.totalBytes() && total <= UpdateService::kMaxUpdateBytes);
    for (const QString &path : removals)
        FUZZ_CHECK(!landsAt(installDir(), path).isEmpty());

    if (!offers) {
        // A manifest that offered nothing leaves nothing to start.
        updater.startDownload();
        FUZZ_CHECK(updater.state() == QStringLiteral("idle") && failed == 0);
    }
    return 0;
}
