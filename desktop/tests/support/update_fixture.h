#pragma once

#include "support/test_service.h"
#include "updates/update_service.h"

#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// What every updater test stands on: a running test service, an installation,
// a release folder to publish and a staging root, with an updater wired to them.
// Mixed into a test class next to QObject; call the two from init() and cleanup().
class UpdateFixture
{
protected:
    std::unique_ptr<TestService> service;
    std::unique_ptr<QTemporaryDir> install;
    std::unique_ptr<QTemporaryDir> release;
    std::unique_ptr<QTemporaryDir> staging;
    std::unique_ptr<UpdateService> updater;

    // Empty when everything came up, else what did not.
    QString startFixture();
    void stopFixture();

    QString inInstall(const QString &relative) const { return install->path() + QLatin1Char('/') + relative; }
    QString inRelease(const QString &relative) const { return release->path() + QLatin1Char('/') + relative; }

    // Publishes the release folder with these test controls; the HTTP status.
    int publishRelease(QJsonObject controls = {});
};
