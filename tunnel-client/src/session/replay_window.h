#pragma once
// ReplayWindow: the last 256 server counters (bit 63 cleared), position c mod 256.
//   seed(counter)  after AUTH_OK: highest = counter, only its bit set
//   accept(c)      true and recorded when c is new and not older than highest - 255

#include <array>
#include <cstdint>

namespace ostrel {

class ReplayWindow {
public:
    void seed(std::uint64_t counter);
    bool accept(std::uint64_t counter);
    std::uint64_t highest() const { return highest_; }
    bool seen(std::uint64_t counter) const;

private:
    void set(std::uint64_t c) { bitmap_[(c / 64) % 4] |= std::uint64_t{1} << (c % 64); }
    void clear(std::uint64_t c) { bitmap_[(c / 64) % 4] &= ~(std::uint64_t{1} << (c % 64)); }

    std::uint64_t highest_ = 0;
    std::array<std::uint64_t, 4> bitmap_{};
};

}  // namespace ostrel
