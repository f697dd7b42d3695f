#pragma once

#include "apply_plan.h"
#include "file_operations.h"
#include "platform/process_launcher.h"
#include "platform/process_waiter.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Every change an update has made to the installation, in the order made, so a
// failure can undo them last to first (a folder the update created is emptied
// before it goes; a removed folder comes back before anything inside it).
class UpdateJournal {
public:
    struct Change {
        std::filesystem::path path;
        // Where the previous entry waits; empty when the update created path.
        std::filesystem::path backup;
    };

    void backedUp(const std::filesystem::path& path, const std::filesystem::path& backup) { changes_.push_back({path, backup}); }
    void created(const std::filesystem::path& path) { changes_.push_back({path, {}}); }
    const std::vector<Change>& changes() const { return changes_; }
    // The backup kept for path, if there is one.
    std::optional<std::filesystem::path> backupOf(const std::filesystem::path& path) const;

private:
    std::vector<Change> changes_;
};

inline constexpr std::string_view kBackupSuffix = ".bak_corvana_updater";
inline constexpr std::string_view kLogFileName = "updater.log";

// apply.json is small; anything far larger or deeper is not a plan we wrote.
inline constexpr std::uintmax_t kMaxApplyPlanBytes = 8u * 1024u * 1024u;
inline constexpr std::size_t kMaxApplyPlanDepth = 512;

// Each step of an update. Every operation catches its own errors, has logged
// the reason to updater.log when it returns false, and never throws.
class UpdateApplier {
public:
    UpdateApplier(FileOperations& files, ProcessWaiter& waiter, ProcessLauncher& launcher,
                  std::chrono::milliseconds parentWaitLimit = std::chrono::milliseconds(30000));

    static void appendLog(const std::filesystem::path& installDir, std::string_view message);
    // Writes the lines that could not be written when they were logged (a full disk), once.
    static void retryUnwrittenLog(const std::filesystem::path& installDir);
    static std::u16string utf8ToWide(std::string_view utf8);
    // Text for an error number as the system reports it.
    static std::string windowsErrorText(int error);
    static std::optional<ApplyPlan> readApplyPlan(const std::filesystem::path& planPath,
                                                  const std::filesystem::path& installDir);
    // Throws std::filesystem::filesystem_error when a path cannot be made canonical.
    static bool isWithinDirectory(const std::filesystem::path& base, const std::filesystem::path& candidate);

    bool waitForParent(std::uint32_t processId, const std::filesystem::path& installDir);
    // Moves the entry aside as a backup rather than deleting it, so a failure can bring it back.
    bool removeEntry(const std::filesystem::path& installDir, const std::u16string& entry, UpdateJournal& journal);
    bool applyStagedFiles(const std::filesystem::path& filesDir, const std::filesystem::path& installDir,
                          UpdateJournal& journal);
    // Undoes every change of the journal: what the update added goes, every backup goes back.
    bool restoreBackups(const std::filesystem::path& installDir, const UpdateJournal& journal);
    // After success: the backups are no longer needed. Failures only warn.
    void removeBackups(const std::filesystem::path& installDir, const UpdateJournal& journal);
    bool cleanTempDir(const std::filesystem::path& stagingDir, const std::filesystem::path& installDir);
    bool launchMainExecutable(const std::filesystem::path& installDir, const ApplyPlan& plan);

    FileOperations& files() { return files_; }

private:
    bool moveAside(const std::filesystem::path& target, UpdateJournal& journal, std::error_code& ec);
    void createParents(const std::filesystem::path& installDir, const std::filesystem::path& dir,
                       UpdateJournal& journal, std::error_code& ec);

    FileOperations& files_;
    ProcessWaiter& waiter_;
    ProcessLauncher& launcher_;
    std::chrono::milliseconds parentWaitLimit_;
};

// Puts source's content at destination: a rename when possible, else copy and delete,
// a folder whole and its links as links. False when part of it stayed at source.
bool move_with_overwrite(FileOperations& files, const std::filesystem::path& source,
                         const std::filesystem::path& destination, const std::filesystem::path& installDir);
