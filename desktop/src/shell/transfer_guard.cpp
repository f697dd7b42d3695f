#include "shell/transfer_guard.h"

#include <QNetworkReply>

#include <algorithm>

TransferGuard *TransferGuard::watch(QNetworkReply *reply, int silenceMs, int windowMs, Start start)
{
    auto *guard = new TransferGuard(reply, silenceMs, windowMs);
    if (start == Start::Now)
        guard->begin();
    return guard;
}

QString TransferGuard::stopReason(const QNetworkReply *reply)
{
    const auto *guard = reply->findChild<TransferGuard *>(QString(), Qt::FindDirectChildrenOnly);
    return guard ? guard->reason() : QString();
}

QString TransferGuard::errorText(const QNetworkReply *reply)
{
    const QString why = stopReason(reply);
    return why.isEmpty() ? reply->errorString() : reply->errorString() + QStringLiteral(" (") + why + u')';
}

TransferGuard::TransferGuard(QNetworkReply *reply, int silenceMs, int windowMs)
    : QObject(reply)
    , m_reply(reply)
    , m_silenceMs(silenceMs)
    , m_windowMs(std::max(windowMs, kChecksPerWindow))
    , m_minBytes(kMinBytesPerSecond * m_windowMs / 1000)
{
    m_silence.setSingleShot(true);
    connect(&m_silence, &QTimer::timeout, this,
            [this] { stop(QStringLiteral("nothing received for %1 ms").arg(m_silenceMs)); });
    connect(&m_check, &QTimer::timeout, this, &TransferGuard::onCheck);
    // Any of these means the request is on the wire and the line is alive.
    connect(reply, &QNetworkReply::socketStartedConnecting, this, &TransferGuard::onActivity);
    connect(reply, &QNetworkReply::requestSent, this, &TransferGuard::onActivity);
    connect(reply, &QNetworkReply::metaDataChanged, this, &TransferGuard::onActivity);
    connect(reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64) {
        m_received = std::max(m_received, received);
        onActivity();
    });
    connect(reply, &QNetworkReply::uploadProgress, this, [this](qint64 sent, qint64) {
        m_sent = std::max(m_sent, sent);
        onActivity();
    });
    connect(reply, &QNetworkReply::finished, this, [this] {
        m_silence.stop();
        m_check.stop();
    });
}

void TransferGuard::begin()
{
    if (m_started || m_reply->isFinished())
        return;
    m_started = true;
    m_marks.fill(moved());
    m_checks = 0;
    m_silence.start(m_silenceMs);
    m_check.start(m_windowMs / kChecksPerWindow);
}

void TransferGuard::onActivity()
{
    if (!m_started) {
        begin();
        return;
    }
    if (m_silence.isActive())
        m_silence.start(m_silenceMs);
}

void TransferGuard::onCheck()
{
    // The slot of the mark made a whole window ago, which this one replaces.
    const qsizetype slot = ++m_checks % kChecksPerWindow;
    const qint64 now = moved();
    if (m_checks >= kChecksPerWindow && now - m_marks[slot] < m_minBytes) {
        stop(QStringLiteral("fewer than %1 bytes in %2 ms").arg(m_minBytes).arg(m_windowMs));
        return;
    }
    m_marks[slot] = now;
}

void TransferGuard::stop(const QString &why)
{
    m_silence.stop();
    m_check.stop();
    if (m_reply->isFinished())
        return;
    m_reason = why;
    m_reply->abort();
}
