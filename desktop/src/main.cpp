#include "service/api_client.h"
#include "shell/cached_network_access_manager_factory.h"
#include "shell/deep_link.h"
#include "shell/deep_link_router.h"
#include "session/credential_store.h"
#include "session/hosts_file_manager.h"
#include "discord/discord_presence.h"
#include "shell/logger.h"
#include "shell/main_window_tracker.h"
#include "service/ping_service.h"
#include "shell/qml_types.h"
#include "platform/platform_factory.h"
#include "platform/private_places.h"
#include "shell/single_instance.h"
#include "session/stray_process_cleaner.h"
#include "session/vpn_process.h"
#include "shell/tray_icon.h"
#include "shell/versioned_network_access_manager.h"
#include "updates/update_service.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QSettings>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <utility>

namespace {

const QString kAppInstanceKey = QStringLiteral("CorvanaApp");
constexpr int kStartupJoinDelayMs = 2000;

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_WIN_DISABLE_PROCESS_JOB_OBJECT", "1");
    auto app = std::make_unique<QApplication>(argc, argv);

    if (QSslSocket::availableBackends().contains(QStringLiteral("openssl")))
        QSslSocket::setActiveBackend(QStringLiteral("openssl"));

    QCoreApplication::setApplicationName(QStringLiteral("Corvana"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.5.0"));
    QCoreApplication::setOrganizationName(QStringLiteral("Corvana"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/logo.svg")));
    // The window closes to the tray; only an explicit quit ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    // A block left by a session that did not end cleanly goes now and again at quit.
    {
        HostsFileManager hosts;
        hosts.removeManagedBlock();
    }
    QObject::connect(app.get(), &QCoreApplication::aboutToQuit, [] {
        HostsFileManager hosts;
        hosts.removeManagedBlock();
    });

    auto deepLink = std::make_unique<QString>(DeepLink::findInArguments(QCoreApplication::arguments()));

    // Hand over to a running instance and leave without touching the log.
    const QString channel = SingleInstance::channelName(kAppInstanceKey);
    const QString message = deepLink->isEmpty() ? QString::fromLatin1(DeepLink::kShowMessage)
                                                : *deepLink;
    if (SingleInstance::sendToRunningInstance(channel, message))
        return 0;

    auto instance = std::make_unique<SingleInstance>();
    instance->listen(channel);

    {
        const auto processes = platform::createProcessTable();
        StrayProcessCleaner::terminateAll(*processes,
                                          VpnProcess::clientProgramIn(QCoreApplication::applicationDirPath()),
                                          QCoreApplication::applicationPid());
    }

    // The settings (with the remembered token), the pictures and the password are the
    // player's alone, also where an earlier version left them open to every account. The
    // settings file stands before the window's store first writes it, which keeps its mode.
    {
        const QString settings = QSettings().fileName();
        platform::makePrivateFolder(QFileInfo(settings).path());
        platform::makePrivateFile(settings);
        // Made here, before the engine's own cache makes the folders above it under the umask.
        const QString pictures = CachedNetworkAccessManagerFactory::cacheDirectory();
        platform::makePrivateFolder(pictures);
        platform::narrowToOwner(pictures);
        platform::narrowToOwner(CredentialStore::credentialFilePath());
    }

    Logger::instance().init();

    {
        const auto registry = platform::createUrlSchemeRegistry();
        DeepLink::registerUrlProtocol(*registry, QCoreApplication::applicationFilePath());
    }

    QQuickStyle::setStyle(QStringLiteral("Basic"));
    registerQmlTypes();

    auto api = std::make_unique<ApiClient>();
    api->setBaseUrl(ApiClient::defaultBaseUrl());

    auto ping = std::make_unique<PingService>();

    auto updater = std::make_unique<UpdateService>();
    updater->setBaseUrl(ApiClient::defaultBaseUrl());
    updater->setInstallDir(QCoreApplication::applicationDirPath());

    auto router = std::make_unique<DeepLinkRouter>(api.get());
    DiscordPresence::setJoinCallback([r = router.get()](const QString &id) { r->onDiscordJoin(id); });

    auto tray = std::make_unique<TrayIcon>();
    tray->show();

    // Outlives the engine: the engine may ask it for managers until it is gone.
    auto networkFactory = std::make_unique<CachedNetworkAccessManagerFactory>();
    LocalPictureInterceptor localPictures;
    auto engine = std::make_unique<QQmlApplicationEngine>();
    engine->setNetworkAccessManagerFactory(networkFactory.get());
    engine->addUrlInterceptor(&localPictures);
    engine->addImportPath(QStringLiteral("qrc:/"));
    QQmlContext *context = engine->rootContext();
    context->setContextProperty(QStringLiteral("api"), api.get());
    context->setContextProperty(QStringLiteral("ping"), ping.get());
    context->setContextProperty(QStringLiteral("tray"), tray.get());
    context->setContextProperty(QStringLiteral("logger"), &Logger::instance());
    context->setContextProperty(QStringLiteral("updater"), updater.get());

    auto mainUrl = std::make_unique<QUrl>(QStringLiteral("qrc:/qml/Main.qml"));
    auto windows = std::make_unique<MainWindowTracker>(*mainUrl);
    // Queued: the handler runs from the event loop, after loading has returned.
    QObject::connect(engine.get(), &QQmlApplicationEngine::objectCreated, app.get(),
                     [w = windows.get()](QObject *object, const QUrl &url) {
                         w->onObjectCreated(object, url);
                     },
                     Qt::QueuedConnection);
    QObject::connect(windows.get(), &MainWindowTracker::rootCreationFailed, app.get(),
                     [] { QCoreApplication::exit(-1); });
    // The tray's entries do nothing until the window they refer to exists.
    QObject::connect(windows.get(), &MainWindowTracker::windowCreated, app.get(),
                     [t = tray.get(), w = windows.get(), a = app.get(),
                      wired = false](QQuickWindow *) mutable {
                         if (std::exchange(wired, true))
                             return;
                         QObject::connect(t, &TrayIcon::showRequested, w, &MainWindowTracker::showMainWindow);
                         QObject::connect(t, &TrayIcon::quitRequested, a, [] { QCoreApplication::quit(); });
                     });

    QObject::connect(router.get(), &DeepLinkRouter::showWindowRequested, windows.get(),
                     &MainWindowTracker::showMainWindow);
    QObject::connect(instance.get(), &SingleInstance::messageReceived, router.get(),
                     &DeepLinkRouter::handleInstanceMessage);

    const QString startupId = DeepLink::joinId(*deepLink);
    if (!startupId.isEmpty()) {
        QTimer::singleShot(kStartupJoinDelayMs, router.get(),
                           [r = router.get(), startupId] { r->onStartupJoin(startupId); });
    }

    engine->load(*mainUrl);

    QTimer::singleShot(0, updater.get(), &UpdateService::checkForUpdates);

    // Sessions may end programs from outside; quit through the event loop.
    auto quitSignals = platform::watchQuitRequests([] { QCoreApplication::quit(); });

    const int status = QApplication::exec();

    quitSignals.reset();
    mainUrl.reset();
    engine.reset();
    networkFactory.reset();
    windows.reset();
    tray.reset();
    DiscordPresence::setJoinCallback({});
    router.reset();
    updater.reset();
    ping.reset();
    api.reset();
    instance.reset();
    deepLink.reset();
    app.reset();
    return status;
}
