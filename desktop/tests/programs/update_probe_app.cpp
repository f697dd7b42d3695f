// Stands in for the desktop program in an installation directory.
//   update_probe_app --update-from BASE_URL : runs one update check, installs
//     whatever it offers, hands over to the applier and lingers a while before
//     it quits, so a applier that does not wait is caught replacing files early.
//   update_probe_app : started again after the update; records how, then checks
//     again against the same service and records what that check found
//     (second-check.txt), as the program's next start would.
#include "updates/update_service.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTimer>

namespace {

constexpr int kLingerMs = 2500;
const QString kServiceRecord = QStringLiteral("update-from.txt");

void writeRecord(const QString &name, const QByteArray &text)
{
    QFile file(QCoreApplication::applicationDirPath() + QLatin1Char('/') + name);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(text);
}

QByteArray readInstalled(const QString &relative)
{
    QFile file(QCoreApplication::applicationDirPath() + QLatin1Char('/') + relative);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The second check installs nothing: it only says what a start would be offered.
int checkAgain(const QString &baseUrl)
{
    UpdateService updater;
    updater.setBaseUrl(baseUrl);
    QByteArray record;
    // The applier's complaint, if it left one, is read and deleted by this check.
    QObject::connect(&updater, &UpdateService::previousErrorChanged, &updater,
                     [&] { record += "previous update failed: " + updater.previousError().toUtf8() + "\n"; });
    const auto finish = [&record](const QByteArray &outcome) {
        writeRecord(QStringLiteral("second-check.txt"), record + outcome);
        QCoreApplication::exit(0);
    };
    // A manifest that never came leaves the version empty.
    QObject::connect(&updater, &UpdateService::noUpdateAvailable, &updater,
                     [&] { finish("no update from " + updater.remoteVersion().toUtf8()); });
    QObject::connect(&updater, &UpdateService::manifestReady, &updater, [&] {
        QStringList files;
        for (const PendingDownload &download : updater.downloads())
            files.append(download.relativePath);
        finish("offered files [" + files.join(QLatin1Char(' ')).toUtf8() + "] remove ["
               + updater.removeList().join(QLatin1Char(' ')).toUtf8() + "]");
    });
    QTimer::singleShot(0, &updater, &UpdateService::checkForUpdates);
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3 || args.at(1) != QLatin1String("--update-from")) {
        writeRecord(QStringLiteral("restarted.txt"),
                    "cwd=" + QDir::currentPath().toUtf8() + "\nargc=" + QByteArray::number(argc) + "\n");
        const QByteArray baseUrl = readInstalled(kServiceRecord);
        return baseUrl.startsWith("http") ? checkAgain(QString::fromUtf8(baseUrl)) : 0;
    }

    writeRecord(kServiceRecord, args.at(2).toUtf8());
    UpdateService updater;
    updater.setBaseUrl(args.at(2));
    QObject::connect(&updater, &UpdateService::previousErrorChanged, &app,
                     [&updater] { writeRecord(QStringLiteral("previous-error.txt"), updater.previousError().toUtf8()); });
    QObject::connect(&updater, &UpdateService::manifestReady, &updater, &UpdateService::startDownload);
    QObject::connect(&updater, &UpdateService::noUpdateAvailable, &app, [] {
        writeRecord(QStringLiteral("result.txt"), "no update");
        QCoreApplication::exit(3);
    });
    QObject::connect(&updater, &UpdateService::updateFailed, &app, [](const QString &message) {
        writeRecord(QStringLiteral("result.txt"), "failed: " + message.toUtf8());
        QCoreApplication::exit(4);
    });
    QObject::connect(&updater, &UpdateService::updateReadyToInstall, &app, [] {
        writeRecord(QStringLiteral("result.txt"), "ready");
        QTimer::singleShot(kLingerMs, [] {
            writeRecord(QStringLiteral("before-exit.txt"), readInstalled(QStringLiteral("data/config.txt")));
            QCoreApplication::exit(0);
        });
    });
    QTimer::singleShot(0, &updater, &UpdateService::checkForUpdates);
    return QCoreApplication::exec();
}
