#include "forwarding/dedicated_forward.h"

#include "forwarding/port_forward.h"
#include "shell/logger.h"

#include <QHostAddress>

DedicatedForward::DedicatedForward(QObject *parent)
    : QObject(parent)
{
}

DedicatedForward::~DedicatedForward()
{
    stop();
}

int DedicatedForward::start(const QString &remoteAddress, int remotePort)
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

    const QString invalid = m_lang == QLatin1String("fa")
                                ? QStringLiteral("آدرس سرور بازی نامعتبر است")
                                : QStringLiteral("Invalid game server address");
    if (host.isEmpty() || remotePort < 1 || remotePort > 65535) {
        emit error(invalid);
        return 0;
    }
    // Only literals: names are not resolved here.
    QHostAddress address;
    if (!address.setAddress(host)) {
        emit error(invalid);
        return 0;
    }

    stop();

    auto *forward = new PortForward(QStringLiteral("Dedicated Game"), 0, host, quint16(remotePort),
                                    ForwardProtocol::Udp, this);
    connect(forward, &PortForward::error, this, &DedicatedForward::error);
    if (!forward->start()) {
        forward->deleteLater();
        return 0;
    }
    m_forward = forward;
    m_localPort = forward->localPort();
    Logger::instance().log(Logger::Info, QStringLiteral("dedicated"),
                           QStringLiteral("UDP forward active: 127.0.0.1:%1 -> %2:%3")
                               .arg(m_localPort)
                               .arg(host)
                               .arg(remotePort));
    emit started(m_localPort);
    return m_localPort;
}

void DedicatedForward::stop()
{
    if (!m_forward)
        return;
    PortForward *forward = m_forward;
    m_forward = nullptr;
    m_localPort = 0;
    forward->stop();
    forward->deleteLater();
    emit stopped();
}
