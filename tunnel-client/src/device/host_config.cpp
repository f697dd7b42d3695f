#include "device/host_config.h"

#include <cstdio>

#include "core/text.h"
#include "platform/os_errors.h"

namespace ostrel {

namespace {

constexpr std::uint32_t kInfiniteLifetime = 0xFFFFFFFFu;

Ipv6Address widen(Ipv4Address a) {
    Ipv6Address out{};
    std::copy(a.begin(), a.end(), out.begin());
    return out;
}

}  // namespace

std::expected<void, std::string> HostConfig::runNetsh(const std::vector<std::string>& words) {
    auto outcome = commands_.run("netsh", words);
    if (!outcome) return std::unexpected("failed to run netsh: " + outcome.error());
    if (*outcome == 0) return {};
    std::string joined;
    for (const auto& w : words) {
        if (!joined.empty()) joined += ' ';
        joined += w;
    }
    char code[16];
    if (*outcome & 0x80000000u) std::snprintf(code, sizeof code, "0x%08x", *outcome);
    else std::snprintf(code, sizeof code, "%u", *outcome);
    return std::unexpected("netsh " + joined + " exited with exit code: " + code);
}

std::expected<void, std::string> HostConfig::addRoute(const std::string& name, std::uint32_t index,
                                                      Ipv4Address destination, std::uint8_t prefixLength,
                                                      bool deleteFirst) {
    RouteRow row;
    row.interfaceIndex = index;
    row.destination = destination;
    row.prefixLength = prefixLength;
    row.nextHop = {0, 0, 0, 0};
    row.validLifetime = kInfiniteLifetime;
    row.preferredLifetime = kInfiniteLifetime;
    row.metric = 1;
    row.protocol = 3;
    row.immortal = true;
    row.origin = 0;
    if (deleteFirst) (void)ip_.deleteRoute(row);
    std::uint32_t result = ip_.createRoute(row);
    if (result == 0) {
        keptRoutes_.push_back(row);
        return {};
    }
    // It was there before us, so it is not ours to remove.
    if (result == kErrorObjectAlreadyExists) return {};
    return std::unexpected("CreateIpForwardEntry2(" + ipv4Text(destination) + "/" + std::to_string(prefixLength) +
                           ") failed on " + name + ": error " + std::to_string(result));
}

void HostConfig::deleteKeptRoutes() {
    for (const auto& row : keptRoutes_) (void)ip_.deleteRoute(row);
    keptRoutes_.clear();
}

void HostConfig::metricStep(AddressFamily family, std::uint32_t index) {
    auto row = ip_.getInterface(family, index);
    if (!row) return;
    row->useAutomaticMetric = false;
    row->metric = 5;
    row->sitePrefixLength = 0;
    (void)ip_.setInterface(*row);
}

UnicastRow HostConfig::unicastRow(AddressFamily family, const Ipv6Address& address, std::uint32_t index,
                                  std::uint8_t prefix) const {
    UnicastRow row;
    row.family = family;
    row.address = address;
    row.interfaceIndex = index;
    row.prefixOrigin = 1;
    row.suffixOrigin = 1;
    row.validLifetime = kInfiniteLifetime;
    row.preferredLifetime = kInfiniteLifetime;
    row.onLinkPrefixLength = prefix;
    row.skipAsSource = false;
    row.dadState = 4;
    return row;
}

std::expected<void, std::string> HostConfig::configure(const std::string& name, std::uint32_t index,
                                                       const HostSettings& s) {
    // What the adapter was before we touched it, so teardown can leave it that way again.
    if (!linkFound_) {
        if (auto link = ip_.getLink(index)) linkFound_ = *link;
    }
    if (auto up = runNetsh({"interface", "set", "interface", "name=" + name, "admin=enabled"}); !up) return up;
    if (linkFound_ && !linkFound_->adminUp) enabledByUs_ = true;

    deleteKeptRoutes();

    for (AddressFamily family : {AddressFamily::V4, AddressFamily::V6}) {
        auto table = ip_.unicastTable(family);
        if (!table) continue;
        for (const auto& row : *table)
            if (row.interfaceIndex == index) (void)ip_.deleteUnicast(row);
    }

    ipv4Added_ = false;
    ipv4Context_ = 0;
    ipv4Address_ = {};
    broadcastRewrite_ = false;
    ipv6Added_ = false;
    ipv6Address_ = {};
    ipv6Prefix_ = 0;

    metricStep(AddressFamily::V4, index);
    metricStep(AddressFamily::V6, index);

    if (style_ == Style::Tap) {
        macRewrite_ = true;
        sessionMac_ = s.sessionMac;
    }

    if (s.addressFlags & HostSettings::kIpv4Valid) {
        const auto prefix = static_cast<std::uint8_t>(prefixFromNetmask(s.netmask));
        if (style_ == Style::Tap) {
            auto added = ip_.addIpAddress(s.address, s.netmask, index);
            if (added) {
                ipv4Added_ = true;
                ipv4Context_ = *added;
            } else if (added.error() != kErrorObjectAlreadyExists && added.error() != kErrorDupDomainName) {
                return std::unexpected("AddIPAddress failed on " + name + ": error " + std::to_string(added.error()));
            }
        } else {
            std::uint32_t result = ip_.createUnicast(unicastRow(AddressFamily::V4, widen(s.address), index, prefix));
            if (result != 0 && result != kErrorObjectAlreadyExists)
                return std::unexpected("CreateUnicastIpAddressEntry(v4) failed on " + name + ": error " +
                                       std::to_string(result));
            ipv4Added_ = true;
            ipv4Address_ = s.address;
        }
        metricStep(AddressFamily::V4, index);

        Ipv4Address subnet, broadcast;
        for (int i = 0; i < 4; ++i) {
            subnet[i] = static_cast<std::uint8_t>(s.address[i] & s.netmask[i]);
            broadcast[i] = static_cast<std::uint8_t>(s.address[i] | ~s.netmask[i]);
        }
        if (auto r = addRoute(name, index, subnet, prefix, false); !r) return r;
        if (auto r = addRoute(name, index, {255, 255, 255, 255}, 32, true); !r) return r;

        broadcastRewrite_ = true;
        broadcastAddress_ = broadcast;

        Ipv4Address server = s.dns == Ipv4Address{} ? Ipv4Address{1, 1, 1, 1} : s.dns;
        (void)runNetsh({"interface", "ipv4", "set", "dns", "name=" + name, "source=static",
                        "address=" + ipv4Text(server), "register=none"});
        dns4Set_ = true;
    }

    if ((s.addressFlags & HostSettings::kIpv6Valid) && s.prefix6 != 0) {
        std::uint32_t result = ip_.createUnicast(unicastRow(AddressFamily::V6, s.address6, index, s.prefix6));
        if (result != 0 && result != kErrorObjectAlreadyExists)
            return std::unexpected("CreateUnicastIpAddressEntry(v6) failed on " + name + ": error " +
                                   std::to_string(result));
        ipv6Added_ = true;
        ipv6Address_ = s.address6;
        ipv6Prefix_ = s.prefix6;
        metricStep(AddressFamily::V6, index);

        if (s.dns6 != Ipv6Address{}) {
            (void)runNetsh({"interface", "ipv6", "set", "dns", name, "static", ipv6CompressedText(s.dns6), "primary"});
            dns6Set_ = true;
        }
    }

    setMtu(name, s.mtu);
    if (linkFound_ && linkFound_->mtu != s.mtu) mtuSet_ = true;
    return {};
}

void HostConfig::setMtu(const std::string& name, std::uint32_t mtu) {
    const std::string word = "mtu=" + std::to_string(mtu);
    (void)runNetsh({"interface", "ipv4", "set", "subinterface", name, word, "store=active"});
    (void)runNetsh({"interface", "ipv6", "set", "subinterface", name, word, "store=active"});
}

void HostConfig::teardown(const std::string& name, std::uint32_t index) {
    deleteKeptRoutes();
    if (dns4Set_) (void)runNetsh({"interface", "ipv4", "set", "dns", "name=" + name, "source=dhcp"});
    if (dns6Set_) (void)runNetsh({"interface", "ipv6", "delete", "dnsservers", name, "all"});
    // Undone once: a second teardown must not reset what a later owner set.
    dns4Set_ = false;
    dns6Set_ = false;
    if (ipv4Added_) {
        if (style_ == Style::Tap) (void)ip_.deleteIpAddress(ipv4Context_);
        else (void)ip_.deleteUnicast(unicastRow(AddressFamily::V4, widen(ipv4Address_), index, 0));
        ipv4Added_ = false;
    }
    if (ipv6Added_) {
        (void)ip_.deleteUnicast(unicastRow(AddressFamily::V6, ipv6Address_, index, ipv6Prefix_));
        ipv6Added_ = false;
    }
    if (mtuSet_) setMtu(name, linkFound_->mtu);
    if (enabledByUs_) (void)runNetsh({"interface", "set", "interface", "name=" + name, "admin=disabled"});
    mtuSet_ = false;
    enabledByUs_ = false;
}

}  // namespace ostrel
