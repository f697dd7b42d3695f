#include "platform/linux/trusted_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace ostrel {

namespace {

constexpr long kFuseMagic = 0x65735546;

using Refusal = TrustedFile::Refusal;

Refusal osRefusal(int error, const std::string& shown) {
    return {static_cast<std::uint32_t>(error), shown + ": " + std::strerror(error)};
}

Refusal trustRefusal(const std::string& shown, std::string why) {
    return {static_cast<std::uint32_t>(EACCES), shown + " " + std::move(why)};
}

std::string ownerName(uid_t owner) { return owner == 0 ? "root" : "uid " + std::to_string(owner); }

// One opened step of the walk: the right kind, the owner's, written by no one else, and
// not on a file system whose owners and modes a user's own process makes up.
std::expected<void, Refusal> check(int fd, const std::string& shown, bool folder, uid_t owner) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return std::unexpected(osRefusal(errno, shown));
    if (S_ISLNK(st.st_mode)) return std::unexpected(trustRefusal(shown, "is a symbolic link"));
    if (folder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode))
        return std::unexpected(trustRefusal(shown, folder ? "is not a folder" : "is not a regular file"));
    if (st.st_uid != owner)
        return std::unexpected(
            trustRefusal(shown, "belongs to uid " + std::to_string(st.st_uid) + ", not " + ownerName(owner)));
    if (st.st_mode & (S_IWGRP | S_IWOTH)) return std::unexpected(trustRefusal(shown, "is writable by group or others"));
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0) return std::unexpected(osRefusal(errno, shown));
    if (fs.f_type == kFuseMagic) return std::unexpected(trustRefusal(shown, "lies on a FUSE file system"));
    return {};
}

std::string joined(const std::string& folder, std::string_view name) {
    return folder.ends_with('/') ? folder + std::string(name) : folder + '/' + std::string(name);
}

}  // namespace

std::expected<int, Refusal> TrustedFile::openBelow(int top, std::string_view topName, std::string_view relative,
                                                   uid_t owner) {
    std::string shown(topName);
    if (auto ok = check(top, shown, true, owner); !ok) return std::unexpected(ok.error());
    std::vector<std::string_view> names;
    for (std::size_t at = 0; at <= relative.size();) {
        std::size_t end = relative.find('/', at);
        if (end == std::string_view::npos) end = relative.size();
        std::string_view name = relative.substr(at, end - at);
        if (name == "..") return std::unexpected(trustRefusal(joined(shown, relative), "climbs out of its folder"));
        if (!name.empty() && name != ".") names.push_back(name);
        at = end + 1;
    }
    if (names.empty()) return std::unexpected(trustRefusal(shown, "is not a regular file"));

    int folder = ::fcntl(top, F_DUPFD_CLOEXEC, 0);
    if (folder < 0) return std::unexpected(osRefusal(errno, shown));
    for (std::size_t i = 0; i < names.size(); ++i) {
        const bool last = i + 1 == names.size();
        shown = joined(shown, names[i]);
        const std::string name(names[i]);
        // O_PATH opens nothing but the name: no device is touched, no FIFO waits.
        int next = ::openat(folder, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC | (last ? 0 : O_DIRECTORY));
        if (next < 0) {
            const int error = errno;
            struct stat st {};
            // With O_NOFOLLOW a link where a folder was expected answers ENOTDIR.
            const bool link = error == ENOTDIR && ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                              S_ISLNK(st.st_mode);
            ::close(folder);
            if (link) return std::unexpected(trustRefusal(shown, "is a symbolic link"));
            if (error == ENOTDIR) return std::unexpected(trustRefusal(shown, "is not a folder"));
            return std::unexpected(osRefusal(error, shown));
        }
        ::close(folder);
        if (auto ok = check(next, shown, !last, owner); !ok) {
            ::close(next);
            return std::unexpected(ok.error());
        }
        folder = next;
    }
    return folder;
}

std::expected<int, Refusal> TrustedFile::open(const std::string& path) {
    // Links are resolved once, up front: the walk below then meets none, and one that a
    // race puts in its way is refused rather than followed.
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) return std::unexpected(osRefusal(errno, path));
    int top = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (top < 0) return std::unexpected(osRefusal(errno, "/"));
    auto opened = openBelow(top, "/", resolved.get() + 1, 0);
    ::close(top);
    if (!opened) return opened;
    // A stick or an image the user brought is mounted nosuid or nodev, and its owners and
    // modes are whatever the user wrote into it: root's there proves nothing. Asked of
    // the opened file itself, so no mount over a name can slip in between.
    struct statvfs mount {};
    if (::fstatvfs(*opened, &mount) != 0) {
        const int error = errno;
        ::close(*opened);
        return std::unexpected(osRefusal(error, resolved.get()));
    }
    for (const auto& [flag, word] : {std::pair{ST_NOSUID, "nosuid"}, std::pair{ST_NODEV, "nodev"}}) {
        if (mount.f_flag & flag) {
            ::close(*opened);
            return std::unexpected(trustRefusal(resolved.get(), std::string("lies on a ") + word + " mount"));
        }
    }
    return opened;
}

}  // namespace ostrel
