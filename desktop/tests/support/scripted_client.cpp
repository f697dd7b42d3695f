#include "support/scripted_client.h"

#include <QFile>

ScriptedClientFolder::ScriptedClientFolder(const QStringList &script)
{
    QFile::link(QStringLiteral(CORVANA_BIN_DIR "/scripted-tunnel-client"), m_dir.filePath(QStringLiteral("ostrel-client")));
    setScript(script);
    qputenv("SCRIPTED_CLIENT_SCRIPT", m_dir.filePath(QStringLiteral("script")).toLocal8Bit());
}

void ScriptedClientFolder::setScript(const QStringList &script)
{
    QFile file(m_dir.filePath(QStringLiteral("script")));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(script.join(QLatin1Char('\n')).replace(QStringLiteral("%DIR%"), m_dir.path()).toUtf8() + '\n');
}

QStringList ScriptedClientFolder::arguments() const
{
    QFile written(file("args"));
    if (!written.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(written.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList ScriptedClientFolder::readyScript()
{
    return {QStringLiteral("args %DIR%/args"),
            QStringLiteral(R"(on-break {"event":"disconnected","reason":"user"})"),
            QStringLiteral(R"(out {"event":"connecting"})"),
            QStringLiteral(R"(out {"event":"handshake","step":"cookie"})"),
            QStringLiteral(R"(out {"event":"connected","ip":"10.20.0.5"})"),
            QStringLiteral(R"(out {"event":"adapter"})"),
            QStringLiteral(R"(out {"event":"configured"})"),
            QStringLiteral(R"(out {"event":"ready"})"),
            QStringLiteral("wait")};
}
