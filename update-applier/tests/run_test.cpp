#include "applier_main.h"
#include "program_names.h"
#include "support/applier_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace fs = std::filesystem;
using Op = FaultyFileOperations::Op;
using namespace std::chrono_literals;

namespace {

struct RunFixture : ::testing::Test {
    TempDir tmp;
    fs::path install = tmp.path() / "install";
    fs::path staging = tmp.path() / "corvana-update-4812";
    FaultyFileOperations files;
    FakeProcessWaiter waiter;
    RecordingLauncher launcher;
    RecordingSleeper sleeper;
    ApplierEnvironment env{files, waiter, launcher, sleeper};

    void SetUp() override
    {
        writeFile(install / kMainProgramName, "old main");
        writeFile(install / "old.dll", "obsolete");
        writeFile(install / "data" / "a.pak", "old a");
        writeFile(install / "data" / "b.pak", "old b");
        writeFile(staging / "files" / kMainProgramName, "new main");
        writeFile(staging / "files" / "data" / "a.pak", "new a");
        writeFile(staging / "files" / "data" / "b.pak", "new b");
        writeFile(staging / "files" / "maps" / "new.map", "added");
        writePlan(R"({"main_executable": "corvana", "remove": ["old.dll", "gone-already"]})");
    }

    void writePlan(const std::string& text) { writeFile(staging / "apply.json", text); }

    ApplierExitCode run(std::vector<std::string> extra = {"4812"})
    {
        std::vector<std::string> args{"CorvanaUpdateStub", staging.string(), install.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return runApplier(args, env);
    }

    static std::string backupOf(const std::string& rel) { return rel + ".bak_corvana_updater"; }
};

} // namespace

TEST_F(RunFixture, ASuccessfulUpdateLeavesOnlyTheNewInstallationAndStartsItThere)
{
    writeFile(install / "updater.log", "Failed to copy something last time\n");

    EXPECT_EQ(run(), ApplierExitCode::Success);
    EXPECT_EQ(snapshot(install), (std::map<std::string, std::string>{
        {"corvana", "new main"}, {"data", "<dir>"}, {"data/a.pak", "new a"}, {"data/b.pak", "new b"},
        {"maps", "<dir>"}, {"maps/new.map", "added"}}));
    EXPECT_FALSE(fs::exists(staging));
    ASSERT_EQ(launcher.starts.size(), 1u);
    EXPECT_EQ(launcher.starts[0].first, install / kMainProgramName);
    EXPECT_EQ(launcher.starts[0].second, install);
    // The desktop's three arguments: pid in third place is not read, so it pauses instead.
    EXPECT_TRUE(waiter.calls.empty());
    EXPECT_EQ(sleeper.sleeps, std::vector<std::chrono::milliseconds>{1500ms});
}

TEST_F(RunFixture, ArgumentCountAndDirectoriesAreCheckedBeforeAnything)
{
    const auto before = snapshot(tmp.path());
    EXPECT_EQ(runApplier({"CorvanaUpdateStub", staging.string(), install.string()}, env), ApplierExitCode::BadArguments);
    EXPECT_EQ(run({"1", "2", "3"}), ApplierExitCode::BadArguments);
    EXPECT_EQ(runApplier({}, env), ApplierExitCode::BadArguments);

    const auto missing = (tmp.path() / "missing").string();
    const auto aFile = (install / "old.dll").string();
    EXPECT_EQ(runApplier({"s", missing, install.string(), "1"}, env), ApplierExitCode::StagingDirMissing);
    EXPECT_EQ(runApplier({"s", aFile, install.string(), "1"}, env), ApplierExitCode::StagingDirMissing);
    EXPECT_EQ(runApplier({"s", staging.string(), missing, "1"}, env), ApplierExitCode::InstallDirMissing);
    EXPECT_EQ(runApplier({"s", staging.string(), aFile, "1"}, env), ApplierExitCode::InstallDirMissing);
    // The staging directory is looked at before the installation.
    EXPECT_EQ(runApplier({"s", missing, missing, "1"}, env), ApplierExitCode::StagingDirMissing);

    EXPECT_EQ(snapshot(tmp.path()), before);
    EXPECT_TRUE(sleeper.sleeps.empty());
    EXPECT_TRUE(launcher.starts.empty());
}

TEST_F(RunFixture, OnlyAWholeNumberInFourthPlaceIsWaitedFor)
{
    EXPECT_EQ(parseParentProcessId("4812"), 4812u);
    EXPECT_EQ(parseParentProcessId("0"), 0u);
    EXPECT_EQ(parseParentProcessId("99999999999"), 4294967295u);
    EXPECT_EQ(parseParentProcessId(""), std::nullopt);
    EXPECT_EQ(parseParentProcessId("-"), std::nullopt);
    EXPECT_EQ(parseParentProcessId("12ab"), std::nullopt);
    EXPECT_EQ(parseParentProcessId("12 "), std::nullopt);

    for (const char* notAnId : {"", "-", "12ab"}) {
        SetUp();
        EXPECT_EQ(run({"4812", notAnId}), ApplierExitCode::Success) << notAnId;
    }
    EXPECT_TRUE(waiter.calls.empty());
    EXPECT_EQ(sleeper.sleeps, (std::vector<std::chrono::milliseconds>{1500ms, 1500ms, 1500ms}));

    sleeper.sleeps.clear();
    SetUp();
    waiter.result = {ProcessWaiter::Outcome::Exited, 0};
    EXPECT_EQ(run({"ignored", "4812"}), ApplierExitCode::Success);
    SetUp();
    waiter.result = {ProcessWaiter::Outcome::NotFound, 0};
    EXPECT_EQ(run({"ignored", "77"}), ApplierExitCode::Success);
    EXPECT_EQ(waiter.calls, (std::vector<std::pair<std::uint32_t, std::chrono::milliseconds>>{
        {4812u, 30000ms}, {77u, 30000ms}}));
    EXPECT_TRUE(sleeper.sleeps.empty());
}

TEST_F(RunFixture, AParentWaitThatFailsStopsBeforeAnyChange)
{
    const auto before = snapshot(install);
    struct Case {
        ProcessWaiter::Result result;
        std::string line;
    };
    const std::vector<Case> cases{
        {{ProcessWaiter::Outcome::TimedOut, 0}, "Timed out waiting for parent process PID 4812 to exit."},
        {{ProcessWaiter::Outcome::OpenFailed, 1},
         "OpenProcess failed while waiting for parent PID 4812. GetLastError=1 (Operation not permitted)"},
        {{ProcessWaiter::Outcome::WaitFailed, 22},
         "WaitForSingleObject failed for parent PID 4812. GetLastError=22 (Invalid argument)"},
    };
    for (const auto& c : cases) {
        fs::remove(install / "updater.log");
        waiter.result = c.result;
        EXPECT_EQ(run({"x", "4812"}), ApplierExitCode::ParentWaitFailed);
        EXPECT_EQ(logLines(install), std::vector<std::string>{c.line});
        fs::remove(install / "updater.log");
        EXPECT_EQ(snapshot(install), before);
    }
    EXPECT_TRUE(fs::exists(staging / "apply.json"));
    EXPECT_TRUE(launcher.starts.empty());
}

TEST_F(RunFixture, AMissingOrUnreadablePlanChangesNothing)
{
    const auto before = snapshot(install);
    fs::remove(staging / "apply.json");
    EXPECT_EQ(run(), ApplierExitCode::ApplyPlanMissing);
    EXPECT_EQ(logLines(install), std::vector<std::string>{"Missing apply.json in temp directory."});

    fs::remove(install / "updater.log");
    writePlan(R"({"main_executable": "corvana", "remove": ["old.dll", 3]})");
    EXPECT_EQ(run(), ApplierExitCode::ApplyPlanInvalid);
    EXPECT_EQ(logLines(install), std::vector<std::string>{"apply.json contains non-string entry in 'remove'."});

    fs::remove(install / "updater.log");
    files.failNamed(Op::Status, "apply.json", std::errc::permission_denied);
    EXPECT_EQ(run(), ApplierExitCode::ApplyPlanInvalid);
    EXPECT_EQ(logLines(install), std::vector<std::string>{"Failed to open apply.json: " + (staging / "apply.json").string()});

    fs::remove(install / "updater.log");
    EXPECT_EQ(snapshot(install), before);
    EXPECT_TRUE(fs::exists(staging));
    EXPECT_TRUE(launcher.starts.empty());
}

TEST_F(RunFixture, ARefusedRemovalEndsTheUpdateBeforeAnyCopy)
{
    writeFile(tmp.path() / "precious.txt", "keep");
    writePlan(R"({"main_executable": "corvana", "remove": ["old.dll", "../precious.txt", "data/a.pak"]})");

    EXPECT_EQ(run(), ApplierExitCode::ApplyFailed);
    EXPECT_EQ(logLines(install), std::vector<std::string>{
        "Refusing to delete path outside installation directory: " + (install / "../precious.txt").string()});
    EXPECT_EQ(readFile(tmp.path() / "precious.txt"), "keep");
    EXPECT_EQ(readFile(install / "old.dll"), "obsolete"); // moved aside before the refusal, put back after it
    EXPECT_FALSE(fs::exists(install / "old.dll.bak_corvana_updater"));
    EXPECT_EQ(readFile(install / "data" / "a.pak"), "old a");
    EXPECT_EQ(readFile(install / kMainProgramName), "old main");
    EXPECT_TRUE(fs::exists(staging / "files"));
    EXPECT_TRUE(launcher.starts.empty());
}

TEST_F(RunFixture, ACopyFailureRollsBackAndARestoreFailureIsReportedAsSuch)
{
    fs::remove(install / "old.dll");
    writePlan(R"({"main_executable": "corvana"})");
    const auto before = snapshot(install);
    files.failNth(Op::Copy, 4, std::errc::no_space_on_device);

    EXPECT_EQ(run(), ApplierExitCode::ApplyFailed);
    auto after = snapshot(install);
    after.erase("updater.log");
    EXPECT_EQ(after, before);
    ASSERT_EQ(logLines(install).size(), 1u);
    EXPECT_TRUE(fs::exists(staging / "files"));
    EXPECT_TRUE(launcher.starts.empty());

    // Again, but now a backup cannot be moved back.
    fs::remove(install / "updater.log");
    FaultyFileOperations stubborn;
    ApplierEnvironment env2{stubborn, waiter, launcher, sleeper};
    stubborn.failNth(Op::Copy, 4, std::errc::no_space_on_device);
    stubborn.fail(Op::Rename, [](const fs::path& from, const fs::path&) {
        return from.string().ends_with(".bak_corvana_updater");
    }, std::errc::io_error);
    stubborn.fail(Op::Copy, [](const fs::path& from, const fs::path&) {
        return from.string().ends_with(".bak_corvana_updater");
    }, std::errc::io_error);
    EXPECT_EQ(runApplier({"s", staging.string(), install.string(), "x"}, env2), ApplierExitCode::RestoreFailed);
    const auto lines = logLines(install);
    ASSERT_GE(lines.size(), 3u); // the cause, then a copy and a restore line per backup
    EXPECT_EQ(lines[0].rfind("Failed to copy '", 0), 0u) << lines[0];
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.starts_with("Failed to restore backup from '");
    }));
    // The old files survive in their backups.
    int kept = 0;
    for (const auto& [rel, content] : snapshot(install))
        if (rel.ends_with(".bak_corvana_updater"))
            kept += content.starts_with("old") ? 1 : 0;
    EXPECT_GE(kept, 1);
    EXPECT_TRUE(fs::exists(staging / "files"));
}

TEST_F(RunFixture, LeftoverBackupsGoOnlyWithASuccessAndComeBackWithARollBack)
{
    const std::string aBackup = backupOf("a.pak");
    const auto aBackupBack = [aBackup](const fs::path& from, const fs::path& to) {
        return from.filename() == aBackup && to.filename() == "a.pak";
    };
    struct Case {
        std::string name;
        std::function<void(FaultyFileOperations&)> fault;
        ApplierExitCode code;
    };
    const std::vector<Case> cases{
        {"no fault", [](FaultyFileOperations&) {}, ApplierExitCode::Success},
        {"the removed folder's own move fails", [](FaultyFileOperations& f) {
             f.failNamed(Op::Rename, "plugins.bak_corvana_updater", std::errc::io_error, 1); },
         ApplierExitCode::ApplyFailed},
        {"a copy after every move fails", [](FaultyFileOperations& f) {
             f.failNamed(Op::Copy, "a.pak", std::errc::no_space_on_device); }, ApplierExitCode::ApplyFailed},
        {"a.pak's backup cannot go back", [&](FaultyFileOperations& f) {
             f.failNamed(Op::Copy, "a.pak", std::errc::no_space_on_device);
             f.fail(Op::Rename, aBackupBack, std::errc::io_error);
             f.fail(Op::Copy, aBackupBack, std::errc::io_error); }, ApplierExitCode::RestoreFailed},
    };
    for (const bool folders : {false, true}) {
        for (const auto& c : cases) {
            const std::string what = c.name + (folders ? ", leftover folders" : ", leftover files");
            fs::remove_all(install);
            fs::remove_all(staging);
            SetUp();
            writeFile(install / "plugins" / "x.so", "x");
            for (const std::string entry : {"old.dll", "plugins", "data/a.pak"})
                writeFile(install / (backupOf(entry) + (folders ? "/inner" : "")), "left by " + entry);
            // Beside a name that is gone it may be the last copy of it: left alone.
            writeFile(install / backupOf("gone.dll"), "only copy");
            writePlan(R"({"main_executable": "corvana", "remove": ["old.dll", "plugins", "gone.dll"]})");
            const auto before = snapshot(install);

            FaultyFileOperations faulty;
            c.fault(faulty);
            ApplierEnvironment faultyEnv{faulty, waiter, launcher, sleeper};
            EXPECT_EQ(runApplier({"s", staging.string(), install.string(), "4812"}, faultyEnv), c.code) << what;
            auto after = snapshot(install);
            after.erase("updater.log");
            if (c.code == ApplierExitCode::Success) {
                EXPECT_EQ(after, (std::map<std::string, std::string>{
                    {"corvana", "new main"}, {"data", "<dir>"}, {"data/a.pak", "new a"}, {"data/b.pak", "new b"},
                    {"maps", "<dir>"}, {"maps/new.map", "added"}, {backupOf("gone.dll"), "only copy"}})) << what;
            } else if (c.code == ApplierExitCode::ApplyFailed) {
                EXPECT_EQ(after, before) << what;
            } else {
                // Neither the old file nor the leftover is lost: each keeps the name it has.
                EXPECT_EQ(readFile(install / "data" / aBackup), "old a") << what;
                EXPECT_EQ(after.at("data/" + aBackup + ".1" + (folders ? "/inner" : "")), "left by data/a.pak") << what;
            }
        }
    }
}

TEST_F(RunFixture, AMissingOrUnstartableMainProgramIsExitEightAfterTheUpdateIsDone)
{
    writePlan(R"({"main_executable": "corvana-renamed"})");
    EXPECT_EQ(run(), ApplierExitCode::LaunchFailed);
    EXPECT_EQ(logLines(install), std::vector<std::string>{
        "Main executable does not exist after update: " + (install / "corvana-renamed").string()});
    EXPECT_FALSE(fs::exists(staging));
    EXPECT_EQ(readFile(install / kMainProgramName), "new main");
    EXPECT_FALSE(fs::exists(install / backupOf("corvana")));
    EXPECT_TRUE(launcher.starts.empty());

    fs::remove(install / "updater.log");
    SetUp();
    launcher.error = 13;
    EXPECT_EQ(run(), ApplierExitCode::LaunchFailed);
    EXPECT_EQ(logLines(install), std::vector<std::string>{
        "CreateProcessW failed for '" + (install / "corvana").string() + "'. GetLastError=13 (Permission denied)"});
}

TEST_F(RunFixture, OnlyAProgramOfTheInstallationIsStarted)
{
    writeFile(tmp.path() / "tool", "outside program");
    for (const std::string& exe : {std::string("../tool"), (tmp.path() / "tool").string(), std::string("data/../../tool")}) {
        SetUp();
        fs::remove(install / "updater.log");
        writePlan(R"({"main_executable": ")" + exe + "\"}");
        EXPECT_EQ(run(), ApplierExitCode::LaunchFailed) << exe;
        EXPECT_EQ(logLines(install), std::vector<std::string>{
            "Refusing to start program outside installation directory: " + (install / exe).string()});
    }
    EXPECT_TRUE(launcher.starts.empty());

    SetUp();
    writePlan(R"({"main_executable": "data/../corvana"})");
    EXPECT_EQ(run(), ApplierExitCode::Success);
    ASSERT_EQ(launcher.starts.size(), 1u);
}

TEST_F(RunFixture, AStagingDirectoryThatStaysLeavesOnlyItsWarning)
{
    files.failNamed(Op::Remove, "corvana-update-4812", std::errc::device_or_resource_busy);
    // A backup that cannot be deleted warns, but that warning goes with the log.
    files.failNamed(Op::Remove, "a.pak.bak_corvana_updater", std::errc::permission_denied);

    EXPECT_EQ(run(), ApplierExitCode::StagingCleanupFailed);
    EXPECT_EQ(logLines(install), std::vector<std::string>{
        "Warning: failed to clean temp dir '" + staging.string() + "': Device or resource busy"});
    EXPECT_EQ(launcher.starts.size(), 1u);
    EXPECT_EQ(readFile(install / "data" / "a.pak"), "new a");
    EXPECT_TRUE(fs::exists(install / "data" / backupOf("a.pak")));
    EXPECT_FALSE(fs::exists(install / backupOf("corvana")));
}
