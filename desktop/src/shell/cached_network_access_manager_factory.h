#pragma once

#include <QQmlNetworkAccessManagerFactory>
#include <QString>

// Installed on the QML engine: each manager it asks for marks its requests
// with the program version and keeps remote images in a disk cache.
class CachedNetworkAccessManagerFactory : public QQmlNetworkAccessManagerFactory
{
public:
    static constexpr qint64 kMaxCacheBytes = 52428800; // 50 MiB

    ~CachedNetworkAccessManagerFactory() override;

    // May run on the engine's loader threads; keeps no state.
    QNetworkAccessManager *create(QObject *parent) override;

    // <per-user cache location>/qml-images
    static QString cacheDirectory();
};
