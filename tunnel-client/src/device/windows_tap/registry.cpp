#include "device/windows_tap/registry.h"

#include "core/text.h"
#include "core/text.h"

namespace ostrel {

std::string Registry::decode(std::string_view bytes) {
    auto nul = bytes.find('\0');
    if (nul != std::string_view::npos) bytes = bytes.substr(0, nul);
    std::string text = lossyUtf8(bytes);
    return std::string(trim(text));
}

std::expected<std::string, std::string> Registry::queryString(RegistryView::Key key, std::string_view valueName) {
    std::optional<std::string> raw = view_.queryValue(key, valueName);
    // The value is read into 512 bytes; a longer one fails as the read does.
    if (raw.has_value() && raw->size() <= kValueBuffer) return decode(*raw);
    return std::unexpected("registry query failed for " + std::string(valueName));
}

}  // namespace ostrel
