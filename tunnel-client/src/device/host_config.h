#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "device/frame_rewrite.h"
#include "device/host_settings.h"
#include "platform/command_runner.h"
#include "platform/ip_helper.h"

namespace ostrel {

// The host side of an adapter: puts the granted addresses, routes, DNS servers
// and MTU on it, records each change, and undoes exactly those at teardown.
class HostConfig {
public:
    // The two adapters add their IPv4 address through different calls.
    enum class Style { Tap, Wintun };

    HostConfig(Style style, IpHelper& ip, CommandRunner& commands) : style_(style), ip_(ip), commands_(commands) {}

    // Error text on failure; whatever was recorded before it stays recorded.
    std::expected<void, std::string> configure(const std::string& name, std::uint32_t index,
                                               const HostSettings& settings);
    // Ignores every failure; safe to call on a never-configured adapter. Puts the
    // MTU and the enabled state back as configure found them.
    void teardown(const std::string& name, std::uint32_t index);

    std::expected<void, std::string> addRoute(const std::string& name, std::uint32_t index, Ipv4Address destination,
                                              std::uint8_t prefixLength, bool deleteFirst);

    // Runs netsh; the error text tells a start failure from a non-zero exit.
    std::expected<void, std::string> runNetsh(const std::vector<std::string>& words);

    // Records, read by the frame paths and by tests.
    const std::vector<RouteRow>& keptRoutes() const { return keptRoutes_; }
    bool ipv4Added() const { return ipv4Added_; }
    bool ipv6Added() const { return ipv6Added_; }
    bool dns4Set() const { return dns4Set_; }
    bool dns6Set() const { return dns6Set_; }
    bool broadcastRewrite() const { return broadcastRewrite_; }
    const Ipv4Address& broadcastAddress() const { return broadcastAddress_; }
    bool macRewrite() const { return macRewrite_; }
    // The link as the first configure found it, when it could be read.
    const std::optional<LinkRow>& linkFound() const { return linkFound_; }
    const Mac& sessionMac() const { return sessionMac_; }

private:
    void deleteKeptRoutes();
    void setMtu(const std::string& name, std::uint32_t mtu);
    void metricStep(AddressFamily family, std::uint32_t index);
    UnicastRow unicastRow(AddressFamily family, const Ipv6Address& address, std::uint32_t index,
                          std::uint8_t prefix) const;

    Style style_;
    IpHelper& ip_;
    CommandRunner& commands_;

    std::vector<RouteRow> keptRoutes_;
    bool ipv4Added_ = false;
    std::uint32_t ipv4Context_ = 0;
    Ipv4Address ipv4Address_{};
    bool ipv6Added_ = false;
    Ipv6Address ipv6Address_{};
    std::uint8_t ipv6Prefix_ = 0;
    bool dns4Set_ = false;
    bool dns6Set_ = false;
    bool broadcastRewrite_ = false;
    Ipv4Address broadcastAddress_{};
    bool macRewrite_ = false;
    Mac sessionMac_{};
    std::optional<LinkRow> linkFound_;
    bool enabledByUs_ = false;
    bool mtuSet_ = false;
};

}  // namespace ostrel
