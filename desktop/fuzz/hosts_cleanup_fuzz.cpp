// Any bytes as the hosts file, cleaned as at start-up, quit and leave, through
// the platform's file (a stand-in in the private folder here).
#include "fuzz_targets.h"

#include "session/hosts_file_manager.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Spelled out here, so a changed marker text shows.
const QByteArray kStart = "# === Corvana VPN start (do not edit) ===";
const QByteArray kEnd = "# === Corvana VPN end ===";

// A marker counts only as a whole line (its line break may be CRLF), and a
// block is a start marker with an end marker on a later line. A marker quoted
// inside a comment, or with blanks around it, is the player's text.
bool hasManagedBlock(const QByteArray &bytes)
{
    bool started = false;
    for (QByteArray line : bytes.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line == kStart)
            started = true;
        else if (started && line == kEnd)
            return true;
    }
    return false;
}

// A modification time no write can leave behind.
constexpr timespec kUntouched{1, 0};

void setUntouched(const QByteArray &path)
{
    const timespec times[2] = {kUntouched, kUntouched};
    FUZZ_CHECK(::utimensat(AT_FDCWD, path.constData(), times, 0) == 0);
}

bool written(const QByteArray &path)
{
    struct stat st {};
    FUZZ_CHECK(::stat(path.constData(), &st) == 0);
    return st.st_mtim.tv_sec != kUntouched.tv_sec || st.st_mtim.tv_nsec != kUntouched.tv_nsec;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

} // namespace

int fuzz::hostsCleanup(const std::uint8_t *data, std::size_t size)
{
    const QString path = fakeHostsPath();
    const QByteArray native = QFile::encodeName(path);
    const QString backup = path + QStringLiteral(".corvana.bak");
    const QByteArray before(reinterpret_cast<const char *>(data), qsizetype(size));
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(before) == before.size());
    }
    setUntouched(native);
    QFile::remove(backup);
    dnsFlushes() = 0;

    HostsFileManager manager;
    FUZZ_CHECK(manager.hostsFilePath() == path);
    FUZZ_CHECK(manager.removeManagedBlock());
    const QByteArray after = contents(path);
    const bool rewritten = written(native);
    FUZZ_CHECK(dnsFlushes() == (rewritten ? 1 : 0));
    FUZZ_CHECK(!QFile::exists(backup));
    if (!hasManagedBlock(before)) {
        // Nothing of ours in it: not a byte changed, not even written back.
        FUZZ_CHECK(!rewritten && after == before);
        return 0;
    }
    FUZZ_CHECK(!hasManagedBlock(after));

    // Cleaned once is clean: the next start finds nothing to write.
    setUntouched(native);
    dnsFlushes() = 0;
    FUZZ_CHECK(manager.removeManagedBlock());
    FUZZ_CHECK(!written(native) && dnsFlushes() == 0 && contents(path) == after);
    return 0;
}
