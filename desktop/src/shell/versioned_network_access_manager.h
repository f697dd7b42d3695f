#pragma once

#include <QNetworkAccessManager>
#include <QQmlAbstractUrlInterceptor>

// The QML engine's network access: every request says which program version
// asks, so the service can tell our image requests apart. It fetches pictures
// only from the network, each within a size and a total time: a body without
// end, or one that trickles, is no picture rather than a memory or time sink.
class VersionedNetworkAccessManager : public QNetworkAccessManager
{
    Q_OBJECT

public:
    static constexpr const char *kVersionHeader = "X-App-Version";
    static constexpr const char *kVersion = "1.5.0";
    // The largest picture the window shows is a game card's art, 420 x 210
    // (840 x 420 on a screen of twice the density); 8 MiB holds that as an
    // uncompressed bitmap several times over, or a 1920 x 1080 PNG.
    static constexpr qint64 kMaxPictureBytes = qint64(8) << 20;
    static constexpr int kPictureStallMs = 10000;
    static constexpr int kPictureDeadlineMs = 30000;

    explicit VersionedNetworkAccessManager(QObject *parent = nullptr);
    ~VersionedNetworkAccessManager() override;

    // Tests: a shorter total time.
    static void setPictureDeadlineForTesting(int ms);

protected:
    // Anything but http(s) (a local file, inline data, another scheme) is
    // refused: the reply fails, as for a picture that is not there.
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request,
                                 QIODevice *outgoingData) override;
};

// Images read file: addresses straight from disk, past the network access:
// this sends them to it, where they are refused. The window's own pictures
// are resources (qrc:) and pass unchanged.
class LocalPictureInterceptor : public QQmlAbstractUrlInterceptor
{
public:
    QUrl intercept(const QUrl &url, DataType type) override;
};
