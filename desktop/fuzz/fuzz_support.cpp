#include "fuzz_targets.h"

#include "shell/logger.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdlib.h>

namespace fuzz {

namespace {

QString gScratch;

void removeScratch()
{
    std::error_code ignored;
    std::filesystem::remove_all(QFile::encodeName(gScratch).toStdString(), ignored);
}

} // namespace

void fail(const char *condition, const char *file, int line)
{
    std::fprintf(stderr, "invariant broken at %s:%d: %s\n", file, line, condition);
    std::abort();
}

QString scratchDir()
{
    return gScratch;
}

void init()
{
    if (!gScratch.isEmpty())
        return;
    char pattern[] = "/tmp/corvana-fuzz-XXXXXX";
    if (!::mkdtemp(pattern)) {
        std::perror("mkdtemp");
        std::abort();
    }
    gScratch = QFile::decodeName(pattern);
    std::atexit(removeScratch);

    // Nothing of the player's is read or written: every per-user folder is ours.
    for (const char *name : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
        const QString dir = gScratch + QLatin1Char('/') + QString::fromLatin1(name).toLower();
        QDir().mkpath(dir);
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        ::setenv(name, QFile::encodeName(dir).constData(), 1);
    }

    static int argc = 1;
    static char program[] = "corvana-fuzz";
    static char *argv[] = {program, nullptr};
    new QCoreApplication(argc, argv); // for the whole process, never torn down mid-run

    const QString logs = gScratch + QStringLiteral("/logs");
    QDir().mkpath(logs);
    QFile::link(QStringLiteral("/dev/null"), logs + QStringLiteral("/corvana.log"));
    // Opening for appending seeks, which /dev/null refuses with a warning.
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    Logger::instance().initIn(logs);
    qInstallMessageHandler(previous);
}

} // namespace fuzz
