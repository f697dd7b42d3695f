#include "update_applier.h"

#include "platform/error_text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

std::string quoted(const fs::path& p)
{
    // Appended, not "'" + p.string(): g++ 12 at -O3 takes that form's
    // insert at the front for an overlapping copy (-Wrestrict).
    std::string text(1, '\'');
    text += p.string();
    text += '\'';
    return text;
}

// ". GetLastError=N (text)" as the messages carry it after a process call.
std::string lastErrorForm(int error)
{
    return ". GetLastError=" + std::to_string(error) + " (" + UpdateApplier::windowsErrorText(error) + ")";
}

bool isDirectoryNotEmpty(const std::error_code& ec)
{
    // POSIX lets rmdir report a non-empty directory either way.
    return ec == std::errc::directory_not_empty || ec == std::errc::file_exists;
}

// A file or an empty folder goes in one step; a folder with contents as a whole tree.
void removeTree(FileOperations& files, const fs::path& p, std::error_code& ec)
{
    files.remove(p, ec);
    if (ec && isDirectoryNotEmpty(ec)) {
        ec.clear();
        files.removeAll(p, ec);
    }
}

bool existsPer(FileOperations& files, const fs::path& p,
               fs::file_status (FileOperations::*query)(const fs::path&, std::error_code&))
{
    std::error_code ec;
    const auto st = (files.*query)(p, ec);
    if (ec)
        throw fs::filesystem_error("cannot query status", p, ec);
    return fs::exists(st);
}

// Something stands at this name, a dangling link included.
bool nameExists(FileOperations& files, const fs::path& p)
{
    return existsPer(files, p, &FileOperations::symlinkStatus);
}

bool pathExists(FileOperations& files, const fs::path& p)
{
    return existsPer(files, p, &FileOperations::status);
}

std::vector<fs::path> elements(const fs::path& p)
{
    std::vector<fs::path> out;
    for (const auto& part : p)
        if (!part.empty())
            out.push_back(part);
    return out;
}

bool samePlace(const fs::path& a, const fs::path& b)
{
    return elements(fs::weakly_canonical(a)) == elements(fs::weakly_canonical(b));
}

fs::path backupPathFor(const fs::path& destination)
{
    fs::path backup = destination;
    backup += std::string(kBackupSuffix);
    return backup;
}

// A name beside p that nothing holds yet: p with ".1", ".2", ... appended.
fs::path freeNameBeside(FileOperations& files, const fs::path& p, std::error_code& ec)
{
    constexpr int kTries = 1000;
    for (int n = 1; n <= kTries; ++n) {
        // Appended in steps, as in quoted(): "." + text trips g++ 12's -Wrestrict at -O3.
        fs::path candidate = p;
        candidate += ".";
        candidate += std::to_string(n);
        if (!nameExists(files, candidate))
            return candidate;
    }
    ec = std::make_error_code(std::errc::file_exists);
    return {};
}

// Where a remove entry really is: the folders on the way resolved as the system
// resolves them, the last name not followed, so a link is moved and not its target.
fs::path entryPlace(fs::path target)
{
    while (target.filename().empty() && target.has_relative_path())
        target = target.parent_path(); // "dir/" names dir
    const fs::path name = target.filename();
    if (name == "." || name == "..")
        return fs::weakly_canonical(target);
    return fs::weakly_canonical(target.parent_path()) / name;
}

} // namespace

std::optional<fs::path> UpdateJournal::backupOf(const fs::path& path) const
{
    for (const auto& change : changes_)
        if (change.path == path && !change.backup.empty())
            return change.backup;
    return std::nullopt;
}

UpdateApplier::UpdateApplier(FileOperations& files, ProcessWaiter& waiter, ProcessLauncher& launcher,
                             std::chrono::milliseconds parentWaitLimit)
    : files_(files), waiter_(waiter), launcher_(launcher), parentWaitLimit_(parentWaitLimit)
{
}

namespace {

// Lines a full disk refused, kept for one more try once a roll-back has freed space.
std::vector<std::pair<fs::path, std::string>>& unwrittenLines()
{
    static std::vector<std::pair<fs::path, std::string>> lines;
    return lines;
}

bool writeLogLine(const fs::path& installDir, std::string_view message)
{
    try {
        std::ofstream out(installDir / kLogFileName, std::ios::out | std::ios::app | std::ios::binary);
        if (!out)
            return false;
        out.write(message.data(), static_cast<std::streamsize>(message.size()));
        out.put('\n');
        out.flush();
        return out.good();
    } catch (...) {
        return false;
    }
}

} // namespace

void UpdateApplier::appendLog(const fs::path& installDir, std::string_view message)
{
    // A log we cannot write must not change what the update does.
    if (!writeLogLine(installDir, message))
        unwrittenLines().emplace_back(installDir, message);
}

void UpdateApplier::retryUnwrittenLog(const fs::path& installDir)
{
    auto lines = std::exchange(unwrittenLines(), {});
    for (const auto& [dir, message] : lines)
        if (dir == installDir)
            writeLogLine(installDir, message);
}

std::u16string UpdateApplier::utf8ToWide(std::string_view utf8)
{
    // Ill-formed sequences become U+FFFD, one per maximal bad subpart.
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    const std::size_t n = utf8.size();
    auto cont = [&](std::size_t k) { return k < n && (static_cast<unsigned char>(utf8[k]) & 0xC0) == 0x80; };
    while (i < n) {
        const auto b0 = static_cast<unsigned char>(utf8[i]);
        char32_t cp = 0;
        std::size_t len = 0;
        if (b0 < 0x80) {
            cp = b0;
            len = 1;
        } else if (b0 >= 0xC2 && b0 <= 0xDF && cont(i + 1)) {
            cp = (b0 & 0x1Fu) << 6 | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
            len = 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF && cont(i + 1)) {
            const auto b1 = static_cast<unsigned char>(utf8[i + 1]);
            const bool okSecond = (b0 == 0xE0) ? b1 >= 0xA0 : (b0 == 0xED) ? b1 <= 0x9F : true;
            if (okSecond && cont(i + 2)) {
                cp = (b0 & 0x0Fu) << 12 | (b1 & 0x3Fu) << 6 | (static_cast<unsigned char>(utf8[i + 2]) & 0x3Fu);
                len = 3;
            } else {
                len = okSecond ? 2 : 1;
                out.push_back(u'\uFFFD');
                i += len;
                continue;
            }
        } else if (b0 >= 0xF0 && b0 <= 0xF4 && cont(i + 1)) {
            const auto b1 = static_cast<unsigned char>(utf8[i + 1]);
            const bool okSecond = (b0 == 0xF0) ? b1 >= 0x90 : (b0 == 0xF4) ? b1 <= 0x8F : true;
            if (okSecond && cont(i + 2) && cont(i + 3)) {
                cp = (b0 & 0x07u) << 18 | (b1 & 0x3Fu) << 12
                    | (static_cast<unsigned char>(utf8[i + 2]) & 0x3Fu) << 6
                    | (static_cast<unsigned char>(utf8[i + 3]) & 0x3Fu);
                len = 4;
            } else {
                len = !okSecond ? 1 : cont(i + 2) ? 3 : 2;
                out.push_back(u'\uFFFD');
                i += len;
                continue;
            }
        } else {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

std::string UpdateApplier::windowsErrorText(int error)
{
    return systemErrorText(error);
}

std::optional<ApplyPlan> UpdateApplier::readApplyPlan(const fs::path& planPath, const fs::path& installDir)
{
    const std::string openFailure = "Failed to open apply.json: " + planPath.string();
    std::string text;
    {
        // A directory opens on Linux and only fails on read, and a FIFO blocks the open
        // for ever: only a regular file is read at all.
        std::error_code ec;
        if (!fs::is_regular_file(planPath, ec)) {
            appendLog(installDir, openFailure);
            return std::nullopt;
        }
        std::ifstream in(planPath, std::ios::in | std::ios::binary);
        if (!in.is_open()) {
            appendLog(installDir, openFailure);
            return std::nullopt;
        }
        char buffer[65536];
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
            text.append(buffer, static_cast<std::size_t>(in.gcount()));
            if (text.size() > kMaxApplyPlanBytes) {
                appendLog(installDir, "Failed to parse apply.json: file is larger than "
                                          + std::to_string(kMaxApplyPlanBytes) + " bytes");
                return std::nullopt;
            }
        }
        if (in.bad()) {
            appendLog(installDir, openFailure);
            return std::nullopt;
        }
    }

    try {
        // The depth guard keeps hostile nesting from exhausting memory.
        const json::parser_callback_t depthGuard = [](int depth, json::parse_event_t, json&) {
            if (depth > static_cast<int>(kMaxApplyPlanDepth))
                throw std::length_error("nesting deeper than " + std::to_string(kMaxApplyPlanDepth) + " levels");
            return true;
        };
        const json root = json::parse(text, depthGuard);

        if (!root.is_object() || !root.contains("main_executable") || !root["main_executable"].is_string()) {
            appendLog(installDir, "apply.json missing valid string field: main_executable");
            return std::nullopt;
        }
        ApplyPlan plan;
        plan.mainExecutable = utf8ToWide(root["main_executable"].get_ref<const std::string&>());
        if (plan.mainExecutable.empty()) {
            appendLog(installDir, "main_executable is empty or invalid UTF-8.");
            return std::nullopt;
        }
        // A NUL would cut the path short at the system call, after the checks saw all of it.
        if (plan.mainExecutable.find(u'\0') != std::u16string::npos) {
            appendLog(installDir, "apply.json contains a NUL character in a path.");
            return std::nullopt;
        }

        if (root.contains("remove")) {
            const json& remove = root["remove"];
            if (!remove.is_array()) {
                appendLog(installDir, "apply.json field 'remove' must be an array.");
                return std::nullopt;
            }
            for (const json& entry : remove) {
                if (!entry.is_string()) {
                    appendLog(installDir, "apply.json contains non-string entry in 'remove'.");
                    return std::nullopt;
                }
                std::u16string wide = utf8ToWide(entry.get_ref<const std::string&>());
                if (wide.empty())
                    continue;
                if (wide.find(u'\0') != std::u16string::npos) {
                    appendLog(installDir, "apply.json contains a NUL character in a path.");
                    return std::nullopt;
                }
                plan.remove.push_back(std::move(wide));
            }
        }
        return plan;
    } catch (const std::exception& e) {
        appendLog(installDir, std::string("Failed to parse apply.json: ") + e.what());
        return std::nullopt;
    }
}

bool UpdateApplier::isWithinDirectory(const fs::path& base, const fs::path& candidate)
{
    const auto baseParts = elements(fs::weakly_canonical(base));
    const auto candidateParts = elements(fs::weakly_canonical(candidate));
    if (candidateParts.size() < baseParts.size())
        return false;
    for (std::size_t i = 0; i < baseParts.size(); ++i)
        if (baseParts[i].native() != candidateParts[i].native())
            return false;
    return true;
}

bool UpdateApplier::waitForParent(std::uint32_t processId, const fs::path& installDir)
{
    const std::string id = std::to_string(processId);
    const auto result = waiter_.waitForExit(processId, parentWaitLimit_);
    switch (result.outcome) {
    case ProcessWaiter::Outcome::Exited:
    case ProcessWaiter::Outcome::NotFound:
        return true;
    case ProcessWaiter::Outcome::OpenFailed:
        appendLog(installDir, "OpenProcess failed while waiting for parent PID " + id + lastErrorForm(result.error));
        return false;
    case ProcessWaiter::Outcome::TimedOut:
        appendLog(installDir, "Timed out waiting for parent process PID " + id + " to exit.");
        return false;
    case ProcessWaiter::Outcome::WaitFailed:
        break;
    }
    appendLog(installDir, "WaitForSingleObject failed for parent PID " + id + lastErrorForm(result.error));
    return false;
}

bool UpdateApplier::moveAside(const fs::path& target, UpdateJournal& journal, std::error_code& ec)
{
    const fs::path backup = backupPathFor(target);
    // A backup left by an earlier run would block the rename, and after a crash it may
    // hold the only copy of an old file: it is set aside, not deleted, goes with this
    // update's own backups once the update has succeeded and comes back on a roll-back.
    if (nameExists(files_, backup)) {
        const fs::path aside = freeNameBeside(files_, backup, ec);
        if (ec)
            return false;
        files_.rename(backup, aside, ec);
        if (ec)
            return false;
        journal.backedUp(backup, aside);
    }
    files_.rename(target, backup, ec);
    if (ec)
        return false;
    journal.backedUp(target, backup);
    return true;
}

void UpdateApplier::createParents(const fs::path& installDir, const fs::path& dir, UpdateJournal& journal,
                                  std::error_code& ec)
{
    // Each missing level is the update's own, so a failure takes it away again.
    std::vector<fs::path> missing;
    for (fs::path p = dir; p != installDir && p.has_relative_path() && !nameExists(files_, p); p = p.parent_path())
        missing.push_back(p);
    files_.createDirectories(dir, ec);
    // Recorded even after a failure: levels made before it are ours too.
    for (auto it = missing.rbegin(); it != missing.rend(); ++it)
        journal.created(*it);
}

bool UpdateApplier::removeEntry(const fs::path& installDir, const std::u16string& entry, UpdateJournal& journal)
{
    fs::path target;
    try {
        target = installDir / fs::path(entry);
        // A dangling link counts: it goes as a link, as any link does. The status
        // comes first so that one which cannot be read is reported.
        if (!pathExists(files_, target) && !nameExists(files_, target))
            return true;
        if (!isWithinDirectory(installDir, target)) {
            appendLog(installDir, "Refusing to delete path outside installation directory: " + target.string());
            return false;
        }
        // "." or "dir/.." names the installation itself: never deleted, passed over.
        if (samePlace(installDir, target))
            return true;

        std::error_code ec;
        if (!moveAside(entryPlace(target), journal, ec)) {
            appendLog(installDir, "Failed to remove " + quoted(target) + ": " + ec.message());
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        appendLog(installDir, "Exception while removing " + quoted(target) + ": " + e.what());
        return false;
    }
}

bool UpdateApplier::applyStagedFiles(const fs::path& filesDir, const fs::path& installDir, UpdateJournal& journal)
{
    try {
        std::error_code ec;
        // A link is not followed: whatever it points at is not what the desktop staged.
        const auto st = files_.symlinkStatus(filesDir, ec);
        if (ec || !fs::is_directory(st)) {
            appendLog(installDir, "Staged files directory does not exist or is not a directory: " + filesDir.string());
            return false;
        }
        const fs::path base = fs::weakly_canonical(filesDir);
        for (auto it = fs::recursive_directory_iterator(filesDir); it != fs::recursive_directory_iterator(); ++it) {
            const fs::directory_entry& item = *it;
            if (!fs::is_regular_file(item.status()))
                continue;
            const fs::path staged = item.path();
            const fs::path relative = fs::weakly_canonical(staged).lexically_relative(base);
            const fs::path destination = installDir / relative;

            if (relative.empty() || !isWithinDirectory(installDir, destination.parent_path())) {
                appendLog(installDir, "Refusing to write path outside installation directory: " + destination.string());
                return false;
            }
            createParents(installDir, destination.parent_path(), journal, ec);
            if (ec) {
                appendLog(installDir, "Failed to create directories for " + quoted(destination) + ": " + ec.message());
                return false;
            }
            // A dangling link counts as present: copying through it would write wherever it points.
            if (nameExists(files_, destination)) {
                if (!moveAside(destination, journal, ec)) {
                    appendLog(installDir, "Failed to create backup for " + quoted(destination) + ": " + ec.message());
                    return false;
                }
            } else {
                // Before the copy, so that a copy cut short is taken away too.
                journal.created(destination);
            }
            files_.copyFile(staged, destination, ec);
            if (ec) {
                appendLog(installDir, "Failed to copy " + quoted(staged) + " to " + quoted(destination) + ": "
                                          + ec.message());
                return false;
            }
            // A staged copy may come without execute bits: a replaced program keeps them.
            if (const auto backup = journal.backupOf(destination)) {
                files_.keepExecutable(*backup, destination, ec);
                if (ec) {
                    appendLog(installDir, "Failed to keep the execute permission of " + quoted(destination) + ": "
                                              + ec.message());
                    return false;
                }
            }
        }
        return true;
    } catch (const std::exception& e) {
        appendLog(installDir, std::string("Exception during file apply: ") + e.what());
        return false;
    }
}

bool UpdateApplier::restoreBackups(const fs::path& installDir, const UpdateJournal& journal)
{
    bool ok = true;
    // Backups that could not go back: the only copies of what stood there, never deleted.
    std::vector<fs::path> stranded;
    const auto& changes = journal.changes();
    for (auto it = changes.rbegin(); it != changes.rend(); ++it) {
        const auto& [path, backup] = *it;
        try {
            // Whatever the update put here goes; a folder it made is empty by now.
            if (nameExists(files_, path)) {
                std::error_code ec;
                if (std::find(stranded.begin(), stranded.end(), path) != stranded.end())
                    ec = std::make_error_code(std::errc::file_exists); // still holds a backup that stayed
                else
                    files_.remove(path, ec);
                if (ec) {
                    appendLog(installDir, "Failed to remove partially updated file during restore " + quoted(path)
                                              + ": " + ec.message());
                    ok = false;
                    if (!backup.empty())
                        stranded.push_back(backup);
                    continue;
                }
            }
            if (backup.empty())
                continue;
            if (!move_with_overwrite(files_, backup, path, installDir)) {
                appendLog(installDir, "Failed to restore backup from " + quoted(backup) + " to " + quoted(path));
                ok = false;
                stranded.push_back(backup);
            }
        } catch (const std::exception& e) {
            appendLog(installDir, "Exception while restoring backup for " + quoted(path) + ": " + e.what());
            ok = false;
            if (!backup.empty())
                stranded.push_back(backup);
        }
    }
    return ok;
}

void UpdateApplier::removeBackups(const fs::path& installDir, const UpdateJournal& journal)
{
    for (const auto& [path, backup] : journal.changes()) {
        if (backup.empty())
            continue;
        std::error_code ec;
        removeTree(files_, backup, ec);
        if (ec)
            appendLog(installDir, "Warning: failed to remove backup file " + quoted(backup) + ": " + ec.message());
    }
}

namespace {

bool putBackPiecewise(FileOperations& files, const fs::path& source, const fs::path& destination,
                      const fs::path& installDir);

void logPutBackFailure(const fs::path& installDir, const fs::path& source, const fs::path& destination,
                       const std::error_code& ec)
{
    UpdateApplier::appendLog(installDir, "Failed to copy backup from " + quoted(source) + " to " + quoted(destination)
                                             + ": " + ec.message());
}

void warnBackupKept(const fs::path& installDir, const fs::path& source, const std::error_code& ec)
{
    UpdateApplier::appendLog(installDir, "Warning: copied backup but failed to remove original backup file "
                                             + quoted(source) + ": " + ec.message());
}

// A folder entry by entry, each moved by a rename where one works. Only what cannot
// go back stays below source; true when nothing did.
bool putBackFolder(FileOperations& files, const fs::path& source, const fs::path& destination,
                   const fs::path& installDir, fs::perms mode)
{
    std::error_code ec;
    // Listed before anything moves out: a folder changing under its iterator may skip entries.
    std::vector<fs::path> children;
    for (fs::directory_iterator it(source, ec), end; !ec && it != end; it.increment(ec))
        children.push_back(it->path());
    // Open to its owner while it is filled, whatever its mode; it gets that mode after.
    if (!ec)
        files.createDirectoryLike(destination, source, ec);
    if (ec) {
        logPutBackFailure(installDir, source, destination, ec);
        return false;
    }
    // A read-only backup gives its entries up only once its owner may write to it.
    constexpr auto ownerNeeds = fs::perms::owner_write | fs::perms::owner_exec;
    const bool opened = (mode & ownerNeeds) != ownerNeeds;
    if (opened) {
        std::error_code ignored; // then the entries come back as copies
        files.setPermissions(source, mode | fs::perms::owner_all, ignored);
    }
    bool whole = true;
    for (const auto& child : children) {
        const fs::path target = destination / child.filename();
        files.rename(child, target, ec);
        if (ec) {
            ec.clear();
            whole = putBackPiecewise(files, child, target, installDir) && whole;
        }
    }
    files.setPermissions(destination, mode, ec);
    if (ec) {
        logPutBackFailure(installDir, source, destination, ec);
        whole = false;
    }
    if (!whole) {
        // What stays below the backup keeps the mode it had.
        if (opened) {
            std::error_code ignored;
            files.setPermissions(source, mode, ignored);
        }
        return false;
    }
    files.remove(source, ec);
    // Still holding a copied entry whose removal has already been warned about.
    if (ec && !isDirectoryNotEmpty(ec))
        warnBackupKept(installDir, source, ec);
    return true;
}

// For when the backup cannot be renamed back whole: a folder comes back entry by
// entry, a link as a link (never followed), a file as a copy. What cannot go back
// stays at its place under source, each piece named in the log.
bool putBackPiecewise(FileOperations& files, const fs::path& source, const fs::path& destination,
                      const fs::path& installDir)
{
    std::error_code ec;
    const auto st = files.symlinkStatus(source, ec);
    if (!ec) {
        if (fs::is_directory(st))
            return putBackFolder(files, source, destination, installDir, st.permissions());
        if (fs::is_symlink(st))
            files.copySymlink(source, destination, ec);
        else
            files.copyFile(source, destination, ec);
    }
    if (ec) {
        logPutBackFailure(installDir, source, destination, ec);
        return false;
    }
    files.remove(source, ec);
    if (ec)
        warnBackupKept(installDir, source, ec);
    return true;
}

} // namespace

bool move_with_overwrite(FileOperations& files, const fs::path& source, const fs::path& destination,
                         const fs::path& installDir)
{
    try {
        std::error_code ec;
        files.createDirectories(destination.parent_path(), ec);
        if (ec) {
            UpdateApplier::appendLog(installDir, "Failed to create parent directories for " + quoted(destination)
                                                     + ": " + ec.message());
            return false;
        }
        files.rename(source, destination, ec);
        if (!ec)
            return true;
        return putBackPiecewise(files, source, destination, installDir);
    } catch (const std::exception& e) {
        UpdateApplier::appendLog(installDir, "Exception in move_with_overwrite from " + quoted(source) + " to "
                                                 + quoted(destination) + ": " + e.what());
        return false;
    }
}

bool UpdateApplier::cleanTempDir(const fs::path& stagingDir, const fs::path& installDir)
{
    try {
        std::error_code ec;
        removeTree(files_, stagingDir, ec);
        if (ec) {
            appendLog(installDir, "Warning: failed to clean temp dir " + quoted(stagingDir) + ": " + ec.message());
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        appendLog(installDir, "Warning: failed to clean temp dir " + quoted(stagingDir) + ": " + e.what());
        return false;
    }
}

bool UpdateApplier::launchMainExecutable(const fs::path& installDir, const ApplyPlan& plan)
{
    fs::path executable;
    try {
        const fs::path relative(plan.mainExecutable);
        executable = installDir / relative;
        std::error_code ec;
        const auto st = files_.status(executable, ec);
        if (ec) {
            appendLog(installDir, "Failed to check main executable " + quoted(executable) + ": " + ec.message());
            return false;
        }
        if (!fs::exists(st)) {
            appendLog(installDir, "Main executable does not exist after update: " + executable.string());
            return false;
        }
        // The plan comes from the network in the end: only a program of the installation is started.
        const fs::path normal = relative.lexically_normal();
        if (relative.has_root_path() || normal.empty() || *normal.begin() == "..") {
            appendLog(installDir, "Refusing to start program outside installation directory: " + executable.string());
            return false;
        }
        const auto started = launcher_.start(executable, installDir);
        if (started.error != 0) {
            appendLog(installDir, "CreateProcessW failed for '" + executable.string() + "'" + lastErrorForm(started.error));
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        appendLog(installDir, "Exception while starting " + quoted(executable) + ": " + e.what());
        return false;
    }
}
