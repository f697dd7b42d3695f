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

    virtual ~LibraryLoader() = default;
    // A bare file name is looked for next to the program first, then on the
    // default search path, as LoadLibraryW does.
    virtual std::expected<Handle, std::uint32_t> load(const std::string& path) = 0;
    virtual void* symbol(Handle library, const char* name) = 0;
    virtual void unload(Handle library) = 0;
};

}  // namespace ostrel
