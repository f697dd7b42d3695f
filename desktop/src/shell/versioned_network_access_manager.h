#pragma once

#include <QNetworkAccessManager>
#include <QQmlAbstractUrlInterceptor>

// The QML engine's network access: every request says which program version
// asks, so the service can tell our image requests apart. It fetches pictures
// only from the network, each within a size and while it makes progress: a
// body without end, or one that trickles, is no picture rather than a memory
// or time sink. A slow line only takes longer.
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
    // A picture ends after 10 s of silence, or once 60 s bring fewer than
    // 60 KiB (shell/transfer_guard.h), both counted from when its request is
    // on the wire, not while it waits for one of the six connections the
    // manager keeps to a host.
    static constexpr int kPictureStallMs = 10000;
    static constexpr int kPictureWindowMs = 60000;

    explicit VersionedNetworkAccessManager(QObject *parent = nullptr);
    ~VersionedNetworkAccessManager() override;

    // Tests: a shorter silence and low-speed window, for every manager.
    static void setPictureLimitsForTesting(int stallMs, int windowMs);

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
