#pragma once

#include <QObject>
#include <QString>

#include <memory>

// One run of the system's ping program: a single echo request to one host.
class PingProcess : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~PingProcess() override = default;

    // Never blocks; a start failure arrives as errorOccurred.
    virtual void start(const QString &host) = 0;
    // Everything the program wrote to standard output, decoded.
    virtual QString readStandardOutput() = 0;
    // Ends the program at once; emits nothing further the caller relies on.
    virtual void kill() = 0;

signals:
    void finished(int exitCode);
    void errorOccurred();
};

class PingProcessFactory
{
public:
    virtual ~PingProcessFactory() = default;
    virtual PingProcess *create(QObject *parent) = 0;
};

// The factory of the platform this program is built for.
std::unique_ptr<PingProcessFactory> createSystemPingProcessFactory();
