#pragma once

#include "platform/process_launcher.h"

// posix_spawn in its own session, in the given directory, with only the
// standard streams inherited.
class LinuxProcessLauncher : public ProcessLauncher {
public:
    Result start(const std::filesystem::path& executable, const std::filesystem::path& workingDirectory) override;
};
