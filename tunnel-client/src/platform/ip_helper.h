#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <vector>

#include "core/addresses.h"
#include "platform/guid.h"

namespace ostrel {


enum class AddressFamily : std::uint8_t { V4, V6 };

// One IPv4 forward entry, as handed to the create and delete calls.
struct RouteRow {
    std::uint32_t interfaceIndex = 0;
    Ipv4Address destination{};
    std::uint8_t prefixLength = 0;
    Ipv4Address nextHop{};
    std::uint32_t validLifetime = 0;
    std::uint32_t preferredLifetime = 0;
    std::uint32_t metric = 0;
    std::uint32_t protocol = 0;
    bool immortal = false;
    std::uint32_t origin = 0;

    bool operator==(const RouteRow&) const = default;
};

// One unicast address entry; an IPv4 address fills the first four bytes.
struct UnicastRow {
    AddressFamily family = AddressFamily::V4;
    Ipv6Address address{};
    std::uint32_t interfaceIndex = 0;
    std::uint8_t prefixOrigin = 0;
    std::uint8_t suffixOrigin = 0;
    std::uint32_t validLifetime = 0;
    std::uint32_t preferredLifetime = 0;
    std::uint8_t onLinkPrefixLength = 0;
    bool skipAsSource = false;
    std::uint8_t dadState = 0;

    bool operator==(const UnicastRow&) const = default;
};

// The adapter's link as GetIfEntry2 reports it: its MTU and whether it is enabled.
struct LinkRow {
    std::uint32_t mtu = 0;
    bool adminUp = false;
};

struct InterfaceRow {
    AddressFamily family = AddressFamily::V4;
    std::uint32_t interfaceIndex = 0;
    bool useAutomaticMetric = true;
    std::uint32_t metric = 0;
    std::uint8_t sitePrefixLength = 0;
};

// Addresses, routes and interface settings of the host. Every call returns 0
// or an error number as the IP Helper does; 5010 means "already exists".
class IpHelper {
public:
    virtual ~IpHelper() = default;

    virtual std::expected<std::uint64_t, std::uint32_t> guidToLuid(const Guid& guid) = 0;
    virtual std::expected<std::uint32_t, std::uint32_t> luidToIndex(std::uint64_t luid) = 0;

    virtual std::uint32_t createRoute(const RouteRow& row) = 0;
    virtual std::uint32_t deleteRoute(const RouteRow& row) = 0;

    virtual std::expected<std::vector<UnicastRow>, std::uint32_t> unicastTable(AddressFamily family) = 0;
    virtual std::uint32_t createUnicast(const UnicastRow& row) = 0;
    virtual std::uint32_t deleteUnicast(const UnicastRow& row) = 0;

    virtual std::expected<InterfaceRow, std::uint32_t> getInterface(AddressFamily family,
                                                                    std::uint32_t index) = 0;
    virtual std::uint32_t setInterface(const InterfaceRow& row) = 0;
    virtual std::expected<LinkRow, std::uint32_t> getLink(std::uint32_t index) = 0;

    // The older IPv4-only pair: address and mask in, a context to delete it by out.
    virtual std::expected<std::uint32_t, std::uint32_t> addIpAddress(Ipv4Address address, Ipv4Address mask,
                                                                     std::uint32_t index) = 0;
    virtual std::uint32_t deleteIpAddress(std::uint32_t context) = 0;
};

}  // namespace ostrel
