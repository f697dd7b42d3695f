#include "platform/linux/xdg_url_scheme_registry.h"

#include <QByteArray>
#include <QDir>
#include <QList>
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

namespace {

// One line of the list as it stands in the file: its text, then its own ending
// ("\n", "\r\n" or none on a last line), kept as read.
struct ListLine
{
    QByteArray text;
    QByteArray ending;
};

QList<ListLine> splitLines(const QByteArray &bytes)
{
    QList<ListLine> lines;
    qsizetype at = 0;
    while (at < bytes.size()) {
        const qsizetype newline = bytes.indexOf('\n', at);
        const qsizetype end = newline < 0 ? bytes.size() : newline;
        ListLine line {bytes.mid(at, end - at), newline < 0 ? QByteArray() : QByteArrayLiteral("\n")};
        if (newline >= 0 && line.text.endsWith('\r')) {
            line.text.chop(1);
            line.ending = QByteArrayLiteral("\r\n");
        }
        lines.append(line);
        at = end + 1;
    }
    return lines;
}

} // namespace

QByteArray XdgUrlSchemeRegistry::withDefaultHandler(const QByteArray &mimeapps, const QString &mimeType,
                                                    const QString &desktopFile)
{
    const QByteArray group = QByteArrayLiteral("[Default Applications]");
    const QByteArray key = mimeType.toUtf8();
    const QByteArray entry = key + '=' + desktopFile.toUtf8();
    QList<ListLine> lines = splitLines(mimeapps);
    // New lines end as the file's first line does.
    const QByteArray ending = !lines.isEmpty() && lines.first().ending == "\r\n" ? QByteArrayLiteral("\r\n")
                                                                               : QByteArrayLiteral("\n");
    auto join = [&] {
        QByteArray out;
        for (const ListLine &line : std::as_const(lines))
            out += line.text + line.ending;
        return out;
    };

    int groupStart = -1;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].text.trimmed() == group) {
            groupStart = i;
            break;
        }
    }
    if (groupStart < 0) {
        if (!lines.isEmpty() && lines.last().ending.isEmpty())
            lines.last().ending = ending;
        if (!lines.isEmpty() && !lines.last().text.trimmed().isEmpty())
            lines.append({QByteArray(), ending});
        lines.append({group, ending});
        lines.append({entry, ending});
        return join();
    }

    int groupEnd = lines.size();
    for (int i = groupStart + 1; i < lines.size(); ++i) {
        if (lines[i].text.trimmed().startsWith('[')) {
            groupEnd = i;
            break;
        }
    }
    // Only this scheme's line is ours; a second one for it would override ours, so it goes.
    bool replaced = false;
    for (int i = groupEnd - 1; i > groupStart; --i) {
        const QByteArray &text = lines[i].text;
        const qsizetype equals = text.indexOf('=');
        if (text.trimmed().startsWith('#') || equals < 0 || text.left(equals).trimmed() != key)
            continue;
        if (replaced) {
            lines.removeAt(i);
            --groupEnd;
        } else {
            lines[i].text = entry;
            replaced = true;
        }
    }
    if (!replaced) {
        // After the group's last non-blank line, so a blank separator stays last.
        int at = groupEnd;
        while (at > groupStart + 1 && lines[at - 1].text.trimmed().isEmpty())
            --at;
        if (lines[at - 1].ending.isEmpty())
            lines[at - 1].ending = ending;
        lines.insert(at, {entry, ending});
    }
    return join();
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

    const QString entryPath = m_applicationsDir + QLatin1Char('/') + fileName;
    QFile standing(entryPath);
    const bool same = standing.open(QIODevice::ReadOnly) && standing.readAll() == entry.toUtf8();
    standing.close();
    if (!same && (!QDir().mkpath(m_applicationsDir) || !writeWhole(entryPath, entry.toUtf8())))
        return false;

    const QString listPath = m_configDir + QStringLiteral("/mimeapps.list");
    QByteArray current;
    QFile existing(listPath);
    if (existing.exists()) {
        if (!existing.open(QIODevice::ReadOnly))
            return false; // never replace a list we could not read
        current = existing.readAll();
        existing.close();
    }
    // The list is other programs' too: read and written as bytes, rewritten only
    // when our line changes.
    const QByteArray updated = withDefaultHandler(current, mimeType, fileName);
    if (updated == current)
        return true;
    return QDir().mkpath(m_configDir) && writeWhole(listPath, updated);
}
