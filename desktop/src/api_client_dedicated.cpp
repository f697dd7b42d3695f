// The local UDP forward to a dedicated game server.
#include "api_client.h"

#include "logger.h"
#include "port_forward.h"

#include <QHostAddress>

int ApiClient::startDedicatedUdpForward(const QString &remoteAddress, int remotePort)
{
    QString host = remoteAddress.trimmed();
    const int colon = host.indexOf(QLatin1Char(':'));
    // "host:port" with a single colon; IPv6 literals have several and stay whole.
    if (colon > 0 && host.count(QLatin1Char(':')) == 1) {
        bool ok = false;
        const int parsed = host.mid(colon + 1).toInt(&ok, 10);
        if (ok) {
            if (remotePort < 1)
                remotePort = parsed;
            host = host.left(colon);
        }
    }

    const QString invalid = localized("Invalid game server address", "آدرس سرور بازی نامعتبر است");
    if (host.isEmpty() || remotePort < 1 || remotePort > 65535) {
        emit requestError(invalid);
        return 0;
    }
    // Only literals: names are not resolved here.
    QHostAddress address;
    if (!address.setAddress(host)) {
        emit requestError(invalid);
        return 0;
    }

    stopDedicatedUdpForward();

    auto *forward = new PortForward(QStringLiteral("Dedicated Game"), 0, host, quint16(remotePort),
                                    ForwardProtocol::Udp, this);
    connect(forward, &PortForward::error, this, &ApiClient::onDedicatedForwardError);
    if (!forward->start()) {
        forward->deleteLater();
        return 0;
    }
    m_dedicatedForward = forward;
    m_dedicatedForwardPort = forward->localPort();
    Logger::instance().log(Logger::Info, QStringLiteral("dedicated"),
                           QStringLiteral("UDP forward active: 127.0.0.1:%1 -> %2:%3")
                               .arg(m_dedicatedForwardPort)
                               .arg(host)
                               .arg(remotePort));
    emit dedicatedUdpForwardStarted(m_dedicatedForwardPort);
    return m_dedicatedForwardPort;
}

void ApiClient::stopDedicatedUdpForward()
{
    if (!m_dedicatedForward)
        return;
    PortForward *forward = m_dedicatedForward;
    m_dedicatedForward = nullptr;
    m_dedicatedForwardPort = 0;
    forward->stop();
    forward->deleteLater();
    emit dedicatedUdpForwardStopped();
}

void ApiClient::onDedicatedForwardError(const QString &message)
{
    emit requestError(message);
}
