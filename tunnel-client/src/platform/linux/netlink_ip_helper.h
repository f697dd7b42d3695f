#pragma once

#include <map>

#include "platform/ip_helper.h"

namespace ostrel {

// Addresses and routes over rtnetlink (libmnl). An interface's LUID is its
// index; EEXIST comes back as 5010. Linux has no interface metric of this
// kind, so reading the interface row checks that it exists and writing it
// changes nothing.
class NetlinkIpHelper : public IpHelper {
public:
    std::expected<std::uint64_t, std::uint32_t> guidToLuid(const Guid& guid) override;
    std::expected<std::uint32_t, std::uint32_t> luidToIndex(std::uint64_t luid) override;
    std::uint32_t createRoute(const RouteRow& row) override;
    std::uint32_t deleteRoute(const RouteRow& row) override;
    std::expected<std::vector<UnicastRow>, std::uint32_t> unicastTable(AddressFamily family) override;
    std::uint32_t createUnicast(const UnicastRow& row) override;
    std::uint32_t deleteUnicast(const UnicastRow& row) override;
    std::expected<InterfaceRow, std::uint32_t> getInterface(AddressFamily family, std::uint32_t index) override;
    std::uint32_t setInterface(const InterfaceRow& row) override;
    std::expected<LinkRow, std::uint32_t> getLink(std::uint32_t index) override;
    std::expected<std::uint32_t, std::uint32_t> addIpAddress(Ipv4Address address, Ipv4Address mask,
                                                             std::uint32_t index) override;
    std::uint32_t deleteIpAddress(std::uint32_t context) override;

private:
    std::uint32_t route(const RouteRow& row, bool create);
    std::uint32_t address(const UnicastRow& row, bool create);
    std::map<std::uint32_t, UnicastRow> contexts_;
    std::uint32_t nextContext_ = 1;
};

}  // namespace ostrel
