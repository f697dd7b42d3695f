// What the client's right may reach: which TUN/TAP interfaces an account could take
// without it, and which files count as root's alone (checked here for the test's own
// account on a tree in a temporary folder).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/interface_access.h"
#include "platform/linux/trusted_file.h"

namespace ostrel {
namespace {

TEST(PlatformRights, AnInterfaceGoesOnlyToTheAccountsItNames) {
    struct Case {
        std::optional<std::uint32_t> owner;
        std::optional<std::uint32_t> group;
        std::uint32_t user;
        std::vector<std::uint32_t> groups;
        bool attachable;
    };
    const Case cases[] = {
        {1000, std::nullopt, 1000, {1000}, true},
        {1000, std::nullopt, 1001, {1000}, false},
        {std::nullopt, 50, 1000, {1000, 50}, true},    // a supplementary group
        {std::nullopt, 50, 1000, {1000}, false},
        {1000, 50, 1000, {1000}, false},               // both named: both must be the account's
        {1000, 50, 1001, {50}, false},
        {1000, 50, 1000, {1000, 50}, true},
        {std::nullopt, std::nullopt, 1000, {1000}, false},  // named no one: the administrator's
        {std::nullopt, std::nullopt, 0, {0}, true},
        {1000, 50, 0, {0}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("owner " + (c.owner ? std::to_string(*c.owner) : "-") + ", group " +
                     (c.group ? std::to_string(*c.group) : "-") + ", as uid " + std::to_string(c.user));
        EXPECT_EQ(mayAttachWithoutRight({c.owner, c.group}, c.user, c.groups), c.attachable);
    }
}

TEST(PlatformRights, OnlyAFileNoOtherAccountCanChangeIsTrusted) {
    namespace fs = std::filesystem;
    std::string pattern = ::testing::TempDir() + "trusted-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path top = pattern;
    auto file = [&](const std::string& name, fs::perms mode) {
        std::ofstream(top / name) << "library";
        fs::permissions(top / name, mode);
    };
    const auto folderMode = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec;
    const auto fileMode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                          fs::perms::others_read;
    fs::permissions(top, folderMode);
    fs::create_directory(top / "lib");
    fs::permissions(top / "lib", folderMode);
    file("lib/ring.so", fileMode);
    file("lib/open.so", fileMode | fs::perms::others_write);
    fs::create_symlink("ring.so", top / "lib/alias.so");
    ASSERT_EQ(::mkfifo((top / "lib/fifo").c_str(), 0644), 0);
    fs::create_directory(top / "shared");
    fs::permissions(top / "shared", folderMode | fs::perms::group_write);
    file("shared/ring.so", fileMode);
    fs::create_directory_symlink("lib", top / "link");
    const int topFd = ::open(top.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(topFd, 0);

    const uid_t me = ::geteuid();
    struct Case {
        std::string path;
        uid_t owner;
        std::string refusal;  // empty: trusted
    };
    const Case cases[] = {
        {"lib/ring.so", me, ""},
        {"./lib//ring.so", me, ""},
        {"lib/ring.so", me + 1, "top belongs to uid " + std::to_string(me) + ", not uid " + std::to_string(me + 1)},
        {"shared/ring.so", me, "top/shared is writable by group or others"},
        {"lib/open.so", me, "top/lib/open.so is writable by group or others"},
        {"lib/alias.so", me, "top/lib/alias.so is a symbolic link"},
        {"link/ring.so", me, "top/link is a symbolic link"},
        {"lib/fifo", me, "top/lib/fifo is not a regular file"},
        {"lib", me, "top/lib is not a regular file"},
        {"lib/ring.so/more", me, "top/lib/ring.so is not a folder"},
        {"lib/none.so", me, "top/lib/none.so: No such file or directory"},
        {"lib/../shared/ring.so", me, "top/lib/../shared/ring.so climbs out of its folder"},
    };
    struct stat ring {};
    ASSERT_EQ(::stat((top / "lib/ring.so").c_str(), &ring), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        auto opened = TrustedFile::openBelow(topFd, "top", c.path, c.owner);
        if (!opened) {
            EXPECT_EQ(opened.error().reason, c.refusal);
            EXPECT_NE(opened.error().error, 0u);
            continue;
        }
        EXPECT_EQ(c.refusal, "") << "trusted";
        struct stat st {};
        EXPECT_EQ(::fstat(*opened, &st), 0);
        EXPECT_EQ(st.st_ino, ring.st_ino);
        ::close(*opened);
    }
    ::close(topFd);
    fs::remove_all(top);
}

}  // namespace
}  // namespace ostrel
