#include "platform/linux/interface_guid.h"
#include "platform/linux/rtnetlink.h"

#include <libmnl/libmnl.h>
#include <linux/if_link.h>
#include <linux/if_tun.h>
#include <linux/rtnetlink.h>
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

namespace {

struct TunInfo {
    bool isTun = false;
    std::uint8_t type = 0;
    bool persist = false;
};

int tunData(const nlattr* attr, void* data) {
    auto* info = static_cast<TunInfo*>(data);
    if (mnl_attr_get_type(attr) == IFLA_TUN_TYPE && mnl_attr_get_payload_len(attr) >= 1)
        info->type = mnl_attr_get_u8(attr);
    if (mnl_attr_get_type(attr) == IFLA_TUN_PERSIST && mnl_attr_get_payload_len(attr) >= 1)
        info->persist = mnl_attr_get_u8(attr) != 0;
    return MNL_CB_OK;
}

int linkInfo(const nlattr* attr, void* data) {
    auto* info = static_cast<TunInfo*>(data);
    if (mnl_attr_get_type(attr) == IFLA_INFO_KIND) {
        const char* kind = static_cast<const char*>(mnl_attr_get_payload(attr));
        std::size_t len = mnl_attr_get_payload_len(attr);
        info->isTun = std::string_view(kind, strnlen(kind, len)) == "tun";
    }
    if (mnl_attr_get_type(attr) == IFLA_INFO_DATA) mnl_attr_parse_nested(attr, tunData, data);
    return MNL_CB_OK;
}

int linkAttr(const nlattr* attr, void* data) {
    if (mnl_attr_get_type(attr) == IFLA_LINKINFO) mnl_attr_parse_nested(attr, linkInfo, data);
    return MNL_CB_OK;
}

int linkMessage(const nlmsghdr* nlh, void* data) {
    if (nlh->nlmsg_type != RTM_NEWLINK) return MNL_CB_OK;
    return mnl_attr_parse(nlh, sizeof(ifinfomsg), linkAttr, data);
}

}  // namespace

// Asked over rtnetlink rather than read from /sys, which shows the network
// namespace it was mounted in, not necessarily ours.
std::optional<std::uint32_t> InterfaceGuid::tunFlags(std::string_view name) {
    if (name.empty() || name.size() >= IF_NAMESIZE) return std::nullopt;
    unsigned index = if_nametoindex(std::string(name).c_str());
    if (index == 0) return std::nullopt;
    char buf[MNL_SOCKET_BUFFER_SIZE];
    nlmsghdr* nlh = mnl_nlmsg_put_header(buf);
    nlh->nlmsg_type = RTM_GETLINK;
    nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK;
    auto* ifi = static_cast<ifinfomsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(ifinfomsg)));
    ifi->ifi_family = AF_UNSPEC;
    ifi->ifi_index = static_cast<int>(index);
    TunInfo info;
    if (Rtnetlink::exchange(nlh, linkMessage, &info) != 0 || !info.isTun) return std::nullopt;
    std::uint32_t flags = info.type;
    if (info.persist) flags |= IFF_PERSIST;
    return flags;
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
