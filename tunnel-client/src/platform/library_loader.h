#pragma once

#include <cstdint>
#include <expected>
#include <string>

namespace ostrel {

// File name of the packet-ring library in this platform's form.
std::string defaultWintunLibrary();

// Run-time loading of a shared library and lookup of its functions by name.
class LibraryLoader {
public:
    using Handle = void*;

    // Why a load failed: the error number, and where the loader refused a file of its
    // own accord, which file and why (empty otherwise).
    struct Failure {
        std::uint32_t error = 0;
        std::string detail;
    };

    virtual ~LibraryLoader() = default;
    // A bare file name is looked for next to the program first, then on the
    // default search path, as LoadLibraryW does.
    virtual std::expected<Handle, Failure> load(const std::string& path) = 0;
    virtual void* symbol(Handle library, const char* name) = 0;
    virtual void unload(Handle library) = 0;
};

}  // namespace ostrel
