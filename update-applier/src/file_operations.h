#pragma once

#include <cstdint>
#include <filesystem>
#include <system_error>

// The file-system steps that change or inspect the installation. One seam, so
// tests can make any single step fail even where permissions do not stop root.
class FileOperations {
public:
    virtual ~FileOperations() = default;

    // Status following links; a missing path is not an error.
    virtual std::filesystem::file_status status(const std::filesystem::path& p, std::error_code& ec) = 0;
    // Status of the name itself; a missing path is not an error.
    virtual std::filesystem::file_status symlinkStatus(const std::filesystem::path& p, std::error_code& ec) = 0;
    virtual bool remove(const std::filesystem::path& p, std::error_code& ec) = 0;
    virtual std::uintmax_t removeAll(const std::filesystem::path& p, std::error_code& ec) = 0;
    virtual void rename(const std::filesystem::path& from, const std::filesystem::path& to, std::error_code& ec) = 0;
    // Replaces an existing file.
    virtual void copyFile(const std::filesystem::path& from, const std::filesystem::path& to, std::error_code& ec) = 0;
    virtual void createDirectories(const std::filesystem::path& p, std::error_code& ec) = 0;
    // A folder p to be filled: the permissions of the folder `like`, but open to its
    // owner (read, write, search) until setPermissions gives it its own. One already
    // there is no error.
    virtual void createDirectoryLike(const std::filesystem::path& p, const std::filesystem::path& like,
                                     std::error_code& ec) = 0;
    // Exactly these permissions on p (what the umask would take included).
    virtual void setPermissions(const std::filesystem::path& p, std::filesystem::perms perms,
                                std::error_code& ec) = 0;
    // A link at `to` pointing where the link `from` points; what it points at is never read.
    virtual void copySymlink(const std::filesystem::path& from, const std::filesystem::path& to,
                             std::error_code& ec) = 0;
    // Adds to `to` the execute bits `from` had when that is a regular file, so a
    // replaced program stays runnable whatever permissions its new copy came with.
    virtual void keepExecutable(const std::filesystem::path& from, const std::filesystem::path& to,
                                 std::error_code& ec) = 0;
};

class StdFileOperations : public FileOperations {
public:
    std::filesystem::file_status status(const std::filesystem::path& p, std::error_code& ec) override;
    std::filesystem::file_status symlinkStatus(const std::filesystem::path& p, std::error_code& ec) override;
    bool remove(const std::filesystem::path& p, std::error_code& ec) override;
    std::uintmax_t removeAll(const std::filesystem::path& p, std::error_code& ec) override;
    void rename(const std::filesystem::path& from, const std::filesystem::path& to, std::error_code& ec) override;
    void copyFile(const std::filesystem::path& from, const std::filesystem::path& to, std::error_code& ec) override;
    void createDirectories(const std::filesystem::path& p, std::error_code& ec) override;
    void createDirectoryLike(const std::filesystem::path& p, const std::filesystem::path& like,
                             std::error_code& ec) override;
    void setPermissions(const std::filesystem::path& p, std::filesystem::perms perms, std::error_code& ec) override;
    void copySymlink(const std::filesystem::path& from, const std::filesystem::path& to,
                     std::error_code& ec) override;
    void keepExecutable(const std::filesystem::path& from, const std::filesystem::path& to,
                         std::error_code& ec) override;
};
