#pragma once
// Fuzz entry points for input the desktop program does not control: each takes
// any bytes and aborts when an invariant breaks, so both libFuzzer and the
// replay driver report it. init() runs once per process, before any target.
// Every target works synchronously: nothing waits for the event loop.
#include <cstddef>
#include <cstdint>

#include <QString>

namespace fuzz {

using Target = int (*)(const std::uint8_t *data, std::size_t size);

// A QCoreApplication, a private folder (XDG_RUNTIME_DIR points into it) and a
// log that writes to /dev/null, so the log lines are built but nothing fills up.
void init();
// The private folder of this process; removed at exit.
QString scratchDir();

// Reports the broken invariant and aborts; unlike assert() it stays in release builds.
[[noreturn]] void fail(const char *condition, const char *file, int line);

// The platform's hosts file in fuzz builds (fake_hosts_platform.cpp): a file
// in the private folder, and a DNS flush that is only counted.
QString fakeHostsPath();
int &dnsFlushes();

int lobbyMessage(const std::uint8_t *data, std::size_t size);
int ipcStream(const std::uint8_t *data, std::size_t size);
int updateManifest(const std::uint8_t *data, std::size_t size);
int hostsCleanup(const std::uint8_t *data, std::size_t size);

} // namespace fuzz

#define FUZZ_CHECK(condition) \
    ((condition) ? void(0) : ::fuzz::fail(#condition, __FILE__, __LINE__))
