#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/interface_access.h"

namespace ostrel {

// What rtnetlink tells of a TUN/TAP interface, asked in the calling thread's network
// namespace (/sys shows the one it was mounted in, not necessarily ours).
struct TunLink {
    std::uint32_t flags = 0;  // IFF_TUN or IFF_TAP, with IFF_PERSIST where it is persistent
    InterfaceOwnership ownership;

    // The interface of that name, nullopt when there is none or it is no TUN/TAP one.
    static std::optional<TunLink> find(std::string_view name);
    // Whether this process could attach to this interface without the right to
    // administer the network: by its owner and group (root may take any).
    bool attachableByCaller() const;
    // The same for the interface of that name: yes for a name that is no TUN/TAP
    // interface (attaching makes a new one).
    static bool attachableByCaller(std::string_view name);
};

}  // namespace ostrel
