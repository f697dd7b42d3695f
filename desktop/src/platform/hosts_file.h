#pragma once
// Where the system's hosts file lives and how its resolver cache is flushed.
#include <QString>

namespace platform {

QString systemHostsFilePath();

// Blocks until the flush command has finished; its outcome is not reported.
void flushDnsCache();

} // namespace platform
