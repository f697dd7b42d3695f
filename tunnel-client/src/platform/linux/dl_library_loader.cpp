#include "platform/linux/dl_library_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

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

}  // namespace

std::expected<LibraryLoader::Handle, std::uint32_t> DlLibraryLoader::load(const std::string& path) {
    if (path.empty()) return std::unexpected(static_cast<std::uint32_t>(ENOENT));
    if (path.find('/') == std::string::npos) {
        std::string dir = programDirectory();
        if (!dir.empty()) {
            if (void* h = ::dlopen((dir + '/' + path).c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
        }
    }
    errno = 0;
    if (void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
    // dlopen leaves no error number of its own; a missing file is the usual cause.
    return std::unexpected(static_cast<std::uint32_t>(errno != 0 ? errno : ENOENT));
}

void* DlLibraryLoader::symbol(Handle library, const char* name) { return ::dlsym(library, name); }

void DlLibraryLoader::unload(Handle library) {
    if (library) ::dlclose(library);
}

}  // namespace ostrel

namespace ostrel {

std::string defaultWintunLibrary() { return "libwintun.so"; }

}  // namespace ostrel
