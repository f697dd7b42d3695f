#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/guid.h"

namespace ostrel {

// Linux interfaces have no GUID; each gets a stable one derived from its name,
// so the adapter logic can find and name them as it does on Windows.
class InterfaceGuid {
public:
    static Guid forName(std::string_view name);
    // The interface whose derived GUID this is, if it exists now.
    static std::optional<std::string> findName(const Guid& guid);
    // Names of the TAP interfaces that exist now, in interface index order.
    static std::vector<std::string> tapInterfaces();
    // tun_flags of a TUN/TAP interface, nullopt for any other interface.
    static std::optional<std::uint32_t> tunFlags(std::string_view name);
};

}  // namespace ostrel
