// The whole applier run with one failure placed at each file-system call it makes in
// turn: a failed update must leave the installation exactly as it was, a finished
// one exactly the staged tree over it without the removed paths. Then a roll-back
// whose renames back fail: the copies in their place must bring back everything but
// the pieces that fail too.
#include "applier_main.h"
#include "support/applier_test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <grp.h>
#include <iostream>
#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Op = FaultyFileOperations::Op;
using Tree = std::map<std::string, std::string>;

namespace {

const Tree kInstalled{
    {"corvana", "old main"},         {"old.dll", "obsolete"},
    {"legacy/a.txt", "legacy a"},    {"legacy/sub/b.txt", "legacy b"},
    {"data/a.pak", "old a"},         {"data/keep.pak", "kept"},
    {"data/deep/level/c.pak", "old c"}, {"readme.txt", "untouched"},
    // Backups an interrupted update left, beside an entry replaced and one removed.
    {"data/a.pak.bak_corvana_updater/x", "left over"}, {"legacy.bak_corvana_updater", "left over"},
};
const Tree kStaged{
    {"corvana", "new main"},
    {"data/a.pak", "new a, a little longer than before"},
    {"data/deep/level/c.pak", "new c"},
    {"data/new.pak", "added beside kept files"},
    {"maps/x/y/new.map", "added three folders deep"},
    {"legacy/fresh.txt", "added where a removed folder stood"},
};
const char* kPlan = R"({"main_executable": "corvana", "remove": ["old.dll", "legacy", "missing.dll"]})";

void plant(const fs::path& root, const Tree& tree)
{
    for (const auto& [rel, content] : tree)
        writeFile(root / rel, content);
}

// What a finished update must leave: the removals gone, the staged files over the rest.
Tree expectedAfterUpdate(const fs::path& scratch)
{
    const fs::path root = scratch / "expected";
    plant(root, kInstalled);
    for (const char* removed : {"old.dll", "legacy", "legacy.bak_corvana_updater", "data/a.pak.bak_corvana_updater"})
        fs::remove_all(root / removed);
    plant(root, kStaged);
    return snapshot(root);
}

struct Outcome {
    ApplierExitCode code;
    fs::path install;
    Tree installed;            // without updater.log
    Tree installedBefore;
    Tree staging;
    Tree stagingBefore;
    std::vector<std::string> log;
};

// One run on a fresh tree, through `files` with whatever faults it carries.
Outcome runWith(FaultyFileOperations& files)
{
    TempDir tmp;
    const fs::path install = tmp.path() / "install";
    const fs::path staging = tmp.path() / "corvana-update-77";
    plant(install, kInstalled);
    plant(staging / "files", kStaged);
    writeFile(staging / "apply.json", kPlan);

    FakeProcessWaiter waiter;
    RecordingLauncher launcher;
    RecordingSleeper sleeper;
    ApplierEnvironment env{files, waiter, launcher, sleeper};
    Outcome out{};
    out.install = install;
    out.installedBefore = snapshot(install);
    out.stagingBefore = snapshot(staging);
    out.code = runApplier({"CorvanaUpdateStub", staging.string(), install.string(), "77"}, env);
    out.log = logLines(install);
    out.installed = snapshot(install);
    out.installed.erase("updater.log");
    out.staging = snapshot(staging);
    return out;
}

bool appliedCode(ApplierExitCode code)
{
    // Launch and clean-up come after the last change to the installation.
    return code == ApplierExitCode::Success || code == ApplierExitCode::LaunchFailed
        || code == ApplierExitCode::StagingCleanupFailed;
}

// Entries of tree that lie at or below one of the given paths of it.
Tree without(Tree tree, const std::vector<std::string>& prefixes)
{
    std::erase_if(tree, [&](const auto& item) {
        for (const auto& p : prefixes)
            if (item.first == p || item.first.starts_with(p + "/"))
                return true;
        return false;
    });
    return tree;
}

} // namespace

TEST(FaultInjection, EveryFailingStepLeavesTheInstallationWholeAndEverySuccessIsComplete)
{
    TempDir scratch;
    const Tree expected = expectedAfterUpdate(scratch.path());

    // A clean run first: each call it makes is a place where a failure can go.
    const std::vector<Op> ops{Op::Status, Op::SymlinkStatus, Op::Remove, Op::RemoveAll, Op::Rename, Op::Copy,
                              Op::CreateDirectories};
    std::map<Op, int> counts;
    {
        FaultyFileOperations files;
        const Outcome clean = runWith(files);
        ASSERT_EQ(clean.code, ApplierExitCode::Success);
        EXPECT_EQ(clean.installed, expected);
        EXPECT_TRUE(clean.log.empty());
        for (Op op : ops)
            counts[op] = files.calls(op);
    }
    // Every step named in a plan like this one must be among them.
    EXPECT_GE(counts[Op::Rename], 7);     // two removals, three backups, two leftovers set aside
    EXPECT_EQ(counts[Op::Copy], 6);       // one per staged file
    EXPECT_GE(counts[Op::CreateDirectories], 6);

    int cases = 0;
    int rolledBack = 0;
    auto check = [&](const Outcome& out, const std::string& where, const std::string& faultedPath) {
        ++cases;
        if (appliedCode(out.code)) {
            // Only a backup whose deletion was the failing step may stay behind.
            Tree installed = out.installed;
            if (faultedPath.find(".bak_corvana_updater") != std::string::npos)
                installed = without(installed, {fs::path(faultedPath).lexically_relative(out.install).string()});
            EXPECT_EQ(installed, expected) << where;
            return;
        }
        ++rolledBack;
        EXPECT_NE(out.code, ApplierExitCode::RestoreFailed) << where;
        EXPECT_EQ(out.installed, out.installedBefore) << where << " exit " << static_cast<int>(out.code);
        EXPECT_EQ(out.staging, out.stagingBefore) << where;
        // Only the two directory checks before anything else end without a word (exit 2 and 3).
        const bool silent = out.code == ApplierExitCode::StagingDirMissing || out.code == ApplierExitCode::InstallDirMissing;
        EXPECT_EQ(out.log.empty(), silent) << where << " exit " << static_cast<int>(out.code);
    };

    for (Op op : ops) {
        for (int nth = 1; nth <= counts[op]; ++nth) {
            FaultyFileOperations files;
            auto seen = std::make_shared<int>(0);
            auto faulted = std::make_shared<std::string>();
            files.fail(op, [seen, faulted, nth](const fs::path& first, const fs::path& second) {
                if (++*seen != nth)
                    return false;
                *faulted = (second.empty() ? first : second).string();
                return true;
            }, std::errc::io_error, 1);
            const Outcome out = runWith(files);
            check(out, "op " + std::to_string(static_cast<int>(op)) + " call " + std::to_string(nth) + " on "
                           + *faulted, op == Op::Remove || op == Op::RemoveAll ? *faulted : std::string());
        }
    }
    // Copies cut short half-way, as a disk that fills up leaves them.
    for (int nth = 1; nth <= counts[Op::Copy]; ++nth) {
        FaultyFileOperations files;
        files.cutNthCopy(nth);
        const Outcome out = runWith(files);
        EXPECT_EQ(out.code, ApplierExitCode::ApplyFailed);
        check(out, "copy " + std::to_string(nth) + " cut short", {});
    }

    EXPECT_GT(rolledBack, 20);
    std::cout << "fault-injection cases: " << cases << " (" << rolledBack << " failed and were rolled back)\n";
}

namespace {

// Below root by its path's elements: "legacy.bak_corvana_updater" is not below "legacy".
bool within(const fs::path& p, const fs::path& root)
{
    const fs::path rel = p.lexically_relative(root);
    return !rel.empty() && *rel.begin() != "..";
}

// The tree with the part only under its backup name ("legacy/sub/b.txt" at
// "legacy.bak_corvana_updater/sub/b.txt"), the folders on the way included.
Tree strandedUnderBackupName(Tree tree, const std::string& part)
{
    const std::string top = fs::path(part).begin()->string();
    const auto rebased = [&](const std::string& rel) { return top + ".bak_corvana_updater" + rel.substr(top.size()); };
    for (const auto& [rel, content] : Tree(tree))
        if (rel == part || rel.starts_with(part + "/")) {
            tree.erase(rel);
            tree[rebased(rel)] = content;
        }
    for (fs::path up = fs::path(part).parent_path(); !up.empty(); up = up.parent_path())
        tree[rebased(up.string())] = "<dir>";
    return tree;
}

// Root's rights would hide what a folder's mode forbids: the run goes to a child
// process as an account without them ("nobody", the tree handed to it), whose
// umask takes every group and other bit, so a mode comes from the applier and
// not from mkdir. A program started is reported as an impossible status.
ApplierExitCode runAsOrdinaryAccount(const fs::path& tree, const std::function<ApplierExitCode(RecordingLauncher&)>& run)
{
    constexpr uid_t kNobody = 65534;
    const bool root = ::geteuid() == 0;
    if (root) {
        EXPECT_EQ(::chmod(tree.c_str(), 0755), 0);
        EXPECT_EQ(::lchown(tree.c_str(), kNobody, kNobody), 0);
        for (const auto& entry : fs::recursive_directory_iterator(tree))
            EXPECT_EQ(::lchown(entry.path().c_str(), kNobody, kNobody), 0) << entry.path();
    }
    const pid_t child = ::fork();
    if (child == 0) {
        if (root && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            ::_exit(126);
        ::umask(077);
        RecordingLauncher launcher;
        const ApplierExitCode code = run(launcher);
        ::_exit(launcher.starts.empty() ? static_cast<int>(code) : 125);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    return static_cast<ApplierExitCode>(WEXITSTATUS(status));
}

} // namespace

TEST(FaultInjection, ARemovedFolderThatCannotBeRenamedBackComesBackWholeExceptWhatCannotGoBack)
{
    TempDir tmp;
    const fs::path install = tmp.path() / "install";
    const fs::path staging = tmp.path() / "corvana-update-77";
    const fs::path outside = tmp.path() / "outside";
    const fs::path legacy = install / "legacy";
    const fs::path link = install / "link";

    struct Case {
        std::string name;
        std::errc renameBack; // for every rename into the removed folder or onto the removed link
        bool onlyTheFolderItself;
        Op op;                // one more fault, on the piece named
        std::string piece;
        std::string stranded; // what stays under its backup name; empty: everything goes back
        bool readOnlySub = false; // legacy/sub is 0555, and the run has no root rights
    };
    const std::vector<Case> cases{
        {"only the folder's own rename fails", std::errc::device_or_resource_busy, true, Op::Copy, "", ""},
        {"every rename back fails", std::errc::cross_device_link, false, Op::Copy, "", ""},
        {"a file cannot be copied", std::errc::cross_device_link, false, Op::Copy, "b.txt", "legacy/sub/b.txt"},
        {"a link in it cannot be made", std::errc::cross_device_link, false, Op::CopySymlink, "link-out",
         "legacy/sub/link-out"},
        {"a sub-folder cannot be made", std::errc::cross_device_link, false, Op::CreateDirectoryLike, "deeper",
         "legacy/sub/deeper"},
        {"the removed link cannot be made", std::errc::cross_device_link, false, Op::CopySymlink, "link", "link"},
        {"a read-only sub-folder", std::errc::cross_device_link, false, Op::Copy, "", "", true},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(install);
        fs::remove_all(staging);
        fs::remove_all(outside);
        writeFile(outside / "x.txt", "outside");
        writeFile(install / "corvana", "old main");
        writeFile(install / "data" / "keep.pak", "kept");
        writeFile(legacy / "a.txt", "a");
        writeFile(legacy / "sub" / "b.txt", "b");
        writeFile(legacy / "sub" / "deeper" / "c.txt", "c");
        fs::create_directories(legacy / "empty");
        fs::create_symlink("a.txt", legacy / "link-to-file");
        fs::create_symlink("nowhere", legacy / "sub" / "dangling");
        fs::create_directory_symlink(outside, legacy / "sub" / "link-out"); // followed, it would copy outside in
        fs::create_directory_symlink("data", link);
        writeFile(staging / "files" / "corvana", "new main");
        writeFile(staging / "files" / "maps" / "new.map", "added");
        writeFile(staging / "apply.json", R"({"main_executable": "corvana", "remove": ["legacy", "link"]})");
        if (c.readOnlySub)
            fs::permissions(legacy / "sub", fs::perms(0555));
        const fs::perms legacyMode = fs::status(legacy).permissions();
        const Tree before = snapshot(install);
        const Tree outsideBefore = snapshot(outside);

        FaultyFileOperations files;
        files.failNamed(Op::Copy, "new.map", std::errc::no_space_on_device); // fails the update after both removals
        files.fail(Op::Rename, [&](const fs::path&, const fs::path& to) {
            return to == link || (c.onlyTheFolderItself ? to == legacy : within(to, legacy));
        }, c.renameBack);
        if (!c.piece.empty())
            files.failNamed(c.op, c.piece, std::errc::io_error);
        const auto run = [&](RecordingLauncher& launcher) {
            FakeProcessWaiter waiter;
            RecordingSleeper sleeper;
            ApplierEnvironment env{files, waiter, launcher, sleeper};
            return runApplier({"CorvanaUpdateStub", staging.string(), install.string(), "77"}, env);
        };
        RecordingLauncher launcher;
        const ApplierExitCode code = c.readOnlySub ? runAsOrdinaryAccount(tmp.path(), run) : run(launcher);

        std::vector<std::string> log{"Failed to copy '" + (staging / "files/maps/new.map").string() + "' to '"
                                     + (install / "maps/new.map").string() + "': No space left on device"};
        Tree expected = before;
        if (c.stranded.empty()) {
            EXPECT_EQ(code, ApplierExitCode::ApplyFailed); // as a roll-back where every rename works
        } else {
            EXPECT_EQ(code, ApplierExitCode::RestoreFailed);
            expected = strandedUnderBackupName(before, c.stranded);
            const std::string top = fs::path(c.stranded).begin()->string();
            const std::string rest = c.stranded.substr(top.size());
            const std::string backup = (install / top).string() + ".bak_corvana_updater";
            log.push_back("Failed to copy backup from '" + backup + rest + "' to '" + (install / c.stranded).string()
                          + "': Input/output error");
            log.push_back("Failed to restore backup from '" + backup + "' to '" + (install / top).string() + "'");
        }
        EXPECT_EQ(logLines(install), log);
        Tree installed = snapshot(install);
        installed.erase("updater.log");
        EXPECT_EQ(installed, expected);
        EXPECT_EQ(snapshot(outside), outsideBefore);
        EXPECT_TRUE(launcher.starts.empty());
        if (c.readOnlySub) {
            // Filled first, then given its mode, by the applier itself.
            EXPECT_EQ(fs::status(legacy / "sub").permissions(), fs::perms(0555));
            EXPECT_EQ(fs::status(legacy).permissions(), legacyMode);
            fs::permissions(legacy / "sub", fs::perms::owner_all, fs::perm_options::add);
        }
    }
}
