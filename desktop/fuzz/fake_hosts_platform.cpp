// Replaces platform/linux/hosts_file.cpp in fuzz builds: the machine's hosts
// file is never touched and no resolver cache is flushed thousands of times.
#include "fuzz_targets.h"

#include "platform/hosts_file.h"

namespace fuzz {

QString fakeHostsPath()
{
    return scratchDir() + QStringLiteral("/hosts");
}

int &dnsFlushes()
{
    static int count = 0;
    return count;
}

} // namespace fuzz

namespace platform {

QString systemHostsFilePath()
{
    return fuzz::fakeHostsPath();
}

void flushDnsCache()
{
    ++fuzz::dnsFlushes();
}

} // namespace platform
