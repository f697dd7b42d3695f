#include "platform/linux/xdg_url_scheme_registry.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>

namespace {

bool hasControlCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

bool writeWhole(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(bytes);
    return file.commit();
}

} // namespace

XdgUrlSchemeRegistry::XdgUrlSchemeRegistry(QString applicationsDir, QString configDir)
    : m_applicationsDir(std::move(applicationsDir)), m_configDir(std::move(configDir))
{
    if (m_applicationsDir.isEmpty())
        m_applicationsDir = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
    if (m_configDir.isEmpty())
        m_configDir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

QString XdgUrlSchemeRegistry::desktopFileName(const QString &scheme)
{
    return scheme + QStringLiteral("-url-handler.desktop");
}

QString XdgUrlSchemeRegistry::execLine(const QString &executablePath)
{
    // Inside the quotes these four are escaped by a backslash; the file's own
    // string escaping then doubles every backslash, and % is a field code.
    QString quoted;
    for (const QChar c : executablePath) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$')
            || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return QLatin1Char('"') + quoted + QStringLiteral("\" %u");
}

QString XdgUrlSchemeRegistry::withDefaultHandler(const QString &mimeapps, const QString &mimeType,
                                                 const QString &desktopFile)
{
    const QString group = QStringLiteral("[Default Applications]");
    const QString entry = mimeType + QLatin1Char('=') + desktopFile;
    QStringList lines = mimeapps.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();

    int groupStart = -1;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].trimmed() == group) {
            groupStart = i;
            break;
        }
    }
    if (groupStart < 0) {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines.append(QString());
        lines.append(group);
        lines.append(entry);
        return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    }

    int groupEnd = lines.size();
    for (int i = groupStart + 1; i < lines.size(); ++i) {
        if (lines[i].trimmed().startsWith(QLatin1Char('['))) {
            groupEnd = i;
            break;
        }
    }
    bool replaced = false;
    for (int i = groupEnd - 1; i > groupStart; --i) {
        const QString key = lines[i].section(QLatin1Char('='), 0, 0).trimmed();
        if (key != mimeType)
            continue;
        if (replaced) {
            lines.removeAt(i);
        } else {
            lines[i] = entry;
            replaced = true;
        }
    }
    if (!replaced) {
        // After the group's last non-blank line, so a blank separator stays last.
        int at = groupEnd;
        while (at > groupStart + 1 && lines[at - 1].trimmed().isEmpty())
            --at;
        lines.insert(at, entry);
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

bool XdgUrlSchemeRegistry::registerScheme(const Registration &registration)
{
    if (registration.scheme.isEmpty() || hasControlCharacter(registration.scheme)
        || hasControlCharacter(registration.description)
        || hasControlCharacter(registration.executablePath)
        || registration.executablePath.isEmpty())
        return false;
    const QString mimeType = QStringLiteral("x-scheme-handler/") + registration.scheme;
    const QString fileName = desktopFileName(registration.scheme);

    QString entry;
    entry += QStringLiteral("[Desktop Entry]\n");
    entry += QStringLiteral("Type=Application\n");
    entry += QStringLiteral("Name=Corvana\n");
    entry += QStringLiteral("Comment=") + registration.description + QLatin1Char('\n');
    entry += QStringLiteral("Exec=") + execLine(registration.executablePath) + QLatin1Char('\n');
    entry += QStringLiteral("Terminal=false\n");
    entry += QStringLiteral("NoDisplay=true\n");
    entry += QStringLiteral("MimeType=") + mimeType + QStringLiteral(";\n");

    if (!QDir().mkpath(m_applicationsDir)
        || !writeWhole(m_applicationsDir + QLatin1Char('/') + fileName, entry.toUtf8()))
        return false;

    const QString listPath = m_configDir + QStringLiteral("/mimeapps.list");
    QString current;
    QFile existing(listPath);
    if (existing.exists()) {
        if (!existing.open(QIODevice::ReadOnly))
            return false; // never replace a list we could not read
        current = QString::fromUtf8(existing.readAll());
        existing.close();
    }
    const QString updated = withDefaultHandler(current, mimeType, fileName);
    if (updated == current)
        return true;
    return QDir().mkpath(m_configDir) && writeWhole(listPath, updated.toUtf8());
}
