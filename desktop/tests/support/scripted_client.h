#pragma once

#include <QStringList>
#include <QTemporaryDir>

// A folder holding the scripted stand-in under the tunnel client's name, with
// its script ("%DIR%" in a line becomes the folder).
class ScriptedClientFolder
{
public:
    explicit ScriptedClientFolder(const QStringList &script);
    // The script of the clients started from now on.
    void setScript(const QStringList &script);
    QString path() const { return m_dir.path(); }
    QString file(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    // Arguments the stand-in was started with, when the script asked for them.
    QStringList arguments() const;

    // A client that walks to "ready", then waits; the break ends it in order.
    static QStringList readyScript();

private:
    QTemporaryDir m_dir;
};
