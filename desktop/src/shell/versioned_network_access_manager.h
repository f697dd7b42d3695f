#pragma once

#include <QNetworkAccessManager>

// The QML engine's network access: every request says which program version
// asks, so the service can tell our image requests apart.
class VersionedNetworkAccessManager : public QNetworkAccessManager
{
    Q_OBJECT

public:
    static constexpr const char *kVersionHeader = "X-App-Version";
    static constexpr const char *kVersion = "1.5.0";

    explicit VersionedNetworkAccessManager(QObject *parent = nullptr);
    ~VersionedNetworkAccessManager() override;

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request,
                                 QIODevice *outgoingData) override;
};
