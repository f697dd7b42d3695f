#include "shell/versioned_network_access_manager.h"

#include <QNetworkRequest>

VersionedNetworkAccessManager::VersionedNetworkAccessManager(QObject *parent)
    : QNetworkAccessManager(parent)
{
}

VersionedNetworkAccessManager::~VersionedNetworkAccessManager() = default;

QNetworkReply *VersionedNetworkAccessManager::createRequest(Operation op,
                                                            const QNetworkRequest &request,
                                                            QIODevice *outgoingData)
{
    QNetworkRequest versioned(request);
    versioned.setRawHeader(kVersionHeader, kVersion);
    return QNetworkAccessManager::createRequest(op, versioned, outgoingData);
}
