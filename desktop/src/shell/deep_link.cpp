#include "shell/deep_link.h"

#include "platform/url_scheme_registry.h"

namespace DeepLink {

QString findInArguments(const QStringList &arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i].startsWith(QLatin1String(kSchemePrefix)))
            return arguments[i];
    }
    return {};
}

QString joinId(const QString &link)
{
    const QLatin1String prefix(kJoinPrefix);
    if (!link.startsWith(prefix))
        return {};
    return link.mid(prefix.size()).trimmed();
}

bool registerUrlProtocol(UrlSchemeRegistry &registry, const QString &executablePath)
{
    return registry.registerScheme({QStringLiteral("corvana"),
                                    QStringLiteral("URL:Corvana Protocol"), executablePath});
}

} // namespace DeepLink
