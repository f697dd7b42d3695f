#pragma once

// The applier's exit status names the step that failed. 10 is never produced.
enum class ApplierExitCode : int {
    Success = 0,
    BadArguments = 1,
    StagingDirMissing = 2,
    InstallDirMissing = 3,
    ParentWaitFailed = 4,
    ApplyPlanMissing = 5,
    ApplyFailed = 6,
    RestoreFailed = 7,
    LaunchFailed = 8,
    StagingCleanupFailed = 9,
    ApplyPlanInvalid = 11,
};
