#include "support/applier_test_support.h"
#include "update_applier.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using Op = FaultyFileOperations::Op;

namespace {

struct RemoveFixture : ::testing::Test {
    TempDir tmp;
    fs::path install = tmp.path() / "install";
    fs::path outside = tmp.path() / "outside";
    FaultyFileOperations files;
    FakeProcessWaiter waiter;
    RecordingLauncher launcher;
    UpdateApplier applier{files, waiter, launcher};
    UpdateJournal journal;

    void SetUp() override
    {
        writeFile(install / "corvana", "main");
        writeFile(install / "old.dll", "old");
        writeFile(install / "plugins" / "a" / "x.so", "x");
        writeFile(install / "plugins" / "y.so", "y");
        writeFile(outside / "keep.txt", "keep");
    }
};

} // namespace

TEST(IsWithinDirectory, ComparesCanonicalElementsExactly)
{
    TempDir tmp;
    const fs::path base = tmp.path() / "inst";
    fs::create_directories(base / "sub");
    fs::create_directories(tmp.path() / "inst2");
    fs::create_directory_symlink(tmp.path(), base / "up");

    EXPECT_TRUE(UpdateApplier::isWithinDirectory(base, base));
    EXPECT_TRUE(UpdateApplier::isWithinDirectory(base, base / "."));
    EXPECT_TRUE(UpdateApplier::isWithinDirectory(base, base / "sub" / "file"));
    EXPECT_TRUE(UpdateApplier::isWithinDirectory(base, base / "not" / "yet" / "there"));
    EXPECT_TRUE(UpdateApplier::isWithinDirectory(base / "sub" / "..", base / "sub"));
    EXPECT_FALSE(UpdateApplier::isWithinDirectory(base, tmp.path() / "inst2" / "f")); // shared prefix only
    EXPECT_FALSE(UpdateApplier::isWithinDirectory(base, base / ".." / "inst2"));
    EXPECT_FALSE(UpdateApplier::isWithinDirectory(base, base / "sub" / ".." / ".."));
    EXPECT_FALSE(UpdateApplier::isWithinDirectory(base, tmp.path()));
    EXPECT_FALSE(UpdateApplier::isWithinDirectory(base, base / "up" / "inst2")); // through a link
    EXPECT_TRUE(UpdateApplier::isWithinDirectory(base, base / "up" / "inst" / "sub"));
    EXPECT_FALSE(UpdateApplier::isWithinDirectory(base, tmp.path() / "INST" / "sub")); // case matters
    EXPECT_TRUE(UpdateApplier::isWithinDirectory(fs::path(base.string() + "/"), base / "sub"));
}

TEST_F(RemoveFixture, MovesEntriesAsideUntilTheUpdateIsDecidedAndPassesOverMissingPaths)
{
    fs::create_symlink(install / "plugins" / "y.so", install / "y-link");
    fs::create_symlink(outside / "never-was.so", install / "dangling");
    const auto before = snapshot(install);

    EXPECT_TRUE(applier.removeEntry(install, u"old.dll", journal));
    EXPECT_TRUE(applier.removeEntry(install, u"y-link", journal));  // the link goes, not what it names
    EXPECT_TRUE(applier.removeEntry(install, u"dangling", journal)); // leads nowhere, goes all the same
    EXPECT_TRUE(applier.removeEntry(install, u"plugins/a/", journal));
    EXPECT_TRUE(applier.removeEntry(install, u"plugins", journal)); // holds the backup of a/ by now
    EXPECT_TRUE(applier.removeEntry(install, u"never/was/here.dll", journal));
    EXPECT_TRUE(applier.removeEntry(install, u"../outside/never-there", journal)); // outside, but nothing to delete
    EXPECT_TRUE(applier.removeEntry(install, u"/nonexistent-applier-path/x", journal));
    EXPECT_EQ(snapshot(install), (std::map<std::string, std::string>{
        {"corvana", "main"}, {"old.dll.bak_corvana_updater", "old"}, {"plugins.bak_corvana_updater", "<dir>"},
        {"plugins.bak_corvana_updater/a.bak_corvana_updater", "<dir>"},
        {"plugins.bak_corvana_updater/a.bak_corvana_updater/x.so", "x"}, {"plugins.bak_corvana_updater/y.so", "y"},
        {"y-link.bak_corvana_updater", "-> " + (install / "plugins" / "y.so").string()},
        {"dangling.bak_corvana_updater", "-> " + (outside / "never-was.so").string()}}));
    EXPECT_TRUE(logLines(install).empty());

    // Undone last to first, so the nested backup finds its folder back in place.
    ASSERT_TRUE(applier.restoreBackups(install, journal));
    EXPECT_EQ(snapshot(install), before);
    EXPECT_TRUE(logLines(install).empty());

    UpdateJournal again;
    EXPECT_TRUE(applier.removeEntry(install, u"plugins", again));
    EXPECT_TRUE(applier.removeEntry(install, u"old.dll", again));
    applier.removeBackups(install, again);
    EXPECT_EQ(snapshot(install), (std::map<std::string, std::string>{
        {"corvana", "main"}, {"y-link", "-> " + (install / "plugins" / "y.so").string()},
        {"dangling", "-> " + (outside / "never-was.so").string()}}));
}

TEST_F(RemoveFixture, RefusesAnythingThatLeadsOutsideWithTheJoinedPath)
{
    const fs::path absoluteOutside = outside / "keep.txt";
    fs::create_directory_symlink(outside, install / "escape");

    EXPECT_FALSE(applier.removeEntry(install, u"../outside/keep.txt", journal));
    EXPECT_FALSE(applier.removeEntry(install, UpdateApplier::utf8ToWide(absoluteOutside.string()), journal));
    EXPECT_FALSE(applier.removeEntry(install, u"escape", journal));
    EXPECT_FALSE(applier.removeEntry(install, u"escape/keep.txt", journal));
    EXPECT_FALSE(applier.removeEntry(install, u"..", journal));

    EXPECT_EQ(logLines(install), (std::vector<std::string>{
        "Refusing to delete path outside installation directory: " + (install / "../outside/keep.txt").string(),
        "Refusing to delete path outside installation directory: " + absoluteOutside.string(),
        "Refusing to delete path outside installation directory: " + (install / "escape").string(),
        "Refusing to delete path outside installation directory: " + (install / "escape/keep.txt").string(),
        "Refusing to delete path outside installation directory: " + (install / "..").string(),
    }));
    EXPECT_EQ(readFile(outside / "keep.txt"), "keep");
    EXPECT_TRUE(fs::is_symlink(install / "escape"));
}

TEST_F(RemoveFixture, NeverDeletesTheInstallationItself)
{
    const auto before = snapshot(install);
    EXPECT_TRUE(applier.removeEntry(install, u".", journal));
    EXPECT_TRUE(applier.removeEntry(install, u"plugins/..", journal));
    EXPECT_TRUE(applier.removeEntry(install, u"./", journal));
    EXPECT_TRUE(applier.removeEntry(install, UpdateApplier::utf8ToWide(install.string()), journal));
    EXPECT_EQ(snapshot(install), before);
    EXPECT_TRUE(logLines(install).empty());
}

TEST_F(RemoveFixture, ReportsFailedMovesAndFailedStatusQueries)
{
    const auto before = snapshot(install);
    files.failNamed(Op::Rename, "old.dll.bak_corvana_updater", std::errc::permission_denied);
    EXPECT_FALSE(applier.removeEntry(install, u"old.dll", journal));

    files.failNamed(Op::Rename, "plugins.bak_corvana_updater", std::errc::io_error);
    EXPECT_FALSE(applier.removeEntry(install, u"plugins", journal));

    files.failNamed(Op::Status, "corvana", std::errc::permission_denied);
    EXPECT_FALSE(applier.removeEntry(install, u"corvana", journal));

    const auto lines = logLines(install);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Failed to remove '" + (install / "old.dll").string() + "': Permission denied");
    EXPECT_EQ(lines[1], "Failed to remove '" + (install / "plugins").string() + "': Input/output error");
    EXPECT_EQ(lines[2].rfind("Exception while removing '" + (install / "corvana").string() + "': ", 0), 0u) << lines[2];
    EXPECT_NE(lines[2].find("Permission denied"), std::string::npos);
    fs::remove(install / "updater.log");
    EXPECT_EQ(snapshot(install), before);
    EXPECT_TRUE(journal.changes().empty());
}
