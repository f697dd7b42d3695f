#include "platform/linux/tap_offload.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "core/internet_checksum.h"

namespace ostrel {

namespace {

constexpr std::size_t kEthernet = 14;
constexpr std::size_t kIpv6Header = 40;
constexpr std::uint8_t kTcp = 6;
constexpr std::uint8_t kUdp = 17;
constexpr std::size_t kUdpHeader = 8;
// Segments of one joined UDP frame; older kernels take no more in one GSO frame.
constexpr std::size_t kMaxUdpSegments = 64;
constexpr std::uint8_t kFin = 0x01, kSyn = 0x02, kRst = 0x04, kPsh = 0x08, kAck = 0x10, kUrg = 0x20, kEce = 0x40,
                       kCwr = 0x80;
constexpr std::size_t kMaxIpLength = 65535;

std::uint16_t be16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }
std::uint32_t be32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}
void putBe16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
void putBe32(std::uint8_t* p, std::uint32_t v) {
    putBe16(p, static_cast<std::uint16_t>(v >> 16));
    putBe16(p + 2, static_cast<std::uint16_t>(v));
}

// Where the IP header of an Ethernet frame starts (after up to two VLAN tags, as a VLAN
// interface on the TAP adds them) and where its transport header starts; 0 when the frame
// is not `protocol` over IPv4 (with a valid header length) or IPv6 (as the next header).
std::size_t transportOffset(std::span<const std::uint8_t> f, std::uint8_t protocol, bool& ipv4, std::size_t& ip) {
    std::size_t type = 12;
    for (int tags = 0; tags < 2 && type + 6 <= f.size(); ++tags) {
        const std::uint16_t t = be16(f.data() + type);
        if (t != 0x8100 && t != 0x88A8) break;
        type += 4;
    }
    ip = type + 2;
    if (f.size() < ip + 20) return 0;
    const std::uint16_t etherType = be16(f.data() + type);
    if (etherType == 0x0800) {
        const std::size_t ihl = 4u * (f[ip] & 0x0F);
        if ((f[ip] >> 4) != 4 || ihl < 20 || f[ip + 9] != protocol) return 0;
        ipv4 = true;
        return ip + ihl;
    }
    if (etherType == 0x86DD) {
        if (f.size() < ip + kIpv6Header || (f[ip] >> 4) != 6 || f[ip + 6] != protocol) return 0;
        ipv4 = false;
        return ip + kIpv6Header;
    }
    return 0;
}

// The pseudo-header sum of a TCP or UDP segment of `length` bytes (header and data).
std::uint32_t pseudoSum(const std::uint8_t* frame, bool ipv4, std::size_t ip, std::size_t length,
                        std::uint8_t protocol = kTcp) {
    if (ipv4) return InternetChecksum::sum(std::span(frame + ip + 12, 8), protocol + static_cast<std::uint32_t>(length));
    return InternetChecksum::sum(std::span(frame + ip + 8, 32), protocol + static_cast<std::uint32_t>(length));
}

// The IP header of an untagged frame may stand for a frame of another length: plain IPv4
// (no options, not a fragment, checksum right) or IPv6 without extension headers, its
// length field matching the frame.
bool plainIpHeader(std::span<const std::uint8_t> f, bool ipv4, std::size_t transport) {
    const std::uint8_t* ip = f.data() + kEthernet;
    if (ipv4)
        return transport == kEthernet + 20 && (ip[6] & 0x3F) == 0 && ip[7] == 0 && (ip[6] & 0x80) == 0 &&
               be16(ip + 2) == f.size() - kEthernet && InternetChecksum::of(std::span(ip, 20)) == 0;
    return be16(ip + 4) == f.size() - kEthernet - kIpv6Header;
}

// Type of service, don't-fragment, TTL, protocol and addresses alike (IPv4; the
// identification may differ), or version, class, flow label, next header, hop limit and
// addresses (IPv6).
bool sameIpFlow(const std::uint8_t* f, const std::uint8_t* h, bool ipv4) {
    if (ipv4) {
        for (std::size_t at : {0, 1, 6, 8, 9})
            if (f[kEthernet + at] != h[kEthernet + at]) return false;
        return std::memcmp(f + kEthernet + 12, h + kEthernet + 12, 8) == 0;
    }
    return std::memcmp(f + kEthernet, h + kEthernet, 4) == 0 && f[kEthernet + 6] == h[kEthernet + 6] &&
           f[kEthernet + 7] == h[kEthernet + 7] && std::memcmp(f + kEthernet + 8, h + kEthernet + 8, 32) == 0;
}

void fixIpLength(std::uint8_t* frame, bool ipv4, std::size_t ipAt, std::size_t frameLength) {
    std::uint8_t* ip = frame + ipAt;
    if (ipv4) {
        const std::size_t ihl = 4u * (ip[0] & 0x0F);
        putBe16(ip + 2, static_cast<std::uint16_t>(frameLength - ipAt));
        putBe16(ip + 10, 0);
        putBe16(ip + 10, InternetChecksum::of(std::span(ip, ihl)));
    } else {
        putBe16(ip + 4, static_cast<std::uint16_t>(frameLength - ipAt - kIpv6Header));
    }
}

}  // namespace

VnetHeader VnetHeader::read(std::span<const std::uint8_t> bytes) {
    VnetHeader h;
    h.flags = bytes[0];
    h.gsoType = bytes[1];
    std::memcpy(&h.headerLength, bytes.data() + 2, 2);
    std::memcpy(&h.gsoSize, bytes.data() + 4, 2);
    std::memcpy(&h.checksumStart, bytes.data() + 6, 2);
    std::memcpy(&h.checksumOffset, bytes.data() + 8, 2);
    return h;
}

void VnetHeader::write(std::span<std::uint8_t> out) const {
    out[0] = flags;
    out[1] = gsoType;
    std::memcpy(out.data() + 2, &headerLength, 2);
    std::memcpy(out.data() + 4, &gsoSize, 2);
    std::memcpy(out.data() + 6, &checksumStart, 2);
    std::memcpy(out.data() + 8, &checksumOffset, 2);
}

bool TsoSplitter::load(std::span<std::uint8_t> read) {
    left_ = 0;
    if (read.size() < VnetHeader::kSize) return false;
    const VnetHeader h = VnetHeader::read(read);
    frame_ = read.subspan(VnetHeader::kSize);
    index_ = 0;
    const std::uint8_t gso = h.gsoType & static_cast<std::uint8_t>(~VnetHeader::kGsoEcn);
    if (gso == VnetHeader::kGsoNone) {
        segmented_ = false;
        if (h.flags & VnetHeader::kNeedsChecksum) {
            // The field holds the pseudo-header sum; the sum from the start covers it.
            const std::size_t start = h.checksumStart;
            const std::size_t field = start + h.checksumOffset;
            if (field + 2 > frame_.size()) return false;
            std::uint16_t sum = InternetChecksum::of(frame_.subspan(start));
            putBe16(frame_.data() + field, sum == 0 ? 0xFFFF : sum);  // zero would mean "none" in UDP
        }
        left_ = 1;
        return true;
    }
    udp_ = gso == VnetHeader::kGsoUdp;
    if (udp_) {
        tcp_ = transportOffset(frame_, kUdp, ipv4_, ip_);
        if (tcp_ == 0) return false;
        headers_ = tcp_ + kUdpHeader;
    } else {
        if (gso != VnetHeader::kGsoTcp4 && gso != VnetHeader::kGsoTcp6) return false;
        tcp_ = transportOffset(frame_, kTcp, ipv4_, ip_);
        if (tcp_ == 0 || ipv4_ != (gso == VnetHeader::kGsoTcp4) || tcp_ + 20 > frame_.size()) return false;
        headers_ = tcp_ + 4u * (frame_[tcp_ + 12] >> 4);
        if (headers_ < tcp_ + 20) return false;
    }
    mss_ = h.gsoSize;
    if (headers_ > frame_.size() || mss_ == 0) return false;
    segmented_ = true;
    const std::size_t payload = frame_.size() - headers_;
    left_ = payload == 0 ? 1 : (payload + mss_ - 1) / mss_;
    return true;
}

std::optional<std::size_t> TsoSplitter::next(std::span<std::uint8_t> out) {
    if (left_ == 0) return std::nullopt;
    --left_;
    if (!segmented_) {
        const std::size_t n = std::min(out.size(), frame_.size());
        std::memcpy(out.data(), frame_.data(), n);
        return n;
    }
    const std::size_t offset = index_ * mss_;
    const std::size_t chunk = std::min(mss_, frame_.size() - headers_ - offset);
    const std::size_t length = headers_ + chunk;
    const bool first = index_ == 0;
    const bool last = left_ == 0;
    ++index_;
    if (length > out.size()) {
        // Longer than the caller takes any frame: cut, as a read into its buffer would be.
        std::memcpy(out.data(), frame_.data(), std::min(out.size(), headers_));
        if (out.size() > headers_) std::memcpy(out.data() + headers_, frame_.data() + headers_ + offset, out.size() - headers_);
        return out.size();
    }
    std::uint8_t* f = out.data();
    std::memcpy(f, frame_.data(), headers_);
    std::memcpy(f + headers_, frame_.data() + headers_ + offset, chunk);
    if (ipv4_) putBe16(f + ip_ + 4, static_cast<std::uint16_t>(be16(f + ip_ + 4) + index_ - 1));
    fixIpLength(f, ipv4_, ip_, length);
    if (udp_) {
        std::uint8_t* udp = f + tcp_;
        putBe16(udp + 4, static_cast<std::uint16_t>(length - tcp_));
        putBe16(udp + 6, 0);
        const std::uint16_t sum =
            InternetChecksum::of(std::span(udp, length - tcp_), pseudoSum(f, ipv4_, ip_, length - tcp_, kUdp));
        putBe16(udp + 6, sum == 0 ? 0xFFFF : sum);
        return length;
    }
    std::uint8_t* tcp = f + tcp_;
    putBe32(tcp + 4, be32(tcp + 4) + static_cast<std::uint32_t>(offset));
    // FIN and PSH belong to the burst's last segment, CWR to its first.
    if (!last) tcp[13] &= static_cast<std::uint8_t>(~(kFin | kPsh));
    if (!first) tcp[13] &= static_cast<std::uint8_t>(~kCwr);
    putBe16(tcp + 16, 0);
    putBe16(tcp + 16, InternetChecksum::of(std::span(tcp, length - tcp_), pseudoSum(f, ipv4_, ip_, length - tcp_)));
    return length;
}

TcpCoalescer::TcpCoalescer() : buffer_(VnetHeader::kSize + kEthernet + kIpv6Header + kMaxIpLength) {}

namespace {

// A TCP segment that a coalesced frame may hold: untagged, plain IPv4 with don't-fragment
// set or IPv6 without extension headers, lengths that add up, ACK set and nothing but PSH
// besides, data, and checksums that verify (a frame whose checksum is wrong goes alone, so
// the kernel still drops it). The TCP header's offset, or 0.
std::size_t segmentTcp(std::span<const std::uint8_t> f, bool& ipv4, std::size_t& headers) {
    std::size_t ipAt = 0;
    const std::size_t tcp = transportOffset(f, kTcp, ipv4, ipAt);
    if (tcp == 0 || ipAt != kEthernet || tcp + 20 > f.size() || !plainIpHeader(f, ipv4, tcp)) return 0;
    if (ipv4 && (f[kEthernet + 6] & 0x40) == 0) return 0;
    headers = tcp + 4u * (f[tcp + 12] >> 4);
    const std::uint8_t flags = f[tcp + 13];
    if (headers < tcp + 20 || headers >= f.size() || !(flags & kAck) ||
        (flags & (kFin | kSyn | kRst | kUrg | kEce | kCwr)))
        return 0;
    if (InternetChecksum::of(f.subspan(tcp), pseudoSum(f.data(), ipv4, kEthernet, f.size() - tcp)) != 0) return 0;
    return tcp;
}

// A UDP datagram that a joined frame may hold: untagged, plain IP, a UDP length that
// matches, data, and a checksum that verifies (IPv4 may carry none). The UDP header's
// offset, or 0.
std::size_t datagramUdp(std::span<const std::uint8_t> f, bool& ipv4) {
    std::size_t ipAt = 0;
    const std::size_t udp = transportOffset(f, kUdp, ipv4, ipAt);
    if (udp == 0 || ipAt != kEthernet || udp + kUdpHeader >= f.size() || !plainIpHeader(f, ipv4, udp)) return 0;
    if (be16(f.data() + udp + 4) != f.size() - udp) return 0;
    const bool summed = !ipv4 || be16(f.data() + udp + 6) != 0;
    if (summed && InternetChecksum::of(f.subspan(udp), pseudoSum(f.data(), ipv4, kEthernet, f.size() - udp, kUdp)) != 0)
        return 0;
    return udp;
}

// Makes an untagged frame of `length` bytes joined from segments of `size` data bytes whole
// for the kernel: IP length, the pseudo-header sum in the checksum field for the kernel to
// finish, and the header that asks it to.
VnetHeader joinedHeader(std::uint8_t* f, bool ipv4, std::size_t length, std::uint8_t protocol, std::size_t transport,
                        std::size_t headers, std::size_t size) {
    const std::size_t field = protocol == kTcp ? 16 : 6;
    fixIpLength(f, ipv4, kEthernet, length);
    putBe16(f + transport + field, InternetChecksum::fold(pseudoSum(f, ipv4, kEthernet, length - transport, protocol)));
    VnetHeader h;
    h.flags = VnetHeader::kNeedsChecksum;
    h.gsoType = protocol == kUdp ? VnetHeader::kGsoUdp : ipv4 ? VnetHeader::kGsoTcp4 : VnetHeader::kGsoTcp6;
    h.headerLength = static_cast<std::uint16_t>(headers);
    h.gsoSize = static_cast<std::uint16_t>(size);
    h.checksumStart = static_cast<std::uint16_t>(transport);
    h.checksumOffset = static_cast<std::uint16_t>(field);
    return h;
}

}  // namespace

bool TcpCoalescer::start(std::span<const std::uint8_t> frame) {
    held_ = 0;
    if (frame.size() > buffer_.size() - VnetHeader::kSize) return false;
    tcp_ = segmentTcp(frame, ipv4_, headers_);
    if (tcp_ == 0 || (frame[tcp_ + 13] & kPsh)) return false;
    std::memcpy(buffer_.data() + VnetHeader::kSize, frame.data(), frame.size());
    length_ = frame.size();
    mss_ = frame.size() - headers_;
    nextSeq_ = be32(frame.data() + tcp_ + 4) + static_cast<std::uint32_t>(mss_);
    closed_ = false;
    held_ = 1;
    return true;
}

bool TcpCoalescer::append(std::span<const std::uint8_t> frame) {
    if (held_ == 0 || closed_) return false;
    const std::uint8_t* h = buffer_.data() + VnetHeader::kSize;
    const std::uint8_t* f = frame.data();
    bool ipv4 = false;
    std::size_t headers = 0;
    if (frame.size() < headers_ || std::memcmp(f, h, kEthernet) != 0) return false;  // MACs and EtherType
    const std::size_t data = frame.size() - headers_;
    if (data > mss_ || length_ + data - kEthernet > kMaxIpLength + (ipv4_ ? 0 : kIpv6Header)) return false;
    if (!sameIpFlow(f, h, ipv4_)) return false;
    // Ports, acknowledgement, header length, flags but PSH, window and options all alike.
    const std::uint8_t* t = f + tcp_;
    const std::uint8_t* ht = h + tcp_;
    if (std::memcmp(t, ht, 4) != 0 || be32(t + 4) != nextSeq_ || std::memcmp(t + 8, ht + 8, 5) != 0 ||
        (t[13] & ~kPsh) != (ht[13] & ~kPsh) || std::memcmp(t + 14, ht + 14, 2) != 0 ||
        std::memcmp(t + 20, ht + 20, headers_ - tcp_ - 20) != 0)
        return false;
    if (segmentTcp(frame, ipv4, headers) != tcp_ || ipv4 != ipv4_ || headers != headers_) return false;
    std::memcpy(buffer_.data() + VnetHeader::kSize + length_, f + headers_, data);
    length_ += data;
    nextSeq_ += static_cast<std::uint32_t>(data);
    ++held_;
    if (t[13] & kPsh) buffer_[VnetHeader::kSize + tcp_ + 13] |= kPsh;
    closed_ = data < mss_ || (t[13] & kPsh);
    return true;
}

std::span<const std::uint8_t> TcpCoalescer::take() {
    VnetHeader header;
    std::uint8_t* f = buffer_.data() + VnetHeader::kSize;
    if (held_ > 1) {
        // The kernel finishes the checksum from the pseudo-header sum left in the field, and
        // cuts the frame back into segments of the first one's size wherever it must.
        header = joinedHeader(f, ipv4_, length_, kTcp, tcp_, headers_, mss_);
    }
    header.write(buffer_);
    held_ = 0;
    return std::span(buffer_.data(), VnetHeader::kSize + length_);
}

UdpCoalescer::UdpCoalescer() : buffer_(VnetHeader::kSize + kEthernet + kIpv6Header + kMaxIpLength) {}

bool UdpCoalescer::start(std::span<const std::uint8_t> frame) {
    held_ = 0;
    if (frame.size() > buffer_.size() - VnetHeader::kSize) return false;
    udp_ = datagramUdp(frame, ipv4_);
    if (udp_ == 0) return false;
    std::memcpy(buffer_.data() + VnetHeader::kSize, frame.data(), frame.size());
    length_ = frame.size();
    size_ = frame.size() - udp_ - kUdpHeader;
    closed_ = false;
    held_ = 1;
    return true;
}

bool UdpCoalescer::append(std::span<const std::uint8_t> frame) {
    if (held_ == 0 || closed_ || held_ == kMaxUdpSegments) return false;
    const std::uint8_t* h = buffer_.data() + VnetHeader::kSize;
    const std::uint8_t* f = frame.data();
    const std::size_t headers = udp_ + kUdpHeader;
    if (frame.size() <= headers || std::memcmp(f, h, kEthernet) != 0) return false;  // MACs and EtherType
    const std::size_t data = frame.size() - headers;
    if (data > size_ || length_ + data - kEthernet > kMaxIpLength + (ipv4_ ? 0 : kIpv6Header)) return false;
    if (!sameIpFlow(f, h, ipv4_) || std::memcmp(f + udp_, h + udp_, 4) != 0) return false;  // and ports
    bool ipv4 = false;
    if (datagramUdp(frame, ipv4) != udp_ || ipv4 != ipv4_) return false;
    std::memcpy(buffer_.data() + VnetHeader::kSize + length_, f + headers, data);
    length_ += data;
    ++held_;
    closed_ = data < size_;  // only the last may be shorter
    return true;
}

std::span<std::uint8_t> UdpCoalescer::take() {
    VnetHeader header;
    std::uint8_t* f = buffer_.data() + VnetHeader::kSize;
    if (held_ > 1) {
        // The kernel cuts the frame back into datagrams of the first one's size and finishes
        // each checksum from the pseudo-header sum of the whole, which it adjusts per datagram.
        putBe16(f + udp_ + 4, static_cast<std::uint16_t>(length_ - udp_));
        header = joinedHeader(f, ipv4_, length_, kUdp, udp_, udp_ + kUdpHeader, size_);
    }
    header.write(buffer_);
    held_ = 0;
    return std::span(buffer_.data(), VnetHeader::kSize + length_);
}

}  // namespace ostrel
