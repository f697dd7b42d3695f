#include "support/applier_test_support.h"
#include "update_applier.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace fs = std::filesystem;
using Op = FaultyFileOperations::Op;

namespace {

struct ApplyFixture : ::testing::Test {
    TempDir tmp;
    fs::path install = tmp.path() / "install";
    fs::path staged = tmp.path() / "staging" / "files";
    FaultyFileOperations files;
    FakeProcessWaiter waiter;
    RecordingLauncher launcher;
    UpdateApplier applier{files, waiter, launcher};
    UpdateJournal journal;

    std::size_t backupCount() const
    {
        return static_cast<std::size_t>(std::count_if(journal.changes().begin(), journal.changes().end(),
                                                      [](const auto& c) { return !c.backup.empty(); }));
    }

    void SetUp() override
    {
        writeFile(install / "corvana", "old main");
        writeFile(install / "lib" / "core.so", "old core");
        writeFile(install / "readme.txt", "untouched");
        writeFile(staged / "corvana", "new main");
        writeFile(staged / "lib" / "core.so", "new core");
        writeFile(staged / "plugins" / "deep" / "new.so", "added");
    }

    static fs::path backupOf(const fs::path& p) { return fs::path(p.string() + ".bak_corvana_updater"); }
};

} // namespace

TEST_F(ApplyFixture, CopiesEveryFileKeepingABackupOfEachOneReplaced)
{
    writeFile(backupOf(install / "corvana"), "leftover from an earlier attempt");

    ASSERT_TRUE(applier.applyStagedFiles(staged, install, journal));
    EXPECT_EQ(readFile(install / "corvana"), "new main");
    EXPECT_EQ(readFile(install / "lib" / "core.so"), "new core");
    EXPECT_EQ(readFile(install / "plugins" / "deep" / "new.so"), "added");
    EXPECT_EQ(readFile(install / "readme.txt"), "untouched");

    EXPECT_EQ(backupCount(), 3u); // the leftover is set aside until the update is decided
    EXPECT_EQ(readFile(backupOf(install / "corvana").string() + ".1"), "leftover from an earlier attempt");
    EXPECT_EQ(journal.backupOf(install / "corvana"), backupOf(install / "corvana"));
    EXPECT_EQ(readFile(backupOf(install / "corvana")), "old main");
    EXPECT_EQ(readFile(backupOf(install / "lib" / "core.so")), "old core");
    EXPECT_FALSE(journal.backupOf(install / "plugins" / "deep" / "new.so"));
    EXPECT_TRUE(logLines(install).empty());
    EXPECT_EQ(readFile(staged / "corvana"), "new main"); // staging is only read
}

TEST_F(ApplyFixture, AReplacedFileKeepsItsExecuteBitsAndANewOneKeepsTheStagedPermissions)
{
    using fs::perms;
    fs::permissions(install / "corvana", perms::owner_all | perms::group_read | perms::group_exec);
    fs::permissions(staged / "corvana", perms::owner_read | perms::owner_write);
    fs::permissions(staged / "plugins" / "deep" / "new.so", perms::owner_read | perms::owner_write);

    ASSERT_TRUE(applier.applyStagedFiles(staged, install, journal));
    EXPECT_EQ(fs::status(install / "corvana").permissions(), perms::owner_all | perms::group_exec);
    EXPECT_EQ(fs::status(install / "plugins" / "deep" / "new.so").permissions(), perms::owner_read | perms::owner_write);
    EXPECT_EQ(readFile(install / "corvana"), "new main");

    // Execute bits that cannot be kept fail the walk, so the old file comes back.
    UpdateJournal second;
    writeFile(staged / "corvana", "newer main");
    files.failNamed(Op::KeepExecutable, "corvana", std::errc::operation_not_permitted);
    EXPECT_FALSE(applier.applyStagedFiles(staged, install, second));
    ASSERT_FALSE(logLines(install).empty());
    EXPECT_NE(logLines(install).back().find("Failed to keep the execute permission of"), std::string::npos);
    ASSERT_TRUE(applier.restoreBackups(install, second));
    EXPECT_EQ(readFile(install / "corvana"), "new main");
}

TEST_F(ApplyFixture, PassesOverWhatIsNotARegularFile)
{
    fs::create_directories(staged / "empty-dir");
    fs::create_symlink(tmp.path() / "nowhere", staged / "dangling");
    fs::create_directory_symlink(install, staged / "linked-dir");

    ASSERT_TRUE(applier.applyStagedFiles(staged, install, journal));
    EXPECT_FALSE(fs::exists(install / "empty-dir"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(install / "dangling")));
    EXPECT_FALSE(fs::exists(install / "linked-dir"));
}

TEST_F(ApplyFixture, NeverWritesThroughALinkAtTheDestination)
{
    const fs::path target = tmp.path() / "elsewhere.txt";
    fs::remove(install / "corvana");
    fs::create_symlink(target, install / "corvana"); // dangling: writing through it would create target

    ASSERT_TRUE(applier.applyStagedFiles(staged, install, journal));
    EXPECT_FALSE(fs::exists(target));
    EXPECT_FALSE(fs::is_symlink(install / "corvana"));
    EXPECT_EQ(readFile(install / "corvana"), "new main");
    EXPECT_TRUE(fs::is_symlink(backupOf(install / "corvana")));

    ASSERT_TRUE(applier.restoreBackups(install, journal));
    EXPECT_TRUE(fs::is_symlink(install / "corvana"));
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(ApplyFixture, EachFailingStepStopsTheWalkWithItsMessage)
{
    const fs::path missing = tmp.path() / "nothing";
    EXPECT_FALSE(applier.applyStagedFiles(missing, install, journal));
    writeFile(tmp.path() / "a-file", "");
    EXPECT_FALSE(applier.applyStagedFiles(tmp.path() / "a-file", install, journal));
    EXPECT_EQ(logLines(install), (std::vector<std::string>{
        "Staged files directory does not exist or is not a directory: " + missing.string(),
        "Staged files directory does not exist or is not a directory: " + (tmp.path() / "a-file").string()}));

    // A file stands where a directory must be made.
    fs::remove(install / "updater.log");
    writeFile(install / "plugins", "a file, not a directory");
    EXPECT_FALSE(applier.applyStagedFiles(staged, install, journal));
    auto lines = logLines(install);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Failed to create directories for '" + (install / "plugins/deep/new.so").string() + "': ", 0),
              0u) << lines[0];
    EXPECT_EQ(readFile(install / "plugins"), "a file, not a directory");
}

TEST_F(ApplyFixture, ABackupThatCannotBeMadeIsAFailure)
{
    files.failNamed(Op::Rename, "core.so.bak_corvana_updater", std::errc::is_a_directory);
    EXPECT_FALSE(applier.applyStagedFiles(staged, install, journal));
    EXPECT_EQ(readFile(install / "lib" / "core.so"), "old core");
    EXPECT_FALSE(journal.backupOf(install / "lib" / "core.so"));
    const auto lines = logLines(install);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Failed to create backup for '" + (install / "lib/core.so").string() + "': Is a directory");
}

TEST_F(ApplyFixture, RestoringAfterAFailedCopyLeavesTheInstallationAsItWas)
{
    const auto before = snapshot(install);
    files.failNth(Op::Copy, 3, std::errc::no_space_on_device); // the last of the three staged files

    EXPECT_FALSE(applier.applyStagedFiles(staged, install, journal));
    const auto lines = logLines(install);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Failed to copy '" + staged.string(), 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("': No space left on device"), std::string::npos) << lines[0];

    fs::remove(install / "updater.log");
    ASSERT_TRUE(applier.restoreBackups(install, journal));
    // Replaced files are back, and files and folders the update added are gone.
    EXPECT_EQ(snapshot(install), before);
    EXPECT_TRUE(logLines(install).empty());
}

TEST_F(ApplyFixture, ARestoreThatFailsGoesOnWithTheOtherBackups)
{
    ASSERT_TRUE(applier.applyStagedFiles(staged, install, journal));
    ASSERT_EQ(backupCount(), 2u);

    // corvana cannot be cleared away; core.so's backup can neither be renamed nor copied back.
    files.failNamed(Op::Remove, "corvana", std::errc::device_or_resource_busy);
    files.failNamed(Op::Rename, "core.so", std::errc::cross_device_link);
    files.failNamed(Op::Copy, "core.so", std::errc::io_error);
    EXPECT_FALSE(applier.restoreBackups(install, journal));

    const std::string core = (install / "lib/core.so").string();
    const std::string main = (install / "corvana").string();
    auto lines = logLines(install);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{
        "Failed to copy backup from '" + core + ".bak_corvana_updater' to '" + core + "': Input/output error",
        "Failed to remove partially updated file during restore '" + main + "': Device or resource busy",
        "Failed to restore backup from '" + core + ".bak_corvana_updater' to '" + core + "'",
    }));
    // Nothing is lost: each old file still sits in its backup.
    EXPECT_EQ(readFile(backupOf(install / "corvana")), "old main");
    EXPECT_EQ(readFile(backupOf(install / "lib" / "core.so")), "old core");
}

TEST_F(ApplyFixture, MoveWithOverwriteFallsBackToCopyAndWarnsWhenTheSourceStays)
{
    const fs::path source = tmp.path() / "backup";
    const fs::path destination = install / "new" / "dir" / "file";
    writeFile(source, "content");

    files.failNamed(Op::Rename, "file", std::errc::cross_device_link);
    files.failNamed(Op::Remove, "backup", std::errc::permission_denied);
    EXPECT_TRUE(move_with_overwrite(files, source, destination, install));
    EXPECT_EQ(readFile(destination), "content");
    EXPECT_EQ(logLines(install), std::vector<std::string>{
        "Warning: copied backup but failed to remove original backup file '" + source.string()
        + "': Permission denied"});

    fs::remove(install / "updater.log");
    files.failNamed(Op::CreateDirectories, "other", std::errc::read_only_file_system);
    EXPECT_FALSE(move_with_overwrite(files, source, install / "other" / "file", install));
    EXPECT_EQ(logLines(install), std::vector<std::string>{
        "Failed to create parent directories for '" + (install / "other/file").string()
        + "': Read-only file system"});

    // Without faults a rename does it all and leaves nothing behind.
    FaultyFileOperations plain;
    EXPECT_TRUE(move_with_overwrite(plain, source, install / "moved", install));
    EXPECT_EQ(readFile(install / "moved"), "content");
    EXPECT_FALSE(fs::exists(source));
    EXPECT_EQ(plain.calls(Op::Copy), 0);
}

TEST_F(ApplyFixture, CleanTempDirRemovesTheTreeOrWarns)
{
    const fs::path staging = staged.parent_path();
    files.failNamed(Op::RemoveAll, "staging", std::errc::device_or_resource_busy, 1);
    EXPECT_FALSE(applier.cleanTempDir(staging, install));
    EXPECT_TRUE(fs::exists(staging));
    EXPECT_EQ(logLines(install), std::vector<std::string>{
        "Warning: failed to clean temp dir '" + staging.string() + "': Device or resource busy"});

    EXPECT_TRUE(applier.cleanTempDir(staging, install));
    EXPECT_FALSE(fs::exists(staging));
}
