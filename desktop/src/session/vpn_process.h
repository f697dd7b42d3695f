#pragma once
// Runs the tunnel client for the desktop program, one process at a time, and
// turns its event lines into a status string and a few signals.
#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

class VpnProcess : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool running READ running NOTIFY runningChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(QString vpnIp READ vpnIp NOTIFY vpnInfoChanged)
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)

public:
    explicit VpnProcess(QObject *parent = nullptr);
    ~VpnProcess() override;

    bool running() const { return m_running; }
    QString status() const { return m_status; }
    QString vpnIp() const { return m_vpnIp; }
    // Why the client is retrying: the text of its last transient error, in the
    // language set now; empty once the tunnel is ready, stopped or gone.
    QString lastError() const { return m_lastError; }

    void start(const QString &server, const QString &user, const QString &password, const QString &node);
    void stop();
    QString localizedError(const QString &code, const QString &message) const;

    // Exactly "fa" selects the Persian texts. It may change while the client runs:
    // the reason on show is said again in the new language, and so are later ones.
    void setLang(const QString &lang);
    QString lang() const { return m_lang; }

    // Where the client executable is looked up; the program's own folder unless a test says otherwise.
    void setProgramDirectory(const QString &dir) { m_programDir = dir; }

    // The client program in dir that start runs, empty when there is none.
    static QString clientProgramIn(const QString &dir);

    static const QStringList &fatalErrorCodes();
    static QStringList buildArguments(const QString &server, const QString &user,
                                      const QString &password, const QString &node);

signals:
    void runningChanged();
    void statusChanged();
    void vpnInfoChanged();
    void lastErrorChanged();
    void vpnConnecting();
    void vpnReady(QString ip);
    void vpnError(QString code, QString message);
    void vpnDisconnected(QString reason);
    void vpnReconnecting(int backoffSecs);

private slots:
    void onReadyRead();
    void onProcessFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void onProcessError(QProcess::ProcessError error);

private:
    void setStatus(const QString &status);
    void setLastError(const QString &text);
    void setRetryReason(const QString &code, const QString &message, const QString &detail);
    void clearRetryReason();
    QString retryReasonText() const;
    void handleEventLine(const QByteArray &line);
    void drainLines();
    void reportFailure(const QString &code, const QString &english);
    void sendBreak();
    QString executablePath() const;

    QProcess m_process;
    bool m_running = false;
    bool m_stopping = false;
    bool m_gotReady = false;
    bool m_launchFailed = false;
    bool m_destroying = false;
    QString m_status;
    QString m_vpnIp;
    QString m_lastError;
    // The client's own words for the reason on show, kept to say it in any language.
    QString m_reasonCode;
    QString m_reasonMessage;
    QString m_reasonDetail;
    bool m_hasReason = false;
    QByteArray m_lineBuffer;
    bool m_skippingLongLine = false; // dropping an over-long line up to its line feed
    QString m_programDir;
    QString m_lang = QStringLiteral("en");
};
