#pragma once
// TCP and UDP offloads of a Linux TAP opened with a virtio-net header.
//   VnetHeader     the 10-byte header before every frame read from or written to such a TAP
//   TsoSplitter    one frame read from the TAP, as the MTU-sized frames it stands for
//   TcpCoalescer   consecutive TCP segments of one flow, joined into one frame to write
//   UdpCoalescer   consecutive equal-sized UDP datagrams of one flow, joined likewise
// With offloads on, the kernel hands the TAP whole TCP send bursts (up to 64 KiB) and
// leaves checksums to finish; the tunnel still carries MTU-sized frames with real
// checksums, and on the far side the segments of one burst go back to the kernel in one
// write, which then passes its stack once instead of once per segment. A run of small
// datagrams (a game's or a stream's) goes back the same way, as one UDP segmentation frame.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace ostrel {

struct VnetHeader {
    static constexpr std::size_t kSize = 10;
    static constexpr std::uint8_t kNeedsChecksum = 1;
    static constexpr std::uint8_t kGsoNone = 0;
    static constexpr std::uint8_t kGsoTcp4 = 1;
    static constexpr std::uint8_t kGsoTcp6 = 4;
    static constexpr std::uint8_t kGsoUdp = 5;  // UDP segmentation, IPv4 or IPv6 (Linux 6.2 and later)
    static constexpr std::uint8_t kGsoEcn = 0x80;

    std::uint8_t flags = 0;
    std::uint8_t gsoType = kGsoNone;
    std::uint16_t headerLength = 0;
    std::uint16_t gsoSize = 0;
    std::uint16_t checksumStart = 0;
    std::uint16_t checksumOffset = 0;

    // In the host's byte order, as the TAP uses it unless told otherwise.
    static VnetHeader read(std::span<const std::uint8_t> bytes);
    void write(std::span<std::uint8_t> out) const;
};

class TsoSplitter {
public:
    // Takes a frame as read, header first; its bytes must stay until the last frame is out.
    // False when it cannot be turned into frames (too short, a kind of segmentation other
    // than TCP or UDP, headers that do not parse); it is dropped then.
    bool load(std::span<std::uint8_t> read);
    bool pending() const { return left_ > 0; }
    // The next frame into `out`, cut to it: its length, or nothing when none is left.
    std::optional<std::size_t> next(std::span<std::uint8_t> out);

private:
    std::span<std::uint8_t> frame_;
    std::size_t left_ = 0;      // frames still to hand out
    std::size_t index_ = 0;     // of the next segment
    bool segmented_ = false;
    bool udp_ = false;          // UDP segmentation, else TCP
    bool ipv4_ = false;
    std::size_t ip_ = 0;        // offset of the IP header
    std::size_t tcp_ = 0;       // offset of the TCP (or UDP) header
    std::size_t headers_ = 0;   // Ethernet, IP and TCP (or UDP) headers
    std::size_t mss_ = 0;
};

class TcpCoalescer {
public:
    TcpCoalescer();

    // Begins a new frame with a segment that others can follow; false (nothing held)
    // when it cannot be followed, so it is written alone.
    bool start(std::span<const std::uint8_t> frame);
    // Adds the segment that continues the held frame; false when it does not.
    bool append(std::span<const std::uint8_t> frame);
    bool holding() const { return held_ > 0; }
    // Header and frame of what is held, ready to write; nothing is held afterwards.
    std::span<const std::uint8_t> take();

private:
    std::vector<std::uint8_t> buffer_;  // header, then the frame
    std::size_t length_ = 0;            // of the frame
    std::size_t held_ = 0;              // segments in it
    bool ipv4_ = false;
    std::size_t tcp_ = 0;
    std::size_t headers_ = 0;
    std::size_t mss_ = 0;
    std::uint32_t nextSeq_ = 0;
    bool closed_ = false;  // a shorter or pushed segment ends it
};

class UdpCoalescer {
public:
    UdpCoalescer();

    // Begins a new frame with a datagram that others may follow (untagged, plain IP, data,
    // a checksum that verifies); false (nothing held) when it cannot, so it is written alone.
    bool start(std::span<const std::uint8_t> frame);
    // Adds a datagram of the same flow, no longer than the first; one shorter than the
    // first ends the frame. False when it does not join.
    bool append(std::span<const std::uint8_t> frame);
    bool holding() const { return held_ > 0; }
    // Header and frame of what is held, ready to write; nothing is held afterwards. A lone
    // datagram goes out exactly as it came.
    std::span<std::uint8_t> take();

private:
    std::vector<std::uint8_t> buffer_;  // header, then the frame
    std::size_t length_ = 0;            // of the frame
    std::size_t held_ = 0;              // datagrams in it
    bool ipv4_ = false;
    std::size_t udp_ = 0;               // offset of the UDP header
    std::size_t size_ = 0;              // data bytes of the first datagram
    bool closed_ = false;
};

}  // namespace ostrel
