#include "platform/linux/tun_link.h"

#include <libmnl/libmnl.h>
#include <linux/if_link.h>
#include <linux/if_tun.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/rtnetlink.h"

namespace ostrel {

namespace {

struct Reply {
    bool isTun = false;
    std::uint8_t type = 0;
    bool persist = false;
    InterfaceOwnership ownership;
};

int tunData(const nlattr* attr, void* data) {
    auto* reply = static_cast<Reply*>(data);
    const auto type = mnl_attr_get_type(attr);
    const auto length = mnl_attr_get_payload_len(attr);
    if (type == IFLA_TUN_TYPE && length >= 1) reply->type = mnl_attr_get_u8(attr);
    if (type == IFLA_TUN_PERSIST && length >= 1) reply->persist = mnl_attr_get_u8(attr) != 0;
    // The kernel names an owner and a group only where they were set.
    if (type == IFLA_TUN_OWNER && length >= 4) reply->ownership.user = mnl_attr_get_u32(attr);
    if (type == IFLA_TUN_GROUP && length >= 4) reply->ownership.group = mnl_attr_get_u32(attr);
    return MNL_CB_OK;
}

int linkInfo(const nlattr* attr, void* data) {
    auto* reply = static_cast<Reply*>(data);
    if (mnl_attr_get_type(attr) == IFLA_INFO_KIND) {
        const char* kind = static_cast<const char*>(mnl_attr_get_payload(attr));
        std::size_t len = mnl_attr_get_payload_len(attr);
        reply->isTun = std::string_view(kind, strnlen(kind, len)) == "tun";
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

std::optional<TunLink> TunLink::find(std::string_view name) {
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
    Reply reply;
    if (Rtnetlink::exchange(nlh, linkMessage, &reply) != 0 || !reply.isTun) return std::nullopt;
    TunLink link;
    link.flags = reply.type;
    if (reply.persist) link.flags |= IFF_PERSIST;
    link.ownership = reply.ownership;
    return link;
}

bool TunLink::attachableByCaller() const {
    const uid_t user = ::geteuid();
    if (user == 0) return true;
    std::vector<std::uint32_t> groups{::getegid()};
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> more(static_cast<std::size_t>(count));
        const int got = ::getgroups(count, more.data());
        if (got > 0) groups.insert(groups.end(), more.begin(), more.begin() + got);
    }
    return mayAttachWithoutRight(ownership, user, groups);
}

bool TunLink::attachableByCaller(std::string_view name) {
    if (::geteuid() == 0) return true;
    auto link = find(name);
    // No interface of that name: attaching makes one. One that could not be asked about is
    // not taken.
    if (!link) return if_nametoindex(std::string(name).c_str()) == 0;
    return link->attachableByCaller();
}

}  // namespace ostrel
