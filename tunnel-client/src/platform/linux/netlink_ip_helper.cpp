#include "platform/linux/netlink_ip_helper.h"

#include <libmnl/libmnl.h>
#include <linux/if_addr.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "core/text.h"
#include "platform/linux/interface_guid.h"
#include "platform/linux/rtnetlink.h"
#include "platform/os_errors.h"

namespace ostrel {

namespace {

std::uint32_t mapError(int err) {
    return err == EEXIST ? kErrorObjectAlreadyExists : static_cast<std::uint32_t>(err);
}

struct DumpState {
    AddressFamily family;
    std::vector<UnicastRow>* rows;
};

int addressRow(const nlmsghdr* nlh, void* data) {
    auto* state = static_cast<DumpState*>(data);
    const auto* ifa = static_cast<const ifaddrmsg*>(mnl_nlmsg_get_payload(nlh));
    const nlattr* local = nullptr;
    const nlattr* address = nullptr;
    const char* end = static_cast<const char*>(mnl_nlmsg_get_payload_tail(nlh));
    for (auto* attr = static_cast<const nlattr*>(mnl_nlmsg_get_payload_offset(nlh, sizeof(*ifa)));
         mnl_attr_ok(attr, static_cast<int>(end - reinterpret_cast<const char*>(attr)));
         attr = mnl_attr_next(attr)) {
        if (mnl_attr_get_type(attr) == IFA_LOCAL) local = attr;
        if (mnl_attr_get_type(attr) == IFA_ADDRESS) address = attr;
    }
    const nlattr* chosen = local ? local : address;
    std::size_t want = state->family == AddressFamily::V4 ? 4 : 16;
    if (!chosen || mnl_attr_get_payload_len(chosen) != want) return MNL_CB_OK;
    UnicastRow row;
    row.family = state->family;
    std::memcpy(row.address.data(), mnl_attr_get_payload(chosen), want);
    row.interfaceIndex = ifa->ifa_index;
    row.onLinkPrefixLength = ifa->ifa_prefixlen;
    state->rows->push_back(row);
    return MNL_CB_OK;
}

struct LinkState {
    bool seen = false;
    LinkRow row;
};

int linkRow(const nlmsghdr* nlh, void* data) {
    if (nlh->nlmsg_type != RTM_NEWLINK) return MNL_CB_OK;
    auto* state = static_cast<LinkState*>(data);
    const auto* ifi = static_cast<const ifinfomsg*>(mnl_nlmsg_get_payload(nlh));
    state->seen = true;
    state->row.adminUp = (ifi->ifi_flags & IFF_UP) != 0;
    const char* end = static_cast<const char*>(mnl_nlmsg_get_payload_tail(nlh));
    for (auto* attr = static_cast<const nlattr*>(mnl_nlmsg_get_payload_offset(nlh, sizeof(*ifi)));
         mnl_attr_ok(attr, static_cast<int>(end - reinterpret_cast<const char*>(attr)));
         attr = mnl_attr_next(attr)) {
        if (mnl_attr_get_type(attr) == IFLA_MTU && mnl_attr_get_payload_len(attr) == 4)
            state->row.mtu = mnl_attr_get_u32(attr);
    }
    return MNL_CB_OK;
}

}  // namespace

std::expected<std::uint64_t, std::uint32_t> NetlinkIpHelper::guidToLuid(const Guid& guid) {
    auto name = InterfaceGuid::findName(guid);
    if (!name) return std::unexpected(static_cast<std::uint32_t>(ENODEV));
    unsigned index = if_nametoindex(name->c_str());
    if (index == 0) return std::unexpected(static_cast<std::uint32_t>(errno));
    return index;
}

std::expected<std::uint32_t, std::uint32_t> NetlinkIpHelper::luidToIndex(std::uint64_t luid) {
    char name[IF_NAMESIZE];
    if (luid == 0 || luid > 0xFFFFFFFFu || !if_indextoname(static_cast<unsigned>(luid), name))
        return std::unexpected(static_cast<std::uint32_t>(ENODEV));
    return static_cast<std::uint32_t>(luid);
}

std::uint32_t NetlinkIpHelper::route(const RouteRow& row, bool create) {
    char buf[MNL_SOCKET_BUFFER_SIZE];
    nlmsghdr* nlh = mnl_nlmsg_put_header(buf);
    nlh->nlmsg_type = create ? RTM_NEWROUTE : RTM_DELROUTE;
    nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK | (create ? NLM_F_CREATE | NLM_F_EXCL : 0);
    auto* rtm = static_cast<rtmsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(rtmsg)));
    rtm->rtm_family = AF_INET;
    rtm->rtm_dst_len = row.prefixLength;
    rtm->rtm_table = RT_TABLE_MAIN;
    // Network management routes are static routes here; on-link means link scope.
    rtm->rtm_protocol = create ? RTPROT_STATIC : 0;
    rtm->rtm_scope = create ? RT_SCOPE_LINK : RT_SCOPE_NOWHERE;
    rtm->rtm_type = RTN_UNICAST;
    if (row.prefixLength > 0) mnl_attr_put(nlh, RTA_DST, 4, row.destination.data());
    if (row.nextHop != Ipv4Address{}) mnl_attr_put(nlh, RTA_GATEWAY, 4, row.nextHop.data());
    mnl_attr_put_u32(nlh, RTA_OIF, row.interfaceIndex);
    mnl_attr_put_u32(nlh, RTA_PRIORITY, row.metric);
    return mapError(Rtnetlink::exchange(nlh, nullptr, nullptr));
}

std::uint32_t NetlinkIpHelper::createRoute(const RouteRow& row) { return route(row, true); }
std::uint32_t NetlinkIpHelper::deleteRoute(const RouteRow& row) { return route(row, false); }

std::expected<std::vector<UnicastRow>, std::uint32_t> NetlinkIpHelper::unicastTable(AddressFamily family) {
    char buf[MNL_SOCKET_BUFFER_SIZE];
    nlmsghdr* nlh = mnl_nlmsg_put_header(buf);
    nlh->nlmsg_type = RTM_GETADDR;
    nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    auto* ifa = static_cast<ifaddrmsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(ifaddrmsg)));
    ifa->ifa_family = family == AddressFamily::V4 ? AF_INET : AF_INET6;
    std::vector<UnicastRow> rows;
    DumpState state{family, &rows};
    if (int err = Rtnetlink::exchange(nlh, addressRow, &state)) return std::unexpected(mapError(err));
    return rows;
}

std::uint32_t NetlinkIpHelper::address(const UnicastRow& row, bool create) {
    char buf[MNL_SOCKET_BUFFER_SIZE];
    nlmsghdr* nlh = mnl_nlmsg_put_header(buf);
    nlh->nlmsg_type = create ? RTM_NEWADDR : RTM_DELADDR;
    nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK | (create ? NLM_F_CREATE | NLM_F_EXCL : 0);
    auto* ifa = static_cast<ifaddrmsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(ifaddrmsg)));
    bool v4 = row.family == AddressFamily::V4;
    ifa->ifa_family = v4 ? AF_INET : AF_INET6;
    ifa->ifa_prefixlen = row.onLinkPrefixLength;
    ifa->ifa_index = row.interfaceIndex;
    ifa->ifa_scope = RT_SCOPE_UNIVERSE;
    if (v4) {
        mnl_attr_put(nlh, IFA_LOCAL, 4, row.address.data());
        if (create) {
            mnl_attr_put(nlh, IFA_ADDRESS, 4, row.address.data());
            if (row.onLinkPrefixLength < 31) {
                // The directed broadcast must be a broadcast address of the link.
                std::uint8_t brd[4];
                for (int i = 0; i < 4; ++i) {
                    int bits = row.onLinkPrefixLength - 8 * i;
                    std::uint8_t mask = bits >= 8 ? 0xFF : bits <= 0 ? 0 : static_cast<std::uint8_t>(0xFF << (8 - bits));
                    brd[i] = static_cast<std::uint8_t>(row.address[i] | ~mask);
                }
                mnl_attr_put(nlh, IFA_BROADCAST, 4, brd);
            }
        }
    } else {
        mnl_attr_put(nlh, IFA_ADDRESS, 16, row.address.data());
        // Preferred at once, as the row's DAD state asks.
        if (create) mnl_attr_put_u32(nlh, IFA_FLAGS, IFA_F_NODAD | IFA_F_PERMANENT);
    }
    return mapError(Rtnetlink::exchange(nlh, nullptr, nullptr));
}

std::uint32_t NetlinkIpHelper::createUnicast(const UnicastRow& row) { return address(row, true); }
std::uint32_t NetlinkIpHelper::deleteUnicast(const UnicastRow& row) { return address(row, false); }

std::expected<InterfaceRow, std::uint32_t> NetlinkIpHelper::getInterface(AddressFamily family, std::uint32_t index) {
    char name[IF_NAMESIZE];
    if (!if_indextoname(index, name)) return std::unexpected(static_cast<std::uint32_t>(ENODEV));
    InterfaceRow row;
    row.family = family;
    row.interfaceIndex = index;
    return row;
}

std::uint32_t NetlinkIpHelper::setInterface(const InterfaceRow&) { return 0; }

std::expected<LinkRow, std::uint32_t> NetlinkIpHelper::getLink(std::uint32_t index) {
    char buf[MNL_SOCKET_BUFFER_SIZE];
    nlmsghdr* nlh = mnl_nlmsg_put_header(buf);
    nlh->nlmsg_type = RTM_GETLINK;
    nlh->nlmsg_flags = NLM_F_REQUEST;
    auto* ifi = static_cast<ifinfomsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(ifinfomsg)));
    ifi->ifi_family = AF_UNSPEC;
    ifi->ifi_index = static_cast<int>(index);
    LinkState state;
    if (int err = Rtnetlink::exchange(nlh, linkRow, &state)) return std::unexpected(mapError(err));
    if (!state.seen) return std::unexpected(static_cast<std::uint32_t>(ENODEV));
    return state.row;
}

std::expected<std::uint32_t, std::uint32_t> NetlinkIpHelper::addIpAddress(Ipv4Address address, Ipv4Address mask,
                                                                         std::uint32_t index) {
    UnicastRow row;
    row.family = AddressFamily::V4;
    std::copy(address.begin(), address.end(), row.address.begin());
    row.interfaceIndex = index;
    row.onLinkPrefixLength = static_cast<std::uint8_t>(prefixFromNetmask(mask));
    if (std::uint32_t err = createUnicast(row)) return std::unexpected(err);
    std::uint32_t context = nextContext_++;
    contexts_[context] = row;
    return context;
}

std::uint32_t NetlinkIpHelper::deleteIpAddress(std::uint32_t context) {
    auto it = contexts_.find(context);
    if (it == contexts_.end()) return static_cast<std::uint32_t>(ENOENT);
    std::uint32_t err = deleteUnicast(it->second);
    contexts_.erase(it);
    return err;
}

}  // namespace ostrel
