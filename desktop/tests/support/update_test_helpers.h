#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QString>
#include <QStringList>

class UpdateService;

// Writes a file, creating its folders; false when it could not.
bool writeTestFile(const QString &path, const QByteArray &bytes);
QByteArray readTestFile(const QString &path);
QString sha256Of(const QByteArray &bytes);
// Text of the process-wide log file.
QString updateLogText();
// Paths (decoded) of the file downloads among logged requests.
QStringList downloadedPaths(const QJsonArray &requests);
