#pragma once
// DeviceKind: the adapter kind, tap = 0 and wintun = 1, numbered like the
// TunnelMode each one pairs with (tap with l2, wintun with l3).
//   DeviceKind d = DeviceKind::wintun;  d.word() -> "wintun";  d.number() -> 1
//   d.pairedMode() -> TunnelMode::l3;  DeviceKind::forMode(TunnelMode::l2) -> tap
//   DeviceKind::fromWord("tap") -> std::optional;  DeviceKind::possibleValues() -> {"tap", "wintun"}

#include "core/tunnel_mode.h"

namespace ostrel {

class DeviceKind {
public:
    enum Value : std::uint8_t { tap = 0, wintun = 1 };

    constexpr DeviceKind(Value value) : value_(value) {}
    constexpr operator Value() const { return value_; }

    static constexpr std::array<std::string_view, 2> possibleValues() { return {"tap", "wintun"}; }

    static constexpr std::optional<DeviceKind> fromWord(std::string_view word)
    {
        if (word == "tap") return DeviceKind(tap);
        if (word == "wintun") return DeviceKind(wintun);
        return std::nullopt;
    }

    static constexpr DeviceKind forMode(TunnelMode mode)
    {
        return mode == TunnelMode::l2 ? DeviceKind(tap) : DeviceKind(wintun);
    }

    constexpr std::string_view word() const { return value_ == tap ? "tap" : "wintun"; }
    constexpr std::uint8_t number() const { return static_cast<std::uint8_t>(value_); }
    constexpr TunnelMode pairedMode() const { return value_ == tap ? TunnelMode::l2 : TunnelMode::l3; }

private:
    Value value_;
};

} // namespace ostrel
