#include "support/update_fixture.h"

QString UpdateFixture::startFixture()
{
    service = std::make_unique<TestService>();
    if (!service->start())
        return QStringLiteral("the test service did not start");
    install = std::make_unique<QTemporaryDir>();
    release = std::make_unique<QTemporaryDir>();
    staging = std::make_unique<QTemporaryDir>();
    if (!install->isValid() || !release->isValid() || !staging->isValid())
        return QStringLiteral("a temporary folder could not be made");
    updater = std::make_unique<UpdateService>();
    updater->setBaseUrl(service->baseUrl());
    updater->setInstallDir(install->path());
    updater->setStagingRootForTesting(staging->path());
    return {};
}

void UpdateFixture::stopFixture()
{
    // The updater goes first: it may still be talking to the service.
    updater.reset();
    service.reset();
    install.reset();
    release.reset();
    staging.reset();
}

int UpdateFixture::publishRelease(QJsonObject controls)
{
    controls.insert(QStringLiteral("folder"), release->path());
    int status = 0;
    service->call("POST", QStringLiteral("/test/update"), controls, &status);
    return status;
}
