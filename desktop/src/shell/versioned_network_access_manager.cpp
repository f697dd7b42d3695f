#include "shell/versioned_network_access_manager.h"

#include "shell/logger.h"
#include "shell/transfer_guard.h"

#include <QNetworkReply>
#include <QNetworkRequest>

#include <atomic>

namespace {

// Managers live on the engine's loader threads.
std::atomic<int> pictureStallMs{VersionedNetworkAccessManager::kPictureStallMs};
std::atomic<int> pictureWindowMs{VersionedNetworkAccessManager::kPictureWindowMs};

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

void VersionedNetworkAccessManager::setPictureLimitsForTesting(int stallMs, int windowMs)
{
    pictureStallMs = stallMs;
    pictureWindowMs = windowMs;
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
    // The image loader asks for pipelining. A request pipelined behind another
    // goes out without requestSent, and its answer cannot begin before the one
    // ahead has ended: its limits could start neither when it is sent nor when
    // it is answered. Unpipelined, each waits for a free connection.
    versioned.setAttribute(QNetworkRequest::HttpPipeliningAllowedAttribute, false);
    QNetworkReply *reply = QNetworkAccessManager::createRequest(op, versioned, outgoingData);
    TransferGuard::watch(reply, pictureStallMs.load(), pictureWindowMs.load(), TransferGuard::Start::OnTheWire);
    connect(reply, &QNetworkReply::finished, reply, [reply] {
        if (TransferGuard::stopReason(reply).isEmpty())
            return;
        const QString where = reply->url().toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveQuery);
        Logger::instance().log(Logger::Warn, QStringLiteral("pictures"),
                               where + QStringLiteral(": ") + TransferGuard::errorText(reply));
    });
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
