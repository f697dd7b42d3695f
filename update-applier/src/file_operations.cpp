#include "file_operations.h"

namespace fs = std::filesystem;

fs::file_status StdFileOperations::status(const fs::path& p, std::error_code& ec)
{
    auto st = fs::status(p, ec);
    if (st.type() == fs::file_type::not_found)
        ec.clear();
    return st;
}

fs::file_status StdFileOperations::symlinkStatus(const fs::path& p, std::error_code& ec)
{
    auto st = fs::symlink_status(p, ec);
    if (st.type() == fs::file_type::not_found)
        ec.clear();
    return st;
}

bool StdFileOperations::remove(const fs::path& p, std::error_code& ec)
{
    return fs::remove(p, ec);
}

std::uintmax_t StdFileOperations::removeAll(const fs::path& p, std::error_code& ec)
{
    return fs::remove_all(p, ec);
}

void StdFileOperations::rename(const fs::path& from, const fs::path& to, std::error_code& ec)
{
    fs::rename(from, to, ec);
}

void StdFileOperations::copyFile(const fs::path& from, const fs::path& to, std::error_code& ec)
{
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
}

void StdFileOperations::createDirectories(const fs::path& p, std::error_code& ec)
{
    fs::create_directories(p, ec);
}

void StdFileOperations::createDirectoryLike(const fs::path& p, const fs::path& like, std::error_code& ec)
{
    // Not create_directory(p, like): a read-only folder made read-only at once could
    // not be filled, and mkdir's mode goes through the umask.
    const auto model = fs::status(like, ec);
    if (ec)
        return;
    fs::create_directory(p, ec);
    if (!ec)
        setPermissions(p, model.permissions() | fs::perms::owner_all, ec);
}

void StdFileOperations::setPermissions(const fs::path& p, fs::perms perms, std::error_code& ec)
{
    fs::permissions(p, perms, fs::perm_options::replace, ec);
}

void StdFileOperations::copySymlink(const fs::path& from, const fs::path& to, std::error_code& ec)
{
    fs::copy_symlink(from, to, ec);
}

void StdFileOperations::keepExecutable(const fs::path& from, const fs::path& to, std::error_code& ec)
{
    // Only a regular file's bits count; a link's are not its own.
    const auto was = fs::symlink_status(from, ec);
    if (ec || was.type() != fs::file_type::regular)
        return;
    constexpr auto execute = fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
    fs::permissions(to, was.permissions() & execute, fs::perm_options::add, ec);
}
