#pragma once
// TunnelMode: the tunnel type, l2 = 0 (Ethernet frames, TAP adapter) and l3 = 1
// (IP packets, Wintun adapter).
//   TunnelMode m = TunnelMode::l2;   switch (m) { case TunnelMode::l2: ... }
//   m.word() -> "l2" / "l3";  m.number() -> 0 / 1
//   TunnelMode::fromWord("l3"), TunnelMode::fromNumber(1) -> std::optional
//   TunnelMode::possibleValues() -> {"l2", "l3"} (command line and help order)

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ostrel {

class TunnelMode {
public:
    enum Value : std::uint8_t { l2 = 0, l3 = 1 };

    constexpr TunnelMode(Value value) : value_(value) {}
    constexpr operator Value() const { return value_; }

    static constexpr std::array<std::string_view, 2> possibleValues() { return {"l2", "l3"}; }

    static constexpr std::optional<TunnelMode> fromWord(std::string_view word)
    {
        if (word == "l2") return TunnelMode(l2);
        if (word == "l3") return TunnelMode(l3);
        return std::nullopt;
    }

    static constexpr std::optional<TunnelMode> fromNumber(std::uint8_t number)
    {
        if (number == 0) return TunnelMode(l2);
        if (number == 1) return TunnelMode(l3);
        return std::nullopt;
    }

    constexpr std::string_view word() const { return value_ == l2 ? "l2" : "l3"; }
    constexpr std::uint8_t number() const { return static_cast<std::uint8_t>(value_); }

private:
    Value value_;
};

} // namespace ostrel
