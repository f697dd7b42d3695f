#include "platform/interface_access.h"

#include <algorithm>

namespace ostrel {

bool mayAttachWithoutRight(const InterfaceOwnership& interface, std::uint32_t user,
                           std::span<const std::uint32_t> groups) {
    if (user == 0) return true;
    if (!interface.user && !interface.group) return false;
    if (interface.user && *interface.user != user) return false;
    if (interface.group && std::find(groups.begin(), groups.end(), *interface.group) == groups.end()) return false;
    return true;
}

}  // namespace ostrel
