#pragma once
// Fuzz entry points for untrusted input of the tunnel session.
//   fuzzOne(data, size): the first byte picks the target —
//     0: a sequence of server datagrams through the session's receive path
//     1: an AUTH_FAIL body            2: an AUTH_OK body
//     0xF0 and above: the adapters' broadcast rewrites (device_fuzz_targets.h)
// Each target aborts when an invariant breaks, so both libFuzzer and the replay
// driver report it.

#include <cstddef>
#include <cstdint>

namespace ostrel::fuzz {

int fuzzOne(const std::uint8_t* data, std::size_t size);

}  // namespace ostrel::fuzz
