// TCP and UDP offloads of the Linux TAP: large frames from the kernel cut into valid
// segments, and segments for the kernel joined into frames it can take in one write.
#include "core/internet_checksum.h"
#include "platform/linux/tap_offload.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

using namespace ostrel;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kMss = 1368;
constexpr std::uint8_t kFin = 0x01, kSyn = 0x02, kPsh = 0x08, kAck = 0x10, kCwr = 0x80;

std::uint16_t be16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }
std::uint32_t be32(const std::uint8_t* p) { return std::uint32_t{be16(p)} << 16 | be16(p + 2); }
void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    put16(p, static_cast<std::uint16_t>(v >> 16));
    put16(p + 2, static_cast<std::uint16_t>(v));
}

// RFC 1071 as written, 16 bits at a time, to hold the fast sum against.
std::uint16_t plainChecksum(std::span<const std::uint8_t> d, std::uint32_t seed = 0) {
    std::uint64_t sum = seed;
    for (std::size_t i = 0; i + 1 < d.size(); i += 2) sum += static_cast<std::uint32_t>(d[i] << 8 | d[i + 1]);
    if (d.size() % 2) sum += static_cast<std::uint32_t>(d.back() << 8);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

// The IP header at `ip` (its EtherType just before it) for a packet of `length` bytes from
// 10.77.0.2 to 10.77.0.3, or fd77::2 to fd77::3; IPv4 with don't-fragment set.
void putIpHeader(std::uint8_t* ip, bool ipv4, std::uint8_t protocol, std::size_t length, std::uint16_t id) {
    if (ipv4) {
        put16(ip - 2, 0x0800);
        ip[0] = 0x45;
        put16(ip + 2, static_cast<std::uint16_t>(length));
        put16(ip + 4, id);
        ip[6] = 0x40;
        ip[8] = 64;
        ip[9] = protocol;
        const std::uint8_t addresses[8] = {10, 77, 0, 2, 10, 77, 0, 3};
        std::memcpy(ip + 12, addresses, 8);
        put16(ip + 10, plainChecksum(std::span(ip, 20)));
        return;
    }
    put16(ip - 2, 0x86DD);
    ip[0] = 0x60;
    put16(ip + 4, static_cast<std::uint16_t>(length - 40));
    ip[6] = protocol;
    ip[7] = 64;
    const std::uint8_t site[2] = {0xfd, 0x77};
    std::memcpy(ip + 8, site, 2);
    ip[23] = 2;
    std::memcpy(ip + 24, site, 2);
    ip[39] = 3;
}

struct Flow {
    bool ipv4 = true;
    std::uint32_t seq = 0xFFFFF000;  // wraps within a burst
    std::uint32_t ack = 1000;
    std::uint16_t window = 500;
    std::uint16_t srcPort = 5001;
    std::uint16_t id = 100;
    bool tagged = false;  // an 802.1Q tag, as a VLAN interface on the TAP sends

    std::size_t ipAt() const { return tagged ? 18 : 14; }
    std::size_t tcpAt() const { return ipAt() + (ipv4 ? 20 : 40); }
    std::size_t headers() const { return tcpAt() + 32; }  // 12 bytes of options (timestamps)

    std::uint32_t pseudo(const std::uint8_t* f, std::size_t tcpLength) const {
        return ipv4 ? InternetChecksum::sum(std::span(f + ipAt() + 12, 8), 6 + static_cast<std::uint32_t>(tcpLength))
                    : InternetChecksum::sum(std::span(f + ipAt() + 8, 32), 6 + static_cast<std::uint32_t>(tcpLength));
    }

    // A complete frame with valid checksums.
    Bytes frame(std::span<const std::uint8_t> payload, std::uint8_t flags = kAck) const {
        Bytes f(headers() + payload.size());
        std::uint8_t* p = f.data();
        const std::uint8_t macs[12] = {2, 0, 1, 1, 1, 1, 2, 0, 2, 2, 2, 2};
        std::memcpy(p, macs, 12);
        if (tagged) {
            put16(p + 12, 0x8100);
            put16(p + 14, 42);
        }
        putIpHeader(p + ipAt(), ipv4, 6, f.size() - ipAt(), id);
        std::uint8_t* t = p + tcpAt();
        put16(t, srcPort);
        put16(t + 2, 40000);
        put32(t + 4, seq);
        put32(t + 8, ack);
        t[12] = 8 << 4;
        t[13] = flags;
        put16(t + 14, window);
        const std::uint8_t options[12] = {1, 1, 8, 10, 0, 0, 0, 7, 0, 0, 0, 9};
        std::memcpy(t + 20, options, 12);
        if (!payload.empty()) std::memcpy(t + 32, payload.data(), payload.size());
        put16(t + 16, plainChecksum(std::span(t, f.size() - tcpAt()), pseudo(p, f.size() - tcpAt())));
        return f;
    }

    // The frame as the kernel hands a TCP burst to the TAP: header first, checksum left
    // holding the pseudo-header sum.
    Bytes burst(std::span<const std::uint8_t> payload, std::uint8_t flags) const {
        Bytes f = frame(payload, flags);
        std::uint8_t* t = f.data() + tcpAt();
        put16(t + 16, InternetChecksum::fold(pseudo(f.data(), f.size() - tcpAt())));
        VnetHeader h;
        h.flags = VnetHeader::kNeedsChecksum;
        h.gsoType = ipv4 ? VnetHeader::kGsoTcp4 : VnetHeader::kGsoTcp6;
        h.headerLength = static_cast<std::uint16_t>(headers());
        h.gsoSize = kMss;
        h.checksumStart = static_cast<std::uint16_t>(tcpAt());
        h.checksumOffset = 16;
        Bytes out(VnetHeader::kSize);
        h.write(out);
        out.insert(out.end(), f.begin(), f.end());
        return out;
    }

    bool valid(const Bytes& f) const {
        const std::uint8_t* ip = f.data() + ipAt();
        if (ipv4 && (plainChecksum(std::span(ip, 20)) != 0 || be16(ip + 2) != f.size() - ipAt())) return false;
        if (!ipv4 && be16(ip + 4) != f.size() - ipAt() - 40) return false;
        return plainChecksum(std::span(f).subspan(tcpAt()), pseudo(f.data(), f.size() - tcpAt())) == 0;
    }
};

Bytes payloadOf(std::size_t n, std::uint8_t salt = 0) {
    Bytes b(n);
    std::mt19937 random(salt + 7);
    for (auto& x : b) x = static_cast<std::uint8_t>(random());
    return b;
}

std::vector<Bytes> split(Bytes read, std::size_t bufferSize = 1756) {
    TsoSplitter splitter;
    std::vector<Bytes> frames;
    if (!splitter.load(read)) return frames;
    Bytes out(bufferSize);
    while (auto n = splitter.next(out)) frames.emplace_back(out.begin(), out.begin() + *n);
    EXPECT_FALSE(splitter.pending());
    return frames;
}

// What the kernel does with a joined frame that stays on this host: finish the checksum.
Bytes finishLikeTheKernel(std::span<const std::uint8_t> written) {
    VnetHeader h = VnetHeader::read(written);
    Bytes f(written.begin() + VnetHeader::kSize, written.end());
    if (h.flags & VnetHeader::kNeedsChecksum) {
        std::uint16_t sum = InternetChecksum::of(std::span(f).subspan(h.checksumStart));
        put16(f.data() + h.checksumStart + h.checksumOffset, sum);
    }
    return f;
}


// Datagrams of one UDP flow, as a game or a stream sends them.
struct UdpFlow {
    bool ipv4 = true;
    std::uint16_t srcPort = 7000;
    std::uint16_t dstPort = 7001;
    std::uint16_t id = 300;  // of the next IPv4 datagram
    bool unsummed = false;   // IPv4 without a UDP checksum

    std::size_t udpAt() const { return ipv4 ? 34 : 54; }
    std::size_t headers() const { return udpAt() + 8; }
    std::uint32_t pseudo(const std::uint8_t* f, std::size_t udpLength) const {
        return ipv4 ? InternetChecksum::sum(std::span(f + 26, 8), 17 + static_cast<std::uint32_t>(udpLength))
                    : InternetChecksum::sum(std::span(f + 22, 32), 17 + static_cast<std::uint32_t>(udpLength));
    }

    Bytes datagram(std::span<const std::uint8_t> payload) {
        Bytes f(headers() + payload.size());
        std::uint8_t* p = f.data();
        const std::uint8_t macs[12] = {2, 0, 1, 1, 1, 1, 2, 0, 2, 2, 2, 2};
        std::memcpy(p, macs, 12);
        putIpHeader(p + 14, ipv4, 17, f.size() - 14, id++);
        std::uint8_t* u = p + udpAt();
        put16(u, srcPort);
        put16(u + 2, dstPort);
        put16(u + 4, static_cast<std::uint16_t>(f.size() - udpAt()));
        if (!payload.empty()) std::memcpy(u + 8, payload.data(), payload.size());
        if (!unsummed) {
            std::uint16_t sum = plainChecksum(std::span(f).subspan(udpAt()), pseudo(p, f.size() - udpAt()));
            put16(u + 6, sum == 0 ? 0xFFFF : sum);
        }
        return f;
    }
};

// Joins the datagrams as the TAP's writer does: the frames written, in order.
std::vector<Bytes> joinAll(const std::vector<Bytes>& datagrams) {
    UdpCoalescer joiner;
    std::vector<Bytes> written;
    for (const Bytes& d : datagrams) {
        if (joiner.holding() && joiner.append(d)) continue;
        if (joiner.holding()) {
            auto out = joiner.take();
            written.emplace_back(out.begin(), out.end());
        }
        if (!joiner.start(d)) {
            Bytes alone(VnetHeader::kSize, 0);
            alone.insert(alone.end(), d.begin(), d.end());
            written.push_back(alone);
        }
    }
    if (joiner.holding()) {
        auto out = joiner.take();
        written.emplace_back(out.begin(), out.end());
    }
    return written;
}

}  // namespace

TEST(InternetChecksum, MatchesRfc1071AtEveryLengthAndAlignmentAndChains) {
    Bytes data = payloadOf(70000, 3);
    for (std::size_t offset = 0; offset < 8; ++offset)
        for (std::size_t length = 0; length < 300; ++length) {
            auto piece = std::span(data).subspan(offset, length);
            ASSERT_EQ(InternetChecksum::of(piece, 0x1234), plainChecksum(piece, 0x1234)) << offset << "+" << length;
        }
    EXPECT_EQ(InternetChecksum::of(std::span(data).first(65535)), plainChecksum(std::span(data).first(65535)));
    Bytes ones(4096, 0xFF);  // every addition carries
    EXPECT_EQ(InternetChecksum::of(ones), plainChecksum(ones));
    // Sums of even-length pieces chain into the sum of the whole.
    auto whole = std::span(data).first(1001);
    EXPECT_EQ(InternetChecksum::fold(InternetChecksum::sum(whole.subspan(600), InternetChecksum::sum(whole.first(600)))),
              static_cast<std::uint16_t>(~plainChecksum(whole)));
}

TEST(TsoSplitter, CutsTcpBurstsIntoValidSegmentsOfTheGivenSize) {
    for (int kind = 0; kind < 3; ++kind) {
        const bool ipv4 = kind != 1;
        SCOPED_TRACE(kind == 0 ? "IPv4" : kind == 1 ? "IPv6" : "IPv4 with a VLAN tag");
        Flow flow;
        flow.ipv4 = ipv4;
        flow.tagged = kind == 2;
        Bytes payload = payloadOf(kMss * 3 + kMss / 2);
        auto frames = split(flow.burst(payload, kAck | kPsh | kFin | kCwr));
        ASSERT_EQ(frames.size(), 4u);
        Bytes joined;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const Bytes& f = frames[i];
            const std::uint8_t* t = f.data() + flow.tcpAt();
            EXPECT_EQ(f.size(), flow.headers() + (i < 3 ? kMss : kMss / 2));
            EXPECT_TRUE(flow.valid(f)) << "segment " << i;
            EXPECT_EQ(be32(t + 4), static_cast<std::uint32_t>(flow.seq + i * kMss));  // wraps
            if (ipv4) {
                EXPECT_EQ(be16(f.data() + flow.ipAt() + 4), flow.id + i);
            }
            // CWR only on the first, PSH and FIN only on the last.
            EXPECT_EQ(t[13], (i == 0 ? kCwr : 0) | kAck | (i == 3 ? kPsh | kFin : 0)) << "segment " << i;
            EXPECT_EQ(std::memcmp(f.data(), frames[0].data(), flow.ipAt()), 0);
            joined.insert(joined.end(), f.begin() + static_cast<long>(flow.headers()), f.end());
        }
        EXPECT_EQ(joined, payload);
    }
    // A caller's buffer shorter than a segment gets it cut, as a short read would.
    Flow flow;
    auto cut = split(flow.burst(payloadOf(kMss * 2), kAck), 100);
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut[0].size(), 100u);
}

TEST(TsoSplitter, FinishesPartialChecksumsAndDropsWhatItCannotCut) {
    // A UDP datagram with its checksum left to finish; the one whose sum comes to zero is
    // sent as all ones, since zero means "no checksum" in UDP.
    for (bool zero : {false, true}) {
        Bytes f(14 + 20 + 8 + 6, 0);
        f[12] = 0x08;
        f[14] = 0x45;
        put16(f.data() + 16, 34);
        f[23] = 17;
        const std::uint8_t addresses[8] = {10, 77, 0, 2, 10, 77, 0, 3};
        std::memcpy(f.data() + 26, addresses, 8);
        put16(f.data() + 38, 14);
        const std::uint32_t pseudo = InternetChecksum::sum(std::span(f.data() + 26, 8), 17 + 14);
        put16(f.data() + 40, InternetChecksum::fold(pseudo));
        if (zero) {
            // Choose the last two data bytes so that the whole sum is 0xFFFF.
            std::uint16_t rest = InternetChecksum::fold(InternetChecksum::sum(std::span(f).subspan(34)));
            put16(f.data() + 46, static_cast<std::uint16_t>(0xFFFF - rest));
        }
        VnetHeader h;
        h.flags = VnetHeader::kNeedsChecksum;
        h.checksumStart = 34;
        h.checksumOffset = 6;
        Bytes read(VnetHeader::kSize);
        h.write(read);
        read.insert(read.end(), f.begin(), f.end());
        auto out = split(read);
        ASSERT_EQ(out.size(), 1u);
        const std::uint16_t stored = be16(out[0].data() + 40);
        if (zero) {
            EXPECT_EQ(stored, 0xFFFF);
        }
        EXPECT_EQ(plainChecksum(std::span(out[0]).subspan(34), pseudo), 0) << "zero case: " << zero;
    }

    Flow flow;
    Bytes udpGso = flow.burst(payloadOf(3000), kAck);
    udpGso[1] = VnetHeader::kGsoUdp;  // says UDP, carries TCP
    EXPECT_TRUE(split(udpGso).empty());
    Bytes unknown = flow.burst(payloadOf(3000), kAck);
    unknown[1] = 3;  // fragmenting UDP, never asked for
    EXPECT_TRUE(split(unknown).empty());
    Bytes lying = flow.burst(payloadOf(3000), kAck);
    lying[1] = VnetHeader::kGsoTcp6;  // says IPv6, carries IPv4
    EXPECT_TRUE(split(lying).empty());
    Bytes headerless = flow.burst({}, kAck);
    headerless.resize(VnetHeader::kSize + flow.tcpAt() + 10);  // the TCP header runs past the end
    EXPECT_TRUE(split(headerless).empty());
    EXPECT_TRUE(split(Bytes(4, 0)).empty());
}

TEST(TcpCoalescer, JoinsOneFlowsConsecutiveSegmentsIntoOneFrameTheKernelCanFinish) {
    for (bool ipv4 : {true, false}) {
        SCOPED_TRACE(ipv4 ? "IPv4" : "IPv6");
        Flow flow;
        flow.ipv4 = ipv4;
        Bytes payload = payloadOf(kMss * 5 + 100, 9);
        auto segments = split(flow.burst(payload, kAck | kPsh));
        ASSERT_EQ(segments.size(), 6u);

        TcpCoalescer joiner;
        ASSERT_TRUE(joiner.start(segments[0]));
        for (std::size_t i = 1; i < segments.size(); ++i) ASSERT_TRUE(joiner.append(segments[i])) << "segment " << i;
        EXPECT_FALSE(joiner.append(flow.frame(payloadOf(10)))) << "nothing may follow a pushed segment";
        auto written = joiner.take();
        EXPECT_FALSE(joiner.holding());

        VnetHeader h = VnetHeader::read(written);
        EXPECT_EQ(h.flags, VnetHeader::kNeedsChecksum);
        EXPECT_EQ(h.gsoType, ipv4 ? VnetHeader::kGsoTcp4 : VnetHeader::kGsoTcp6);
        EXPECT_EQ(h.gsoSize, kMss);
        EXPECT_EQ(h.headerLength, flow.headers());
        EXPECT_EQ(h.checksumStart, flow.tcpAt());
        EXPECT_EQ(h.checksumOffset, 16);
        Bytes whole = finishLikeTheKernel(written);
        EXPECT_TRUE(flow.valid(whole));
        EXPECT_EQ(Bytes(whole.begin() + static_cast<long>(flow.headers()), whole.end()), payload);
        EXPECT_EQ(whole[flow.tcpAt() + 13], kAck | kPsh);
        EXPECT_EQ(be32(whole.data() + flow.tcpAt() + 4), flow.seq);
    }
}

TEST(TcpCoalescer, KeepsApartWhatTheKernelWouldNotJoin) {
    Flow flow;
    auto segments = split(flow.burst(payloadOf(kMss * 4), kAck));
    ASSERT_EQ(segments.size(), 4u);
    auto refusesSecond = [&](Bytes second, const char* why) {
        TcpCoalescer joiner;
        ASSERT_TRUE(joiner.start(segments[0]));
        EXPECT_FALSE(joiner.append(second)) << why;
        // What was held goes out as it came: no header work, the frame unchanged.
        auto alone = joiner.take();
        EXPECT_EQ(VnetHeader::read(alone).flags, 0);
        EXPECT_EQ(VnetHeader::read(alone).gsoType, VnetHeader::kGsoNone);
        EXPECT_EQ(Bytes(alone.begin() + VnetHeader::kSize, alone.end()), segments[0]);
    };
    refusesSecond(segments[2], "a gap in the sequence");
    Flow other = flow;
    other.srcPort = 5002;
    other.seq = flow.seq + kMss;
    refusesSecond(other.frame(payloadOf(kMss)), "another flow");
    other = flow;
    other.seq = flow.seq + kMss;
    other.ack = flow.ack + 1;
    refusesSecond(other.frame(payloadOf(kMss)), "another acknowledgement");
    other.ack = flow.ack;
    other.window = 501;
    refusesSecond(other.frame(payloadOf(kMss)), "another window");
    refusesSecond(other.frame(payloadOf(kMss + 1)), "longer than the first");
    Bytes corrupt = segments[1];
    corrupt.back() ^= 1;
    refusesSecond(corrupt, "a checksum that does not verify");

    TcpCoalescer joiner;
    EXPECT_FALSE(joiner.start(flow.frame(payloadOf(10), kSyn))) << "SYN";
    EXPECT_FALSE(joiner.start(flow.frame(payloadOf(10), kAck | kPsh))) << "nothing can follow a push";
    EXPECT_FALSE(joiner.start(flow.frame({}, kAck))) << "no data";
    EXPECT_FALSE(joiner.start(corrupt)) << "bad checksum";
    Bytes fragment = segments[0];
    fragment[20] = 0x20;  // more fragments, no don't-fragment
    EXPECT_FALSE(joiner.start(fragment)) << "fragment";
    Flow tagged = flow;
    tagged.tagged = true;
    EXPECT_FALSE(joiner.start(tagged.frame(payloadOf(kMss)))) << "VLAN-tagged frames are written as they are";

    // A shorter segment ends the frame; so does the IP length limit.
    ASSERT_TRUE(joiner.start(segments[0]));
    other = flow;
    other.seq = flow.seq + kMss;
    ASSERT_TRUE(joiner.append(other.frame(payloadOf(100))));
    other.seq += 100;
    EXPECT_FALSE(joiner.append(other.frame(payloadOf(100))));
    (void)joiner.take();
    other = flow;
    ASSERT_TRUE(joiner.start(other.frame(payloadOf(kMss))));
    std::size_t joined = 1;
    for (;; ++joined) {
        other.seq += kMss;
        if (!joiner.append(other.frame(payloadOf(kMss)))) break;
    }
    EXPECT_EQ(joined, (65535 - 20 - 32) / kMss);
    EXPECT_TRUE(flow.valid(finishLikeTheKernel(joiner.take())));
}

TEST(UdpCoalescer, JoinsEqualDatagramsIntoOneFrameThatCutsBackIntoTheSameBytes) {
    for (int kind = 0; kind < 3; ++kind) {
        SCOPED_TRACE(kind == 0 ? "IPv4" : kind == 1 ? "IPv6" : "IPv4 without UDP checksums");
        UdpFlow flow;
        flow.ipv4 = kind != 1;
        flow.unsummed = kind == 2;
        std::vector<Bytes> sent;
        for (std::size_t i = 0; i < 9; ++i) sent.push_back(flow.datagram(payloadOf(i < 8 ? 64 : 20, static_cast<std::uint8_t>(i))));
        auto written = joinAll(sent);
        ASSERT_EQ(written.size(), 1u) << "one write for the whole run, its shorter last datagram too";

        const VnetHeader h = VnetHeader::read(written[0]);
        EXPECT_EQ(h.flags, VnetHeader::kNeedsChecksum);
        EXPECT_EQ(h.gsoType, VnetHeader::kGsoUdp);
        EXPECT_EQ(h.gsoSize, 64);
        EXPECT_EQ(h.headerLength, flow.headers());
        EXPECT_EQ(h.checksumStart, flow.udpAt());
        EXPECT_EQ(h.checksumOffset, 6);
        // As one datagram the frame is whole: lengths and, once finished, the checksum.
        Bytes whole = finishLikeTheKernel(written[0]);
        EXPECT_EQ(whole.size(), flow.headers() + 8 * 64 + 20);
        EXPECT_EQ(be16(whole.data() + flow.udpAt() + 4), whole.size() - flow.udpAt());
        EXPECT_EQ(plainChecksum(std::span(whole).subspan(flow.udpAt()), flow.pseudo(whole.data(), whole.size() - flow.udpAt())), 0);
        if (flow.ipv4) {
            EXPECT_EQ(plainChecksum(std::span(whole).subspan(14, 20)), 0);
        }

        // Cut as the kernel cuts it, each datagram comes back as it was sent (IPv4
        // identifications counting up from the first, checksums recomputed where there were none).
        auto back = split(written[0], 1600);
        ASSERT_EQ(back.size(), sent.size());
        for (std::size_t i = 0; i < sent.size(); ++i) {
            Bytes expected = sent[i];
            if (flow.unsummed) {
                std::uint16_t sum = plainChecksum(std::span(expected).subspan(flow.udpAt()),
                                                  flow.pseudo(expected.data(), expected.size() - flow.udpAt()));
                put16(expected.data() + flow.udpAt() + 6, sum == 0 ? 0xFFFF : sum);
            }
            EXPECT_EQ(back[i], expected) << "datagram " << i;
        }
    }
}

TEST(UdpCoalescer, KeepsApartWhatIsNotOneRunOfOneFlow) {
    UdpFlow flow;
    const Bytes first = flow.datagram(payloadOf(64));
    auto refusesSecond = [&](Bytes second, const char* why) {
        UdpCoalescer joiner;
        ASSERT_TRUE(joiner.start(first));
        EXPECT_FALSE(joiner.append(second)) << why;
        // What was held goes out exactly as it came, with an empty header.
        auto alone = joiner.take();
        EXPECT_EQ(Bytes(alone.begin(), alone.begin() + VnetHeader::kSize), Bytes(VnetHeader::kSize, 0)) << why;
        EXPECT_EQ(Bytes(alone.begin() + VnetHeader::kSize, alone.end()), first) << why;
    };
    UdpFlow other = flow;
    other.srcPort = 7002;
    refusesSecond(other.datagram(payloadOf(64)), "another source port");
    other = flow;
    other.dstPort = 7003;
    refusesSecond(other.datagram(payloadOf(64)), "another destination port");
    other = flow;
    refusesSecond(other.datagram(payloadOf(65)), "longer than the first");
    // Changed headers with their checksums made right again.
    auto resum = [&](Bytes f) {
        put16(f.data() + 24, 0);
        put16(f.data() + 24, plainChecksum(std::span(f).subspan(14, 20)));
        put16(f.data() + flow.udpAt() + 6, 0);
        put16(f.data() + flow.udpAt() + 6,
              plainChecksum(std::span(f).subspan(flow.udpAt()), flow.pseudo(f.data(), f.size() - flow.udpAt())));
        return f;
    };
    Bytes hops = flow.datagram(payloadOf(64));
    hops[22] = 63;
    refusesSecond(resum(hops), "another TTL");
    Bytes address = flow.datagram(payloadOf(64));
    address[33] = 4;
    refusesSecond(resum(address), "another destination address");
    Bytes mac = flow.datagram(payloadOf(64));
    mac[5] = 9;
    refusesSecond(mac, "another destination MAC");
    Bytes corrupt = flow.datagram(payloadOf(64));
    corrupt.back() ^= 1;
    refusesSecond(corrupt, "a checksum that does not verify");
    UdpFlow v6 = flow;
    v6.ipv4 = false;
    refusesSecond(v6.datagram(payloadOf(64)), "IPv6 after IPv4");

    UdpCoalescer joiner;
    EXPECT_FALSE(joiner.start(corrupt)) << "bad checksum";
    EXPECT_FALSE(joiner.start(flow.datagram({}))) << "no data";
    Bytes fragment = flow.datagram(payloadOf(64));
    fragment[20] = 0x20;  // more fragments
    EXPECT_FALSE(joiner.start(resum(fragment))) << "fragment";
    Bytes options = first;
    options[14] = 0x46;  // an IPv4 header with options
    EXPECT_FALSE(joiner.start(options)) << "IPv4 options";
    Bytes lengthLies = flow.datagram(payloadOf(64));
    put16(lengthLies.data() + flow.udpAt() + 4, 50);
    EXPECT_FALSE(joiner.start(lengthLies)) << "a UDP length that does not match";
    Bytes tagged(first.begin(), first.begin() + 12);
    tagged.insert(tagged.end(), {0x81, 0x00, 0x00, 42});
    tagged.insert(tagged.end(), first.begin() + 12, first.end());
    EXPECT_FALSE(joiner.start(tagged)) << "VLAN-tagged frames are written as they are";
    Bytes v6v4 = v6.datagram(payloadOf(64));
    put16(v6v4.data() + 12, 0x0800);  // says IPv4, carries IPv6
    EXPECT_FALSE(joiner.start(v6v4));

    // After a shorter datagram nothing joins; nor past 64 datagrams or the IP length limit.
    ASSERT_TRUE(joiner.start(flow.datagram(payloadOf(64))));
    ASSERT_TRUE(joiner.append(flow.datagram(payloadOf(10))));
    EXPECT_FALSE(joiner.append(flow.datagram(payloadOf(10))));
    (void)joiner.take();
    ASSERT_TRUE(joiner.start(flow.datagram(payloadOf(64))));
    std::size_t joined = 1;
    while (joiner.append(flow.datagram(payloadOf(64)))) ++joined;
    EXPECT_EQ(joined, 64u);
    (void)joiner.take();
    ASSERT_TRUE(joiner.start(flow.datagram(payloadOf(1400))));
    for (joined = 1; joiner.append(flow.datagram(payloadOf(1400)));) ++joined;
    EXPECT_EQ(joined, (65535 - 20 - 8) / 1400);
    auto big = joiner.take();
    EXPECT_FALSE(joiner.holding());
    EXPECT_EQ(split(Bytes(big.begin(), big.end()), 1600).size(), joined);
}
