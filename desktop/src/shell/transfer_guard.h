#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <array>

class QNetworkReply;

// Ends a network transfer that stops making progress, never one that is only
// slow: however long a steady line takes, its transfer goes on. Two rules,
// counted from the start (see Start):
//  - silence: nothing received or sent for `silenceMs`;
//  - low speed: fewer than kMinBytesPerSecond x the window's length moved
//    within the last window (with a 60 s window: fewer than 60 KiB in 60 s),
//    looked at every tenth of the window. A line of 128 kbit/s brings sixteen
//    times that; a trickle of a byte every few seconds ends one window (plus at
//    most a tenth) after it began.
// The guard is a child of the reply and goes with it; it aborts the reply
// (OperationCanceledError, as Qt's own transfer time-out) and keeps why.
class TransferGuard : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 kMinBytesPerSecond = 1024;
    static constexpr int kChecksPerWindow = 10;

    enum class Start {
        Now,
        // When the request goes on the wire (its socket starts connecting, or
        // the request is sent on a connection kept alive), not while it waits
        // in the manager's queue behind others to the same host.
        OnTheWire,
    };

    static TransferGuard *watch(QNetworkReply *reply, int silenceMs, int windowMs, Start start = Start::Now);
    // Why the guard ended the reply, for the log; empty when it did not.
    static QString stopReason(const QNetworkReply *reply);
    // The reply's error text, with that reason after it when there is one.
    static QString errorText(const QNetworkReply *reply);

    QString reason() const { return m_reason; }

private:
    TransferGuard(QNetworkReply *reply, int silenceMs, int windowMs);

    void begin();
    void onActivity();
    void onCheck();
    void stop(const QString &why);
    qint64 moved() const { return m_received + m_sent; }

    QNetworkReply *m_reply;
    const int m_silenceMs;
    const int m_windowMs;
    const qint64 m_minBytes;
    QTimer m_silence{this};
    QTimer m_check{this};
    bool m_started = false;
    qint64 m_received = 0;
    qint64 m_sent = 0;
    int m_checks = 0;
    // Bytes moved at each of the last kChecksPerWindow checks (the start first).
    std::array<qint64, kChecksPerWindow> m_marks{};
    QString m_reason;
};
