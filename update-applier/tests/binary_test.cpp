// Runs the real CorvanaUpdateStub on prepared trees.
#include "program_names.h"
#include "support/applier_test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <cerrno>
#include <cstring>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const fs::path kStub = fs::path(CORVANA_BIN_DIR) / kApplierProgramName;
const fs::path kProbe = fs::path(CORVANA_BIN_DIR) / "applier_restart_probe";

pid_t spawnStub(const std::vector<std::string>& args, const fs::path& outputDir)
{
    std::vector<std::string> all{kStub.string()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const std::string out = (outputDir / "stub.stdout").string();
    const std::string err = (outputDir / "stub.stderr").string();
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, kStub.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

int waitExit(pid_t pid)
{
    int status = 0;
    if (pid <= 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// The exit code, or -2 when it has not ended in time (it is killed then).
int waitExitWithin(pid_t pid, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (pid > 0 && ::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            return -2;
        }
        std::this_thread::sleep_for(10ms);
    }
    return pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Root passes every permission check, so it gets a mount namespace of its own
// (this test process only; the stub it starts inherits it) for a small disk or a
// read-only folder. Empty when that worked, else why not.
std::string privateMounts()
{
    if (::geteuid() != 0)
        return "needs root for a mount namespace of its own";
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("no private mount namespace: ") + std::strerror(errno);
    return {};
}

// Entries can be neither made, renamed nor removed in dir, whoever the applier runs as.
::testing::AssertionResult makeUnwritable(const fs::path& dir)
{
    if (::geteuid() != 0) {
        fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
        return ::testing::AssertionSuccess();
    }
    if (const auto why = privateMounts(); !why.empty())
        return ::testing::AssertionFailure() << why;
    if (::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0
        || ::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
        return ::testing::AssertionFailure() << "read-only bind mount failed: " << std::strerror(errno);
    return ::testing::AssertionSuccess();
}

// An id that no process holds: a child that has ended and been reaped.
std::string endedProcessId()
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return std::to_string(pid);
}

bool waitForFile(const fs::path& p, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!fs::exists(p)) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

struct StubFixture : ::testing::Test {
    TempDir tmp;
    fs::path install = tmp.path() / "install";
    fs::path staging = tmp.path() / "corvana-update-4812";
    fs::path output = tmp.path() / "out";
    fs::path outside = tmp.path() / "outside";

    void SetUp() override
    {
        ASSERT_TRUE(fs::exists(kStub)) << kStub;
        ASSERT_TRUE(fs::exists(kProbe)) << kProbe;
        fs::create_directories(output);
        writeFile(install / kMainProgramName, "old main");
        writeFile(install / "old.dll", "obsolete");
        writeFile(install / "data" / "a.pak", "old a");
        writeFile(install / "data" / "b.pak", "old b");
        writeFile(outside / "keep.txt", "keep");
        fs::create_directories(staging / "files");
        fs::copy_file(kProbe, staging / "files" / kMainProgramName);
        writeFile(staging / "files" / "data" / "a.pak", "new a");
        writeFile(staging / "files" / "data" / "b.pak", "new b");
        writeFile(staging / "files" / "maps" / "new.map", "added");
        writePlan(R"({"main_executable": "corvana", "remove": ["old.dll"]})");
    }

    void writePlan(const std::string& text) { writeFile(staging / "apply.json", text); }

    int runStub(std::vector<std::string> args)
    {
        const int code = waitExit(spawnStub(args, output));
        EXPECT_EQ(readFile(output / "stub.stdout"), "");
        EXPECT_EQ(readFile(output / "stub.stderr"), "");
        return code;
    }

    // The usual arguments, with an ended parent in fourth place so there is no pause.
    int runStub() { return runStub({staging.string(), install.string(), "4812", endedProcessId()}); }

    std::map<std::string, std::string> installed()
    {
        auto tree = snapshot(install);
        tree.erase("updater.log");
        return tree;
    }
};

} // namespace

TEST_F(StubFixture, AppliesTheDesktopsHandOverAndStartsTheNewProgramInTheInstallation)
{
    // Exactly the desktop's three arguments: the applier pauses instead of waiting.
    writeFile(install / "updater.log", "stale failure\n");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runStub({staging.string(), install.string(), "4812"}), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1500ms);

    ASSERT_TRUE(waitForFile(install / "restarted.txt", 20000ms));
    EXPECT_EQ(readFile(install / "restarted.txt"),
              "cwd=" + install.string() + "\nargc=1\nargv0=" + (install / kMainProgramName).string() + "\n");
    EXPECT_FALSE(fs::exists(staging));
    auto tree = snapshot(install);
    tree.erase("restarted.txt");
    EXPECT_EQ(tree, (std::map<std::string, std::string>{
        {"corvana", readFile(kProbe)}, {"data", "<dir>"}, {"data/a.pak", "new a"}, {"data/b.pak", "new b"},
        {"maps", "<dir>"}, {"maps/new.map", "added"}}));
}

TEST_F(StubFixture, BadArgumentsAndMissingDirectoriesTouchNothing)
{
    const auto before = snapshot(tmp.path() / "install");
    const auto stagingBefore = snapshot(staging);
    EXPECT_EQ(runStub({staging.string(), install.string()}), 1);
    EXPECT_EQ(runStub({staging.string(), install.string(), "1", "2", "3"}), 1);
    EXPECT_EQ(runStub({}), 1);
    EXPECT_EQ(runStub({(tmp.path() / "none").string(), install.string(), "1", "2"}), 2);
    EXPECT_EQ(runStub({(install / "old.dll").string(), install.string(), "1", "2"}), 2);
    EXPECT_EQ(runStub({staging.string(), (tmp.path() / "none").string(), "1", "2"}), 3);
    EXPECT_EQ(runStub({staging.string(), (install / "old.dll").string(), "1", "2"}), 3);
    EXPECT_EQ(snapshot(install), before);
    EXPECT_EQ(snapshot(staging), stagingBefore);
    EXPECT_FALSE(fs::exists(tmp.path() / "none"));
}

TEST_F(StubFixture, WaitsForALiveParentBeforeChangingAnything)
{
    HeldChild parent;
    ASSERT_GT(parent.pid(), 0);

    const pid_t stub = spawnStub({staging.string(), install.string(), "x", std::to_string(parent.pid())}, output);
    ASSERT_GT(stub, 0);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(::waitpid(stub, nullptr, WNOHANG), 0) << "the applier did not wait";
    EXPECT_EQ(readFile(install / kMainProgramName), "old main");

    parent.letGo();
    EXPECT_EQ(waitExit(stub), 0);
    EXPECT_EQ(readFile(install / "data" / "a.pak"), "new a");
    EXPECT_TRUE(waitForFile(install / "restarted.txt", 20000ms));
}

TEST_F(StubFixture, EveryBadPlanEndsBeforeTheFirstChange)
{
    const auto before = installed();
    const fs::path plan = staging / "apply.json";
    struct Case {
        std::string text;
        std::string line;
    };
    const std::vector<Case> cases{
        {"[1, 2]", "apply.json missing valid string field: main_executable"},
        {R"({"main_executable": 7})", "apply.json missing valid string field: main_executable"},
        {R"({"main_executable": ""})", "main_executable is empty or invalid UTF-8."},
        {R"({"main_executable": "corvana", "remove": null})", "apply.json field 'remove' must be an array."},
        {R"({"main_executable": "corvana", "remove": {}})", "apply.json field 'remove' must be an array."},
        {R"({"main_executable": "corvana", "remove": ["old.dll", false]})",
         "apply.json contains non-string entry in 'remove'."},
    };
    for (const auto& c : cases) {
        fs::remove(install / "updater.log");
        writePlan(c.text);
        EXPECT_EQ(runStub(), 11) << c.text;
        EXPECT_EQ(logLines(install), std::vector<std::string>{c.line}) << c.text;
    }

    fs::remove(install / "updater.log");
    writePlan(R"({"main_executable": "corvana", "remove": ["old)");
    EXPECT_EQ(runStub(), 11);
    auto lines = logLines(install);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Failed to parse apply.json: [json.exception.parse_error", 0), 0u) << lines[0];

    fs::remove(install / "updater.log");
    fs::remove(plan);
    fs::create_directory(plan);
    EXPECT_EQ(runStub(), 11);
    EXPECT_EQ(logLines(install), std::vector<std::string>{"Failed to open apply.json: " + plan.string()});

    // A FIFO with no writer would block the open for ever.
    fs::remove(install / "updater.log");
    fs::remove(plan);
    ASSERT_EQ(::mkfifo(plan.c_str(), 0600), 0);
    EXPECT_EQ(waitExitWithin(spawnStub({staging.string(), install.string(), "4812", endedProcessId()}, output), 20s),
              11);
    EXPECT_EQ(logLines(install), std::vector<std::string>{"Failed to open apply.json: " + plan.string()});

    fs::remove(install / "updater.log");
    fs::remove(plan);
    EXPECT_EQ(runStub(), 5);
    EXPECT_EQ(logLines(install), std::vector<std::string>{"Missing apply.json in temp directory."});

    EXPECT_EQ(installed(), before);
    EXPECT_TRUE(fs::exists(staging / "files"));
    EXPECT_FALSE(fs::exists(install / "restarted.txt"));
}

TEST_F(StubFixture, RemoveEntriesThatLeadOutsideAreRefused)
{
    fs::create_symlink(outside / "keep.txt", install / "link-out");
    const std::vector<std::string> entries{"../outside/keep.txt", (outside / "keep.txt").string(), "link-out",
                                           "../outside"};
    for (const auto& entry : entries) {
        fs::remove(install / "updater.log");
        writePlan(R"({"main_executable": "corvana", "remove": ["missing.dll", ")" + entry + "\"]}");
        EXPECT_EQ(runStub(), 6) << entry;
        EXPECT_EQ(logLines(install), std::vector<std::string>{
            "Refusing to delete path outside installation directory: " + (install / entry).string()});
        EXPECT_EQ(readFile(outside / "keep.txt"), "keep");
        EXPECT_EQ(readFile(install / kMainProgramName), "old main") << "copied after a refused removal";
    }
    EXPECT_TRUE(fs::is_symlink(install / "link-out"));
}

TEST_F(StubFixture, RemovesTreesButNeverTheInstallationItself)
{
    writeFile(install / "plugins" / "a" / "x.so", "x");
    writePlan(R"({"main_executable": "corvana", "remove": [".", "plugins", "data/..", "old.dll", "never-there"]})");
    EXPECT_EQ(runStub(), 0);
    EXPECT_FALSE(fs::exists(install / "plugins"));
    EXPECT_FALSE(fs::exists(install / "old.dll"));
    EXPECT_EQ(readFile(install / "data" / "a.pak"), "new a");
    EXPECT_TRUE(waitForFile(install / "restarted.txt", 20000ms));
    EXPECT_FALSE(fs::exists(install / "updater.log"));
}

TEST_F(StubFixture, BackupsLeftByAnEarlierRunDoNotBlockTheUpdate)
{
    // Backup names taken by folders with contents and by a file, beside replaced and removed entries.
    fs::remove(install / "data" / "b.pak");
    writeFile(install / "data" / "b.pak" / "inner", "dir content");
    writeFile(install / "data" / "b.pak.bak_corvana_updater" / "inner", "older");
    writeFile(install / "data" / "a.pak.bak_corvana_updater", "leftover");
    writeFile(install / "plugins" / "x.so", "x");
    writeFile(install / "plugins.bak_corvana_updater" / "y.so", "left by an interrupted update");
    writePlan(R"({"main_executable": "corvana", "remove": ["old.dll", "plugins"]})");

    EXPECT_EQ(runStub(), 0);
    EXPECT_TRUE(logLines(install).empty());
    ASSERT_TRUE(waitForFile(install / "restarted.txt", 20000ms));
    auto tree = installed();
    tree.erase("restarted.txt");
    EXPECT_EQ(tree, (std::map<std::string, std::string>{
        {"corvana", readFile(kProbe)}, {"data", "<dir>"}, {"data/a.pak", "new a"}, {"data/b.pak", "new b"},
        {"maps", "<dir>"}, {"maps/new.map", "added"}}));
}

TEST_F(StubFixture, AFileWhereADirectoryMustBeMadeFailsTheCopy)
{
    writeFile(install / "maps", "a file");
    writePlan(R"({"main_executable": "corvana"})");
    auto before = installed();
    EXPECT_EQ(runStub(), 6);
    const auto lines = logLines(install);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Failed to create directories for '" + (install / "maps/new.map").string() + "': ", 0), 0u)
        << lines[0];
    EXPECT_EQ(installed(), before);
}

TEST_F(StubFixture, AMainProgramThatIsMissingOrCannotRunIsExitEight)
{
    writePlan(R"({"main_executable": "corvana-gone"})");
    EXPECT_EQ(runStub(), 8);
    EXPECT_EQ(logLines(install), std::vector<std::string>{
        "Main executable does not exist after update: " + (install / "corvana-gone").string()});
    EXPECT_FALSE(fs::exists(staging));
    EXPECT_EQ(readFile(install / "data" / "a.pak"), "new a");
    EXPECT_FALSE(fs::exists(install / "data" / "a.pak.bak_corvana_updater"));

    fs::remove(install / "updater.log");
    SetUp();
    writeFile(staging / "files" / "readme.txt", "not a program");
    writePlan(R"({"main_executable": "readme.txt"})");
    EXPECT_EQ(runStub(), 8);
    EXPECT_EQ(logLines(install), std::vector<std::string>{
        "CreateProcessW failed for '" + (install / "readme.txt").string() + "'. GetLastError=13 (Permission denied)"});
}

TEST_F(StubFixture, AStagingDirectoryThatCannotBeRemovedLeavesOnlyItsWarning)
{
    // "dir/." is a directory that rmdir refuses to remove.
    const fs::path dotted = staging / ".";
    EXPECT_EQ(runStub({dotted.string(), install.string(), "4812", endedProcessId()}), 9);
    EXPECT_EQ(logLines(install), std::vector<std::string>{
        "Warning: failed to clean temp dir '" + dotted.string() + "': Invalid argument"});
    EXPECT_TRUE(fs::exists(staging / "apply.json"));
    EXPECT_TRUE(waitForFile(install / "restarted.txt", 20000ms));
    EXPECT_EQ(readFile(install / "data" / "b.pak"), "new b");
}

TEST_F(StubFixture, AStagedFilesFolderThatIsALinkIsNotFollowed)
{
    // The link leads to a folder of other files: none of them may be installed.
    writeFile(outside / "files" / kMainProgramName, "not from the update");
    writeFile(outside / "files" / "data" / "a.pak", "not from the update");
    fs::rename(staging / "files", staging / "real-files");
    fs::create_directory_symlink(outside / "files", staging / "files");
    const auto before = installed();

    EXPECT_EQ(runStub(), 6);
    EXPECT_EQ(logLines(install), std::vector<std::string>{
        "Staged files directory does not exist or is not a directory: " + (staging / "files").string()});
    EXPECT_EQ(installed(), before); // old.dll, removed first, is back
    EXPECT_FALSE(fs::exists(install / "restarted.txt"));
}

TEST_F(StubFixture, ADiskThatFillsUpMidCopyLeavesTheInstallationAsItWas)
{
    if (const auto why = privateMounts(); !why.empty())
        GTEST_SKIP() << "disk-full test skipped: " << why;
    // A small disk of its own for the installation; the update's big file cannot fit.
    const auto contents = installed();
    fs::remove_all(install);
    fs::create_directories(install);
    ASSERT_EQ(::mount("tmpfs", install.c_str(), "tmpfs", 0, "size=192k,mode=0755"), 0) << std::strerror(errno);
    for (const auto& [rel, content] : contents)
        if (content != "<dir>")
            writeFile(install / rel, content);
    writeFile(staging / "files" / "maps" / "huge.map", std::string(400 * 1024, 'm'));
    writePlan(R"({"main_executable": "corvana", "remove": ["old.dll"]})");
    const auto before = installed();

    EXPECT_EQ(runStub(), 6);
    // Written once the roll-back made room (the C++ library reports a short copy as an I/O error).
    const auto lines = logLines(install);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Failed to copy '" + (staging / "files" / "maps" / "huge.map").string(), 0), 0u) << lines[0];
    EXPECT_EQ(installed(), before);
    EXPECT_TRUE(fs::exists(staging / "files" / "maps" / "huge.map"));
    EXPECT_FALSE(fs::exists(install / "restarted.txt"));
    ::umount2(install.c_str(), MNT_DETACH);
}

TEST_F(StubFixture, AFolderThatCannotBeWrittenEndsTheUpdateWithEverythingPutBack)
{
    writeFile(staging / "files" / "data" / "new.pak", "added");
    const auto before = installed();
    ASSERT_TRUE(makeUnwritable(install / "data"));

    struct Case {
        std::string plan;
        std::string lineStart;
    };
    const std::string aPak = (install / "data" / "a.pak").string();
    const std::vector<Case> cases{
        // A removal in the folder, after one that worked elsewhere.
        {R"({"main_executable": "corvana", "remove": ["old.dll", "data/b.pak"]})",
         "Failed to remove '" + (install / "data" / "b.pak").string() + "': "},
        // The backup of a replaced file there, after the removal and other copies.
        {R"({"main_executable": "corvana", "remove": ["old.dll"]})", "Failed to create backup for '"},
    };
    for (const auto& c : cases) {
        fs::remove(install / "updater.log");
        writePlan(c.plan);
        EXPECT_EQ(runStub(), 6) << c.plan;
        const auto lines = logLines(install);
        ASSERT_EQ(lines.size(), 1u) << c.plan;
        EXPECT_EQ(lines[0].rfind(c.lineStart, 0), 0u) << lines[0];
        EXPECT_EQ(installed(), before) << c.plan;
    }
    EXPECT_FALSE(fs::exists(install / "restarted.txt"));
    if (::geteuid() != 0)
        fs::permissions(install / "data", fs::perms::owner_all); // so the tree can be removed
}
