#pragma once

#include "platform/ping_process.h"

#include <QProcess>

// Runs "ping -c 1 -W 1 <host>": one request, one second to answer.
class LinuxPingProcess : public PingProcess
{
    Q_OBJECT
public:
    explicit LinuxPingProcess(QObject *parent = nullptr);
    ~LinuxPingProcess() override;

    void start(const QString &host) override;
    QString readStandardOutput() override;
    void kill() override;

    static QStringList argumentsFor(const QString &host);

private:
    QProcess m_process;
};

class LinuxPingProcessFactory : public PingProcessFactory
{
public:
    PingProcess *create(QObject *parent) override;
};
