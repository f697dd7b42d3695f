#pragma once

#include "platform/library_loader.h"

namespace ostrel {

class DlLibraryLoader : public LibraryLoader {
public:
    std::expected<Handle, Failure> load(const std::string& path) override;
    void* symbol(Handle library, const char* name) override;
    void unload(Handle library) override;
};

}  // namespace ostrel
