#include "device_fuzz_targets.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "device/frame_rewrite.h"

namespace ostrel::fuzz {

namespace {

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

}  // namespace

int fuzzDeviceRewrite(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool packetForm = data[0] & 1;
    const Ipv4Address to{10, 77, data[0], 255};
    // A buffer of exactly the input's size, so the sanitizer sees any overread.
    const std::size_t n = size - 1;
    std::unique_ptr<std::uint8_t[]> buf(new std::uint8_t[n ? n : 1]);
    std::copy(data + 1, data + size, buf.get());
    std::span<std::uint8_t> bytes(buf.get(), n);
    const std::vector<std::uint8_t> before(bytes.begin(), bytes.end());

    (void)FrameRewrite::isArpIpv4(bytes);
    bool candidate = packetForm ? FrameRewrite::isPacketBroadcastCandidate(bytes)
                                : FrameRewrite::isFrameBroadcastCandidate(bytes);
    bool rewritten = packetForm ? FrameRewrite::rewriteIpv4Broadcast(bytes, to)
                                : FrameRewrite::rewriteFrameBroadcast(bytes, to);
    if (rewritten && !candidate) broken("rewrote something that was no candidate");
    if (!rewritten && !std::equal(before.begin(), before.end(), bytes.begin())) broken("changed a frame it refused");
    if (rewritten) {
        std::span<std::uint8_t> ip = packetForm ? bytes : bytes.subspan(14);
        if (!std::equal(to.begin(), to.end(), ip.begin() + 16)) broken("destination not rewritten");
        std::size_t h = 4u * (ip[0] & 0x0F);
        if (FrameRewrite::internetChecksum(ip.first(h)) != 0) broken("header checksum wrong after rewrite");
    }
    return 0;
}

}  // namespace ostrel::fuzz
