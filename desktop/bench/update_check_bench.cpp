// How long an update check takes on a large installation, with the hash
// cache missing (every file is read and hashed) and with it in place.
//   CORVANA_BENCH_FILES (default 2000) files of CORVANA_BENCH_FILE_KIB (default 100) KiB.
// The manifest is served from memory, so only the check itself is timed.
#include "updates/update_service.h"

#include <benchmark/benchmark.h>

#include <QCryptographicHash>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>

namespace {

int envNumber(const char *name, int fallback)
{
    const char *text = std::getenv(name);
    const int value = text ? std::atoi(text) : 0;
    return value > 0 ? value : fallback;
}

struct Installation
{
    QTemporaryDir dir;
    QByteArray manifest;
    QHttpServer server;
    QString baseUrl;
    bool ready = false;

    Installation()
    {
        const int files = envNumber("CORVANA_BENCH_FILES", 2000);
        const qint64 bytes = qint64(envNumber("CORVANA_BENCH_FILE_KIB", 100)) * 1024;
        QJsonObject entries;
        for (int i = 0; i < files; ++i) {
            const QString relative = QStringLiteral("pack%1/file%2.bin").arg(i / 100).arg(i);
            QByteArray content(bytes, char('a' + i % 26));
            content.replace(0, 8, QByteArray::number(i).rightJustified(8, '0'));
            QDir().mkpath(dir.path() + QStringLiteral("/pack%1").arg(i / 100));
            QFile file(dir.path() + QLatin1Char('/') + relative);
            if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
                return;
            entries.insert(relative, QJsonObject{
                {QStringLiteral("hash"),
                 QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex())},
                {QStringLiteral("size"), bytes},
                {QStringLiteral("download_link"), QStringLiteral("http://127.0.0.1:1/unused")}});
        }
        manifest = QJsonDocument(QJsonObject{{QStringLiteral("version"), QStringLiteral("1.5.0")},
                                             {QStringLiteral("files"), entries},
                                             {QStringLiteral("remove"), QJsonArray()}})
                       .toJson(QJsonDocument::Compact);
        server.route(QStringLiteral("/api/update"),
                     [this] { return QHttpServerResponse("application/json", manifest); });
        const quint16 port = server.listen(QHostAddress::LocalHost, 0);
        baseUrl = QStringLiteral("http://127.0.0.1:%1").arg(port);
        ready = port != 0;
    }
};

Installation *installation()
{
    static auto *shared = new Installation;
    return shared;
}

// One whole check; false unless it found the installation current.
bool runCheck(UpdateService &updater)
{
    QEventLoop loop;
    bool current = false;
    QObject::connect(&updater, &UpdateService::noUpdateAvailable, &loop, [&] { current = true; loop.quit(); });
    QObject::connect(&updater, &UpdateService::manifestReady, &loop, &QEventLoop::quit);
    QObject::connect(&updater, &UpdateService::updateFailed, &loop, &QEventLoop::quit);
    updater.checkForUpdates();
    loop.exec();
    return current;
}

void check(benchmark::State &state, bool warm)
{
    Installation *inst = installation();
    if (!inst->ready) {
        state.SkipWithError("could not build the installation");
        return;
    }
    UpdateService updater;
    updater.setBaseUrl(inst->baseUrl);
    updater.setInstallDir(inst->dir.path());
    const QString cache = inst->dir.path() + QStringLiteral("/hash.json");
    if (warm && !runCheck(updater)) {
        state.SkipWithError("installation not current");
        return;
    }
    for (auto _ : state) {
        if (!warm) {
            state.PauseTiming();
            QFile::remove(cache);
            state.ResumeTiming();
        }
        if (!runCheck(updater)) {
            state.SkipWithError("installation not current");
            return;
        }
    }
    state.counters["files"] = double(QJsonDocument::fromJson(inst->manifest).object().value(QStringLiteral("files")).toObject().size());
}

void BM_CheckColdHashCache(benchmark::State &state) { check(state, false); }
void BM_CheckWarmHashCache(benchmark::State &state) { check(state, true); }

BENCHMARK(BM_CheckColdHashCache)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_CheckWarmHashCache)->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace
