// One refresh of a long dedicated-server list: the page asks the ping service
// for every address while the earlier ones still wait in its queue.
#include "platform/ping_process.h"
#include "service/ping_service.h"

#include <QStringList>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

// Never ends, so every host past the first few stays queued.
class IdlePingProcess : public PingProcess
{
public:
    using PingProcess::PingProcess;
    void start(const QString &) override {}
    QString readStandardOutput() override { return {}; }
    void kill() override {}
};

class IdlePingFactory : public PingProcessFactory
{
public:
    PingProcess *create(QObject *parent) override { return new IdlePingProcess(parent); }
};

void refreshLongList(benchmark::State &state)
{
    const int count = int(state.range(0));
    QStringList hosts;
    for (int i = 0; i < count; ++i)
        hosts << QStringLiteral("10.%1.%2.%3:27015").arg(i >> 16).arg((i >> 8) & 255).arg(i & 255);
    PingService service(std::make_unique<IdlePingFactory>(), [] { return qint64(0); });
    for (const QString &host : std::as_const(hosts))
        service.pingHost(host); // the first refresh fills the queue
    for (auto _ : state)
        for (const QString &host : std::as_const(hosts))
            service.pingHost(host);
    state.SetItemsProcessed(state.iterations() * count);
}

} // namespace

BENCHMARK(refreshLongList)->Arg(80000)->Unit(benchmark::kMillisecond);
