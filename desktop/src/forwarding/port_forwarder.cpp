#include "forwarding/port_forwarder.h"

#include "forwarding/port_forward.h"

#include <QHostAddress>
#include <QJsonObject>

PortForwarder::PortForwarder(QObject *parent)
    : QObject(parent)
{
}

PortForwarder::~PortForwarder()
{
    stopAll();
}

bool PortForwarder::addForward(const QString &name, int localPort, const QString &remoteIp, int remotePort,
                               const QString &protocol)
{
    bool isIpv4 = false;
    const quint32 ipv4 = QHostAddress(remoteIp).toIPv4Address(&isIpv4);
    if (!isIpv4 || (ipv4 >> 24) != 10) {
        emit forwardError(QStringLiteral("Remote IP must be in VPN subnet"));
        return false;
    }
    if (localPort < 1 || localPort > 65535 || remotePort < 1 || remotePort > 65535) {
        emit forwardError(QStringLiteral("Invalid port number"));
        return false;
    }
    for (const PortForward *forward : std::as_const(m_forwards)) {
        if (forward->isRunning() && forward->localPort() == localPort) {
            emit forwardError(QStringLiteral("Port %1 already in use").arg(localPort));
            return false;
        }
    }

    ForwardProtocol kind = ForwardProtocol::Both;
    if (protocol == QLatin1String("TCP"))
        kind = ForwardProtocol::Tcp;
    else if (protocol == QLatin1String("UDP"))
        kind = ForwardProtocol::Udp;

    auto *forward = new PortForward(name, quint16(localPort), remoteIp, quint16(remotePort), kind, this);
    connect(forward, &PortForward::error, this, &PortForwarder::forwardError);
    if (!forward->start()) {
        delete forward;
        return false;
    }
    m_forwards.append(forward);
    emit forwardsChanged();
    return true;
}

void PortForwarder::removeForward(int index)
{
    if (index < 0 || index >= m_forwards.size())
        return;
    PortForward *forward = m_forwards.takeAt(index);
    forward->stop();
    forward->deleteLater();
    emit forwardsChanged();
}

void PortForwarder::stopAll()
{
    const auto forwards = m_forwards;
    m_forwards.clear();
    for (PortForward *forward : forwards) {
        forward->stop();
        forward->deleteLater();
    }
    emit forwardsChanged();
}

bool PortForwarder::addCs2Forward(const QString &remoteIp)
{
    const bool game = addForward(QStringLiteral("CS2 Game"), 27015, remoteIp, 27015, QStringLiteral("Both"));
    const bool query = addForward(QStringLiteral("CS2 Query"), 27020, remoteIp, 27020, QStringLiteral("UDP"));
    return game && query;
}

QJsonArray PortForwarder::forwards() const
{
    QJsonArray entries;
    for (const PortForward *forward : m_forwards) {
        entries.append(QJsonObject{
            {QStringLiteral("name"), forward->name()},
            {QStringLiteral("localPort"), int(forward->localPort())},
            {QStringLiteral("remoteIp"), forward->remoteIp()},
            {QStringLiteral("remotePort"), int(forward->remotePort())},
            {QStringLiteral("protocol"), forwardProtocolName(forward->protocol())},
            {QStringLiteral("running"), forward->isRunning()},
            {QStringLiteral("bytes"), double(forward->bytes())},
        });
    }
    return entries;
}
