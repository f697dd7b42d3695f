#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class PingProcess;
class PingProcessFactory;

struct PingCacheEntry
{
    int ms = -1;              // -1 marks a failed measurement
    qint64 expiresAtMs = 0;   // completion time + 10 s
};

// Measures round-trip times with the system's ping program, a few hosts at a time.
class PingService : public QObject
{
    Q_OBJECT
public:
    using Clock = std::function<qint64()>;

    static constexpr int kMaxActive = 5;
    static constexpr qint64 kCacheLifetimeMs = 10000;
    // A ping that has not ended by then is killed and counts as failed.
    static constexpr int kDefaultWatchdogMs = 15000;

    explicit PingService(QObject *parent = nullptr);
    PingService(std::unique_ptr<PingProcessFactory> factory, Clock clock, QObject *parent = nullptr);
    ~PingService() override;

    Q_INVOKABLE void pingHost(const QString &host);
    // The list in view changed: queued hosts it no longer holds are dropped, so
    // its own rows are measured next. Pings already running finish.
    Q_INVOKABLE void keepOnly(const QStringList &hosts);
    Q_INVOKABLE int cachedPing(const QString &host) const;

    static int parsePingOutput(const QString &text);

    void setWatchdogMs(int ms) { m_watchdogMs = ms; }
    int activeCount() const { return int(m_active.size()); }
    QStringList queuedHosts() const { return m_queue; }
    int cacheSize() const { return int(m_cache.size()); }

signals:
    void pingMeasured(const QString &host, int ms);
    void pingFailed(const QString &host);

private:
    void startPing(const QString &host);
    void onPingFinished(PingProcess *process, const QString &host, int exitCode);
    void onPingError(PingProcess *process, const QString &host);
    void pumpQueue();
    void report(const QString &host, int ms);
    // Stale entries go, so hosts no longer listed do not stay for the run.
    void pruneCache(qint64 now);

    std::unique_ptr<PingProcessFactory> m_factory;
    Clock m_clock;
    int m_watchdogMs = kDefaultWatchdogMs;
    QHash<QString, PingCacheEntry> m_cache;
    QStringList m_queue;
    QSet<QString> m_queued; // what m_queue holds, for lookups that do not walk it
    QHash<QString, PingProcess *> m_active;
    qint64 m_nextPruneMs = 0;
};
