#pragma once

#include "file_operations.h"
#include "platform/process_launcher.h"
#include "platform/process_waiter.h"
#include "platform/sleeper.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <system_error>
#include <vector>

// A fresh directory for one test, removed with everything in it afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A child that lives until told to go: it exits when its pipe is closed.
// The pipe is close-on-exec, so programs started meanwhile do not hold it open.
class HeldChild {
public:
    HeldChild();
    ~HeldChild();
    HeldChild(const HeldChild&) = delete;
    HeldChild& operator=(const HeldChild&) = delete;
    // -1 when the child could not be started.
    int pid() const { return pid_; }
    void letGo();

private:
    int pid_ = -1;
    int release_ = -1;
};

void writeFile(const std::filesystem::path& p, const std::string& content);
std::string readFile(const std::filesystem::path& p);
// updater.log split into lines; a carriage return anywhere fails the calling test.
std::vector<std::string> logLines(const std::filesystem::path& installDir);
// Every entry below root: relative path -> file content, "<dir>" or "-> link target".
std::map<std::string, std::string> snapshot(const std::filesystem::path& root);

class FakeProcessWaiter : public ProcessWaiter {
public:
    Result result;
    std::vector<std::pair<std::uint32_t, std::chrono::milliseconds>> calls;
    Result waitForExit(std::uint32_t processId, std::chrono::milliseconds limit) override
    {
        calls.emplace_back(processId, limit);
        return result;
    }
};

class RecordingLauncher : public ProcessLauncher {
public:
    int error = 0;
    std::vector<std::pair<std::filesystem::path, std::filesystem::path>> starts;
    Result start(const std::filesystem::path& executable, const std::filesystem::path& workingDirectory) override
    {
        starts.emplace_back(executable, workingDirectory);
        return {error, error == 0 ? 4242 : 0};
    }
};

class RecordingSleeper : public Sleeper {
public:
    std::vector<std::chrono::milliseconds> sleeps;
    void sleepFor(std::chrono::milliseconds duration) override { sleeps.push_back(duration); }
};

// Real file operations, except the ones a test tells to fail.
class FaultyFileOperations : public FileOperations {
public:
    enum class Op {
        Status, SymlinkStatus, Remove, RemoveAll, Rename, Copy, CreateDirectories, KeepExecutable,
        CreateDirectoryLike, CopySymlink, SetPermissions,
    };
    using Match = std::function<bool(const std::filesystem::path& first, const std::filesystem::path& second)>;

    // Fails calls of op whose paths match, `times` times (-1: always).
    void fail(Op op, Match match, std::errc error, int times = -1);
    // Fails calls of op whose destination (or only path) has this file name.
    void failNamed(Op op, const std::string& fileName, std::errc error, int times = -1);
    // Fails only the nth call (1-based) of op.
    void failNth(Op op, int nth, std::errc error);
    // The nth copy writes the first half of the file, then fails as a full disk does.
    void cutNthCopy(int nth);
    int calls(Op op) const;

    std::filesystem::file_status status(const std::filesystem::path& p, std::error_code& ec) override;
    std::filesystem::file_status symlinkStatus(const std::filesystem::path& p, std::error_code& ec) override;
    bool remove(const std::filesystem::path& p, std::error_code& ec) override;
    std::uintmax_t removeAll(const std::filesystem::path& p, std::error_code& ec) override;
    void rename(const std::filesystem::path& from, const std::filesystem::path& to, std::error_code& ec) override;
    void copyFile(const std::filesystem::path& from, const std::filesystem::path& to, std::error_code& ec) override;
    void createDirectories(const std::filesystem::path& p, std::error_code& ec) override;
    void keepExecutable(const std::filesystem::path& from, const std::filesystem::path& to,
                         std::error_code& ec) override;
    void createDirectoryLike(const std::filesystem::path& p, const std::filesystem::path& like,
                             std::error_code& ec) override;
    void setPermissions(const std::filesystem::path& p, std::filesystem::perms perms, std::error_code& ec) override;
    void copySymlink(const std::filesystem::path& from, const std::filesystem::path& to,
                     std::error_code& ec) override;

private:
    struct Fault {
        Op op;
        Match match;
        std::errc error;
        int times;
    };
    bool injected(Op op, const std::filesystem::path& first, const std::filesystem::path& second, std::error_code& ec);

    StdFileOperations real_;
    std::vector<Fault> faults_;
    int cutCopy_ = 0;
    std::map<Op, int> calls_;
};
