#include "platform/linux/interface_guid.h"
#include "platform/linux/tun_link.h"

#include <linux/if_tun.h>
#include <net/if.h>
#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace ostrel {

Guid InterfaceGuid::forName(std::string_view name) {
    static constexpr std::string_view kLabel = "ostrel-interface-guid/";
    std::string input(kLabel);
    input.append(name);
    unsigned char hash[16];
    crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(input.data()), input.size(),
                       nullptr, 0);
    Guid guid;
    guid.data1 = (std::uint32_t{hash[0]} << 24) | (std::uint32_t{hash[1]} << 16) | (std::uint32_t{hash[2]} << 8) |
                 hash[3];
    guid.data2 = static_cast<std::uint16_t>((hash[4] << 8) | hash[5]);
    guid.data3 = static_cast<std::uint16_t>((hash[6] << 8) | hash[7]);
    std::copy(hash + 8, hash + 16, guid.data4.begin());
    return guid;
}

std::optional<std::string> InterfaceGuid::findName(const Guid& guid) {
    std::optional<std::string> found;
    if (struct if_nameindex* list = if_nameindex()) {
        for (struct if_nameindex* it = list; it->if_index != 0; ++it) {
            if (forName(it->if_name) == guid) {
                found = it->if_name;
                break;
            }
        }
        if_freenameindex(list);
    }
    return found;
}

std::optional<std::uint32_t> InterfaceGuid::tunFlags(std::string_view name) {
    auto link = TunLink::find(name);
    if (!link) return std::nullopt;
    return link->flags;
}

std::vector<std::string> InterfaceGuid::tapInterfaces() {
    std::vector<std::pair<unsigned, std::string>> taps;
    if (struct if_nameindex* list = if_nameindex()) {
        for (struct if_nameindex* it = list; it->if_index != 0; ++it) {
            auto flags = tunFlags(it->if_name);
            if (flags && (*flags & IFF_TAP)) taps.emplace_back(it->if_index, it->if_name);
        }
        if_freenameindex(list);
    }
    std::sort(taps.begin(), taps.end());
    std::vector<std::string> names;
    for (auto& [index, name] : taps) names.push_back(std::move(name));
    return names;
}

}  // namespace ostrel
