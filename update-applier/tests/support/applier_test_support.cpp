#include "applier_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

HeldChild::HeldChild()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::close(fds[1]);
        char c;
        while (::read(fds[0], &c, 1) > 0) {
        }
        ::_exit(0);
    }
    ::close(fds[0]);
    if (pid_ < 0)
        ::close(fds[1]);
    else
        release_ = fds[1];
}

void HeldChild::letGo()
{
    if (release_ >= 0)
        ::close(release_);
    release_ = -1;
}

HeldChild::~HeldChild()
{
    letGo();
    if (pid_ > 0)
        ::waitpid(pid_, nullptr, 0);
}

TempDir::TempDir()
{
    static std::atomic<int> counter{0};
    path_ = fs::temp_directory_path()
        / ("applier-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(path_);
    fs::create_directories(path_);
    // Tests compare real paths; resolve a temp directory reached through a link.
    path_ = fs::canonical(path_);
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void writeFile(const fs::path& p, const std::string& content)
{
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string readFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> logLines(const fs::path& installDir)
{
    std::vector<std::string> lines;
    const fs::path log = installDir / "updater.log";
    if (!fs::exists(log))
        return lines;
    const std::string text = readFile(log);
    EXPECT_EQ(text.find('\r'), std::string::npos) << "carriage return in updater.log";
    EXPECT_TRUE(text.empty() || text.back() == '\n') << "updater.log does not end in a line feed";
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

std::map<std::string, std::string> snapshot(const fs::path& root)
{
    std::map<std::string, std::string> out;
    if (!fs::exists(root))
        return out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const auto rel = fs::relative(it->path(), root).string();
        if (it->is_symlink())
            out[rel] = "-> " + fs::read_symlink(it->path()).string();
        else if (it->is_directory())
            out[rel] = "<dir>";
        else
            out[rel] = readFile(it->path());
    }
    return out;
}

void FaultyFileOperations::fail(Op op, Match match, std::errc error, int times)
{
    faults_.push_back({op, std::move(match), error, times});
}

void FaultyFileOperations::failNamed(Op op, const std::string& fileName, std::errc error, int times)
{
    fail(op, [op, fileName](const fs::path& first, const fs::path& second) {
        const bool twoPaths = op == Op::Rename || op == Op::Copy || op == Op::KeepExecutable || op == Op::CopySymlink;
        return (twoPaths ? second : first).filename() == fileName;
    }, error, times);
}

void FaultyFileOperations::failNth(Op op, int nth, std::errc error)
{
    auto seen = std::make_shared<int>(0);
    fail(op, [seen, nth](const fs::path&, const fs::path&) { return ++*seen == nth; }, error, 1);
}

int FaultyFileOperations::calls(Op op) const
{
    auto it = calls_.find(op);
    return it == calls_.end() ? 0 : it->second;
}

bool FaultyFileOperations::injected(Op op, const fs::path& first, const fs::path& second, std::error_code& ec)
{
    ++calls_[op];
    for (auto& fault : faults_) {
        if (fault.op != op || fault.times == 0 || !fault.match(first, second))
            continue;
        if (fault.times > 0)
            --fault.times;
        ec = std::make_error_code(fault.error);
        return true;
    }
    return false;
}

fs::file_status FaultyFileOperations::status(const fs::path& p, std::error_code& ec)
{
    if (injected(Op::Status, p, {}, ec))
        return fs::file_status(fs::file_type::none);
    return real_.status(p, ec);
}

fs::file_status FaultyFileOperations::symlinkStatus(const fs::path& p, std::error_code& ec)
{
    if (injected(Op::SymlinkStatus, p, {}, ec))
        return fs::file_status(fs::file_type::none);
    return real_.symlinkStatus(p, ec);
}

bool FaultyFileOperations::remove(const fs::path& p, std::error_code& ec)
{
    if (injected(Op::Remove, p, {}, ec))
        return false;
    return real_.remove(p, ec);
}

std::uintmax_t FaultyFileOperations::removeAll(const fs::path& p, std::error_code& ec)
{
    if (injected(Op::RemoveAll, p, {}, ec))
        return static_cast<std::uintmax_t>(-1);
    return real_.removeAll(p, ec);
}

void FaultyFileOperations::rename(const fs::path& from, const fs::path& to, std::error_code& ec)
{
    if (!injected(Op::Rename, from, to, ec))
        real_.rename(from, to, ec);
}

void FaultyFileOperations::cutNthCopy(int nth)
{
    cutCopy_ = nth;
}

void FaultyFileOperations::copyFile(const fs::path& from, const fs::path& to, std::error_code& ec)
{
    if (injected(Op::Copy, from, to, ec))
        return;
    if (calls(Op::Copy) == cutCopy_) {
        const std::string content = readFile(from);
        std::ofstream out(to, std::ios::binary | std::ios::trunc);
        out << content.substr(0, content.size() / 2);
        ec = std::make_error_code(std::errc::no_space_on_device);
        return;
    }
    real_.copyFile(from, to, ec);
}

void FaultyFileOperations::createDirectories(const fs::path& p, std::error_code& ec)
{
    if (!injected(Op::CreateDirectories, p, {}, ec))
        real_.createDirectories(p, ec);
}

void FaultyFileOperations::keepExecutable(const fs::path& from, const fs::path& to, std::error_code& ec)
{
    if (!injected(Op::KeepExecutable, from, to, ec))
        real_.keepExecutable(from, to, ec);
}

void FaultyFileOperations::createDirectoryLike(const fs::path& p, const fs::path& like, std::error_code& ec)
{
    if (!injected(Op::CreateDirectoryLike, p, {}, ec))
        real_.createDirectoryLike(p, like, ec);
}

void FaultyFileOperations::setPermissions(const fs::path& p, fs::perms perms, std::error_code& ec)
{
    if (!injected(Op::SetPermissions, p, {}, ec))
        real_.setPermissions(p, perms, ec);
}

void FaultyFileOperations::copySymlink(const fs::path& from, const fs::path& to, std::error_code& ec)
{
    if (!injected(Op::CopySymlink, from, to, ec))
        real_.copySymlink(from, to, ec);
}
