#pragma once

#include <QString>
#include <QStringList>

class UrlSchemeRegistry;

// What the command line and the single-instance channel may carry.
namespace DeepLink {

inline constexpr char kSchemePrefix[] = "corvana://";
inline constexpr char kJoinPrefix[] = "corvana://join/";
inline constexpr char kShowMessage[] = "show";

// The first argument after the program's own that begins with the scheme
// prefix (case-sensitive), else empty.
QString findInArguments(const QStringList &arguments);
// The trimmed VLAN id of a join link, empty for any other text.
QString joinId(const QString &link);

// Registers the "corvana" scheme for the current user to open the program.
bool registerUrlProtocol(UrlSchemeRegistry &registry, const QString &executablePath);

} // namespace DeepLink
