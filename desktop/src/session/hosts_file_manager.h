#pragma once
// Removes the program's own block of lines from the hosts file; never adds one.
#include <QObject>
#include <QRegularExpression>
#include <QString>

extern const QString kHostsBlockStartMarker;
extern const QString kHostsBlockEndMarker;

class HostsFileManager : public QObject {
    Q_OBJECT

public:
    explicit HostsFileManager(QObject *parent = nullptr);
    ~HostsFileManager() override;

    bool removeManagedBlock();
    QString readHostsFile();
    bool writeHostsFile(const QString &text);
    QString hostsFilePath() const;
    static QRegularExpression managedBlockRegex(const QString &startMarker, const QString &endMarker);
    void flushDns();

    // Tests point the manager at a file of their own; the machine's file is never touched by them.
    void setHostsFilePath(const QString &path) { m_pathOverride = path; }
    void setRetryDelayMs(int ms) { m_retryDelayMs = ms; }

private:
    QString m_pathOverride;
    int m_retryDelayMs = 200;
};
