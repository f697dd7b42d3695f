#include "api_client.h"
#include "deep_link.h"
#include "deep_link_router.h"
#include "logger.h"
#include "platform/linux/proc_process_table.h"
#include "platform/linux/xdg_url_scheme_registry.h"
#include "single_instance.h"
#include "stray_process_cleaner.h"

#include <QApplication>
#include <QIcon>
#include <QPointer>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace {

const QString kAppInstanceKey = QStringLiteral("CorvanaApp");
constexpr int kStartupJoinDelayMs = 2000;

void showWindow(QQuickWindow *window)
{
    if (!window)
        return;
    window->show();
    window->raise();
    window->requestActivate();
}

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
        ProcProcessTable processes;
        StrayProcessCleaner::terminateAll(processes, StrayProcessCleaner::tunnelClientName(),
                                          QCoreApplication::applicationPid());
    }

    Logger::instance().init();

    {
        XdgUrlSchemeRegistry registry;
        DeepLink::registerUrlProtocol(registry, QCoreApplication::applicationFilePath());
    }

    QQuickStyle::setStyle(QStringLiteral("Basic"));

    auto api = std::make_unique<ApiClient>();
    api->setBaseUrl(ApiClient::defaultBaseUrl());

    auto router = std::make_unique<DeepLinkRouter>(api.get());

    auto engine = std::make_unique<QQmlApplicationEngine>();
    engine->addImportPath(QStringLiteral("qrc:/"));
    QQmlContext *context = engine->rootContext();
    context->setContextProperty(QStringLiteral("api"), api.get());
    context->setContextProperty(QStringLiteral("logger"), &Logger::instance());

    auto mainUrl = std::make_unique<QUrl>(QStringLiteral("qrc:/qml/Main.qml"));
    QPointer<QQuickWindow> mainWindow;

    QObject::connect(
        engine.get(), &QQmlApplicationEngine::objectCreated, app.get(),
        [&mainWindow, url = *mainUrl](QObject *object, const QUrl &objectUrl) {
            if (!object && objectUrl == url) {
                QCoreApplication::exit(-1);
                return;
            }
            if (auto *window = qobject_cast<QQuickWindow *>(object))
                mainWindow = window;
        },
        Qt::QueuedConnection);

    QObject::connect(router.get(), &DeepLinkRouter::showWindowRequested, router.get(),
                     [&mainWindow] { showWindow(mainWindow); });
    QObject::connect(instance.get(), &SingleInstance::messageReceived, router.get(),
                     &DeepLinkRouter::handleInstanceMessage);

    const QString startupId = DeepLink::joinId(*deepLink);
    if (!startupId.isEmpty()) {
        QTimer::singleShot(kStartupJoinDelayMs, router.get(),
                           [r = router.get(), startupId] { r->onStartupJoin(startupId); });
    }

    engine->load(*mainUrl);

    const int status = QApplication::exec();

    mainUrl.reset();
    engine.reset();
    router.reset();
    api.reset();
    instance.reset();
    deepLink.reset();
    app.reset();
    return status;
}
