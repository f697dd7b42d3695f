#pragma once

#include <filesystem>

// Starts a program detached: the caller never waits for it.
class ProcessLauncher {
public:
    struct Result {
        int error = 0;       // 0 when the process was created
        long processId = 0;  // valid when error is 0
    };

    virtual ~ProcessLauncher() = default;
    virtual Result start(const std::filesystem::path& executable, const std::filesystem::path& workingDirectory) = 0;
};
