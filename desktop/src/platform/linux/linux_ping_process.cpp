#include "platform/linux/linux_ping_process.h"

LinuxPingProcess::LinuxPingProcess(QObject *parent)
    : PingProcess(parent)
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    connect(&m_process, &QProcess::finished, this,
            [this](int exitCode, QProcess::ExitStatus) { emit finished(exitCode); });
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError) { emit errorOccurred(); });
}

LinuxPingProcess::~LinuxPingProcess()
{
    // Nobody listens any more; do not report the forced end.
    m_process.disconnect(this);
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(1000);
    }
}

QStringList LinuxPingProcess::argumentsFor(const QString &host)
{
    return {QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-W"), QStringLiteral("1"), host};
}

void LinuxPingProcess::start(const QString &host)
{
    m_process.setProgram(QStringLiteral("ping"));
    m_process.setArguments(argumentsFor(host));
    m_process.start(QIODevice::ReadWrite);
}

QString LinuxPingProcess::readStandardOutput()
{
    return QString::fromLocal8Bit(m_process.readAllStandardOutput());
}

void LinuxPingProcess::kill()
{
    m_process.kill();
}

PingProcess *LinuxPingProcessFactory::create(QObject *parent)
{
    return new LinuxPingProcess(parent);
}

std::unique_ptr<PingProcessFactory> createSystemPingProcessFactory()
{
    return std::make_unique<LinuxPingProcessFactory>();
}
