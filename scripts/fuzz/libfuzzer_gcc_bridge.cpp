// Lets libFuzzer steer by the coverage of a g++ build. g++ instruments with
// -fsanitize-coverage=trace-pc, one call per basic block and no counters of its
// own, and libFuzzer 14 no longer takes those calls. The link sends them here
// instead (-Wl,--wrap=__sanitizer_cov_trace_pc), and every block address gets a
// counter slot of its own in a table that libFuzzer reads as inline 8-bit
// counters, with the addresses as its PC table: "cov:" counts blocks reached.
// Built without instrumentation: it is what the instrumentation calls.
#include <cstddef>
#include <cstdint>

extern "C" {
void __sanitizer_cov_8bit_counters_init(std::uint8_t* start, std::uint8_t* stop);
void __sanitizer_cov_pcs_init(const std::uintptr_t* pcsBegin, const std::uintptr_t* pcsEnd);
}

namespace {

constexpr unsigned kSlotBits = 17;
constexpr std::size_t kSlots = std::size_t{1} << kSlotBits;
constexpr std::size_t kMaxProbes = 64;

alignas(64) std::uint8_t counters[kSlots];
// Pairs of (block address, flags), as libFuzzer reads a PC table.
alignas(64) std::uintptr_t pcTable[2 * kSlots];

struct Registration {
    Registration()
    {
        __sanitizer_cov_8bit_counters_init(counters, counters + kSlots);
        __sanitizer_cov_pcs_init(pcTable, pcTable + 2 * kSlots);
    }
} registration;

} // namespace

extern "C" {

// libFuzzer runs inputs on one thread, so a slot is claimed without atomics.
void __wrap___sanitizer_cov_trace_pc()
{
    const auto pc = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
    std::size_t slot = static_cast<std::size_t>((pc * 0x9E3779B97F4A7C15ull) >> (64 - kSlotBits));
    for (std::size_t probe = 0; probe < kMaxProbes; ++probe) {
        std::uintptr_t& owner = pcTable[2 * slot];
        if (owner == pc || owner == 0) {
            owner = pc;
            break;
        }
        slot = (slot + 1) & (kSlots - 1);
    }
    ++counters[slot];
}

// g++ also reports floating-point comparisons, which libFuzzer has no hooks for.
void __sanitizer_cov_trace_cmpf(float, float) {}
void __sanitizer_cov_trace_cmpd(double, double) {}
}
