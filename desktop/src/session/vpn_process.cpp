#include "session/vpn_process.h"

#include "session/session_texts.h"
#include "shell/logger.h"
#include "platform/child_process.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTimer>

#include <utility>

namespace {

constexpr int kStartWaitMs = 5000;
constexpr int kStopGraceMs = 5000;
// Event lines are short; a longer run without a line feed is not one, and
// keeping it would let a flooding client grow memory without bound.
constexpr qsizetype kMaxLineBytes = 64 * 1024;
// At destruction the client gets this long to undo its host configuration before it is killed.
constexpr int kDestroyGraceMs = 3000;

void logLine(Logger::Level level, const char *category, const QString &message)
{
    Logger::instance().log(level, QString::fromLatin1(category), message);
}

QString textField(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? value.toString() : QString();
}

} // namespace

VpnProcess::VpnProcess(QObject *parent) : QObject(parent)
{
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &VpnProcess::onReadyRead);
    connect(&m_process, &QProcess::finished, this, &VpnProcess::onProcessFinished);
    connect(&m_process, &QProcess::errorOccurred, this, &VpnProcess::onProcessError);
}

VpnProcess::~VpnProcess()
{
    m_destroying = true;
    if (m_running) {
        m_stopping = true;
        setStatus(QStringLiteral("disconnecting"));
        sendBreak();
    }
    // Nothing the process object does from here on may reach our handlers.
    m_process.disconnect(this);
    if (m_process.state() != QProcess::NotRunning)
        m_process.waitForFinished(kDestroyGraceMs);
}

const QStringList &VpnProcess::fatalErrorCodes()
{
    static const QStringList codes = {"bad_credentials", "account_disabled", "config_error",
                                      "mode_mismatch", "unsupported_mode"};
    return codes;
}

QStringList VpnProcess::buildArguments(const QString &server, const QString &user,
                                       const QString &password, const QString &node)
{
    // Joined with "=", so a password that begins with "-" is not taken for an option.
    return {"--server", server, "--user", user, "--pass=" + password, "--node", node,
            "--mode", "l2", "--reconnect", "--insecure-skip-server-auth"};
}

QString VpnProcess::executablePath() const
{
    return clientProgramIn(m_programDir.isEmpty() ? QCoreApplication::applicationDirPath() : m_programDir);
}

QString VpnProcess::clientProgramIn(const QString &dir)
{
    for (const char *name : {"/ostrel-client.exe", "/ostrel-client"}) {
        const QString path = dir + QLatin1String(name);
        if (QFileInfo::exists(path))
            return path;
    }
    return {};
}

void VpnProcess::start(const QString &server, const QString &user, const QString &password,
                       const QString &node)
{
    if (m_running)
        return;
    const QString program = executablePath();
    if (program.isEmpty()) {
        reportFailure(QStringLiteral("not_found"), QStringLiteral("VPN client not found"));
        return;
    }
    m_stopping = false;
    m_gotReady = false;
    m_launchFailed = false;
    m_vpnIp.clear();
    clearRetryReason();
    m_lineBuffer.clear();
    m_skippingLongLine = false;
    setStatus(QStringLiteral("connecting"));
    logLine(Logger::Info, "vpn-proc",
            QStringLiteral("launching: %1 --server %2 --node %3").arg(program, server, node));

    m_process.setProcessChannelMode(QProcess::MergedChannels);
    platform::prepareTunnelChild(m_process);
    m_process.start(program, buildArguments(server, user, password, node), QIODevice::ReadWrite);

    if (m_process.waitForStarted(kStartWaitMs)) {
        m_running = true;
        emit runningChanged();
        emit vpnConnecting();
        return;
    }
    // A refused launch usually reports itself through errorOccurred first; report it once.
    if (!m_launchFailed) {
        m_launchFailed = true;
        setStatus(QStringLiteral("error"));
        reportFailure(QStringLiteral("start_failed"), QStringLiteral("Failed to start VPN client"));
    }
}

void VpnProcess::stop()
{
    if (!m_running)
        return;
    m_stopping = true;
    setStatus(QStringLiteral("disconnecting"));
    clearRetryReason();
    sendBreak();
    QPointer<VpnProcess> self(this);
    // Precise: a coarse timer may fire up to 5% early and kill a client still cleaning up.
    QTimer::singleShot(kStopGraceMs, Qt::PreciseTimer, this, [self] {
        if (!self || !self->m_stopping || self->m_process.state() == QProcess::NotRunning)
            return;
        logLine(Logger::Warn, "vpn-proc", QStringLiteral("graceful shutdown timed out — killing"));
        self->m_process.kill();
    });
}

void VpnProcess::sendBreak()
{
    platform::sendBreakToGroup(m_process.processId());
}

QString VpnProcess::localizedError(const QString &code, const QString &message) const
{
    return tunnelErrorText(code, message, m_lang);
}

void VpnProcess::setStatus(const QString &status)
{
    if (status == m_status)
        return;
    m_status = status;
    emit statusChanged();
}

void VpnProcess::setLastError(const QString &text)
{
    if (text == m_lastError)
        return;
    m_lastError = text;
    emit lastErrorChanged();
}

void VpnProcess::setLang(const QString &lang)
{
    m_lang = lang;
    if (m_hasReason)
        setLastError(retryReasonText());
}

void VpnProcess::setRetryReason(const QString &code, const QString &message, const QString &detail)
{
    m_reasonCode = code;
    m_reasonMessage = message;
    m_reasonDetail = detail;
    m_hasReason = true;
    setLastError(retryReasonText());
}

void VpnProcess::clearRetryReason()
{
    m_reasonCode.clear();
    m_reasonMessage.clear();
    m_reasonDetail.clear();
    m_hasReason = false;
    setLastError(QString());
}

QString VpnProcess::retryReasonText() const
{
    const QString text = localizedError(m_reasonCode, m_reasonMessage);
    // The English message is one line for every cause; the detail names this
    // one (which adapter, which right). The Persian texts say both already.
    const bool persian = m_lang == QLatin1String("fa");
    if (persian || m_reasonDetail.isEmpty() || m_reasonDetail.compare(text, Qt::CaseInsensitive) == 0)
        return text;
    return text + QLatin1Char('\n') + m_reasonDetail;
}

void VpnProcess::reportFailure(const QString &code, const QString &english)
{
    emit vpnError(code, localizedError(code, english));
}

void VpnProcess::onReadyRead()
{
    m_lineBuffer.append(m_process.readAllStandardOutput());
    drainLines();
}

void VpnProcess::drainLines()
{
    qsizetype newline;
    while ((newline = m_lineBuffer.indexOf('\n')) >= 0) {
        const QByteArray line = m_lineBuffer.left(newline).trimmed();
        m_lineBuffer.remove(0, newline + 1);
        if (std::exchange(m_skippingLongLine, false))
            continue; // the tail of an over-long line
        if (!line.isEmpty())
            handleEventLine(line);
    }
    if (m_lineBuffer.size() > kMaxLineBytes) {
        if (!m_skippingLongLine)
            logLine(Logger::Warn, "vpn-proc",
                    QStringLiteral("output line longer than %1 bytes skipped").arg(kMaxLineBytes));
        m_lineBuffer.clear();
        m_skippingLongLine = true;
    }
}

void VpnProcess::handleEventLine(const QByteArray &line)
{
    logLine(Logger::Debug, "vpn-stdout", QString::fromUtf8(line));
    const QJsonDocument doc = QJsonDocument::fromJson(line);
    if (!doc.isObject())
        return;
    const QJsonObject object = doc.object();
    const QString event = textField(object, "event");

    if (event == QLatin1String("connecting")) {
        setStatus(QStringLiteral("connecting"));
    } else if (event == QLatin1String("handshake")) {
        setStatus(QStringLiteral("handshake:") + textField(object, "step"));
    } else if (event == QLatin1String("connected")) {
        m_vpnIp = textField(object, "ip");
        emit vpnInfoChanged();
        setStatus(QStringLiteral("connected"));
    } else if (event == QLatin1String("adapter") || event == QLatin1String("configured")) {
        setStatus(QStringLiteral("configuring"));
    } else if (event == QLatin1String("ready")) {
        m_gotReady = true;
        clearRetryReason();
        setStatus(QStringLiteral("ready"));
        emit vpnReady(m_vpnIp);
    } else if (event == QLatin1String("bridge_info")) {
        logLine(Logger::Info, "vpn-bridge",
                QStringLiteral("ip=%1 cgnat_ip=%2 instance=%3 node=%4 status=%5")
                    .arg(textField(object, "ip"), textField(object, "cgnat_ip"),
                         textField(object, "instance_id"), textField(object, "node_id"),
                         textField(object, "status")));
    } else if (event == QLatin1String("reconnecting")) {
        bool ok = false;
        int backoff = textField(object, "backoff").toInt(&ok, 10);
        if (!ok)
            backoff = 0;
        setStatus(QStringLiteral("reconnecting:") + QString::number(backoff));
        emit vpnReconnecting(backoff);
    } else if (event == QLatin1String("error")) {
        const QString code = textField(object, "code");
        const QString text = localizedError(code, textField(object, "message"));
        if (fatalErrorCodes().contains(code)) {
            setStatus(QStringLiteral("error"));
            emit vpnError(code, text);
        } else {
            logLine(Logger::Warn, "vpn-proc",
                    QStringLiteral("transient error: code=%1 msg=%2").arg(code, text));
            setRetryReason(code, textField(object, "message"), textField(object, "detail"));
        }
    } else if (event == QLatin1String("kicked")) {
        setStatus(QStringLiteral("reconnecting:0"));
    } else if (event == QLatin1String("disconnected")) {
        const QString reason = textField(object, "reason");
        if (reason == QLatin1String("user") || reason == QLatin1String("server")) {
            setStatus(QStringLiteral("disconnected"));
            emit vpnDisconnected(reason);
        } else {
            setStatus(QStringLiteral("reconnecting:0"));
        }
    }
}

void VpnProcess::onProcessFinished(int exitCode, QProcess::ExitStatus)
{
    const QByteArray rest = m_process.readAllStandardOutput();
    if (!rest.isEmpty()) {
        m_lineBuffer.append(rest);
        drainLines();
    }
    const QByteArray last = m_lineBuffer.trimmed();
    m_lineBuffer.clear();
    if (!last.isEmpty() && !std::exchange(m_skippingLongLine, false))
        handleEventLine(last);

    logLine(Logger::Info, "vpn-proc",
            QStringLiteral("process exited: code=%1 stopping=%2 gotReady=%3")
                .arg(exitCode)
                .arg(m_stopping ? "yes" : "no", m_gotReady ? "yes" : "no"));

    const bool wasRunning = m_running;
    m_running = false;
    clearRetryReason();
    emit runningChanged();
    if (!wasRunning)
        return;

    if (m_stopping) {
        m_stopping = false;
        setStatus(QStringLiteral("disconnected"));
        emit vpnDisconnected(QStringLiteral("user"));
        return;
    }
    if (exitCode != 0) {
        if (m_status != QLatin1String("error")) {
            setStatus(QStringLiteral("error"));
            reportFailure(QStringLiteral("process_crashed"),
                          QStringLiteral("VPN process exited unexpectedly"));
        }
        return;
    }
    if (!m_gotReady && m_status != QLatin1String("error")) {
        setStatus(QStringLiteral("error"));
        reportFailure(QStringLiteral("incomplete"),
                      QStringLiteral("VPN process exited before connection was established"));
    }
}

void VpnProcess::onProcessError(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart || m_launchFailed)
        return;
    m_launchFailed = true;
    m_running = false;
    emit runningChanged();
    setStatus(QStringLiteral("error"));
    reportFailure(QStringLiteral("start_failed"), QStringLiteral("Failed to start VPN client"));
}
