#pragma once

#include "platform/url_scheme_registry.h"

// A desktop entry for x-scheme-handler/<scheme> in the user's applications
// folder, made the scheme's default handler in the user's mimeapps.list.
class XdgUrlSchemeRegistry : public UrlSchemeRegistry
{
public:
    // Empty folders mean the user's own (XDG data and config homes).
    explicit XdgUrlSchemeRegistry(QString applicationsDir = {}, QString configDir = {});

    bool registerScheme(const Registration &registration) override;

    static QString desktopFileName(const QString &scheme);
    // The Exec value: the quoted program path, then the link as %u.
    static QString execLine(const QString &executablePath);
    // mimeapps.list with the scheme's default set; every other byte kept as it was.
    static QByteArray withDefaultHandler(const QByteArray &mimeapps, const QString &mimeType,
                                         const QString &desktopFile);

    QString applicationsDir() const { return m_applicationsDir; }
    QString configDir() const { return m_configDir; }

private:
    QString m_applicationsDir;
    QString m_configDir;
};
