// Runs the QML tests (tst_*.qml) against the program's own resource tree.
// `api` is a real ApiClient talking to corvana-test-service; the other context
// objects are stand-ins written in QML. `testHost` lets a test swap any of them,
// call the service's test controls, and read the QML warnings seen so far.
#include "service/api_client.h"
#include "shell/logger.h"
#include "support/test_service.h"

#include <QJsonDocument>
#include <QMetaProperty>
#include <QMutex>
#include <QMutexLocker>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QtQuickTest>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

QMutex g_warningsMutex;
QStringList g_warnings;
} // namespace

class TestHost : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString serviceUrl READ serviceUrl CONSTANT)

public:
    TestHost(QQmlEngine *engine, TestService *service)
        : QObject(engine), m_engine(engine), m_service(service)
    {
    }

    QString serviceUrl() const { return m_service ? m_service->baseUrl() : QString(); }

    // Replaces a context object ("api", "ping", ...) for the rest of this file's tests.
    Q_INVOKABLE void use(const QString &name, QObject *object)
    {
        m_engine->rootContext()->setContextProperty(name, object);
    }

    Q_INVOKABLE QStringList takeWarnings()
    {
        QMutexLocker lock(&g_warningsMutex);
        return std::exchange(g_warnings, {});
    }

    // One call to the service; the reply as a JS object (empty on failure).
    // Names of an object's own text properties (QML's for-in does not list a singleton's).
    Q_INVOKABLE QStringList textPropertyNames(QObject *object)
    {
        QStringList names;
        if (!object)
            return names;
        const QMetaObject *meta = object->metaObject();
        for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
            if (meta->property(i).metaType() == QMetaType::fromType<QString>())
                names.append(QString::fromLatin1(meta->property(i).name()));
        }
        return names;
    }

    Q_INVOKABLE QVariantMap call(const QString &method, const QString &path, const QVariantMap &body = {})
    {
        if (!m_service)
            return {};
        return m_service->call(method.toUtf8(), path, QJsonObject::fromVariantMap(body)).toVariantMap();
    }

    Q_INVOKABLE QVariantList requestsTo(const QString &prefix)
    {
        return m_service ? m_service->requestsTo(prefix).toVariantList() : QVariantList();
    }

    Q_INVOKABLE void resetService()
    {
        if (m_service)
            m_service->reset();
    }

    // The per-user settings file the window and the native side share.
    Q_INVOKABLE void clearSettings()
    {
        QSettings settings;
        settings.clear();
        settings.sync();
    }

    Q_INVOKABLE void setSetting(const QString &key, const QVariant &value)
    {
        QSettings settings;
        settings.setValue(key, value);
        settings.sync();
    }

    Q_INVOKABLE QVariant setting(const QString &key)
    {
        QSettings settings;
        settings.sync();
        return settings.value(key);
    }

private:
    QQmlEngine *m_engine;
    TestService *m_service;
};

class Setup : public QObject
{
    Q_OBJECT

public:
    Setup()
    {
        // Settings, logs and caches of this run live in a folder of its own.
        const QByteArray root = m_home.path().toUtf8();
        setenv("HOME", root.constData(), 1);
        setenv("XDG_DATA_HOME", (root + "/data").constData(), 1);
        setenv("XDG_CONFIG_HOME", (root + "/config").constData(), 1);
        setenv("XDG_CACHE_HOME", (root + "/cache").constData(), 1);
        setenv("XDG_RUNTIME_DIR", root.constData(), 1);
    }

public slots:
    void applicationAvailable()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Corvana"));
        QCoreApplication::setApplicationName(QStringLiteral("Corvana"));
        QCoreApplication::setApplicationVersion(QStringLiteral("1.5.0"));
        Logger::instance().init();
        m_service = std::make_unique<TestService>();
        if (!m_service->start()) {
            std::fprintf(stderr, "qml tests: corvana-test-service did not start\n");
            std::exit(1);
        }
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        // Every warning the engine reports (binding errors, failed loads, script
        // errors) is kept for the test that caused it; the test logger prints it too.
        QObject::connect(engine, &QQmlEngine::warnings, engine, [](const QList<QQmlError> &errors) {
            QMutexLocker lock(&g_warningsMutex);
            for (const QQmlError &error : errors)
                g_warnings.append(error.toString());
        });
        engine->addImportPath(QStringLiteral("qrc:/"));
        auto *api = new ApiClient(engine);
        api->setBaseUrl(m_service->baseUrl());
        QQmlContext *context = engine->rootContext();
        context->setContextProperty(QStringLiteral("api"), api);
        context->setContextProperty(QStringLiteral("testHost"), new TestHost(engine, m_service.get()));
        const QString dir = QStringLiteral(CORVANA_QML_TEST_DIR);
        const std::pair<const char *, const char *> standIns[] = {
            {"ping", "StandInPing.qml"},
            {"tray", "StandInTray.qml"},
            {"logger", "StandInLogger.qml"},
            {"updater", "StandInUpdater.qml"},
        };
        for (const auto &[name, file] : standIns) {
            QQmlComponent component(engine, QUrl::fromLocalFile(dir + QLatin1Char('/') + QLatin1String(file)));
            QObject *object = component.create();
            if (!object) {
                std::fprintf(stderr, "qml tests: %s\n", qPrintable(component.errorString()));
                std::exit(1);
            }
            object->setParent(engine);
            context->setContextProperty(QLatin1String(name), object);
        }
    }

    void cleanupTestCase()
    {
        m_service.reset();
        QMutexLocker lock(&g_warningsMutex);
        if (!g_warnings.isEmpty()) {
            std::fprintf(stderr, "qml tests: %lld QML warning(s) were not checked by a test\n",
                         static_cast<long long>(g_warnings.size()));
            std::exit(1);
        }
    }

private:
    QTemporaryDir m_home;
    std::unique_ptr<TestService> m_service;
};

QUICK_TEST_MAIN_WITH_SETUP(corvana_qml, Setup)

#include "qml_test_main.moc"
