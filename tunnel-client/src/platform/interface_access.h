#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace ostrel {

// The owner and group a TUN/TAP interface was given, where it was given them.
struct InterfaceOwnership {
    std::optional<std::uint32_t> user;
    std::optional<std::uint32_t> group;
};

// Whether an account could attach to an existing TUN/TAP interface without the right to
// administer the network: every owner and group the interface names must be the account's
// (its effective user; its effective or a supplementary group). One that names neither
// is the administrator's alone. Root may attach to any.
bool mayAttachWithoutRight(const InterfaceOwnership& interface, std::uint32_t user,
                           std::span<const std::uint32_t> groups);

}  // namespace ostrel
