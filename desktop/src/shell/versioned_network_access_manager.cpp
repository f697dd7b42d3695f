#include "shell/versioned_network_access_manager.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <atomic>

namespace {

// Managers live on the engine's loader threads.
std::atomic<int> pictureDeadlineMs{VersionedNetworkAccessManager::kPictureDeadlineMs};

bool fromTheNetwork(const QUrl &url)
{
    const QString scheme = url.scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

} // namespace

VersionedNetworkAccessManager::VersionedNetworkAccessManager(QObject *parent)
    : QNetworkAccessManager(parent)
{
}

VersionedNetworkAccessManager::~VersionedNetworkAccessManager() = default;

void VersionedNetworkAccessManager::setPictureDeadlineForTesting(int ms)
{
    pictureDeadlineMs = ms;
}

QNetworkReply *VersionedNetworkAccessManager::createRequest(Operation op,
                                                            const QNetworkRequest &request,
                                                            QIODevice *outgoingData)
{
    QNetworkRequest versioned(request);
    // No scheme at all: the base fails it with "protocol unknown".
    if (!fromTheNetwork(request.url()))
        versioned.setUrl(QUrl());
    versioned.setRawHeader(kVersionHeader, kVersion);
    versioned.setTransferTimeout(kPictureStallMs);
    QNetworkReply *reply = QNetworkAccessManager::createRequest(op, versioned, outgoingData);
    QTimer::singleShot(pictureDeadlineMs.load(), reply, [reply] { reply->abort(); });
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply] {
        if (reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > kMaxPictureBytes)
            reply->abort();
    });
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > kMaxPictureBytes)
            reply->abort();
    });
    return reply;
}

QUrl LocalPictureInterceptor::intercept(const QUrl &url, DataType type)
{
    // Only addresses written into properties; the engine's own QML files are not pictures.
    if (type != UrlString || !url.isLocalFile())
        return url;
    QUrl refused(url);
    refused.setScheme(QStringLiteral("local-file-refused"));
    return refused;
}
