#pragma once
// The local UDP forward to a dedicated game server: at most one at a time,
// on a port the system picks.
#include <QObject>
#include <QString>

class PortForward;

class DedicatedForward : public QObject
{
    Q_OBJECT

public:
    explicit DedicatedForward(QObject *parent = nullptr);
    ~DedicatedForward() override;

    // "fa" selects the Persian texts of the errors this reports.
    void setLang(const QString &lang) { m_lang = lang; }

    // `remoteAddress` may carry the port as "host:port"; a literal address only.
    // Returns the local port, or 0 after reporting why there is none.
    int start(const QString &remoteAddress, int remotePort);
    void stop();
    int localPort() const { return m_localPort; }

signals:
    void started(int localPort);
    void stopped();
    void error(const QString &message);

private:
    PortForward *m_forward = nullptr;
    int m_localPort = 0;
    QString m_lang = QStringLiteral("en");
};
