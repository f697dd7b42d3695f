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

TEST_F(RemoveFixture, RemovesFilesAndWholeTreesAndPassesOverMissingPaths)
{
    EXPECT_TRUE(applier.removeEntry(install, u"old.dll"));
    EXPECT_TRUE(applier.removeEntry(install, u"plugins"));
    EXPECT_TRUE(applier.removeEntry(install, u"never/was/here.dll"));
    EXPECT_TRUE(applier.removeEntry(install, u"../outside/never-there")); // outside, but nothing to delete
    EXPECT_TRUE(applier.removeEntry(install, u"/nonexistent-applier-path/x"));
    EXPECT_FALSE(fs::exists(install / "old.dll"));
    EXPECT_FALSE(fs::exists(install / "plugins"));
    EXPECT_TRUE(fs::exists(install / "corvana"));
    EXPECT_TRUE(logLines(install).empty());
}

TEST_F(RemoveFixture, RefusesAnythingThatLeadsOutsideWithTheJoinedPath)
{
    const fs::path absoluteOutside = outside / "keep.txt";
    fs::create_directory_symlink(outside, install / "escape");

    EXPECT_FALSE(applier.removeEntry(install, u"../outside/keep.txt"));
    EXPECT_FALSE(applier.removeEntry(install, UpdateApplier::utf8ToWide(absoluteOutside.string())));
    EXPECT_FALSE(applier.removeEntry(install, u"escape"));
    EXPECT_FALSE(applier.removeEntry(install, u"escape/keep.txt"));
    EXPECT_FALSE(applier.removeEntry(install, u".."));

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
    EXPECT_TRUE(applier.removeEntry(install, u"."));
    EXPECT_TRUE(applier.removeEntry(install, u"plugins/.."));
    EXPECT_TRUE(applier.removeEntry(install, u"./"));
    EXPECT_TRUE(applier.removeEntry(install, UpdateApplier::utf8ToWide(install.string())));
    EXPECT_EQ(snapshot(install), before);
    EXPECT_TRUE(logLines(install).empty());
}

TEST_F(RemoveFixture, ReportsFailedDeletionsAndFailedStatusQueries)
{
    files.failNamed(Op::Remove, "old.dll", std::errc::permission_denied);
    EXPECT_FALSE(applier.removeEntry(install, u"old.dll"));

    files.failNamed(Op::RemoveAll, "plugins", std::errc::io_error);
    EXPECT_FALSE(applier.removeEntry(install, u"plugins"));

    files.failNamed(Op::Status, "corvana", std::errc::permission_denied);
    EXPECT_FALSE(applier.removeEntry(install, u"corvana"));

    const auto lines = logLines(install);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Failed to remove '" + (install / "old.dll").string() + "': Permission denied");
    EXPECT_EQ(lines[1], "Failed to remove '" + (install / "plugins").string() + "': Input/output error");
    EXPECT_EQ(lines[2].rfind("Exception while removing '" + (install / "corvana").string() + "': ", 0), 0u) << lines[2];
    EXPECT_NE(lines[2].find("Permission denied"), std::string::npos);
    EXPECT_TRUE(fs::exists(install / "old.dll"));
    EXPECT_TRUE(fs::exists(install / "plugins" / "y.so"));
    EXPECT_TRUE(fs::exists(install / "corvana"));
}
