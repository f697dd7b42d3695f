// The whole applier run with one failure placed at each file-system call it makes in
// turn: a failed update must leave the installation exactly as it was, a finished
// one exactly the staged tree over it without the removed paths.
#include "applier_main.h"
#include "support/applier_test_support.h"

#include <gtest/gtest.h>

#include <iostream>
#include <memory>

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
