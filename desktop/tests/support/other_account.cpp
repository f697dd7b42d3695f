#include "support/other_account.h"
#include "support/wait_bounds.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QMap>
#include <QTest>

#include <csignal>
#include <grp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kMarker[] = "end of test";

} // namespace

namespace otherAccount {

bool available()
{
    return ::geteuid() == 0;
}

bool makeShared(const QString &path)
{
    return QDir().mkpath(path) && ::chmod(QFile::encodeName(path).constData(), 01777) == 0;
}

bool hand(const QString &path)
{
    bool ok = ::lchown(QFile::encodeName(path).constData(), kUid, kGid) == 0;
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        ok = ::lchown(QFile::encodeName(it.next()).constData(), kUid, kGid) == 0 && ok;
    return ok;
}

} // namespace otherAccount

OtherAccountListener::~OtherAccountListener()
{
    m_process.kill();
    m_process.waitForFinished(kEventWaitMs);
    if (!m_path.isEmpty())
        QFile::remove(m_path);
}

bool OtherAccountListener::listen(const QString &path)
{
    m_path = path;
    m_process.setProgram(QStringLiteral(CORVANA_BIN_DIR "/socket-squatter"));
    m_process.setArguments({path});
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setChildProcessModifier([] {
        // The parent-death signal goes with a change of account, so it is set after.
        if (::setgroups(0, nullptr) != 0 || ::setgid(otherAccount::kGid) != 0 || ::setuid(otherAccount::kUid) != 0)
            ::_exit(126);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
    m_process.start();
    if (!QTest::qWaitFor([this] {
            m_output += m_process.readAllStandardOutput();
            return m_output.contains("listening\n") || m_process.state() == QProcess::NotRunning;
        }, kEventWaitMs))
        return false;
    return m_output.contains("listening\n") && QFileInfo(path).ownerId() == otherAccount::kUid;
}

OtherAccountListener::Heard OtherAccountListener::heard()
{
    Heard heard;
    QLocalSocket own;
    own.connectToServer(m_path);
    if (!own.waitForConnected(kEventWaitMs))
        return heard;
    ++m_ownConnections;
    own.write(kMarker);
    own.waitForBytesWritten(kEventWaitMs);
    own.disconnectFromServer();
    const QByteArray marker = QByteArray(kMarker).toHex();
    heard.settled = QTest::qWaitFor([&] {
        m_output += m_process.readAllStandardOutput();
        return m_output.count(' ' + marker + '\n') == m_ownConnections;
    }, kEventWaitMs);

    QMap<int, QByteArray> sent;
    for (const QByteArray &line : m_output.split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.value(0) == "accepted")
            sent[words.value(1).toInt()];
        else if (words.value(0) == "data")
            sent[words.value(1).toInt()] += QByteArray::fromHex(words.value(2));
    }
    for (const QByteArray &bytes : std::as_const(sent)) {
        if (bytes == kMarker)
            continue;
        ++heard.connections;
        heard.bytes += bytes;
    }
    return heard;
}
