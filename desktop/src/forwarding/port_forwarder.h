#pragma once

#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QString>

class PortForward;

// A list of named forwards into the VPN subnet, with checks and presets.
class PortForwarder : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QJsonArray forwards READ forwards NOTIFY forwardsChanged)
    Q_PROPERTY(int count READ count NOTIFY forwardsChanged)
public:
    explicit PortForwarder(QObject *parent = nullptr);
    ~PortForwarder() override;

    Q_INVOKABLE bool addForward(const QString &name, int localPort, const QString &remoteIp, int remotePort,
                                const QString &protocol);
    Q_INVOKABLE void removeForward(int index);
    Q_INVOKABLE void stopAll();
    Q_INVOKABLE bool addCs2Forward(const QString &remoteIp);

    QJsonArray forwards() const;
    int count() const { return int(m_forwards.size()); }

signals:
    void forwardsChanged();
    void forwardError(const QString &message);

private:
    QList<PortForward *> m_forwards;
};
