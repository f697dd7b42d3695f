#include "platform/linux/dl_library_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "platform/linux/trusted_file.h"
#include "platform/network_rights.h"

namespace ostrel {

namespace {

std::string programDirectory() {
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    std::string text(path, static_cast<std::size_t>(n));
    auto slash = text.rfind('/');
    return slash == std::string::npos ? std::string() : text.substr(0, slash);
}

LibraryLoader::Failure failure(int error, std::string detail = {}) {
    return {static_cast<std::uint32_t>(error), std::move(detail)};
}

// With a right its user lacks, the client runs a library's code with that right: only a
// file root alone can change is loaded, and the loader maps the very file that was checked.
std::expected<LibraryLoader::Handle, LibraryLoader::Failure> loadTrusted(const std::string& path) {
    auto file = TrustedFile::open(path);
    if (!file)
        return std::unexpected(failure(static_cast<int>(file.error().error),
                                       path + " refused: " + file.error().reason +
                                           " (with network rights only a library root alone can change is loaded)"));
    errno = 0;
    void* handle = ::dlopen(("/proc/self/fd/" + std::to_string(*file)).c_str(), RTLD_NOW | RTLD_LOCAL);
    const int error = errno;
    ::close(*file);
    if (!handle) return std::unexpected(failure(error != 0 ? error : ENOENT));
    return handle;
}

}  // namespace

std::expected<LibraryLoader::Handle, LibraryLoader::Failure> DlLibraryLoader::load(const std::string& path) {
    if (path.empty()) return std::unexpected(failure(ENOENT));
    const bool guarded = holdsRightsItsUserLacks();
    if (path.find('/') == std::string::npos) {
        std::string dir = programDirectory();
        // The default search path is not checked file by file: with a right, the name
        // means the file next to the program and nothing else.
        if (guarded) return dir.empty() ? std::unexpected(failure(ENOENT)) : loadTrusted(dir + '/' + path);
        if (!dir.empty()) {
            if (void* h = ::dlopen((dir + '/' + path).c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
        }
    } else if (guarded) {
        return loadTrusted(path);
    }
    errno = 0;
    if (void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
    // dlopen leaves no error number of its own; a missing file is the usual cause.
    return std::unexpected(failure(errno != 0 ? errno : ENOENT));
}

void* DlLibraryLoader::symbol(Handle library, const char* name) { return ::dlsym(library, name); }

void DlLibraryLoader::unload(Handle library) {
    if (library) ::dlclose(library);
}

}  // namespace ostrel

namespace ostrel {

std::string defaultWintunLibrary() { return "libwintun.so"; }

}  // namespace ostrel
