#include "service/ping_service.h"

#include "platform/ping_process.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTimer>

#include <cmath>
#include <limits>

PingService::PingService(QObject *parent)
    : PingService(createSystemPingProcessFactory(), [] { return QDateTime::currentMSecsSinceEpoch(); }, parent)
{
}

PingService::PingService(std::unique_ptr<PingProcessFactory> factory, Clock clock, QObject *parent)
    : QObject(parent)
    , m_factory(std::move(factory))
    , m_clock(std::move(clock))
{
}

PingService::~PingService()
{
    // Pending measurements end silently with the service.
    const auto processes = m_active.values();
    m_active.clear();
    for (PingProcess *process : processes) {
        process->disconnect(this);
        process->kill();
        delete process;
    }
}

void PingService::pingHost(const QString &host)
{
    if (host.isEmpty())
        return;

    const auto cached = m_cache.constFind(host);
    if (cached != m_cache.constEnd() && m_clock() < cached->expiresAtMs) {
        if (cached->ms < 0)
            emit pingFailed(host);
        else
            emit pingMeasured(host, cached->ms);
        return;
    }

    if (m_active.contains(host) || m_queued.contains(host))
        return;

    // A leading dash would be read by ping as an option, not as a host.
    if (host.startsWith(QLatin1Char('-'))) {
        report(host, -1);
        return;
    }

    if (m_active.size() >= kMaxActive) {
        m_queue.append(host);
        m_queued.insert(host);
        return;
    }
    startPing(host);
}

void PingService::keepOnly(const QStringList &hosts)
{
    if (m_queue.isEmpty())
        return;
    const QSet<QString> wanted(hosts.cbegin(), hosts.cend());
    m_queue.removeIf([this, &wanted](const QString &host) {
        if (wanted.contains(host))
            return false;
        m_queued.remove(host);
        return true;
    });
}

int PingService::cachedPing(const QString &host) const
{
    const auto cached = m_cache.constFind(host);
    if (cached == m_cache.constEnd() || m_clock() > cached->expiresAtMs)
        return -1;
    return cached->ms;
}

void PingService::startPing(const QString &host)
{
    PingProcess *process = m_factory->create(this);
    m_active.insert(host, process);

    connect(process, &PingProcess::finished, this,
            [this, process, host](int exitCode) { onPingFinished(process, host, exitCode); });
    connect(process, &PingProcess::errorOccurred, this, [this, process, host] { onPingError(process, host); });

    auto *watchdog = new QTimer(process);
    watchdog->setSingleShot(true);
    connect(watchdog, &QTimer::timeout, this, [this, process, host] {
        if (m_active.value(host) != process)
            return;
        process->kill();
        onPingFinished(process, host, -1);
    });
    watchdog->start(m_watchdogMs);

    process->start(host);
}

void PingService::onPingError(PingProcess *process, const QString &host)
{
    if (m_active.value(host) == process)
        onPingFinished(process, host, -1);
}

void PingService::onPingFinished(PingProcess *process, const QString &host, int exitCode)
{
    if (m_active.value(host) != process) {
        process->deleteLater();
        pumpQueue();
        return;
    }

    const QString output = process->readStandardOutput();
    process->disconnect(this);
    process->deleteLater();
    m_active.remove(host);

    int ms = -1;
    if (exitCode == 0)
        ms = parsePingOutput(output);
    report(host, ms < 0 ? -1 : ms);
    pumpQueue();
}

void PingService::report(const QString &host, int ms)
{
    const qint64 now = m_clock();
    pruneCache(now);
    m_cache.insert(host, PingCacheEntry{ms, now + kCacheLifetimeMs});
    if (ms < 0)
        emit pingFailed(host);
    else
        emit pingMeasured(host, ms);
}

void PingService::pruneCache(qint64 now)
{
    // At most once a lifetime, so the sweep costs each result a constant share.
    if (now < m_nextPruneMs)
        return;
    m_nextPruneMs = now + kCacheLifetimeMs;
    m_cache.removeIf([now](const QHash<QString, PingCacheEntry>::iterator &entry) {
        return entry->expiresAtMs < now;
    });
}

void PingService::pumpQueue()
{
    while (!m_queue.isEmpty() && m_active.size() < kMaxActive) {
        const QString host = m_queue.takeFirst();
        m_queued.remove(host);
        if (!m_active.contains(host))
            startPing(host);
    }
}

int PingService::parsePingOutput(const QString &text)
{
    static const QRegularExpression timePattern(QStringLiteral("time[=<]\\s*([\\d\\.]+)\\s*ms"),
                                                QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression averagePattern(QStringLiteral("Average\\s*=\\s*([\\d]+)\\s*ms"),
                                                   QRegularExpression::CaseInsensitiveOption);

    const QRegularExpressionMatch timeMatch = timePattern.match(text);
    if (timeMatch.hasMatch()) {
        bool ok = false;
        const double value = timeMatch.captured(1).toDouble(&ok);
        if (!ok || !std::isfinite(value))
            return 1;
        // Absurd times are kept as the largest value rather than wrapping.
        if (value >= double(std::numeric_limits<int>::max()))
            return std::numeric_limits<int>::max();
        return std::max(1, int(std::lround(value)));
    }

    const QRegularExpressionMatch averageMatch = averagePattern.match(text);
    if (averageMatch.hasMatch()) {
        bool ok = false;
        const int value = averageMatch.captured(1).toInt(&ok, 10);
        return ok ? value : -1;
    }
    return -1;
}
