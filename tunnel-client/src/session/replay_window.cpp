#include "session/replay_window.h"

namespace ostrel {

namespace {
constexpr std::uint64_t kMask = ~(std::uint64_t{1} << 63);
}

void ReplayWindow::seed(std::uint64_t counter) {
    highest_ = counter & kMask;
    bitmap_ = {};
    set(highest_);
}

bool ReplayWindow::seen(std::uint64_t counter) const {
    std::uint64_t c = counter & kMask;
    if (c > highest_ || highest_ - c > 255) return false;
    return (bitmap_[(c / 64) % 4] >> (c % 64)) & 1;
}

bool ReplayWindow::accept(std::uint64_t counter) {
    std::uint64_t c = counter & kMask;
    if (c > highest_) {
        std::uint64_t d = c - highest_;
        if (d > 255) {
            bitmap_ = {};
        } else {
            for (std::uint64_t k = highest_ + 1; k <= c; ++k) clear(k);
        }
        highest_ = c;
        set(c);
        return true;
    }
    if (highest_ - c > 255) return false;
    if ((bitmap_[(c / 64) % 4] >> (c % 64)) & 1) return false;
    set(c);
    return true;
}

}  // namespace ostrel
