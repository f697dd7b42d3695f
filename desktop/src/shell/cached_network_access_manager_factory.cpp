#include "shell/cached_network_access_manager_factory.h"

#include "platform/private_places.h"
#include "shell/versioned_network_access_manager.h"

#include <QDir>
#include <QNetworkDiskCache>
#include <QStandardPaths>

CachedNetworkAccessManagerFactory::~CachedNetworkAccessManagerFactory() = default;

QString CachedNetworkAccessManagerFactory::cacheDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation)
           + QStringLiteral("/qml-images");
}

QNetworkAccessManager *CachedNetworkAccessManagerFactory::create(QObject *parent)
{
    auto *manager = new VersionedNetworkAccessManager(parent);
    const QString directory = cacheDirectory();
    platform::makePrivateFolder(directory);
    auto *cache = new QNetworkDiskCache(manager);
    cache->setCacheDirectory(directory);
    cache->setMaximumCacheSize(kMaxCacheBytes);
    manager->setCache(cache);
    return manager;
}
