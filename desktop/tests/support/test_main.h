#pragma once

#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>

// Like QTEST_MAIN, but every per-user location (logs, credential file, caches)
// points into a fresh folder of this run, so parallel tests never share files.
#define CORVANA_TEST_MAIN(TestObject)                                                    \
    int main(int argc, char **argv)                                                     \
    {                                                                                   \
        QTemporaryDir home;                                                             \
        if (!home.isValid())                                                            \
            return 1;                                                                   \
        const QByteArray root = home.path().toUtf8();                                   \
        setenv("HOME", root.constData(), 1);                                            \
        setenv("XDG_DATA_HOME", (root + "/data").constData(), 1);                       \
        setenv("XDG_CONFIG_HOME", (root + "/config").constData(), 1);                   \
        setenv("XDG_CACHE_HOME", (root + "/cache").constData(), 1);                     \
        setenv("XDG_RUNTIME_DIR", root.constData(), 1);                                 \
        QGuiApplication app(argc, argv);                                                \
        QCoreApplication::setOrganizationName(QStringLiteral("Corvana"));               \
        QCoreApplication::setApplicationName(QStringLiteral("Corvana"));                \
        QCoreApplication::setApplicationVersion(QStringLiteral("1.5.0"));               \
        TestObject test;                                                                \
        return QTest::qExec(&test, argc, argv);                                         \
    }
