#include "applier_main.h"

#include "update_applier.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace fs = std::filesystem;

std::optional<std::uint32_t> parseParentProcessId(const std::string& argument)
{
    if (argument.empty())
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(argument.c_str(), &end, 10);
    if (end == argument.c_str() || *end != '\0')
        return std::nullopt;
    // Process ids are 32 bits wide; out-of-range input saturates like the C conversion does.
    if (errno == ERANGE || value > std::numeric_limits<std::uint32_t>::max())
        return std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(value);
}

namespace {

bool isExistingDirectory(FileOperations& files, const fs::path& p)
{
    std::error_code ec;
    const auto st = files.status(p, ec);
    return !ec && fs::is_directory(st);
}

} // namespace

ApplierExitCode runApplier(const std::vector<std::string>& arguments, ApplierEnvironment& env)
{
    if (arguments.size() != 4 && arguments.size() != 5)
        return ApplierExitCode::BadArguments;

    const fs::path stagingDir(arguments[1]);
    const fs::path installDir(arguments[2]);
    // The third argument is accepted and never read; only a fourth one names the parent.
    std::optional<std::uint32_t> parentId;
    if (arguments.size() == 5)
        parentId = parseParentProcessId(arguments[4]);

    if (!isExistingDirectory(env.files, stagingDir))
        return ApplierExitCode::StagingDirMissing;
    if (!isExistingDirectory(env.files, installDir))
        return ApplierExitCode::InstallDirMissing;

    UpdateApplier applier(env.files, env.waiter, env.launcher, env.parentWaitLimit);

    if (parentId) {
        if (!applier.waitForParent(*parentId, installDir))
            return ApplierExitCode::ParentWaitFailed;
    } else {
        env.sleeper.sleepFor(env.pauseWithoutParent);
    }

    const fs::path planPath = stagingDir / "apply.json";
    const fs::path filesDir = stagingDir / "files";
    {
        std::error_code ec;
        const auto st = env.files.status(planPath, ec);
        if (ec) {
            // Unknown whether it is there: stop before any change.
            UpdateApplier::appendLog(installDir, "Failed to open apply.json: " + planPath.string());
            return ApplierExitCode::ApplyPlanInvalid;
        }
        if (!fs::exists(st)) {
            UpdateApplier::appendLog(installDir, "Missing apply.json in temp directory.");
            return ApplierExitCode::ApplyPlanMissing;
        }
    }

    const auto plan = UpdateApplier::readApplyPlan(planPath, installDir);
    if (!plan)
        return ApplierExitCode::ApplyPlanInvalid;

    // From the first change on, any failure puts the installation back as it was.
    UpdateJournal journal;
    const auto undo = [&] {
        const bool restored = applier.restoreBackups(installDir, journal);
        // The roll-back freed what the update took, so a cause lost to a full disk fits now.
        UpdateApplier::retryUnwrittenLog(installDir);
        return restored ? ApplierExitCode::ApplyFailed : ApplierExitCode::RestoreFailed;
    };
    for (const auto& entry : plan->remove)
        if (!applier.removeEntry(installDir, entry, journal))
            return undo();
    if (!applier.applyStagedFiles(filesDir, installDir, journal))
        return undo();
    applier.removeBackups(installDir, journal);

    {
        std::error_code ignored;
        env.files.remove(installDir / kLogFileName, ignored);
    }

    const bool cleaned = applier.cleanTempDir(stagingDir, installDir);

    if (!applier.launchMainExecutable(installDir, *plan))
        return ApplierExitCode::LaunchFailed;

    return cleaned ? ApplierExitCode::Success : ApplierExitCode::StagingCleanupFailed;
}
