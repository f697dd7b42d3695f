#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

#include <sys/types.h>

// Another local account, for promises about names in folders every account
// can write: "nobody". Only root can act as it, so tests that need it skip
// otherwise.
namespace otherAccount {

constexpr uid_t kUid = 65534;
constexpr gid_t kGid = 65534;

bool available();
// A fresh folder anyone may create names in, as /tmp is (1777).
bool makeShared(const QString &path);
// Makes path (and what is below it) that account's.
bool hand(const QString &path);

} // namespace otherAccount

// A program of the other account listening first on a local socket name (see
// tests/programs/socket-squatter.cpp).
class OtherAccountListener
{
public:
    ~OtherAccountListener();
    // True once it listens at path, as the other account.
    bool listen(const QString &path);
    // What reached it: the connections it accepted and the bytes they sent,
    // counted once a connection of the test's own, made last, has been read,
    // so that anything sent before has arrived.
    struct Heard
    {
        bool settled = false;
        int connections = 0;
        QByteArray bytes;
    };
    Heard heard();

private:
    QProcess m_process;
    QString m_path;
    QByteArray m_output;
    int m_ownConnections = 0;
};
