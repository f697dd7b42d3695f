#pragma once
// Removes the program's own block of lines from the hosts file; never adds one.
#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>

extern const QString kHostsBlockStartMarker;
extern const QString kHostsBlockEndMarker;

class HostsFileManager : public QObject {
    Q_OBJECT

public:
    explicit HostsFileManager(QObject *parent = nullptr);
    ~HostsFileManager() override;

    bool removeManagedBlock();
    // The file's bytes as they are; null when it cannot be read.
    QByteArray readHostsFile();
    bool writeHostsFile(const QByteArray &bytes);
    QString hostsFilePath() const;
    void flushDns();

    // The file without the program's blocks, every other byte as it was; the
    // same bytes when there is none. No I/O.
    static QByteArray withoutManagedBlocks(const QByteArray &content);
    // The same for any pair of markers. A marker counts only as a whole line
    // (a "\r" before its "\n" ends the line, it is not part of it); the start
    // marker nearest before an end marker opens the block; a marker without a
    // partner, and what follows it, stays, except an end marker that a stray
    // start would pair with once the block between them is gone.
    static QByteArray withoutBlocks(const QByteArray &content, QByteArrayView startMarker,
                                    QByteArrayView endMarker);

    // Tests point the manager at a file of their own; the machine's file is never touched by them.
    void setHostsFilePath(const QString &path) { m_pathOverride = path; }
    void setRetryDelayMs(int ms) { m_retryDelayMs = ms; }

private:
    QString m_pathOverride;
    int m_retryDelayMs = 200;
};
