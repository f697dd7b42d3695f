#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "platform/registry_view.h"

namespace ostrel {

// Text reads from the registry: the bytes up to the first NUL, as UTF-8 with
// bad sequences replaced, trimmed.
class Registry {
public:
    static constexpr std::size_t kValueBuffer = 512;
    static constexpr std::size_t kNameBuffer = 256;

    explicit Registry(RegistryView& view) : view_(view) {}

    static std::string decode(std::string_view bytes);

    std::expected<std::string, std::string> queryString(RegistryView::Key key, std::string_view valueName);
    RegistryView& view() { return view_; }

private:
    RegistryView& view_;
};

}  // namespace ostrel
