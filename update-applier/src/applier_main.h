#pragma once

#include "applier_exit_code.h"
#include "file_operations.h"
#include "platform/process_launcher.h"
#include "platform/process_waiter.h"
#include "platform/sleeper.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Everything the program touches outside its own logic.
struct ApplierEnvironment {
    FileOperations& files;
    ProcessWaiter& waiter;
    ProcessLauncher& launcher;
    Sleeper& sleeper;
    std::chrono::milliseconds parentWaitLimit{30000};
    std::chrono::milliseconds pauseWithoutParent{1500};
};

// The parent id of the fourth argument: a whole unsigned decimal number, else none.
std::optional<std::uint32_t> parseParentProcessId(const std::string& argument);

// The program's whole run; arguments include the program name.
ApplierExitCode runApplier(const std::vector<std::string>& arguments, ApplierEnvironment& env);
