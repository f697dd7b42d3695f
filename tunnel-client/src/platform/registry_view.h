#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

// The network adapter class key and the network connections key.
inline constexpr std::string_view kAdapterClassKey =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
inline constexpr std::string_view kConnectionsKey =
    "SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}";

// Read-only view of the machine's registry (paths below HKEY_LOCAL_MACHINE).
// Names and values come back as the raw bytes the store holds; decoding them
// is the caller's business, as it is for the Windows calls.
class RegistryView {
public:
    struct Key {
        std::uint64_t id = 0;
    };

    virtual ~RegistryView() = default;

    virtual std::optional<Key> openKey(std::string_view path) = 0;
    virtual void closeKey(Key key) = 0;
    // Name of the index-th subkey, at most 256 bytes; nullopt ends enumeration.
    virtual std::optional<std::string> subkeyName(Key key, std::uint32_t index) = 0;
    // Raw value bytes, at most 512; nullopt when the value cannot be read.
    virtual std::optional<std::string> queryValue(Key key, std::string_view name) = 0;
};

}  // namespace ostrel
