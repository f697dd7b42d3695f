#include "shell/deep_link_router.h"

#include "shell/deep_link.h"
#include "shell/logger.h"

#include <QVariant>

DeepLinkRouter::DeepLinkRouter(QObject *api, QObject *parent) : QObject(parent), m_api(api) {}

void DeepLinkRouter::handleInstanceMessage(const QString &message)
{
    if (message == QLatin1String(DeepLink::kShowMessage)) {
        emit showWindowRequested();
        return;
    }
    if (!message.startsWith(QLatin1String(DeepLink::kSchemePrefix)))
        return;
    const QString id = DeepLink::joinId(message);
    if (id.isEmpty())
        return;
    emit showWindowRequested();
    Logger::instance().log(Logger::Info, QStringLiteral("deeplink"),
                           QStringLiteral("join request: ") + id);
    leaveIfConnected();
    join(id);
}

void DeepLinkRouter::onStartupJoin(const QString &id)
{
    Logger::instance().log(Logger::Info, QStringLiteral("deeplink"),
                           QStringLiteral("startup join: ") + id);
    join(id);
}

void DeepLinkRouter::onDiscordJoin(const QString &id)
{
    leaveIfConnected();
    join(id);
}

void DeepLinkRouter::leaveIfConnected()
{
    if (m_api && m_api->property("connected").toBool())
        QMetaObject::invokeMethod(m_api, "disconnectVlan", Qt::DirectConnection);
}

void DeepLinkRouter::join(const QString &id)
{
    if (!m_api)
        return;
    if (!QMetaObject::invokeMethod(m_api, "joinVlan", Qt::DirectConnection, Q_ARG(QString, id))) {
        Logger::instance().log(Logger::Warn, QStringLiteral("deeplink"),
                               QStringLiteral("cannot join ") + id
                                   + QStringLiteral(": joining is not available"));
    }
}
